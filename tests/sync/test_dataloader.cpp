#include "test_dataloader_support.h"

#include "folders/DisplayFolder.h"
#include "threads/QWriteLockerExt2.h"

#include <QtTest>

#include <memory>

using namespace LoaderTest;

namespace {

const QString FoldersText = QStringLiteral("Loading the custom folders from local disk...");
const QString AskText = QStringLiteral("Loading the free ebooks database from official website ...");
const QString LocalText = QStringLiteral("Loading the free ebooks database from local disk...");
const QString ComputeText = QStringLiteral("Computing the free ebooks information...");
const QString One = QStringLiteral("guid-one");
const QString Two = QStringLiteral("guid-two");

QByteArray OneBytes() { return CatalogueBytes(One); }
QByteArray TwoBytes() { return CatalogueBytes(Two, 150); }

enum Fault { RetryAnswer, UpgradeAnswer, MalformedAnswer, Md5Mismatch, ErrorPage, TruncatedBody, OtherGuidInside,
             EmptyGuid, PointerUnwritable, FoldersUnwritable, NoFreeSlot };

} // namespace

// A helper's failed check ends the test, not only the helper.
#define CHECKED(call) \
    do { \
        call; \
        if (QTest::currentTestFailed()) \
            return; \
    } while (false)

// The start-up load and the refresh: folders file, slot pointer and downloads. New catalogues go
// to another slot and are checked before the switch; bad downloads, refusals and stops leave the
// open catalogue, its slot and the pointer alone.
class TestDataLoader : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir home;
    TestHttpServer server;
    std::unique_ptr<Workers> w;

    // The start-up load of guid-one into slot 0; download progress comes between the asking
    // and the local-disk text.
    void StartWithFirstCatalogue()
    {
        Publish(server, One, OneBytes());
        QCOMPARE(w->Run(w->loader), QStringLiteral("changed; error 0, answer 1"));
        QCOMPARE(server.RequestCount(ServicePath), 1);
        QCOMPARE(server.Requests().at(0).path, QByteArray("/service/getdatabase.php?os=2&fileversion=3011"));
        QCOMPARE(w->messages.mid(0, 2), (QStringList{FoldersText, AskText}));
        QCOMPARE(w->messages.mid(w->messages.size() - 2), (QStringList{LocalText, ComputeText}));
        server.ClearRequests();
    }

    void ExpectFirstCatalogueKept()
    {
        QCOMPARE(w->OpenGuid(), One);
        QCOMPARE(w->OpenFile(), SlotPath(0));
        QCOMPARE(PointerText(), QStringLiteral("0"));
        QCOMPARE(ReadBytes(SlotPath(0)), OneBytes());
        QCOMPARE(CatalogueFileNames(), QStringList{QFileInfo(SlotPath(0)).fileName()});
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
        QDir(Helper::GetLocalFolder(Helper::FolderBase)).removeRecursively();
        w.reset(new Workers); // as after a first program start
    }

    void failedLoadKeepsWhatWasThere_data()
    {
        QTest::addColumn<bool>("refresh"); // a catalogue is open and the refresher runs
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("start: retry") << false << int(RetryAnswer) << "failed; error 3, answer 2";
        QTest::newRow("start: md5 mismatch") << false << int(Md5Mismatch) << "failed; error 3, answer 1";
        QTest::newRow("start: error page, no md5") << false << int(ErrorPage) << "failed; error 2, answer 1";
        QTest::newRow("start: other guid inside") << false << int(OtherGuidInside) << "failed; error 2, answer 1";
        QTest::newRow("start: malformed answer") << false << int(MalformedAnswer) << "failed; error 3, answer 0";
        QTest::newRow("start: pointer not written") << false << int(PointerUnwritable) << "failed; error 4, answer 1";
        QTest::newRow("start: folders not saved")
            << false << int(FoldersUnwritable) << "failed after change; error 5, answer 1";
        QTest::newRow("start: no free slot") << false << int(NoFreeSlot) << "failed; error 101, answer 0";
        QTest::newRow("refresh: no free slot") << true << int(NoFreeSlot) << "failed; error 101, answer 1";
        QTest::newRow("refresh: md5 mismatch") << true << int(Md5Mismatch) << "failed; error 3, answer 1";
        QTest::newRow("refresh: error page, no md5") << true << int(ErrorPage) << "failed; error 2, answer 1";
        QTest::newRow("refresh: truncated, no md5") << true << int(TruncatedBody) << "failed; error 2, answer 1";
        QTest::newRow("refresh: other guid inside") << true << int(OtherGuidInside) << "failed; error 2, answer 1";
        QTest::newRow("refresh: empty guid announced") << true << int(EmptyGuid) << "failed; error 2, answer 1";
        QTest::newRow("refresh: retry") << true << int(RetryAnswer) << "failed; error 3, answer 2";
        QTest::newRow("refresh: upgrade") << true << int(UpgradeAnswer) << "failed; error 3, answer 3";
    }
    void failedLoadKeepsWhatWasThere()
    {
        QFETCH(bool, refresh);
        QFETCH(int, fault);
        if (refresh)
            CHECKED(StartWithFirstCatalogue());
        // What the service announces and serves instead of the catalogue (a page or a cut file without an MD5).
        const QByteArray bytes = refresh ? TwoBytes() : OneBytes();
        const QHash<int, QString> guids{{OtherGuidInside, QStringLiteral("guid-announced")}, {EmptyGuid, QString()}};
        const QHash<int, QByteArray> bodies{{ErrorPage, "<html><body>Service unavailable</body></html>"},
                                            {TruncatedBody, bytes.left(bytes.size() - 4096)}};
        const QHash<int, QByteArray> answers{
            {RetryAnswer, "RETRY|a|b|c|d"}, {UpgradeAnswer, "upgrade|||"}, {MalformedAnswer, "ok|guid|/files/next.rfile"}};
        const QByteArray md5 = fault == Md5Mismatch ? FileDownloader::Md5Hex("not the file").toLatin1() : QByteArray();
        Publish(server, guids.value(fault, refresh ? Two : One), bodies.value(fault, bytes), "/files/next.rfile",
                fault == Md5Mismatch || bodies.contains(fault) ? &md5 : nullptr);
        if (answers.contains(fault))
            server.SetResponse("/service/getdatabase.php", TestHttpResponse::Ok(answers.value(fault)));
        if (fault != NoFreeSlot || refresh)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
                                                 "^load db from: http://127\\.0\\.0\\.1:\\d+/service/getdatabase\\.php\\?.+")));
        switch (fault) {
        case PointerUnwritable: // a folder stands in the pointer's place
            QVERIFY(QDir().mkpath(PointerPath()));
            break;
        case FoldersUnwritable: // a folder takes the folders file's place while the catalogue comes
            server.SetResponse("/files/next.rfile", TestHttpResponse::Delayed(500, bytes));
            w->loader.StartIfNotRunning();
            QVERIFY(server.WaitForRequests(1));
            QVERIFY(QDir().mkpath(FoldersFilePath()));
            break;
        case NoFreeSlot: // folders cannot be deleted to free a slot; the open file is never one
            for (int slot = refresh ? 1 : 0; slot < CatalogueSlots::SlotCount; ++slot)
                QVERIFY(QDir().mkpath(SlotPath(slot)));
            break;
        }

        QTEST(w->Run(refresh ? w->refresher : w->loader), "outcome");
        QCOMPARE(server.RequestCount(ServicePath), fault == NoFreeSlot && !refresh ? 0 : 1);
        QCOMPARE(w->messages.contains(ComputeText), fault == FoldersUnwritable);
        if (refresh) {
            CHECKED(ExpectFirstCatalogueKept());
            QWriteLockerExt2 token(&w->store.items->lock); // the store still answers from the old catalogue
            QVERIFY(w->store.items->GetBook(1, token) != nullptr);
            return;
        }
        // A rejected file is neither kept in a slot nor opened; the pointer names a slot only once
        // its catalogue is open; folders computed for the open catalogue only, and never saved.
        const bool opened = fault == PointerUnwritable || fault == FoldersUnwritable;
        QCOMPARE(CatalogueFileNames(), opened ? QStringList{QFileInfo(SlotPath(0)).fileName()} : QStringList());
        QCOMPARE(w->OpenFile(), opened ? SlotPath(0) : QString());
        QCOMPARE(QFileInfo(PointerPath()).isFile(), fault == FoldersUnwritable);
        QVERIFY(!QFileInfo(FoldersFilePath()).isFile());
    }

    // The image cache is checked when its marker is more than a week (10080 minutes) old, missing or
    // dated in the future; the check starts the next week.
    void weeklyCacheCheck_data()
    {
        QTest::addColumn<qint64>("ageSeconds"); // of the marker; 0: none
        QTest::addColumn<bool>("checked");
        QTest::newRow("no marker") << qint64(0) << true;
        QTest::newRow("dated in the future") << qint64(-3600) << true;
        QTest::newRow("a minute short of a week") << qint64(10079 * 60) << false;
        QTest::newRow("a week to the minute") << qint64(10080 * 60 + 30) << false;
        QTest::newRow("a minute past a week") << qint64(10081 * 60) << true;
    }
    void weeklyCacheCheck()
    {
        QFETCH(qint64, ageSeconds);
        QFETCH(bool, checked);
        const QString marker = Helper::GetLocalFilePath(QStringLiteral("active-check-cache.file"), Helper::FolderBase);
        const QDateTime then = QDateTime::currentDateTimeUtc().addSecs(-ageSeconds);
        if (ageSeconds != 0) {
            QVERIFY(TestSandbox::WriteBytes(marker, "NOW"));
            QFile file(marker);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(then, QFileDevice::FileModificationTime));
        }
        w->Run(w->refresher); // no service: the refresh fails after the check
        QCOMPARE(w->messages.contains(QStringLiteral("Clearing the local image cache...")), checked);
        const qint64 age = QFileInfo(marker).lastModified().secsTo(QDateTime::currentDateTimeUtc());
        QVERIFY2(checked ? qAbs(age) < 60 : qAbs(age - ageSeconds) < 2, qPrintable(QString::number(age)));
    }

    // A pointer left naming an older slot (its write failed after a switch) must not bring
    // that catalogue back: without a download the open catalogue is recomputed.
    void unchangedAnswerRecomputesOpenFileNotPointerSlot()
    {
        CHECKED(StartWithFirstCatalogue());
        // The pointer cannot be written while a folder stands in its place.
        QVERIFY(QFile::remove(PointerPath()));
        QVERIFY(QDir().mkpath(PointerPath()));
        Publish(server, Two, TwoBytes());
        QCOMPARE(w->Run(w->refresher), QStringLiteral("failed; error 4, answer 1"));
        QCOMPARE(w->OpenFile(), SlotPath(1));
        QCOMPARE(ReadFoldersFile().first, One);

        QVERIFY(QDir(PointerPath()).removeRecursively());
        QVERIFY(TestSandbox::WriteBytes(PointerPath(), "0"));
        QCOMPARE(w->Run(w->refresher), QStringLiteral("changed; error 0, answer 10"));
        QCOMPARE(server.RequestCount("/files/catalogue.rfile"), 1);
        QCOMPARE(w->OpenGuid(), Two);
        QCOMPARE(w->OpenFile(), SlotPath(1));
        QCOMPARE(ReadFoldersFile().first, Two);
        QCOMPARE(ReadBytes(SlotPath(0)), OneBytes());
    }

    // A refresh with nothing open downloads into the slot the pointer names; what SQLite left
    // beside the old file there must not be applied to the new one.
    void refreshIntoPointerSlotDropsItsSidecars()
    {
        QVERIFY(TestSandbox::WriteBytes(PointerPath(), "0"));
        for (const char *suffix : {"", "-journal", "-wal", "-shm"})
            QVERIFY(TestSandbox::WriteBytes(SlotPath(0) + suffix, "old"));
        Publish(server, One, OneBytes());
        QCOMPARE(w->Run(w->refresher), QStringLiteral("changed; error 0, answer 1"));
        QCOMPARE(DatabaseFolder().entryList(QDir::Files), (QStringList{QFileInfo(SlotPath(0)).fileName(), QFileInfo(PointerPath()).fileName()}));
        QCOMPARE(w->OpenGuid(), One);
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
            folder->type = CategoryFolder;
            folder->caption = QStringLiteral("My shelf");
            folder->categoryUid = 3;
            QVERIFY(first.AddFolder(folder, token));
            QVERIFY(first.SaveLocked(token));
        }
        const QString aside = FoldersFilePath() + QStringLiteral(".aside");
        QVERIFY(QFile::rename(FoldersFilePath(), aside));
        QVERIFY(QDir().mkpath(FoldersFilePath()));
        Publish(server, One, OneBytes());
        QCOMPARE(w->Run(w->loader), QStringLiteral("failed; error 1, answer 0"));

        // Still unreadable: the refresh stops before asking the service.
        QCOMPARE(w->Run(w->refresher), QStringLiteral("failed; error 1, answer 0"));
        QCOMPARE(server.RequestCount(), 0);

        // Readable again: read first, then the catalogue, then computed and saved with the
        // user's folder in it.
        QVERIFY(QDir(FoldersFilePath()).removeRecursively());
        QVERIFY(QFile::rename(aside, FoldersFilePath()));
        QCOMPARE(w->Run(w->refresher), QStringLiteral("changed; error 0, answer 1"));
        QCOMPARE(w->messages.at(1), FoldersText);
        const auto reread = ReadFoldersFile();
        QCOMPARE(reread.first, One);
        QVERIFY(reread.second.contains(QStringLiteral("My shelf")));

        // Once read, a refresh does not read the file again; the unchanged answer fetches nothing.
        QCOMPARE(w->Run(w->refresher), QStringLiteral("unchanged; error 0, answer 10"));
        QVERIFY(!w->messages.contains(FoldersText));
        QCOMPARE(server.RequestCount("/files/catalogue.rfile"), 1);

        // A second start opens that catalogue and those folders without asking or computing.
        server.ClearRequests();
        w.reset(new Workers);
        QCOMPARE(w->Run(w->loader), QStringLiteral("unchanged; error 0, answer 0"));
        QCOMPARE(server.RequestCount(), 0);
        QCOMPARE(w->messages, (QStringList{FoldersText, LocalText}));
        QCOMPARE(w->OpenGuid(), One);
    }

    // A second start while a refresh runs is no second refresh. A stop during a slow download
    // (the window's Clear All Cache) returns within 100 ms, sends no completion and leaves no partial file, no new
    // pointer and the old catalogue open.
    void stopDuringSlowDownload()
    {
        CHECKED(StartWithFirstCatalogue());
        const QByteArray two = TwoBytes();
        Publish(server, Two, two, "/files/two.rfile");
        server.SetResponse("/files/two.rfile", TestHttpResponse::Trickle(two, 512, 100));
        w->refresher.StartIfNotRunning();
        QVERIFY(server.WaitForRequests(2));
        w->refresher.StartIfNotRunning();
        QTest::qWait(400);
        QElapsedTimer timer;
        timer.start();
        w->refresher.Stop();
        QVERIFY2(timer.elapsed() < 100, qPrintable(QString::number(timer.elapsed())));
        QCoreApplication::processEvents();
        QCOMPARE(server.RequestCount(ServicePath), 1);
        QCOMPARE(w->completions, QStringList{"changed"}); // the start-up load's only
        QVERIFY(!w->computingStates.contains(true));
        CHECKED(ExpectFirstCatalogueKept());
        QCOMPARE(DatabaseFolder().entryList(QDir::Files | QDir::Hidden).size(), 2);

        // The worker runs again afterwards; a download of about three seconds reports its progress.
        server.SetResponse("/files/two.rfile", TestHttpResponse::Trickle(two, two.size() / 30 + 1, 100));
        QCOMPARE(w->Run(w->refresher), QStringLiteral("changed; error 0, answer 1"));
        QCOMPARE(w->OpenGuid(), Two);
        const QRegularExpression progress(QStringLiteral("^Loading the free ebooks database from official website "
                                                         "\\d+% \\(\\d+\\.\\d\\d MB\\) \\.\\.\\.$"));
        QVERIFY2(w->messages.indexOf(progress) > 0, qPrintable(w->messages.join('\n')));

        // Stopped once the computing state began: no completion, so the worker ends that state.
        Publish(server, One, OneBytes(), "/files/one.rfile");
        QObject stopper;
        connect(&w->refresher, &UserDataRefresher::startComputing, &stopper, [](bool isStart) {
            if (isStart)
                QThread::currentThread()->requestInterruption();
        }, Qt::DirectConnection);
        QCOMPARE(w->Run(w->refresher), QStringLiteral("none; error 0, answer 1"));
        QCOMPARE(w->computingStates, (QList<bool>{true, false}));
    }
};

QTEST_GUILESS_MAIN(TestDataLoader)
#include "test_dataloader.moc"
