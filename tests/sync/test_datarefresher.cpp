#include "test_dataloader_support.h"

#include "folders/DisplayFolder.h"
#include "threads/QWriteLockerExt2.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace LoaderTest;

namespace {

const QString RefreshText = QStringLiteral("refreshing the free ebooks database from official website...");
const QString LatestText = QStringLiteral("Loading the latest free ebooks information...");
const QString ComputeText = QStringLiteral("Computing the free ebooks information...");
const QString FoldersText = QStringLiteral("Loading the custom folders from local disk...");
const QString CacheText = QStringLiteral("Clearing the local image cache...");
const QString One = QStringLiteral("guid-one");
const QString Two = QStringLiteral("guid-two");

QByteArray OneBytes() { return CatalogueBytes(One); }
QByteArray TwoBytes() { return CatalogueBytes(Two, 150); }

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

    // Runs a worker to its end: "changed", "unchanged" or "failed" per completion, "none"
    // without one, "timeout" when it does not end.
    QString Run(UserDataLoader &worker)
    {
        recorder.Clear();
        if (!RunWorker(worker))
            return QStringLiteral("timeout");
        QStringList done;
        for (const auto &c : qAsConst(recorder.completions))
            done << (!c.first ? (c.second ? "odd" : "failed") : c.second ? "changed" : "unchanged");
        return done.isEmpty() ? QStringLiteral("none") : done.join(',');
    }

    // The start-up load of guid-one into slot 0.
    void StartWithFirstCatalogue()
    {
        Publish(server, One, OneBytes());
        QCOMPARE(Run(*loader), QStringLiteral("changed"));
        QCOMPARE(OpenFile(*store), SlotPath(0));
        server.ClearRequests();
        recorder.Clear();
    }

    void ExpectFirstCatalogueKept()
    {
        QCOMPARE(OpenGuid(*store), One);
        QCOMPARE(OpenFile(*store), SlotPath(0));
        QCOMPARE(PointerText(), QStringLiteral("0"));
        QCOMPARE(ReadBytes(SlotPath(0)), OneBytes());
        QCOMPARE(ExistingSlots(), QList<int>{0});
        QCOMPARE(ReadFoldersFile().first, One);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestSandbox::UseLocalService(home, server));
        QVERIFY(!OneBytes().isEmpty() && !TwoBytes().isEmpty());
    }

    void init()
    {
        server.ClearScript();
        server.ClearRequests();
        QDir(DatabaseFolder()).removeRecursively();
        QDir(FoldersFilePath()).removeRecursively();
        QFile::remove(FoldersFilePath());
        recorder.Clear();
        store.reset(new DisplayDataSaver);
        loader.reset(new UserDataLoader);
        refresher.reset(new UserDataRefresher);
        loader->SetStores(store.get(), QStringLiteral("os=2"));
        refresher->SetStores(store.get(), QStringLiteral("os=2"));
        recorder.Attach(loader.get());
        recorder.Attach(refresher.get());
    }

    void cleanup()
    {
        refresher.reset();
        loader.reset();
        store.reset();
    }

    void cleanupTestCase() { Const::ResetServiceRootsForTesting(); }

    void badRefreshKeepsOpenCatalogue_data()
    {
        QTest::addColumn<QString>("guid");      // announced
        QTest::addColumn<QByteArray>("body");   // served at the location
        QTest::addColumn<QByteArray>("md5");    // announced; "file" for the body's own
        QTest::addColumn<QByteArray>("answer"); // raw service answer, when set
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("serverAnswer");
        const QByteArray two = TwoBytes();
        const QByteArray own = "file";
        QTest::newRow("md5 mismatch") << Two << two << FileDownloader::Md5Hex("not the file").toLatin1() << QByteArray() << 3 << 1;
        QTest::newRow("error page served 200, no md5") << Two << QByteArray("<html>Maintenance</html>") << QByteArray() << QByteArray() << 2 << 1;
        QTest::newRow("truncated catalogue, no md5") << Two << two.left(two.size() - 4096) << QByteArray() << QByteArray() << 2 << 1;
        QTest::newRow("announced guid differs") << "guid-three" << two << own << QByteArray() << 2 << 1;
        QTest::newRow("empty guid announced") << QString() << two << own << QByteArray() << 2 << 1;
        QTest::newRow("retry") << Two << two << own << QByteArray("RETRY|a|b|c|d") << 3 << 2;
        QTest::newRow("upgrade") << Two << two << own << QByteArray("upgrade|||") << 3 << 3;
    }
    void badRefreshKeepsOpenCatalogue()
    {
        QFETCH(QString, guid);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, md5);
        QFETCH(QByteArray, answer);
        StartWithFirstCatalogue();
        Publish(server, guid, body, "/files/two.rfile", md5 == "file" ? nullptr : &md5);
        if (!answer.isEmpty())
            server.SetResponse("/service/getdatabase.php", TestHttpResponse::Ok(answer));

        QCOMPARE(Run(*refresher), QStringLiteral("failed"));
        const Results results = ReadResults(*refresher);
        QVERIFY(!results.lastResult);
        QTEST(results.lastError, "error");
        QTEST(results.serverAnswer, "serverAnswer");
        ExpectFirstCatalogueKept();
        QVERIFY(!recorder.messages.contains(ComputeText));
        QWriteLockerExt2 token(&store->items->lock); // the store still answers from the old catalogue
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
        Publish(server, Two, TwoBytes());
        QCOMPARE(Run(*refresher), QStringLiteral("failed"));
        QCOMPARE(ReadResults(*refresher).lastError, 4);
        QCOMPARE(OpenFile(*store), SlotPath(1));
        QCOMPARE(ReadFoldersFile().first, One);

        QVERIFY(QDir(PointerPath()).removeRecursively());
        QVERIFY(WriteBytes(PointerPath(), "0"));
        QCOMPARE(Run(*refresher), QStringLiteral("changed"));
        QCOMPARE(ReadResults(*refresher).serverAnswer, 10);
        QCOMPARE(server.RequestCount("/files/catalogue.rfile"), 1);
        QCOMPARE(OpenGuid(*store), Two);
        QCOMPARE(OpenFile(*store), SlotPath(1));
        QCOMPARE(ReadFoldersFile().first, Two);
        QCOMPARE(ReadBytes(SlotPath(0)), OneBytes());
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
        Publish(server, One, OneBytes());
        QCOMPARE(Run(*loader), QStringLiteral("failed"));
        QCOMPARE(ReadResults(*loader).lastError, 1);

        // Still unreadable: the refresh stops before asking the service.
        QCOMPARE(Run(*refresher), QStringLiteral("failed"));
        QCOMPARE(ReadResults(*refresher).lastError, 1);
        QCOMPARE(server.RequestCount(), 0);

        // Readable again: read first, then the catalogue, then computed and saved with the
        // user's folder in it.
        QVERIFY(QDir(FoldersFilePath()).removeRecursively());
        QVERIFY(QFile::rename(aside, FoldersFilePath()));
        QCOMPARE(Run(*refresher), QStringLiteral("changed"));
        QCOMPARE(recorder.messages.at(1), FoldersText);
        const auto reread = ReadFoldersFile();
        QCOMPARE(reread.first, One);
        QVERIFY(reread.second.contains(QStringLiteral("My shelf")));
        QVERIFY(ReadBytes(FoldersFilePath()) != saved);

        // Once read, a refresh does not read the file again.
        QCOMPARE(Run(*refresher), QStringLiteral("unchanged"));
        QVERIFY(!recorder.messages.contains(FoldersText));
    }

    // A second start while a refresh runs is no second refresh. A stop during a slow download
    // returns within about a second, sends no completion and leaves no partial file, no new
    // pointer and the old catalogue open.
    void stopDuringSlowDownload()
    {
        StartWithFirstCatalogue();
        const QByteArray two = TwoBytes();
        Publish(server, Two, two, "/files/two.rfile");
        server.SetResponse("/files/two.rfile", TestHttpResponse::Trickle(two, 512, 100));
        refresher->StartIfNotRunning();
        QVERIFY(server.WaitForRequests(2));
        refresher->StartIfNotRunning();
        QTest::qWait(400);
        QElapsedTimer timer;
        timer.start();
        refresher->Stop();
        QVERIFY2(timer.elapsed() < 1200, qPrintable(QString::number(timer.elapsed())));
        Drain();
        QCOMPARE(ServiceRequests(server), 1);
        QVERIFY(recorder.completions.isEmpty());
        QCOMPARE(recorder.startComputing, 0);
        ExpectFirstCatalogueKept();
        QCOMPARE(QDir(DatabaseFolder()).entryList(QDir::Files | QDir::Hidden).size(), 2);

        // The worker runs again afterwards; a download of about three seconds reports its progress.
        server.SetResponse("/files/two.rfile", TestHttpResponse::Trickle(two, two.size() / 30 + 1, 100));
        QCOMPARE(Run(*refresher), QStringLiteral("changed"));
        QCOMPARE(OpenGuid(*store), Two);
        const QRegularExpression progress(QStringLiteral("^Loading the free ebooks database from official website "
                                                         "\\d+% \\(\\d+\\.\\d\\d MB\\) \\.\\.\\.$"));
        QVERIFY2(recorder.messages.indexOf(progress) > 0, qPrintable(recorder.messages.join('\n')));

        // Stopped once the computing state began: no completion, so the worker ends that state.
        Publish(server, One, OneBytes(), "/files/one.rfile");
        QObject stopper;
        connect(refresher.get(), &UserDataRefresher::startComputing, &stopper, [](bool isStart) {
            if (isStart)
                QThread::currentThread()->requestInterruption();
        }, Qt::DirectConnection);
        QCOMPARE(Run(*refresher), QStringLiteral("none"));
        QCOMPARE(recorder.computingStates, (QList<bool>{true, false}));
    }
};

QTEST_GUILESS_MAIN(TestDataRefresher)
#include "test_datarefresher.moc"
