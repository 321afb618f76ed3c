#include "test_dataloader_support.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace LoaderTest;

namespace {

const QString FoldersText = QStringLiteral("Loading the custom folders from local disk...");
const QString AskText = QStringLiteral("Loading the free ebooks database from official website ...");
const QString LocalText = QStringLiteral("Loading the free ebooks database from local disk...");
const QString ComputeText = QStringLiteral("Computing the free ebooks information...");

// A start-up load on a fresh folder store.
struct StartUp
{
    DisplayDataSaver store;
    UserDataLoader loader;
    Recorder recorder;

    explicit StartUp(const QString &query = QString())
    {
        loader.SetStores(&store, query);
        recorder.Attach(&loader);
    }
};

enum Failure { RetryAnswer, Md5Mismatch, ErrorPage, OtherGuidInside, MalformedAnswer, PointerUnwritable, FoldersUnwritable, NoFreeSlot };

} // namespace

// The start-up load: folders file, slot pointer, first download, and what a failure leaves.
class TestDataLoader : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir home;
    TestHttpServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(TestSandbox::UseLocalService(home, server));
        QVERIFY(!CatalogueBytes(QStringLiteral("guid-one")).isEmpty());
    }

    void init()
    {
        server.ClearScript();
        server.ClearRequests();
        QDir(DatabaseFolder()).removeRecursively();
        QFile::remove(FoldersFilePath());
        QDir(FoldersFilePath()).removeRecursively();
    }

    void cleanupTestCase() { Const::ResetServiceRootsForTesting(); }

    void firstStartDownloadsThenSecondStartStaysLocal()
    {
        const QByteArray bytes = CatalogueBytes(QStringLiteral("guid-one"));
        Publish(server, QStringLiteral("guid-one"), bytes);
        {
            StartUp first(QStringLiteral("os=2&fileversion=3011"));
            QVERIFY(RunWorker(first.loader));
            QCOMPARE(first.recorder.completions, (QList<QPair<bool, bool>>{{true, true}}));
            const Results results = ReadResults(first.loader);
            QVERIFY(results.lastResult);
            QCOMPARE(results.lastError, 0);
            QCOMPARE(results.serverAnswer, 1);
            QCOMPARE(ServiceRequests(server), 1);
            QCOMPARE(server.Requests().at(0).path, QByteArray("/service/getdatabase.php?os=2&fileversion=3011"));
            QCOMPARE(ExistingSlots(), QList<int>{0});
            QCOMPARE(ReadBytes(SlotPath(0)), bytes);
            QCOMPARE(PointerText(), QStringLiteral("0"));
            QCOMPARE(OpenGuid(first.store), QStringLiteral("guid-one"));
            QCOMPARE(OpenFile(first.store), SlotPath(0));
            const auto saved = ReadFoldersFile();
            QCOMPARE(saved.first, QStringLiteral("guid-one"));
            QVERIFY(saved.second.contains(QStringLiteral("All Tessaly")));

            // Progress texts come between the first and the local-disk text.
            const QStringList &messages = first.recorder.messages;
            QCOMPARE(messages.mid(0, 2), (QStringList{FoldersText, AskText}));
            QCOMPARE(messages.mid(messages.size() - 2), (QStringList{LocalText, ComputeText}));
        }

        server.ClearRequests();
        StartUp second(QStringLiteral("os=2"));
        QVERIFY(RunWorker(second.loader));
        QCOMPARE(second.recorder.completions, (QList<QPair<bool, bool>>{{true, false}}));
        QCOMPARE(server.RequestCount(), 0);
        QCOMPARE(second.recorder.messages, (QStringList{FoldersText, LocalText}));
        QCOMPARE(OpenGuid(second.store), QStringLiteral("guid-one"));
        QCOMPARE(ReadResults(second.loader).serverAnswer, 0);
    }

    void failedFirstStart_data()
    {
        QTest::addColumn<int>("failure");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("answer");
        QTest::newRow("retry") << int(RetryAnswer) << 3 << 2;
        QTest::newRow("md5 mismatch") << int(Md5Mismatch) << 3 << 1;
        QTest::newRow("error page, no md5") << int(ErrorPage) << 2 << 1;
        QTest::newRow("other guid inside") << int(OtherGuidInside) << 2 << 1;
        QTest::newRow("malformed answer") << int(MalformedAnswer) << 3 << 0;
        QTest::newRow("pointer not written") << int(PointerUnwritable) << 4 << 1;
        QTest::newRow("folders not saved") << int(FoldersUnwritable) << 5 << 1;
        QTest::newRow("no free slot") << int(NoFreeSlot) << 101 << 0;
    }

    void failedFirstStart()
    {
        QFETCH(int, failure);
        QFETCH(int, error);
        QFETCH(int, answer);
        const QString guid = QStringLiteral("guid-one");
        const QByteArray bytes = CatalogueBytes(guid);
        const QByteArray noMd5;
        const QByteArray wrongMd5 = FileDownloader::Md5Hex("something else").toLatin1();
        const QByteArray location = "/files/catalogue.rfile";
        switch (failure) {
        case RetryAnswer:
            server.SetResponse("/service/getdatabase.php", TestHttpResponse::Ok("retry|||"));
            break;
        case Md5Mismatch:
            Publish(server, guid, bytes, location, &wrongMd5);
            break;
        case ErrorPage:
            Publish(server, guid, "<html><body>Service unavailable</body></html>", location, &noMd5);
            break;
        case OtherGuidInside:
            Publish(server, QStringLiteral("guid-announced"), bytes);
            break;
        case MalformedAnswer:
            server.SetResponse("/service/getdatabase.php", TestHttpResponse::Ok("ok|guid|/files/catalogue.rfile"));
            break;
        case PointerUnwritable: // a folder stands in the pointer's place
            Publish(server, guid, bytes);
            QVERIFY(QDir().mkpath(PointerPath()));
            break;
        case FoldersUnwritable: // a folder takes the folders file's place while the catalogue comes
            Publish(server, guid, bytes);
            server.SetResponse(location, TestHttpResponse::Delayed(500, bytes));
            break;
        case NoFreeSlot: // folders cannot be deleted to free a slot
            Publish(server, guid, bytes);
            for (int slot = 0; slot < CatalogueSlots::SlotCount; ++slot)
                QVERIFY(QDir().mkpath(SlotPath(slot)));
            break;
        }

        StartUp start;
        if (failure == FoldersUnwritable) {
            start.loader.StartIfNotRunning();
            QVERIFY(server.WaitForRequests(1));
            QVERIFY(QDir().mkpath(FoldersFilePath()));
        }
        QVERIFY(RunWorker(start.loader));
        // Only a failed computation comes after a change.
        QCOMPARE(start.recorder.completions, (QList<QPair<bool, bool>>{{false, failure == FoldersUnwritable}}));
        const Results results = ReadResults(start.loader);
        QVERIFY(!results.lastResult);
        QCOMPARE(results.lastError, error);
        QCOMPARE(results.serverAnswer, answer);
        QCOMPARE(ServiceRequests(server), failure == NoFreeSlot ? 0 : 1);
        // A rejected file is not left in a slot and not opened; the pointer names a slot only
        // once its catalogue is open; folders were computed only for the open catalogue and
        // never saved.
        const bool opened = failure == PointerUnwritable || failure == FoldersUnwritable;
        if (failure != NoFreeSlot)
            QCOMPARE(ExistingSlots(), opened ? QList<int>{0} : QList<int>());
        QCOMPARE(OpenFile(start.store), opened ? SlotPath(0) : QString());
        QCOMPARE(QFileInfo(PointerPath()).isFile(), failure == FoldersUnwritable);
        QVERIFY(!QFileInfo(FoldersFilePath()).isFile());
        QCOMPARE(start.recorder.messages.contains(ComputeText), failure == FoldersUnwritable);
    }
};

QTEST_GUILESS_MAIN(TestDataLoader)
#include "test_dataloader.moc"
