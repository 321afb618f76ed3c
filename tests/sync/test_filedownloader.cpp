#include "CatalogueService.h"
#include "CatalogueSlots.h"
#include "Const.h"
#include "FileDownloader.h"
#include "TestCloseable.h"
#include "TestHttpServer.h"
#include "TestSandbox.h"
#include "TestThreadStarts.h"

#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <limits>
#include <memory>
#include <thread>

using TestSandbox::CatalogueOkAnswer;
using TestSandbox::ReadBytes;
using TestSandbox::WriteBytes;

Q_DECLARE_METATYPE(TestHttpResponse)

// Time limits for what would otherwise wait for a time-out of minutes or forever; generous, so that
// a loaded machine never hits them.
const int NoHangMs = 10000;

// A reply that reports two errors makes Qt print this; every test fails on it.
std::atomic<int> g_doubleErrors{0};
QtMessageHandler g_previousHandler = nullptr;
void CountDoubleErrors(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text.contains(QLatin1String("must only be called once")))
        ++g_doubleErrors;
    g_previousHandler(type, context, text);
}

// The downloader and the conversation with the catalogue service that runs over it.
class TestFileDownloader : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir home;
    TestHttpServer server;
    TestCloseable canceller;

    // Starts the downloader the way the owners do and waits for the final result.
    static bool RunToEnd(FileDownloader &d) { return d.StartLowPriority() && d.Wait(300); }

private slots:
    void initTestCase()
    {
        QVERIFY(TestSandbox::UseLocalService(home, server));
        g_previousHandler = qInstallMessageHandler(CountDoubleErrors);
    }

    void init()
    {
        server.ClearScript();
        server.ClearRequests();
        canceller.close = false;
        g_doubleErrors = 0;
    }

    void cleanup() { QCOMPARE(g_doubleErrors.load(), 0); }

    void cleanupTestCase() { Const::ResetServiceRootsForTesting(); }

    // Only status 200 with the whole body succeeds, the body within the cap of its kind (announced,
    // streamed, unannounced or compressed) and matching the MD5 when one is given. A target is
    // replaced only then: otherwise the old bytes stay and no temporary file is left. A refused
    // file download ends at the headers; a body that does not fit on the target's disk is refused.
    void download_data()
    {
        QTest::addColumn<TestHttpResponse>("response");
        QTest::addColumn<QString>("md5");
        QTest::addColumn<qint64>("cap");
        QTest::addColumn<QString>("outcome"); // "ok", "fails", "refused" (at once), "times out"
        using R = TestHttpResponse;
        const R good = R::Ok("catalogue bytes");
        const QString hex = FileDownloader::Md5Hex("catalogue bytes");
        const qint64 answer = FileDownloader::MaxAnswerBytes;
        const qint64 catalogue = FileDownloader::MaxCatalogueBytes;
        const QByteArray overCap(int(answer) + 1, 'o');
        const QByteArray zeros(8 << 20, '\0');
        // Headers announcing a length, then a body that trickles past the time-out.
        const auto announcing = [](qint64 length) {
            return R::Trickle(QByteArray(400, 't'), 10, 100).Set(&R::sendContentLength, false)
                .With("Content-Length", QByteArray::number(length));
        };
        const qint64 room = QStorageInfo(home.path()).bytesAvailable();
        QTest::newRow("md5 lower") << good << hex << answer << "ok";
        QTest::newRow("md5 upper") << good << hex.toUpper() << answer << "ok";
        QTest::newRow("empty md5 means no check") << good << "" << answer << "ok";
        QTest::newRow("md5 mismatch") << good << FileDownloader::Md5Hex("other bytes") << answer << "fails";
        QTest::newRow("302 to a good path") << R::Redirect(server.Url("/good").toUtf8()) << "" << answer << "refused";
        QTest::newRow("404 with body") << R::Status(404, "<html>missing</html>") << "" << answer << "fails";
        QTest::newRow("403 without body") << R::Status(403) << "" << answer << "fails";
        QTest::newRow("500 with body over the cap") << R::Status(500, overCap) << "" << answer << "fails";
        // A refused reply ends at its headers, its body unread.
        QTest::newRow("404 with a GiB body") << R::Generated(404, qint64(1) << 30) << "" << answer << "fails";
        QTest::newRow("404 with a GiB body, no length")
            << R::Generated(404, qint64(1) << 30).Set(&R::sendContentLength, false) << "" << answer << "fails";
        QTest::newRow("503 trickling") << R::Trickle(QByteArray(40, 'e'), 10, 20).Set(&R::status, 503) << ""
                                       << answer << "fails";
        QTest::newRow("closed mid-body") << R::CloseMidBody(QByteArray(4096, 'z'), 1000) << "" << answer << "fails";
        QTest::newRow("headers after the time-out") << R::Delayed(5000, "late") << "" << answer << "times out";
        QTest::newRow("body trickles past the time-out") << R::Trickle(QByteArray(400, 't'), 10, 100) << ""
                                                         << answer << "times out";
        QTest::newRow("204 no content") << R::Status(204) << "" << answer << "fails";
        QTest::newRow("at the cap") << R::Ok(overCap.left(overCap.size() - 1)) << "" << answer << "ok";
        QTest::newRow("announced over the cap") << R::Ok(overCap) << "" << answer << "refused";
        QTest::newRow("announced far over the cap") << announcing(3000000000LL) << "" << answer << "refused";
        QTest::newRow("unannounced over the cap") << R::Ok(overCap).Set(&R::sendContentLength, false) << ""
                                                  << answer << "fails";
        QTest::newRow("chunked over the cap") << R::Chunked(overCap, 1000) << "" << answer << "fails";
        QTest::newRow("gzip bomb") << R::Gzip(zeros) << "" << answer << "refused";
        QTest::newRow("deflate bomb") << R::Ok(qCompress(zeros, 9).mid(4)).With("Content-Encoding", "deflate") << ""
                                      << answer << "refused";
        QTest::newRow("small body sent compressed") << R::Gzip("tiny") << "" << answer << "refused";
        QTest::newRow("catalogue over its cap") << announcing(catalogue + 1) << "" << catalogue << "refused";
        if (room > (qint64(3) << 30))
            QTest::newRow("large catalogue within its cap") << announcing(qint64(3) << 30) << "" << catalogue
                                                            << "times out";
        // Only the disk can refuse it.
        QTest::newRow("more than the disk holds") << announcing(room + (qint64(1) << 30)) << ""
                                                  << std::numeric_limits<qint64>::max() << "refused";
    }
    void download()
    {
        QFETCH(TestHttpResponse, response);
        QFETCH(QString, md5);
        QFETCH(qint64, cap);
        QFETCH(QString, outcome);
        const bool ok = outcome == "ok";
        const int transferMs = 2000;
        server.SetResponse("/good", TestHttpResponse::Ok("good"));
        server.SetResponse("/x", response);
        const QString target = home.filePath("kept.bin");
        QVERIFY(WriteBytes(target, "old bytes"));
        FileDownloader toFile(ItemComparePart(), server.Url("/x"), nullptr, transferMs, target);
        FileDownloader memory(ItemComparePart(), server.Url("/x"), nullptr, transferMs, QString());
        toFile.expectedMd5 = memory.expectedMd5 = md5;
        toFile.maxBytes = memory.maxBytes = cap;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(RunToEnd(toFile), ok);
        if (outcome == "refused")
            QVERIFY2(clock.elapsed() < transferMs / 2, qPrintable(QString::number(clock.elapsed())));
        if (outcome == "times out") // Qt's coarse timers may fire a little early
            QVERIFY2(clock.elapsed() >= transferMs * 9 / 10, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(!memory.RunAndWait().isEmpty(), ok);
        QVERIFY(memory.data.size() <= cap);
        QVERIFY(toFile.finished && toFile.data.isEmpty()); // streamed to the file, not kept
        QCOMPARE(ReadBytes(target), ok ? response.body : QByteArray("old bytes"));
        QCOMPARE(QDir(home.path()).entryList({"kept.bin*"}, QDir::Files | QDir::Hidden), QStringList{"kept.bin"});
        QCOMPARE(server.RequestCount("/good"), 0); // the redirect is not followed
        if (response.generatedBodyBytes > 0) // two transfers, each cut short after the bound
            QVERIFY2(server.BytesSent() < (16 << 20), qPrintable(QString::number(server.BytesSent())));
        for (const TestHttpRequest &request : server.Requests())
            QCOMPARE(request.Header("Accept-Encoding"), QByteArray("identity"));
    }

    void unwritableTargetFails()
    {
        server.SetResponse("/w", TestHttpResponse::Ok("body"));
        const QString folder = home.filePath("a-folder");
        QVERIFY(QDir().mkpath(folder));
        for (const QString &target : {folder, home.filePath("no/such/folder/file.bin")}) {
            FileDownloader d(ItemComparePart(), server.Url("/w"), nullptr, 5000, target);
            QVERIFY(!RunToEnd(d));
        }
        QVERIFY(QFileInfo(folder).isDir());

        // Over TLS only a trusted certificate gets the request.
        for (const auto mode : {TestHttpServer::Mode::Tls, TestHttpServer::Mode::TlsUntrusted}) {
            const bool trusted = mode == TestHttpServer::Mode::Tls;
            TestHttpServer tls(mode);
            QVERIFY(tls.Start());
            tls.SetDefault(TestHttpResponse::Ok("safe"));
            FileDownloader d(ItemComparePart(), tls.Url("/t"), nullptr, 5000, QString());
            QCOMPARE(RunToEnd(d), trusted);
            QCOMPARE(d.data, trusted ? QByteArray("safe") : QByteArray());
            QCOMPARE(tls.RequestCount(), int(trusted));
        }
    }

    // A stop ends a hanging transfer at once, also right after the start (never lost), and a
    // close request of the canceller ends it as well.
    void stopOrCloseEndsHangingTransfer()
    {
        server.SetDefault(TestHttpResponse::Hang());
        QElapsedTimer clock;
        {
            FileDownloader d(ItemComparePart(), server.Url("/hang"), nullptr, 840000, QString());
            d.maxAttempts = 3;
            QVERIFY(d.StartLowPriority());
            QVERIFY(server.WaitForRequests(1));
            QCOMPARE(d.GetProgress(), qMakePair(qint64(0), qint64(0))); // answers at once mid-transfer
            clock.start();
            d.Stop();
            QVERIFY2(clock.elapsed() < NoHangMs, qPrintable(QString::number(clock.elapsed())));
            QVERIFY(d.isFinished() && d.finished && !d.succeeded);
            QThread::msleep(50);
            QCOMPARE(server.RequestCount(), 1); // no retry after a stop
        }
        for (int round = 0; round < 100; ++round) {
            FileDownloader d(ItemComparePart(), server.Url("/never"), nullptr, 840000, QString());
            QVERIFY(d.StartLowPriority());
            if (round % 2)
                QThread::usleep(static_cast<unsigned long>(round * 20));
            clock.restart();
            d.Stop();
            QVERIFY2(clock.elapsed() < NoHangMs, qPrintable(QStringLiteral("round %1: %2 ms").arg(round).arg(clock.elapsed())));
            QVERIFY(!d.succeeded);
        }

        server.ClearRequests();
        FileDownloader d(ItemComparePart(), server.Url("/c"), &canceller, 840000, QString());
        QVERIFY(d.StartLowPriority());
        clock.restart();
        QVERIFY(d.RunAndWait().isEmpty()); // already running: no second start, no waiting
        QVERIFY(clock.elapsed() < NoHangMs);
        QVERIFY(server.WaitForRequests(1));
        canceller.close = true;
        clock.restart();
        QVERIFY(!d.Wait(300));
        QVERIFY(clock.elapsed() < NoHangMs);
        QVERIFY(d.isFinished());
    }

    void parseAnswer_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("needDownload");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("md5");
        const QString Base = server.BaseUrl();
        QTest::newRow("ok, new guid, path") << "OK|g2|/files/c.rfile|ABCdef|1|2" << false << 1 << Base + "/files/c.rfile" << "ABCdef";
        QTest::newRow("ok, open guid") << "ok|g1|/files/c.rfile|abc|1|2" << false << 10 << "" << "";
        QTest::newRow("ok, open guid, download due") << "ok|g1|/files/c.rfile|abc|1|2" << true << 1 << Base + "/files/c.rfile" << "abc";
        QTest::newRow("absolute HTTP kept") << "ok|g2|HTTPS://cdn.example/c.rfile|m|1|2" << false << 1 << "HTTPS://cdn.example/c.rfile" << "m";
        QTest::newRow("absolute, not a web scheme") << "ok|g2|httpx://cdn.example/c|m|1|2" << false << 0 << "" << "";
        QTest::newRow("absolute without host") << "ok|g2|http:/c.rfile|m|1|2" << false << 0 << "" << "";
        // Paths stay on our host, whatever they hold.
        QTest::newRow("path with query") << "ok|g2|/a.php?os=2&k=x|m|1|2" << false << 1 << Base + "/a.php?os=2&k=x" << "m";
        QTest::newRow("no slash") << "ok|g2|files/c|m|1|2" << false << 1 << Base + "/files/c" << "m";
        QTest::newRow("user info") << "ok|g2|@evil.example/c|m|1|2" << false << 1 << Base + "/@evil.example/c" << "m";
        QTest::newRow("host suffix") << "ok|g2|.evil.example/c|m|1|2" << false << 1 << Base + "/.evil.example/c" << "m";
        QTest::newRow("network path") << "ok|g2|//evil.example/c|m|1|2" << false << 1 << Base + "/evil.example/c" << "m";
        QTest::newRow("other scheme") << "ok|g2|ftp://evil.example/c|m|1|2" << false << 1 << Base + "/ftp://evil.example/c" << "m";
        QTest::newRow("dot segments") << "ok|g2|/../../c|m|1|2" << false << 1 << Base + "/c" << "m";
        QTest::newRow("empty location") << "ok|g2||m|1|2" << false << 0 << "" << "";
        QTest::newRow("empty md5") << "ok|g2|/c|||" << false << 1 << Base + "/c" << "";
        QTest::newRow("ok with 4 parts") << "ok|g2|/c|m" << false << 0 << "" << "";
        QTest::newRow("retry, 5 empty parts") << "retry||||" << false << 2 << "" << "";
        QTest::newRow("Upgrade, 4 parts") << "Upgrade|g|/c|m" << false << 3 << "" << "";
        QTest::newRow("3 parts") << "retry|a|b" << false << 0 << "" << "";
        QTest::newRow("7 parts") << "retry|a|b|c|d|e|f" << false << 0 << "" << "";
        QTest::newRow("unknown word") << "fine|g2|/c|m|1|2" << false << 0 << "" << "";
        QTest::newRow("empty") << "" << false << 0 << "" << "";
    }

    void parseAnswer()
    {
        QFETCH(QString, answer);
        QFETCH(bool, needDownload);
        QString location = "stale", md5 = "stale";
        QTEST(CatalogueService::ParseServiceAnswer(answer, "g1", location, md5, needDownload), "code");
        QTEST(location, "location");
        QTEST(md5, "md5");
    }

    // Whole percents, cut rather than rounded, and the size in MiB with two decimals.
    void progressText_data()
    {
        QTest::addColumn<qint64>("received");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("text");
        const QString base = QStringLiteral("Loading the free ebooks database from official website%1 ...");
        QTest::newRow("nothing yet") << qint64(0) << qint64(3 << 20) << base.arg(QString());
        QTest::newRow("size unknown") << qint64(500) << qint64(-1) << base.arg(QString());
        QTest::newRow("two thirds") << qint64(2) << qint64(3) << base.arg(" 66% (0.00 MB)");
        QTest::newRow("almost done") << qint64(1572863) << qint64(1572864) << base.arg(" 99% (1.50 MB)");
        QTest::newRow("done") << qint64(5 << 20) << qint64(5 << 20) << base.arg(" 100% (5.00 MB)");
    }
    void progressText()
    {
        QFETCH(qint64, received);
        QFETCH(qint64, total);
        QTEST(CatalogueService::DownloadProgressText(qMakePair(received, total)), "text");
    }

    // Failed downloads write neither a slot file nor the pointer: bad answers, a bad file, a
    // downloader whose thread cannot start (the thread limit: a failure, never a wait), a close
    // mid-download.
    void failures_data()
    {
        QTest::addColumn<TestHttpResponse>("answer");
        QTest::addColumn<TestHttpResponse>("file");
        QTest::addColumn<QString>("event"); // "query refused", "file refused", "close"
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("requests");
        const TestHttpResponse file = TestHttpResponse::Ok("catalogue");
        const QByteArray answer = CatalogueOkAnswer("g2", "/files/c.rfile", "");
        const TestHttpResponse ok = TestHttpResponse::Ok(answer);
        QTest::newRow("empty answer") << TestHttpResponse::Ok(QByteArray()) << file << "" << 0 << 1;
        QTest::newRow("answer starts with a zero byte") << TestHttpResponse::Ok(QByteArray("\0ok", 3)) << file << "" << 0 << 1;
        QTest::newRow("answer with status 404") << TestHttpResponse::Status(404, answer) << file << "" << 0 << 1;
        QTest::newRow("empty catalogue") << ok << TestHttpResponse::Ok(QByteArray()) << "" << 1 << 2;
        QTest::newRow("query cannot start") << ok << file << "query refused" << 0 << 0;
        QTest::newRow("file download cannot start") << ok << file << "file refused" << 1 << 1;
        QTest::newRow("close during download") << ok << TestHttpResponse::Hang() << "close" << 1 << 2;
    }
    void failures()
    {
        QFETCH(TestHttpResponse, answer);
        QFETCH(TestHttpResponse, file);
        QFETCH(QString, event);
        const bool refused = event.endsWith("refused");
        if (refused && !TestThreadStarts::Available())
            QSKIP("thread starts cannot be refused in this build");
        server.SetResponse("/service/getdatabase.php", answer);
        server.SetResponse("/files/c.rfile", file);
        CatalogueRequest r; // no catalogue open
        r.localPath = CatalogueSlots::PickCatalogFile(r.inUse, r.slot, r.needDownload);
        std::thread closer([this, event] {
            if (event == "close" && server.WaitForRequests(2))
                canceller.close = true;
        });
        QElapsedTimer clock;
        clock.start();
        {
            const int allowed = event == "file refused" ? 1 : 0; // the query's thread, then none
            std::unique_ptr<TestThreadStarts> starts(refused ? new TestThreadStarts(allowed) : nullptr);
            QVERIFY(!CatalogueService::DownloadCatalogue(r, &canceller, nullptr));
            QVERIFY(!starts || starts->Refused() == 1);
        }
        closer.join();
        QVERIFY2(clock.elapsed() < NoHangMs, qPrintable(QString::number(clock.elapsed())));
        QTEST(r.serverAnswer, "code");
        QTEST(server.RequestCount(), "requests");
        QVERIFY(!r.downloaded && !r.pointerStale);
        QVERIFY(!QFile::exists(r.localPath));
        QVERIFY(!QFile::exists(CatalogueSlots::MakePreFilePath()));
    }
};

QTEST_GUILESS_MAIN(TestFileDownloader)
#include "test_filedownloader.moc"
