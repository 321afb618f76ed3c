#include "test_dataloader_support.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace LoaderTest;

namespace {

const QString FoldersText = QStringLiteral("Loading the custom folders from local disk...");
const QString AskText = QStringLiteral("Loading the free ebooks database from official website ...");
const QString LocalText = QStringLiteral("Loading the free ebooks database from local disk...");
const QString ComputeText = QStringLiteral("Computing the free ebooks information...");

} // namespace

// The start-up load: folders file, slot pointer, first download, and what a bad answer leaves.
class TestDataLoader : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir home;
    TestHttpServer server;

    void Reset()
    {
        server.ClearScript();
        server.ClearRequests();
        QDir(DatabaseFolder()).removeRecursively();
        QFile::remove(FoldersFilePath());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestSandbox::UseLocalService(home, server));
        QVERIFY(!CatalogueBytes(QStringLiteral("guid-one")).isEmpty());
    }

    void init() { Reset(); }
    void cleanupTestCase() { Const::ResetServiceRootsForTesting(); }

    void firstStartDownloadsThenSecondStartStaysLocal()
    {
        const QByteArray bytes = CatalogueBytes(QStringLiteral("guid-one"));
        Publish(server, QStringLiteral("guid-one"), bytes);
        {
            DisplayDataSaver store;
            UserDataLoader loader;
            loader.SetStores(&store, QStringLiteral("os=2&fileversion=3011"));
            Recorder recorder;
            recorder.Attach(&loader);
            QVERIFY(RunWorker(loader));

            QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{true, true}}));
            const Results results = ReadResults(loader);
            QVERIFY(results.lastResult);
            QCOMPARE(results.lastError, 0);
            QCOMPARE(results.serverAnswer, 1);
            QCOMPARE(ServiceRequests(server), 1);
            QCOMPARE(server.Requests().at(0).path, QByteArray("/service/getdatabase.php?os=2&fileversion=3011"));
            QCOMPARE(ExistingSlots(), QList<int>{0});
            QCOMPARE(ReadBytes(SlotPath(0)), bytes);
            QCOMPARE(PointerText(), QStringLiteral("0"));
            QCOMPARE(OpenGuid(store), QStringLiteral("guid-one"));
            QCOMPARE(OpenFile(store), SlotPath(0));
            const auto saved = ReadFoldersFile();
            QCOMPARE(saved.first, QStringLiteral("guid-one"));
            QVERIFY(saved.second.contains(QStringLiteral("All Tessaly")));

            // Progress texts come between the first and the local-disk text.
            QCOMPARE(recorder.messages.first(), FoldersText);
            QCOMPARE(recorder.messages.at(1), AskText);
            QCOMPARE(recorder.messages.mid(recorder.messages.size() - 2), (QStringList{LocalText, ComputeText}));
        }

        server.ClearRequests();
        DisplayDataSaver store;
        UserDataLoader loader;
        loader.SetStores(&store, QStringLiteral("os=2"));
        Recorder recorder;
        recorder.Attach(&loader);
        QVERIFY(RunWorker(loader));
        QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{true, false}}));
        QCOMPARE(server.RequestCount(), 0);
        QCOMPARE(recorder.messages, (QStringList{FoldersText, LocalText}));
        QCOMPARE(OpenGuid(store), QStringLiteral("guid-one"));
        QCOMPARE(ReadResults(loader).serverAnswer, 0);
    }

    void failedFirstStartLeavesNothing_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("answer");
        QTest::newRow("retry") << 0 << 3 << 2;
        QTest::newRow("md5 mismatch") << 1 << 3 << 1;
        QTest::newRow("error page, no md5") << 2 << 2 << 1;
        QTest::newRow("other guid inside") << 3 << 2 << 1;
        QTest::newRow("malformed answer") << 4 << 3 << 0;
    }

    void failedFirstStartLeavesNothing()
    {
        QFETCH(int, kind);
        QFETCH(int, error);
        QFETCH(int, answer);
        const QString guid = QStringLiteral("guid-one");
        const QByteArray bytes = CatalogueBytes(guid);
        const QByteArray noMd5;
        const QByteArray wrongMd5 = FileDownloader::Md5Hex("something else").toLatin1();
        switch (kind) {
        case 0:
            server.SetResponse("/service/getdatabase.php", TestHttpResponse::Ok("retry|||"));
            break;
        case 1:
            Publish(server, guid, bytes, "/files/catalogue.rfile", &wrongMd5);
            break;
        case 2:
            Publish(server, guid, "<html><body>Service unavailable</body></html>", "/files/catalogue.rfile", &noMd5);
            break;
        case 3:
            Publish(server, QStringLiteral("guid-announced"), bytes);
            break;
        default:
            server.SetResponse("/service/getdatabase.php", TestHttpResponse::Ok("ok|guid|/files/catalogue.rfile"));
            break;
        }

        DisplayDataSaver store;
        UserDataLoader loader;
        loader.SetStores(&store, QString());
        Recorder recorder;
        recorder.Attach(&loader);
        QVERIFY(RunWorker(loader));

        QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{false, false}}));
        const Results results = ReadResults(loader);
        QVERIFY(!results.lastResult);
        QCOMPARE(results.lastError, error);
        QCOMPARE(results.serverAnswer, answer);
        QCOMPARE(ServiceRequests(server), 1);
        // A rejected file is not left in a slot, the pointer is not written, nothing is open
        // and the folders were not computed.
        QCOMPARE(ExistingSlots(), QList<int>());
        QVERIFY(!QFile::exists(PointerPath()));
        QCOMPARE(OpenFile(store), QString());
        QVERIFY(!QFile::exists(FoldersFilePath()));
        QVERIFY(!recorder.messages.contains(ComputeText));
    }

    // Destroying a worker whose request hangs ends it promptly and without a completion.
    void destructionDuringHangingRequest()
    {
        server.SetResponse("/service/getdatabase.php", TestHttpResponse::Hang());
        DisplayDataSaver store;
        Recorder recorder;
        auto *loader = new UserDataLoader;
        loader->SetStores(&store, QString());
        recorder.Attach(loader);
        loader->StartIfNotRunning();
        QVERIFY(server.WaitForRequests(1));
        QElapsedTimer timer;
        timer.start();
        delete loader;
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
        Drain();
        QVERIFY(recorder.completions.isEmpty());
        QVERIFY(!QFile::exists(PointerPath()));
    }
};

QTEST_GUILESS_MAIN(TestDataLoader)
#include "test_dataloader.moc"
