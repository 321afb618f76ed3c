// The cover worker: names, the queue, cover states for the views, and downloads from a local
// service (passes, three attempts, start limits, stopping at the end of the worker).
#include "Const.h"
#include "TestHttpServer.h"
#include "TestSandbox.h"
#include "UserImageRefresher.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QSize CoverSize(218, 218);
using Keys = QList<ItemComparePart>;

QByteArray Jpeg(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(20, 90, 160));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

// Only the headers of a 24-bit BMP of the given size: no pixel follows.
QByteArray BmpHeaderOnly(int width, int height)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint8('B') << quint8('M') << quint32(54 + 3LL * width * height) << quint32(0) << quint32(54);
    out << quint32(40) << qint32(width) << qint32(height) << quint16(1) << quint16(24) << quint32(0)
        << quint32(0) << qint32(2835) << qint32(2835) << quint32(0) << quint32(0);
    return bytes;
}

// Asks for a cover as a view does: again once its decoding has been reported.
CoverImageState AskUntilDecoded(UserImageRefresher &refresher, const ItemComparePart &key, QPixmap &pixmap)
{
    // Asks again after every report: a report may still be on its way for an earlier cover.
    QSignalSpy decoded(&refresher, &UserImageRefresher::decoded);
    QElapsedTimer clock;
    clock.start();
    CoverImageState state = refresher.GetCoverPixmap(key, pixmap, true, CoverSize);
    while (state.loading && refresher.IsImageCached(key) && !refresher.IsImagePending(key) && clock.elapsed() < 5000) {
        decoded.wait(100);
        state = refresher.GetCoverPixmap(key, pixmap, true, CoverSize);
    }
    return state;
}

// A worker with its cache folder made, as the program prepares it before the first pass.
struct PreparedRefresher : UserImageRefresher
{
    PreparedRefresher()
    {
        if (!PrepareCacheFolder())
            qWarning("the cover cache folder cannot be made");
    }
};

} // namespace

class TestCovers : public QObject
{
    Q_OBJECT
    QTemporaryDir home;
    TestHttpServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(TestSandbox::UsePrivateHome(home));
        QVERIFY(server.Start());
        Const::SetServiceRootsForTesting(server.BaseUrl(), QString(), QString());
    }

    void init()
    {
        server.ClearScript();
        server.ClearRequests();
    }

    void coverStates()
    {
        PreparedRefresher refresher;
        QPixmap pixmap;

        // Missing: loading, queued at the front; asking again changes nothing.
        refresher.QueueImage({1, 1}, false);
        QVERIFY(refresher.GetCoverPixmap({2, 2}, pixmap, true, CoverSize).loading);
        QVERIFY(refresher.GetCoverPixmap({2, 2}, pixmap, true, CoverSize).loading);
        QCOMPARE(refresher.QueuedKeys(), (Keys{{2, 2}, {1, 1}}));

        // Cached: no image without loading (details view), the caller's pixmap with it.
        QVERIFY(TestSandbox::WriteBytes(refresher.GetImageFilePath({3, 3}), Jpeg(QSize(120, 180))));
        CoverImageState state = refresher.GetCoverPixmap({3, 3}, pixmap, false, CoverSize);
        QVERIFY(!state.HasImage() && !state.loading);
        // Never decoded on the caller's (GUI) thread: loading until the decoder reports it.
        QVERIFY(refresher.GetCoverPixmap({3, 3}, pixmap, true, CoverSize).loading);
        state = AskUntilDecoded(refresher, {3, 3}, pixmap);
        QCOMPARE(state.image, &pixmap);
        QVERIFY(!state.loading);
        QCOMPARE(pixmap.size(), QSize(120, 180));

        // Undecodable (an error page stored as a cover): deleted, shown as none, fetched on the next request.
        QVERIFY(TestSandbox::WriteBytes(refresher.GetImageFilePath({40, 41}), "<html>502 Bad Gateway</html>"));
        state = AskUntilDecoded(refresher, {40, 41}, pixmap);
        QVERIFY(!state.HasImage() && !state.loading);
        QVERIFY(!refresher.IsImageCached({40, 41}));
        QVERIFY(refresher.GetCoverPixmap({40, 41}, pixmap, true, CoverSize).loading);
        QCOMPARE(refresher.QueuedKeys().first(), ItemComparePart(40, 41));
    }

    void cachedCoversAreShrunkNotEnlarged_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QSize>("wanted");
        QTest::addColumn<QSize>("shown"); // 0x0: refused, shown as no cover
        QTest::newRow("tall") << Jpeg(QSize(400, 600)) << CoverSize << QSize(145, 218);
        QTest::newRow("wide") << Jpeg(QSize(436, 218)) << CoverSize << QSize(218, 109);
        QTest::newRow("exact") << Jpeg(QSize(218, 218)) << CoverSize << QSize(218, 218);
        QTest::newRow("small") << Jpeg(QSize(100, 150)) << CoverSize << QSize(100, 150);
        QTest::newRow("no size known yet") << Jpeg(QSize(400, 600)) << QSize() << QSize(400, 600);
        QTest::newRow("wider than any cover") << Jpeg(QSize(CoverDecoder::MaxSide + 1, 2)) << CoverSize << QSize(0, 0);
        QTest::newRow("header claims 16000x16000") << BmpHeaderOnly(16000, 16000) << CoverSize << QSize(0, 0);
        QTest::newRow("not an image") << QByteArray("<html>502</html>") << CoverSize << QSize(0, 0);
    }

    void cachedCoversAreShrunkNotEnlarged()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QSize, wanted);
        QFETCH(QSize, shown);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("9_9_201.rfile"));
        QVERIFY(TestSandbox::WriteBytes(path, stored));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(CoverDecoder::Decode(path, wanted).size(), shown);
        QVERIFY(clock.elapsed() < 1000);
    }

    void startsTwentyPerPassAndAtMostThirtyNine()
    {
        server.SetDefault(TestHttpResponse::Hang());
        QElapsedTimer timer;
        {
            PreparedRefresher refresher;
            for (int i = 1; i <= 19; ++i)
                refresher.QueueImage({i, 1}, false);
            QVERIFY(refresher.ProcessQueue());
            QCOMPARE(refresher.ActiveDownloadCount(), 19);

            for (int i = 101; i <= 130; ++i)
                refresher.QueueImage({i, 1}, false);
            QVERIFY(refresher.ProcessQueue());
            QCOMPARE(refresher.ActiveDownloadCount(), 39);
            // Newest first: the ten left are the earliest of the thirty.
            QCOMPARE(refresher.QueuedKeys().size(), 10);
            QCOMPARE(refresher.QueuedKeys().first(), ItemComparePart(110, 1));
            // A cover being downloaded is pending and not queued a second time.
            QVERIFY(refresher.IsImagePending({130, 1}));
            refresher.QueueImage({130, 1}, false);
            QCOMPARE(refresher.GetWaitingCount(), 49);

            // Twenty or more running: no new start.
            QVERIFY(refresher.ProcessQueue());
            QCOMPARE(refresher.ActiveDownloadCount(), 39);
            QVERIFY(server.WaitForRequests(39));
            timer.start();
        }
        // The hanging transfers end with their owner instead of running on for minutes.
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    }

    void workerEndStopsItsDownloadsAndKeepsTheirCovers()
    {
        server.SetDefault(TestHttpResponse::Hang());
        PreparedRefresher refresher;
        for (int i = 201; i <= 203; ++i)
            refresher.QueueImage({i, 2}, false);
        refresher.StartIfNotRunning();
        QVERIFY(server.WaitForRequests(3));

        QElapsedTimer timer;
        timer.start();
        refresher.Stop();
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(refresher.ActiveDownloadCount(), 0);
        // Cut short: back in the queue in their old order, nothing half-written.
        QCOMPARE(refresher.QueuedKeys(), (Keys{{203, 2}, {202, 2}, {201, 2}}));
        QVERIFY(!refresher.IsImageCached({201, 2}));

        // A later run fetches them. Reports cross to this thread queued, as in the program.
        int succeeded = 0;
        QObject receiver;
        connect(&refresher, &UserImageRefresher::completed, &receiver,
                [&succeeded](bool isSucc) { succeeded += isSucc ? 1 : 0; }, Qt::QueuedConnection);
        server.SetDefault(TestHttpResponse::Ok(Jpeg(QSize(100, 150))));
        refresher.StartIfNotRunning();
        QTRY_COMPARE_WITH_TIMEOUT(succeeded, 3, 10000);
        refresher.Stop();
        QVERIFY(refresher.IsImageCached({203, 2}));
    }
};

QTEST_MAIN(TestCovers)
#include "test_covers.moc"
