// The cover worker: names, the queue, cover states for the views, and downloads from a local
// service (passes, three attempts, start limits, stopping at the end of the worker).
#include "Const.h"
#include "TestHttpServer.h"
#include "TestSandbox.h"
#include "TestThreadStarts.h"
#include "FileDownloader.h"
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
    QSignalSpy decoded(&refresher, &UserImageRefresher::decoded);
    CoverImageState state = refresher.GetCoverPixmap(key, pixmap, true, CoverSize);
    if (state.loading && refresher.IsImageCached(key) && !refresher.IsImagePending(key) && decoded.wait(5000))
        state = refresher.GetCoverPixmap(key, pixmap, true, CoverSize);
    return state;
}

// Runs passes (as the worker does, without its sleeps) until count reports arrived.
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

Q_DECLARE_METATYPE(TestHttpResponse)

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

    void namesAndAddress()
    {
        QCOMPARE(UserImageRefresher::GetImageFileName({1234, 56}, true), QStringLiteral("1234_56_201.rfile"));
        QCOMPARE(UserImageRefresher::GetImageFileName({1234, 0}, true), QStringLiteral("1234_201.rfile"));
        // The service names covers after the book alone.
        QCOMPARE(UserImageRefresher::GetImageUrl({1234, 56}), server.Url(QStringLiteral("/local/images/1234_201.jpg")));

        UserImageRefresher refresher;
        QVERIFY(refresher.PrepareCacheFolder());
        QVERIFY(refresher.CacheFolder().startsWith(home.path()));
        QCOMPARE(refresher.GetImageFilePath({7, 8}), refresher.CacheFolder() + QStringLiteral("/7_8_201.rfile"));
    }

    void queueKeepsOrderWithoutDuplicatesWithinLimit()
    {
        PreparedRefresher refresher;
        for (int i = 1; i <= UserImageRefresher::MaxQueuedCovers; ++i)
            refresher.QueueImage({i, 100 + i}, false);
        Keys keys = refresher.QueuedKeys();
        QCOMPARE(keys.size(), 210);
        QCOMPARE(keys.first(), ItemComparePart(210, 310));
        // Queued already: nothing moves.
        refresher.QueueImage({5, 105}, false);
        QCOMPARE(refresher.QueuedKeys(), keys);
        // The 211th key goes to the front and the earliest one is dropped.
        refresher.QueueImage({211, 311}, false);
        keys = refresher.QueuedKeys();
        QCOMPARE(keys.size(), 210);
        QCOMPARE(keys.first(), ItemComparePart(211, 311));
        QCOMPARE(keys.last(), ItemComparePart(2, 102));
        QVERIFY(!refresher.IsImagePending({1, 101}));
        QCOMPARE(refresher.GetWaitingCount(), 210);

        refresher.QueueImage({999, 1}, true);
        QCOMPARE(refresher.QueuedKeys().last(), ItemComparePart(999, 1));
    }

    void keysWithoutCoverShowNoCoverAndAreNeverQueued()
    {
        PreparedRefresher refresher;
        QPixmap pixmap;
        for (const ItemComparePart &key : {ItemComparePart(0, 0), ItemComparePart(1234, 0), ItemComparePart(0, 56)}) {
            refresher.QueueImage(key, false);
            const CoverImageState state = refresher.GetCoverPixmap(key, pixmap, true, CoverSize);
            QVERIFY2(!state.HasImage() && !state.loading, "no cover, not loading forever");
        }
        QVERIFY(refresher.QueuedKeys().isEmpty());
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

    void aPassReportsEachCoverOnce_data()
    {
        QTest::addColumn<TestHttpResponse>("response");
        QTest::addColumn<bool>("threadsStart");
        QTest::addColumn<bool>("arrives");
        QTest::addColumn<int>("attempts"); // requests per cover; -1: not checked
        QTest::addColumn<qint64>("uid"); // the first of three books, a range of its own for each row
        QTest::newRow("covers") << TestHttpResponse::Ok(Jpeg(QSize(300, 450))) << true << true << 1 << qint64(101);
        QTest::newRow("missing: three attempts")
            << TestHttpResponse::Status(404, "no such cover") << true << false << 3 << qint64(401);
        QTest::newRow("thread cannot start")
            << TestHttpResponse::Ok(Jpeg(QSize(30, 45))) << false << false << -1 << qint64(501);
        QTest::newRow("compressed bomb")
            << TestHttpResponse::Gzip(QByteArray(64 << 20, '\0')) << true << false << -1 << qint64(601);
        QTest::newRow("larger than a cover may be")
            << TestHttpResponse::Ok(QByteArray(int(FileDownloader::MaxCoverBytes) + 1, 'x')) << true << false << -1
            << qint64(701);
    }

    void aPassReportsEachCoverOnce()
    {
        QFETCH(TestHttpResponse, response);
        QFETCH(bool, threadsStart);
        QFETCH(bool, arrives);
        QFETCH(int, attempts);
        QFETCH(qint64, uid);
        if (!threadsStart && !TestThreadStarts::Available())
            QSKIP("thread starts cannot be refused in this build");
        server.SetDefault(response);
        PreparedRefresher refresher;
        QSignalSpy completed(&refresher, &UserImageRefresher::completed);
        const QSet<qint64> uids{uid, uid + 1, uid + 2};
        for (qint64 book : uids)
            refresher.QueueImage({book, 7}, false);
        {
            TestThreadStarts refused(threadsStart ? 1000 : 0);
            refresher.ProcessQueue();
        }
        QVERIFY(PassUntilReported(refresher, completed, uids.size()));
        // Each is dropped once its thread has ended too, without a second report.
        QTRY_VERIFY((refresher.ProcessQueue(), refresher.ActiveDownloadCount() == 0));
        QCOMPARE(completed.size(), uids.size());
        QSet<qint64> reported;
        for (const QList<QVariant> &args : qAsConst(completed)) {
            QCOMPARE(args.at(0).toBool(), arrives);
            QCOMPARE(args.at(1).userType(), int(QMetaType::LongLong));
            QCOMPARE(args.at(2).toLongLong(), qint64(7));
            reported.insert(args.at(1).toLongLong());
        }
        QCOMPARE(reported, uids);
        if (attempts >= 0)
            QCOMPARE(server.RequestCount(), attempts * uids.size());

        QPixmap pixmap;
        for (qint64 book : uids) {
            QCOMPARE(refresher.IsImageCached({book, 7}), arrives);
            QVERIFY(!refresher.IsImagePending({book, 7}));
            if (arrives) {
                QVERIFY(AskUntilDecoded(refresher, {book, 7}, pixmap).HasImage());
                QCOMPARE(pixmap.size(), QSize(145, 218));
            } else {
                // Not queued again by the worker; the next view request does it.
                QVERIFY(refresher.GetCoverPixmap({book, 7}, pixmap, true, CoverSize).loading);
                QCOMPARE(refresher.QueuedKeys().first(), ItemComparePart(book, 7));
            }
        }
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
