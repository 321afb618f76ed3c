#include "CatalogueService.h"
#include "CatalogueSlots.h"
#include "Const.h"
#include "FileDownloader.h"
#include "TestCloseable.h"
#include "TestHttpServer.h"
#include "TestSandbox.h"
#include "TestThreadStarts.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <thread>

using TestSandbox::CatalogueOkAnswer;
using TestSandbox::ReadBytes;
using TestSandbox::WriteBytes;

Q_DECLARE_METATYPE(TestHttpResponse)

// The downloader, and the conversation with the catalogue service that runs over it.
class TestFileDownloader : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir home;
    TestHttpServer server;
    TestCloseable canceller;

    // A target holding old bytes that a failed download must leave as they are.
    QString OldTarget(const QString &name)
    {
        const QString target = home.filePath(name);
        return WriteBytes(target, "old bytes") ? target : QString();
    }
    // Starts the downloader the way the owners do and waits for the final result.
    static bool RunToEnd(FileDownloader &d) { return d.StartLowPriority() && d.Wait(300); }

private slots:
    void initTestCase() { QVERIFY(TestSandbox::UseLocalService(home, server)); }

    void init()
    {
        server.ClearScript();
        server.ClearRequests();
        canceller.close = false;
    }

    void cleanupTestCase() { Const::ResetServiceRootsForTesting(); }

    // A download to a target replaces it only when the whole body arrived and matches its
    // MD5; otherwise the old bytes stay and no temporary file is left.
    void downloadToTarget_data()
    {
        QTest::addColumn<TestHttpResponse>("response");
        QTest::addColumn<QString>("md5");
        QTest::addColumn<bool>("ok");
        const TestHttpResponse good = TestHttpResponse::Ok("catalogue bytes");
        const QString hex = FileDownloader::Md5Hex("catalogue bytes");
        QTest::newRow("md5 lower") << good << hex << true;
        QTest::newRow("md5 upper") << good << hex.toUpper() << true;
        QTest::newRow("empty md5 means no check") << good << QString() << true;
        QTest::newRow("md5 mismatch") << good << FileDownloader::Md5Hex("other bytes") << false;
        QTest::newRow("302 to a good path") << TestHttpResponse::Redirect(server.Url("/good").toUtf8()) << QString() << false;
        QTest::newRow("404 with body") << TestHttpResponse::Status(404, "<html>missing</html>") << QString() << false;
        QTest::newRow("closed mid-body") << TestHttpResponse::CloseMidBody(QByteArray(4096, 'z'), 1000) << QString() << false;
        QTest::newRow("headers after the time-out") << TestHttpResponse::Delayed(1500, "late") << QString() << false;
        QTest::newRow("body trickles past the time-out")
            << TestHttpResponse::Trickle(QByteArray(200, 't'), 10, 100) << QString() << false;
        QTest::newRow("204 no content") << TestHttpResponse::Status(204) << QString() << false;
    }
    void downloadToTarget()
    {
        QFETCH(TestHttpResponse, response);
        QFETCH(QString, md5);
        QFETCH(bool, ok);
        server.SetResponse("/good", TestHttpResponse::Ok("good"));
        server.SetResponse("/x", response);
        const QString target = OldTarget("kept.bin");
        FileDownloader d(ItemComparePart(), server.Url("/x"), nullptr, 600, target);
        d.expectedMd5 = md5;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(RunToEnd(d), ok);
        QVERIFY(clock.elapsed() < 1500);
        QVERIFY(d.finished);
        QCOMPARE(ReadBytes(target), ok ? QByteArray("catalogue bytes") : QByteArray("old bytes"));
        QCOMPARE(server.RequestCount(), 1); // the redirect is not followed
        // Only the target itself: no half-written temporary file stays behind.
        QCOMPARE(QDir(home.path()).entryList({"kept.bin*"}, QDir::Files | QDir::Hidden), QStringList{"kept.bin"});
    }

    // Every body counts as sent, against the cap of its kind: announced, streamed, unannounced
    // or compressed. A body over the cap fails like any other bad download.
    void bodyCaps_data()
    {
        QTest::addColumn<TestHttpResponse>("response");
        QTest::addColumn<bool>("ok");
        const QByteArray overCap(int(FileDownloader::MaxAnswerBytes) + 1, 'o');
        TestHttpResponse unannounced = TestHttpResponse::Ok(overCap);
        unannounced.sendContentLength = false;
        TestHttpResponse lying = TestHttpResponse::Ok("small").With("Content-Length", "3000000000");
        lying.sendContentLength = false;
        const QByteArray zeros(8 << 20, '\0');
        QTest::newRow("at the cap") << TestHttpResponse::Ok(overCap.left(overCap.size() - 1)) << true;
        QTest::newRow("announced over the cap") << TestHttpResponse::Ok(overCap) << false;
        QTest::newRow("announced far over the cap") << lying << false;
        QTest::newRow("unannounced over the cap") << unannounced << false;
        QTest::newRow("chunked over the cap") << TestHttpResponse::Chunked(overCap, 1000) << false;
        QTest::newRow("gzip bomb") << TestHttpResponse::Gzip(zeros) << false;
        QTest::newRow("deflate bomb")
            << TestHttpResponse::Ok(qCompress(zeros, 9).mid(4)).With("Content-Encoding", "deflate") << false;
        QTest::newRow("small body sent compressed") << TestHttpResponse::Gzip("tiny") << false;
    }
    void bodyCaps()
    {
        QFETCH(TestHttpResponse, response);
        QFETCH(bool, ok);
        server.SetResponse("/cap", response);
        FileDownloader memory(ItemComparePart(), server.Url("/cap"), nullptr, 5000, QString());
        QCOMPARE(!memory.RunAndWait().isEmpty(), ok);
        QVERIFY(memory.data.size() <= FileDownloader::MaxAnswerBytes);
        QCOMPARE(server.Requests().at(0).Header("Accept-Encoding"), QByteArray("identity"));

        const QString target = OldTarget("capped.bin");
        FileDownloader toFile(ItemComparePart(), server.Url("/cap"), nullptr, 5000, target);
        toFile.maxBytes = FileDownloader::MaxAnswerBytes;
        QCOMPARE(RunToEnd(toFile), ok);
        QVERIFY(toFile.data.isEmpty()); // streamed to the file, not kept
        QCOMPARE(QFileInfo(target).size(), ok ? FileDownloader::MaxAnswerBytes : qint64(9));
        QCOMPARE(QDir(home.path()).entryList({"capped.bin*"}, QDir::Files | QDir::Hidden), QStringList{"capped.bin"});
    }

    // A thread that cannot start (the thread limit) is a failed download, never a wait.
    void threadThatCannotStart()
    {
        if (!TestThreadStarts::Available())
            QSKIP("thread starts cannot be refused in this build");
        server.SetDefault(TestHttpResponse::Ok("body"));
        FileDownloader viaRun(ItemComparePart(), server.Url("/t"), nullptr, 5000, QString());
        FileDownloader viaStart(ItemComparePart(), server.Url("/t"), nullptr, 5000, QString());
        QElapsedTimer clock;
        clock.start();
        {
            TestThreadStarts refused;
            QVERIFY(viaRun.RunAndWait().isEmpty());
            QVERIFY(!viaStart.StartLowPriority());
            QCOMPARE(refused.Refused(), 2);
        }
        QVERIFY(!viaStart.Wait(300));
        QVERIFY(viaRun.finished && viaStart.finished);
        QVERIFY(clock.elapsed() < 1000);
        QCOMPARE(server.RequestCount(), 0);
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

        // A server whose certificate is not trusted never gets the request.
        TestHttpServer stranger(TestHttpServer::Mode::TlsUntrusted);
        QVERIFY(stranger.Start());
        FileDownloader untrusted(ItemComparePart(), stranger.Url("/t"), nullptr, 5000, QString());
        QVERIFY(!RunToEnd(untrusted) && untrusted.data.isEmpty() && stranger.RequestCount() == 0);
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
            QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
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
            QVERIFY2(clock.elapsed() < 1000, qPrintable(QStringLiteral("round %1: %2 ms").arg(round).arg(clock.elapsed())));
            QVERIFY(!d.succeeded);
        }

        server.ClearRequests();
        FileDownloader d(ItemComparePart(), server.Url("/c"), &canceller, 840000, QString());
        QVERIFY(d.StartLowPriority());
        clock.restart();
        QVERIFY(d.RunAndWait().isEmpty()); // already running: no second start, no waiting
        QVERIFY(clock.elapsed() < 200);
        QVERIFY(server.WaitForRequests(1));
        canceller.close = true;
        clock.restart();
        QVERIFY(!d.Wait(300));
        QVERIFY(clock.elapsed() < 1000);
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

    // Failed downloads write neither a slot file nor the pointer: bad answers, a bad file, a
    // file downloader whose thread cannot start (the thread limit), a close mid-download.
    void failures_data()
    {
        QTest::addColumn<TestHttpResponse>("answer");
        QTest::addColumn<TestHttpResponse>("file");
        QTest::addColumn<QString>("event"); // "refused start", "close"
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("requests");
        const TestHttpResponse file = TestHttpResponse::Ok("catalogue");
        const QByteArray answer = CatalogueOkAnswer("g2", "/files/c.rfile", "");
        const TestHttpResponse ok = TestHttpResponse::Ok(answer);
        QTest::newRow("empty answer") << TestHttpResponse::Ok(QByteArray()) << file << "" << 0 << 1;
        QTest::newRow("answer starts with a zero byte") << TestHttpResponse::Ok(QByteArray("\0ok", 3)) << file << "" << 0 << 1;
        QTest::newRow("answer with status 404") << TestHttpResponse::Status(404, answer) << file << "" << 0 << 1;
        QTest::newRow("empty catalogue") << ok << TestHttpResponse::Ok(QByteArray()) << "" << 1 << 2;
        QTest::newRow("file download cannot start") << ok << file << "refused start" << 1 << 1;
        QTest::newRow("close during download") << ok << TestHttpResponse::Hang() << "close" << 1 << 2;
    }
    void failures()
    {
        QFETCH(TestHttpResponse, answer);
        QFETCH(TestHttpResponse, file);
        QFETCH(QString, event);
        if (event == "refused start" && !TestThreadStarts::Available())
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
            std::unique_ptr<TestThreadStarts> refused(event == "refused start" ? new TestThreadStarts(1) : nullptr);
            QVERIFY(!CatalogueService::DownloadCatalogue(r, &canceller, nullptr));
            QVERIFY(!refused || refused->Refused() == 1); // the file's downloader only
        }
        closer.join();
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QTEST(r.serverAnswer, "code");
        QTEST(server.RequestCount(), "requests");
        QVERIFY(!r.downloaded && !r.pointerStale);
        QVERIFY(!QFile::exists(r.localPath));
        QVERIFY(!QFile::exists(CatalogueSlots::MakePreFilePath()));
    }
};

QTEST_GUILESS_MAIN(TestFileDownloader)
#include "test_filedownloader.moc"
