// The cover and version workers against a local service. Covers: the queue, states for the views, decoding,
// downloads (start limits, stopping). Versions: parsing and comparison, safe display, reporting once.
#include "Const.h"
#include "TestHttpServer.h"
#include "TestSandbox.h"
#include "UserImageRefresher.h"
#include "UserVersionLoader.h"
#include "VersionNumberHelper.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QSize CoverSize(218, 218);
const QByteArray VersionPath("/service/version.php");
using Keys = QList<ItemComparePart>;

// Only the headers of a 24-bit BMP of 16000x16000 pixels: no pixel follows.
const QByteArray HugeBmpHeader = QByteArray::fromHex(
    "424d36c0c62d000000003600000028000000803e0000803e0000010018000000000000000000130b0000130b00000000000000000000");

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

// Asks for a cover as a view does: again after every decoder report, since a report for an earlier
// cover may still be on its way.
CoverImageState AskUntilDecoded(UserImageRefresher &refresher, const ItemComparePart &key, QPixmap &pixmap)
{
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

} // namespace

class TestCoversVersion : public QObject
{
    Q_OBJECT
    QTemporaryDir home;
    TestHttpServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(TestSandbox::UsePrivateHome(home));
        QVERIFY(server.Start());
        // One root at a time: an empty root leaves the other as it is.
        Const::SetServiceRootsForTesting(server.BaseUrl(), QString(), QString());
        Const::SetServiceRootsForTesting(QString(), server.BaseUrl(), QString());
    }

    void init()
    {
        server.ClearScript();
        server.ClearRequests();
    }

    void coverStates()
    {
        UserImageRefresher refresher;
        QVERIFY(refresher.PrepareCacheFolder());
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
        QTest::newRow("header claims 16000x16000") << HugeBmpHeader << CoverSize << QSize(0, 0);
        QTest::newRow("not an image") << QByteArray("<html>502</html>") << CoverSize << QSize(0, 0);
    }

    void cachedCoversAreShrunkNotEnlarged()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QSize, wanted);
        QFETCH(QSize, shown);
        const QString path = home.filePath(QStringLiteral("9_9_201.rfile"));
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
            UserImageRefresher refresher;
            QVERIFY(refresher.PrepareCacheFolder());
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
        UserImageRefresher refresher;
        QVERIFY(refresher.PrepareCacheFolder());
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

    void parseAndCompareVersions_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("parsed");
        QTest::addColumn<bool>("newer");
        QTest::newRow("patch above") << "3.3.6" << "3.3.6" << true;
        QTest::newRow("fourth part ignored") << "3.3.5.9" << "3.3.5" << false;
        QTest::newRow("two parts") << "4.0" << "" << false;
        QTest::newRow("word in the middle") << "3.x.6" << "3.0.6" << false;
        QTest::newRow("empty") << "" << "" << false;
        QTest::newRow("html page") << "<html><body>Not found</body></html>" << "" << false;
    }

    void parseAndCompareVersions()
    {
        QFETCH(QString, answer);
        QFETCH(QString, parsed);
        QFETCH(bool, newer);
        const QVersionNumber v = ParseVersionNumber(answer);
        QCOMPARE(v.toString(), parsed);
        QCOMPARE(QVersionNumber::compare(v, ParseVersionNumber(Const::SoftVersion)) > 0, newer);
    }

    void versionTextIsPlainAndBounded()
    {
        // A trailing line break from the service does not spoil the version.
        QCOMPARE(BoundedVersionText(QStringLiteral(" 3.3.6\r\n")), QStringLiteral("3.3.6"));

        // Markup is shown as text.
        QCOMPARE(EscapedVersionText(QStringLiteral("<a href='x'>9</a>")),
                 QStringLiteral("&lt;a href=&#39;x&#39;&gt;9&lt;/a&gt;"));

        // A huge answer is cut short, never in the middle of a surrogate pair.
        QCOMPARE(BoundedVersionText(QString(1 << 20, QLatin1Char('9'))).size(), MaxVersionTextLength);
        const QString emoji = QString(MaxVersionTextLength - 1, QLatin1Char('1')) + QString::fromUtf8("\xF0\x9F\x98\x80");
        QCOMPARE(BoundedVersionText(emoji).size(), MaxVersionTextLength - 1);
        QCOMPARE(BoundedVersionText(QStringLiteral("\x01\x02\t")), QString());
    }

    void versionChecksEndOnlyWithANewerVersion_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<bool>("newer");
        QTest::newRow("newer version") << 200 << QByteArray("3.3.6") << true << true;
        QTest::newRow("same version") << 200 << QByteArray("3.3.5") << true << false;
        QTest::newRow("404") << 404 << QByteArray("3.9.9") << false << false;
        QTest::newRow("blank body") << 200 << QByteArray(" \r\n") << false << false;
        QTest::newRow("larger than a version answer may be") << 200 << "3.9.9" + QByteArray(1 << 20, ' ') << false << false;
    }

    // A newer version is reported once and later starts (the version timer) do nothing; without
    // one the next start (timer or next program start) asks again.
    void versionChecksEndOnlyWithANewerVersion()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, answered);
        QFETCH(bool, newer);
        server.SetResponse(VersionPath, TestHttpResponse::Status(status, body));
        UserVersionLoader loader;
        QSignalSpy completed(&loader, &UserVersionLoader::completed);
        QSignalSpy newVersion(&loader, &UserVersionLoader::onNewVersion);

        loader.StartIfNotRunning();
        QTRY_VERIFY_WITH_TIMEOUT(!loader.IsRunning(), 5000);
        QCOMPARE(completed.size(), 1);
        QCOMPARE(completed.at(0), (QVariantList{answered, newer}));
        QCOMPARE(newVersion.size(), int(newer));
        QCOMPARE(loader.IsDone(), newer);
        const QByteArray path = server.Requests().at(0).path;
        QVERIFY(path.startsWith(VersionPath + "?id=version"));
        QVERIFY(path.contains("kind=tessaly-mac"));

        server.SetResponse(VersionPath, TestHttpResponse::Ok("3.3.6"));
        loader.StartIfNotRunning();
        QTRY_VERIFY_WITH_TIMEOUT(!loader.IsRunning(), 5000);
        QTest::qWait(newer ? 100 : 0);
        QCOMPARE(server.RequestCount(), newer ? 1 : 2);
        QCOMPARE(newVersion.size(), 1);
        QCOMPARE(newVersion.at(0).at(0).toString(), QStringLiteral("3.3.6"));
    }
};

QTEST_MAIN(TestCoversVersion)
#include "test_covers_version.moc"
