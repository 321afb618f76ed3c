// Cover downloads against a local service: passes, failures, limits and the end of the worker.
#include "Const.h"
#include "TestHttpServer.h"
#include "UserImageRefresher.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray Jpeg(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(20, 90, 160));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

QByteArray CoverPath(qint64 uid)
{
    return QByteArrayLiteral("/local/images/") + QByteArray::number(uid) + QByteArrayLiteral("_201.jpg");
}

// Runs passes until count reports arrived (the worker's own loop sleeps between passes).
bool PassUntilReported(UserImageRefresher &refresher, QSignalSpy &spy, int count)
{
    QElapsedTimer timer;
    timer.start();
    while (spy.size() < count && timer.elapsed() < 10000) {
        refresher.ProcessQueue();
        QTest::qWait(20);
    }
    return spy.size() >= count;
}

} // namespace

class TestCoverDownload : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void aPassOfCoversLandsInTheCache();
    void missingCoverIsTriedThreeTimesThenLeftToTheViews();
    void startsTwentyPerPassAndAtMostThirtyNine();
    void workerEndStopsItsDownloadsAndKeepsTheirCovers();

private:
    QTemporaryDir home;
    TestHttpServer server;
};

void TestCoverDownload::initTestCase()
{
    QVERIFY(home.isValid());
    qputenv("HOME", home.path().toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(server.Start());
    Const::SetServiceRootsForTesting(server.BaseUrl(), QString(), QString());
}

void TestCoverDownload::init()
{
    server.ClearScript();
    server.ClearRequests();
}

void TestCoverDownload::aPassOfCoversLandsInTheCache()
{
    UserImageRefresher refresher;
    QVERIFY(refresher.PrepareCacheFolder());
    QSignalSpy completed(&refresher, &UserImageRefresher::completed);
    const QByteArray jpeg = Jpeg(300, 450);
    for (qint64 uid = 101; uid <= 105; ++uid) {
        server.SetResponse(CoverPath(uid), TestHttpResponse::Ok(jpeg));
        refresher.QueueImage({uid, 7}, false);
    }

    QVERIFY(PassUntilReported(refresher, completed, 5));
    // Every cover is reported once, with its key.
    QTest::qWait(50);
    refresher.ProcessQueue();
    QCOMPARE(completed.size(), 5);
    QSet<qint64> reported;
    for (const QList<QVariant> &args : qAsConst(completed)) {
        QCOMPARE(args.at(0).toBool(), true);
        QCOMPARE(args.at(1).userType(), int(QMetaType::LongLong));
        QCOMPARE(args.at(2).toLongLong(), qint64(7));
        reported.insert(args.at(1).toLongLong());
    }
    QCOMPARE(reported, (QSet<qint64>{101, 102, 103, 104, 105}));
    // Each is dropped once its thread has ended too.
    QTRY_VERIFY((refresher.ProcessQueue(), refresher.ActiveDownloadCount() == 0));
    QCOMPARE(server.RequestCount(), 5);

    QPixmap pixmap;
    for (qint64 uid = 101; uid <= 105; ++uid) {
        QVERIFY(refresher.IsImageCached({uid, 7}));
        QVERIFY(!refresher.IsImagePending({uid, 7}));
        const CoverImageState state = refresher.GetCoverPixmap({uid, 7}, pixmap, true, QSize(218, 218));
        QVERIFY(state.HasImage());
        QCOMPARE(pixmap.size(), QSize(145, 218));
    }
}

void TestCoverDownload::missingCoverIsTriedThreeTimesThenLeftToTheViews()
{
    UserImageRefresher refresher;
    QVERIFY(refresher.PrepareCacheFolder());
    QSignalSpy completed(&refresher, &UserImageRefresher::completed);
    server.SetResponse(CoverPath(404), TestHttpResponse::Status(404, "no such cover"));
    const ItemComparePart key(404, 1);
    refresher.QueueImage(key, false);

    QVERIFY(PassUntilReported(refresher, completed, 1));
    QCOMPARE(completed.at(0), (QVariantList{false, QVariant(qint64(404)), QVariant(qint64(1))}));
    QCOMPARE(server.RequestCount(CoverPath(404)), 3);
    QVERIFY(!refresher.IsImageCached(key));
    QVERIFY(refresher.QueuedKeys().isEmpty());
    QVERIFY(!refresher.IsImagePending(key));

    // The next view request queues it again.
    QPixmap pixmap;
    QVERIFY(refresher.GetCoverPixmap(key, pixmap, true, QSize(218, 218)).loading);
    QCOMPARE(refresher.QueuedKeys(), QList<ItemComparePart>{key});
}

void TestCoverDownload::startsTwentyPerPassAndAtMostThirtyNine()
{
    server.SetDefault(TestHttpResponse::Hang());
    QElapsedTimer timer;
    {
        UserImageRefresher refresher;
        QVERIFY(refresher.PrepareCacheFolder());
        for (int i = 1; i <= 19; ++i)
            refresher.QueueImage({i, 1}, false);
        QVERIFY(refresher.ProcessQueue());
        QCOMPARE(refresher.ActiveDownloadCount(), 19);
        QVERIFY(refresher.QueuedKeys().isEmpty());

        for (int i = 101; i <= 130; ++i)
            refresher.QueueImage({i, 1}, false);
        QVERIFY(refresher.ProcessQueue());
        QCOMPARE(refresher.ActiveDownloadCount(), 39);
        QCOMPARE(refresher.QueuedKeys().size(), 10);
        QCOMPARE(refresher.GetWaitingCount(), 49);
        // Newest first: the ten left are the earliest of the thirty.
        QCOMPARE(refresher.QueuedKeys().first(), ItemComparePart(110, 1));
        QVERIFY(refresher.IsImagePending({130, 1}));
        // A cover being downloaded is not queued a second time.
        refresher.QueueImage({130, 1}, false);
        QCOMPARE(refresher.QueuedKeys().size(), 10);

        // Twenty or more running: no new start.
        QVERIFY(refresher.ProcessQueue());
        QCOMPARE(refresher.ActiveDownloadCount(), 39);
        QVERIFY(server.WaitForRequests(39));
        QTest::qWait(100);
        QCOMPARE(server.RequestCount(), 39);
        timer.start();
    }
    // The hanging transfers end with their owner instead of running on for minutes.
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
}

void TestCoverDownload::workerEndStopsItsDownloadsAndKeepsTheirCovers()
{
    server.SetDefault(TestHttpResponse::Hang());
    UserImageRefresher refresher;
    QVERIFY(refresher.PrepareCacheFolder());
    QSignalSpy completed(&refresher, &UserImageRefresher::completed);
    for (int i = 201; i <= 203; ++i)
        refresher.QueueImage({i, 2}, false);
    refresher.StartIfNotRunning();
    QVERIFY(server.WaitForRequests(3));

    QElapsedTimer timer;
    timer.start();
    refresher.Stop();
    QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(refresher.ActiveDownloadCount(), 0);
    QCOMPARE(completed.size(), 0);
    // Cut short, so back in the queue in their old order; nothing half-written.
    QCOMPARE(refresher.QueuedKeys(),
             (QList<ItemComparePart>{{203, 2}, {202, 2}, {201, 2}}));
    QVERIFY(!refresher.IsImageCached({201, 2}));

    // A later run fetches them. Reports cross to this thread queued, as they do in the program.
    int succeeded = 0;
    QObject receiver;
    connect(&refresher, &UserImageRefresher::completed, &receiver,
            [&succeeded](bool isSucc) { succeeded += isSucc ? 1 : 0; }, Qt::QueuedConnection);
    server.SetDefault(TestHttpResponse::Ok(Jpeg(100, 150)));
    refresher.StartIfNotRunning();
    QTRY_COMPARE_WITH_TIMEOUT(succeeded, 3, 10000);
    refresher.Stop();
    for (int i = 201; i <= 203; ++i)
        QVERIFY(refresher.IsImageCached({i, 2}));
}

QTEST_MAIN(TestCoverDownload)
#include "test_coverdownload.moc"
