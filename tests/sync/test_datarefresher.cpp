#include "test_dataloader_support.h"

#include "folders/DisplayFolder.h"
#include "threads/QWriteLockerExt2.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace LoaderTest;

namespace {

const QString RefreshText = QStringLiteral("refreshing the free ebooks database from official website...");
const QString LatestText = QStringLiteral("Loading the latest free ebooks information...");
const QString ComputeText = QStringLiteral("Computing the free ebooks information...");

} // namespace

// The refresh: new catalogues go to another slot and are checked before the switch; bad
// downloads, refusals and stops leave the open catalogue, its slot and the pointer alone.
class TestDataRefresher : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir home;
    TestHttpServer server;
    std::unique_ptr<DisplayDataSaver> store;
    std::unique_ptr<UserDataLoader> loader;
    std::unique_ptr<UserDataRefresher> refresher;
    Recorder recorder;

    // A fresh program: folder store and both workers.
    void NewProgram()
    {
        refresher.reset();
        loader.reset();
        store.reset(new DisplayDataSaver);
        loader.reset(new UserDataLoader);
        refresher.reset(new UserDataRefresher);
        loader->SetStores(store.get(), QStringLiteral("os=2"));
        refresher->SetStores(store.get(), QStringLiteral("os=2"));
        recorder.Attach(loader.get());
        recorder.Attach(refresher.get());
    }

    // The start-up load of guid-one into slot 0.
    void StartWithFirstCatalogue()
    {
        Publish(server, QStringLiteral("guid-one"), CatalogueBytes(QStringLiteral("guid-one")));
        QVERIFY(RunWorker(*loader));
        QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{true, true}}));
        QCOMPARE(OpenFile(*store), SlotPath(0));
        server.ClearRequests();
        recorder.Clear();
    }

    void ExpectFirstCatalogueKept()
    {
        QCOMPARE(OpenGuid(*store), QStringLiteral("guid-one"));
        QCOMPARE(OpenFile(*store), SlotPath(0));
        QCOMPARE(PointerText(), QStringLiteral("0"));
        QCOMPARE(ReadBytes(SlotPath(0)), CatalogueBytes(QStringLiteral("guid-one")));
        QCOMPARE(ExistingSlots(), QList<int>{0});
        QCOMPARE(ReadFoldersFile().first, QStringLiteral("guid-one"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestSandbox::UseLocalService(home, server));
        QVERIFY(!CatalogueBytes(QStringLiteral("guid-one")).isEmpty());
        QVERIFY(!CatalogueBytes(QStringLiteral("guid-two"), 150).isEmpty());
    }

    void init()
    {
        server.ClearScript();
        server.ClearRequests();
        QDir(DatabaseFolder()).removeRecursively();
        QDir(FoldersFilePath()).removeRecursively();
        QFile::remove(FoldersFilePath());
        recorder.Clear();
        NewProgram();
    }

    void cleanup()
    {
        refresher.reset();
        loader.reset();
        store.reset();
    }

    void cleanupTestCase() { Const::ResetServiceRootsForTesting(); }

    void newCatalogueAlternatesSlotsThenUnchanged()
    {
        StartWithFirstCatalogue();
        const QByteArray two = CatalogueBytes(QStringLiteral("guid-two"), 150);
        Publish(server, QStringLiteral("guid-two"), two, "/files/two.rfile");

        QVERIFY(RunWorker(*refresher));
        QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{true, true}}));
        QCOMPARE(recorder.startComputing, 1);
        QCOMPARE(ReadResults(*refresher).serverAnswer, 1);
        QCOMPARE(ServiceRequests(server), 1);
        QCOMPARE(OpenGuid(*store), QStringLiteral("guid-two"));
        QCOMPARE(OpenFile(*store), SlotPath(1));
        QCOMPARE(PointerText(), QStringLiteral("1"));
        QCOMPARE(ReadBytes(SlotPath(0)), CatalogueBytes(QStringLiteral("guid-one")));
        QCOMPARE(ReadBytes(SlotPath(1)), two);
        QCOMPARE(ReadFoldersFile().first, QStringLiteral("guid-two"));
        QCOMPARE(recorder.messages.first(), RefreshText);
        QCOMPARE(recorder.messages.mid(recorder.messages.size() - 2), (QStringList{LatestText, ComputeText}));

        // The next catalogue goes back to slot 0, whose old file is no longer open.
        recorder.Clear();
        Publish(server, QStringLiteral("guid-one"), CatalogueBytes(QStringLiteral("guid-one")), "/files/one.rfile");
        QVERIFY(RunWorker(*refresher));
        QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{true, true}}));
        QCOMPARE(OpenFile(*store), SlotPath(0));
        QCOMPARE(PointerText(), QStringLiteral("0"));
        QCOMPARE(ReadBytes(SlotPath(1)), two);

        // Unchanged: one request, nothing fetched, no computing state.
        recorder.Clear();
        server.ClearRequests();
        QVERIFY(RunWorker(*refresher));
        QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{true, false}}));
        QCOMPARE(recorder.startComputing, 0);
        QCOMPARE(server.RequestCount(), 1);
        QCOMPARE(ServiceRequests(server), 1);
        QCOMPARE(ReadResults(*refresher).serverAnswer, 10);
        QCOMPARE(ReadResults(*refresher).lastError, 0);
        QCOMPARE(PointerText(), QStringLiteral("0"));
    }

    void badRefreshKeepsOpenCatalogue_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("answer");
        QTest::newRow("md5 mismatch") << 0 << 3 << 1;
        QTest::newRow("error page served 200, no md5") << 1 << 2 << 1;
        QTest::newRow("truncated catalogue, no md5") << 2 << 2 << 1;
        QTest::newRow("announced guid differs") << 3 << 2 << 1;
        QTest::newRow("empty guid announced") << 4 << 2 << 1;
        QTest::newRow("retry") << 5 << 3 << 2;
        QTest::newRow("upgrade") << 6 << 3 << 3;
    }

    void badRefreshKeepsOpenCatalogue()
    {
        QFETCH(int, kind);
        QFETCH(int, error);
        QFETCH(int, answer);
        StartWithFirstCatalogue();
        const QString guid = QStringLiteral("guid-two");
        const QByteArray two = CatalogueBytes(guid, 150);
        const QByteArray noMd5;
        const QByteArray wrongMd5 = FileDownloader::Md5Hex("not the file").toLatin1();
        switch (kind) {
        case 0:
            Publish(server, guid, two, "/files/two.rfile", &wrongMd5);
            break;
        case 1:
            Publish(server, guid, "<html>Maintenance</html>", "/files/two.rfile", &noMd5);
            break;
        case 2:
            Publish(server, guid, two.left(two.size() - 4096), "/files/two.rfile", &noMd5);
            break;
        case 3:
            Publish(server, QStringLiteral("guid-three"), two, "/files/two.rfile");
            break;
        case 4:
            Publish(server, QString(), two, "/files/two.rfile");
            break;
        case 5:
            server.SetResponse("/service/getdatabase.php", TestHttpResponse::Ok("RETRY|a|b|c|d"));
            break;
        default:
            server.SetResponse("/service/getdatabase.php", TestHttpResponse::Ok("upgrade|||"));
            break;
        }

        QVERIFY(RunWorker(*refresher));
        QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{false, false}}));
        const Results results = ReadResults(*refresher);
        QVERIFY(!results.lastResult);
        QCOMPARE(results.lastError, error);
        QCOMPARE(results.serverAnswer, answer);
        ExpectFirstCatalogueKept();
        QVERIFY(!recorder.messages.contains(ComputeText));

        // The store still answers from the old catalogue.
        QWriteLockerExt2 token(&store->items->lock);
        QVERIFY(store->items->GetBook(1, token) != nullptr);
    }

    // A pointer left naming an older slot (its write failed after a switch) must not bring
    // that catalogue back: without a download the open catalogue is recomputed.
    void unchangedAnswerRecomputesOpenFileNotPointerSlot()
    {
        StartWithFirstCatalogue();
        // The pointer cannot be written while a folder stands in its place.
        QVERIFY(QFile::remove(PointerPath()));
        QVERIFY(QDir().mkpath(PointerPath()));
        Publish(server, QStringLiteral("guid-two"), CatalogueBytes(QStringLiteral("guid-two"), 150));
        QVERIFY(RunWorker(*refresher));
        QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{false, false}}));
        QCOMPARE(ReadResults(*refresher).lastError, 4);
        QCOMPARE(OpenFile(*store), SlotPath(1));
        QCOMPARE(ReadFoldersFile().first, QStringLiteral("guid-one"));

        QVERIFY(QDir(PointerPath()).removeRecursively());
        QVERIFY(WriteBytes(PointerPath(), "0"));
        recorder.Clear();
        QVERIFY(RunWorker(*refresher));
        QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{true, true}}));
        QCOMPARE(ReadResults(*refresher).serverAnswer, 10);
        QCOMPARE(server.RequestCount("/files/catalogue.rfile"), 1);
        QCOMPARE(OpenGuid(*store), QStringLiteral("guid-two"));
        QCOMPARE(OpenFile(*store), SlotPath(1));
        QCOMPARE(ReadFoldersFile().first, QStringLiteral("guid-two"));
        QCOMPARE(ReadBytes(SlotPath(0)), CatalogueBytes(QStringLiteral("guid-one")));
    }

    // The folders file could not be read at start: refreshes read it again before anything
    // else and never save a list they have not read.
    void unreadableFoldersAreReadAgainNotOverwritten()
    {
        {
            DisplayDataSaver first;
            bool added = false;
            QVERIFY(first.LoadFolders(added));
            QWriteLockerExt2 token(&first.lock);
            auto *folder = new DisplayFolder;
            folder->uid = QUuid::createUuid();
            folder->type = CategoryFolder;
            folder->caption = QStringLiteral("My shelf");
            folder->categoryUid = 3;
            QVERIFY(first.AddFolder(folder, token));
            QVERIFY(first.SaveLocked(token));
        }
        const QByteArray saved = ReadBytes(FoldersFilePath());
        const QString aside = FoldersFilePath() + QStringLiteral(".aside");
        QVERIFY(QFile::rename(FoldersFilePath(), aside));
        QVERIFY(QDir().mkpath(FoldersFilePath()));
        Publish(server, QStringLiteral("guid-one"), CatalogueBytes(QStringLiteral("guid-one")));

        QVERIFY(RunWorker(*loader));
        QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{false, false}}));
        QCOMPARE(ReadResults(*loader).lastError, 1);

        // Still unreadable: the refresh stops before asking the service.
        recorder.Clear();
        QVERIFY(RunWorker(*refresher));
        QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{false, false}}));
        QCOMPARE(ReadResults(*refresher).lastError, 1);
        QCOMPARE(server.RequestCount(), 0);

        // Readable again: read first, then the catalogue, then computed and saved with the
        // user's folder in it.
        QVERIFY(QDir(FoldersFilePath()).removeRecursively());
        QVERIFY(QFile::rename(aside, FoldersFilePath()));
        recorder.Clear();
        QVERIFY(RunWorker(*refresher));
        QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{true, true}}));
        QCOMPARE(recorder.messages.at(1), QStringLiteral("Loading the custom folders from local disk..."));
        const auto reread = ReadFoldersFile();
        QCOMPARE(reread.first, QStringLiteral("guid-one"));
        QVERIFY(reread.second.contains(QStringLiteral("My shelf")));
        QVERIFY(ReadBytes(FoldersFilePath()) != saved);

        // Once read, a refresh does not read the file again.
        recorder.Clear();
        QVERIFY(RunWorker(*refresher));
        QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{true, false}}));
        QVERIFY(!recorder.messages.contains(QStringLiteral("Loading the custom folders from local disk...")));
    }

    // A stop during a slow download returns within about a second, sends no completion and
    // leaves no partial file, no new pointer and the old catalogue open.
    void stopDuringSlowDownload()
    {
        StartWithFirstCatalogue();
        const QByteArray two = CatalogueBytes(QStringLiteral("guid-two"), 150);
        Publish(server, QStringLiteral("guid-two"), two, "/files/two.rfile");
        server.SetResponse("/files/two.rfile", TestHttpResponse::Trickle(two, 512, 100));

        refresher->StartIfNotRunning();
        QVERIFY(server.WaitForRequests(2));
        QTest::qWait(400);
        QElapsedTimer timer;
        timer.start();
        refresher->Stop();
        QVERIFY2(timer.elapsed() < 1200, qPrintable(QString::number(timer.elapsed())));
        Drain();
        QVERIFY(recorder.completions.isEmpty());
        QCOMPARE(recorder.startComputing, 0);
        ExpectFirstCatalogueKept();
        QCOMPARE(QDir(DatabaseFolder()).entryList(QDir::Files | QDir::Hidden).size(), 2);

        // The worker can run again afterwards.
        server.SetResponse("/files/two.rfile", TestHttpResponse::Ok(two));
        recorder.Clear();
        QVERIFY(RunWorker(*refresher));
        QCOMPARE(recorder.completions, (QList<QPair<bool, bool>>{{true, true}}));
        QCOMPARE(OpenGuid(*store), QStringLiteral("guid-two"));

        // Stopped once the computing state began: no completion, so the worker ends that state.
        Publish(server, QStringLiteral("guid-one"), CatalogueBytes(QStringLiteral("guid-one")), "/files/one.rfile");
        recorder.Clear();
        QObject stopper;
        connect(refresher.get(), &UserDataRefresher::startComputing, &stopper, [](bool isStart) {
            if (isStart)
                QThread::currentThread()->requestInterruption();
        }, Qt::DirectConnection);
        QVERIFY(RunWorker(*refresher));
        QVERIFY(recorder.completions.isEmpty());
        QCOMPARE(recorder.computingStates, (QList<bool>{true, false}));
    }
};

QTEST_GUILESS_MAIN(TestDataRefresher)
#include "test_datarefresher.moc"
