#include "CatalogueService.h"
#include "CatalogueSlots.h"
#include "Const.h"
#include "FileDownloader.h"
#include "Helper.h"
#include "ServiceUrl.h"
#include "TestCloseable.h"
#include "TestHttpServer.h"
#include "TestSandbox.h"
#include "TestThreadStarts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <thread>

using TestSandbox::CatalogueOkAnswer;
using TestSandbox::ReadBytes;
using TestSandbox::WriteBytes;

namespace {

const QString Base = QStringLiteral("https://service.test.example");

} // namespace

Q_DECLARE_METATYPE(TestHttpResponse)

class TestServiceProtocol : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir home;
    TestHttpServer server;
    TestCloseable canceller;
    QList<QPair<qint64, qint64>> reports;
    const QByteArray catalogue = QByteArray("catalogue file bytes ").repeated(100);

    CatalogueService::ProgressReporter Reporter()
    {
        return [this](const QPair<qint64, qint64> &p) { reports.append(p); };
    }

    void Serve(const TestHttpResponse &answer, const QByteArray &location, const TestHttpResponse &file)
    {
        server.SetResponse("/service/getdatabase.php", answer);
        server.SetResponse(location, file);
    }
    void ServeOk(const QByteArray &guid, const QByteArray &md5, const TestHttpResponse &file)
    {
        Serve(TestHttpResponse::Ok(CatalogueOkAnswer(guid, "/files/c.rfile", md5)), "/files/c.rfile", file);
    }

    // A refresh-style request for the slot the pointer names.
    CatalogueRequest Request(const QString &openGuid, const QString &openFile)
    {
        CatalogueRequest r;
        r.queryString = QStringLiteral("os=2&fileversion=3011");
        r.openGuid = openGuid;
        r.openFilePath = openFile;
        r.alwaysAsk = 1;
        if (!openFile.isEmpty())
            r.inUse << openFile;
        r.localPath = CatalogueSlots::PickCatalogFile(r.inUse, r.slot, r.needDownload);
        return r;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestSandbox::UseLocalService(home, server));
    }

    void init()
    {
        server.ClearScript();
        server.ClearRequests();
        reports.clear();
        canceller.close = false;
        Const::SetServiceRootsForTesting(server.BaseUrl(), server.BaseUrl(), server.BaseUrl() + "/");
        QDir(Helper::GetLocalFolder(Helper::FolderDatabase)).removeRecursively();
    }

    void cleanupTestCase() { Const::ResetServiceRootsForTesting(); }

    void serviceUrlStaysOnOurHost_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "/service/getdatabase.php?os=2&kind=x" << Base + "/service/getdatabase.php?os=2&kind=x";
        QTest::newRow("no slash") << "files/a.rfile" << Base + "/files/a.rfile";
        QTest::newRow("user info") << "@evil.example/x" << Base + "/@evil.example/x";
        QTest::newRow("host suffix") << ".evil.example/x" << Base + "/.evil.example/x";
        QTest::newRow("network path") << "//evil.example/x" << Base + "/evil.example/x";
        QTest::newRow("other scheme") << "ftp://evil.example/x" << Base + "/ftp://evil.example/x";
        QTest::newRow("dot segments") << "/../../x" << Base + "/x";
    }

    void serviceUrlStaysOnOurHost()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        Const::SetServiceRootsForTesting(Base, QString(), QString());
        const QString url = MakeServiceUrl(path);
        QCOMPARE(url, expected);
        QCOMPARE(QUrl(url).host(), QStringLiteral("service.test.example"));
    }

    void parseAnswer_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("needDownload");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("md5");
        const QString S = Base;
        QTest::newRow("ok, new guid, path") << "OK|g2|/files/c.rfile|ABCdef|1|2" << false << 1 << S + "/files/c.rfile" << "ABCdef";
        QTest::newRow("ok, open guid") << "ok|g1|/files/c.rfile|abc|1|2" << false << 10 << "" << "";
        QTest::newRow("ok, open guid, download due") << "ok|g1|/files/c.rfile|abc|1|2" << true << 1 << S + "/files/c.rfile" << "abc";
        QTest::newRow("absolute HTTP kept") << "ok|g2|HTTPS://cdn.example/c.rfile|m|1|2" << false << 1 << "HTTPS://cdn.example/c.rfile" << "m";
        QTest::newRow("absolute, not a web scheme") << "ok|g2|httpx://cdn.example/c|m|1|2" << false << 0 << "" << "";
        QTest::newRow("absolute without host") << "ok|g2|http:/c.rfile|m|1|2" << false << 0 << "" << "";
        QTest::newRow("host-changing path") << "ok|g2|@evil.example/c|m|1|2" << false << 1 << S + "/@evil.example/c" << "m";
        QTest::newRow("empty location") << "ok|g2||m|1|2" << false << 0 << "" << "";
        QTest::newRow("empty md5") << "ok|g2|/c|||" << false << 1 << S + "/c" << "";
        QTest::newRow("ok with 4 parts") << "ok|g2|/c|m" << false << 0 << "" << "";
        QTest::newRow("ok with 5 parts") << "ok|g2|/c|m|1" << false << 0 << "" << "";
        QTest::newRow("retry, 5 empty parts") << "retry||||" << false << 2 << "" << "";
        QTest::newRow("Upgrade, 4 parts") << "Upgrade|g|/c|m" << false << 3 << "" << "";
        QTest::newRow("3 parts") << "retry|a|b" << false << 0 << "" << "";
        QTest::newRow("7 parts") << "retry|a|b|c|d|e|f" << false << 0 << "" << "";
        QTest::newRow("unknown word") << "fine|g2|/c|m|1|2" << false << 0 << "" << "";
        QTest::newRow("leading blank") << " ok|g2|/c|m|1|2" << false << 0 << "" << "";
        QTest::newRow("empty") << "" << false << 0 << "" << "";
    }

    void parseAnswer()
    {
        QFETCH(QString, answer);
        QFETCH(bool, needDownload);
        Const::SetServiceRootsForTesting(Base, QString(), QString());
        QString location = "stale";
        QString md5 = "stale";
        QTEST(CatalogueService::ParseServiceAnswer(answer, "g1", location, md5, needDownload), "code");
        QTEST(location, "location");
        QTEST(md5, "md5");
    }

    // The pointer names the file the store has open: an unchanged answer fetches nothing, a
    // newer catalogue goes to another slot, and with every other slot blocked nothing is written.
    void openFileIsNeverTheTarget()
    {
        const QString open = CatalogueSlots::MakeCatalogueFileName(0);
        QVERIFY(WriteBytes(open, "open catalogue"));
        QVERIFY(WriteBytes(CatalogueSlots::MakeCatalogueFileName(1), "older catalogue"));
        QVERIFY(CatalogueSlots::WritePreFile(0));
        ServeOk("g1", "", TestHttpResponse::Ok(catalogue));
        CatalogueRequest same = Request("g1", open);
        QCOMPARE(same.localPath, open);
        QVERIFY(!same.needDownload);
        QVERIFY(CatalogueService::DownloadCatalogue(same, &canceller, Reporter()));
        QCOMPARE(same.serverAnswer, 10);
        QVERIFY(!same.downloaded && !same.pointerStale);
        QCOMPARE(server.RequestCount(), 1);

        ServeOk("g2", "", TestHttpResponse::Ok(catalogue));
        CatalogueRequest r = Request("g1", open);
        QVERIFY(CatalogueService::DownloadCatalogue(r, &canceller, Reporter()));
        QCOMPARE(r.serverAnswer, 1);
        QVERIFY(r.downloaded);
        QCOMPARE(r.slot, 1);
        QCOMPARE(r.localPath, CatalogueSlots::MakeCatalogueFileName(1));
        QCOMPARE(ReadBytes(r.localPath), catalogue);
        QCOMPARE(ReadBytes(open), QByteArray("open catalogue"));

        for (int i = 1; i < CatalogueSlots::SlotCount; ++i) {
            QFile::remove(CatalogueSlots::MakeCatalogueFileName(i));
            QVERIFY(QDir().mkpath(CatalogueSlots::MakeCatalogueFileName(i) + "/blocked"));
        }
        CatalogueRequest blocked = Request("g1", open);
        QVERIFY(!CatalogueService::DownloadCatalogue(blocked, &canceller, Reporter()));
        QVERIFY(blocked.noFreeSlot && !blocked.downloaded);
        QCOMPARE(ReadBytes(open), QByteArray("open catalogue"));
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
        auto ok = [](const QByteArray &md5) { return TestHttpResponse::Ok(CatalogueOkAnswer("g2", "/files/c.rfile", md5)); };
        const QByteArray goodMd5 = FileDownloader::Md5Hex("catalogue").toLatin1();
        QTest::newRow("empty answer") << TestHttpResponse::Ok(QByteArray()) << file << "" << 0 << 1;
        QTest::newRow("answer starts with a zero byte") << TestHttpResponse::Ok(QByteArray("\0ok", 3)) << file << "" << 0 << 1;
        QTest::newRow("answer with status 404")
            << TestHttpResponse::Status(404, CatalogueOkAnswer("g2", "/files/c.rfile", goodMd5)) << file << "" << 0 << 1;
        QTest::newRow("retry") << TestHttpResponse::Ok("retry|||") << file << "" << 2 << 1;
        QTest::newRow("upgrade") << TestHttpResponse::Ok("upgrade|||") << file << "" << 3 << 1;
        QTest::newRow("md5 mismatch") << ok(FileDownloader::Md5Hex("other").toLatin1()) << file << "" << 1 << 2;
        QTest::newRow("empty catalogue") << ok("") << TestHttpResponse::Ok(QByteArray()) << "" << 1 << 2;
        QTest::newRow("file download cannot start") << ok("") << file << "refused start" << 1 << 1;
        QTest::newRow("close during download") << ok("") << TestHttpResponse::Hang() << "close" << 1 << 2;
    }
    void failures()
    {
        QFETCH(TestHttpResponse, answer);
        QFETCH(TestHttpResponse, file);
        QFETCH(QString, event);
        if (event == "refused start" && !TestThreadStarts::Available())
            QSKIP("thread starts cannot be refused in this build");
        Serve(answer, "/files/c.rfile", file);
        CatalogueRequest r = Request(QString(), QString());
        std::thread closer([this, event] {
            if (event == "close" && server.WaitForRequests(2))
                canceller.close = true;
        });
        QElapsedTimer clock;
        clock.start();
        {
            std::unique_ptr<TestThreadStarts> refused(event == "refused start" ? new TestThreadStarts(1) : nullptr);
            QVERIFY(!CatalogueService::DownloadCatalogue(r, &canceller, Reporter()));
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

QTEST_GUILESS_MAIN(TestServiceProtocol)
#include "test_serviceprotocol.moc"
