#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolderRefresher.h"
#include "settings/NativeConfigLoader.h"
#include "threads/NativeHelper.h"
#include "threads/QReadLockerExt2.h"
#include "threads/QWriteLockerExt2.h"
#include "TestWorker.h"

#include <QProcess>
#include <QReadWriteLock>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Whether another thread can take the lock for writing right now.
bool otherThreadCanWrite(QReadWriteLock &lock)
{
    bool ok = false;
    std::thread([&] {
        if ((ok = lock.tryLockForWrite()))
            lock.unlock();
    }).join();
    return ok;
}

std::unique_ptr<QReadLockerExt2> makeToken(bool write, QReadWriteLock *lock)
{
    if (write)
        return std::make_unique<QWriteLockerExt2>(lock);
    return std::make_unique<QReadLockerExt2>(0, lock);
}

const char ChildVariable[] = "TESSALY_LOCKTOKEN_CHILD";

// In a child process, before the tests: one use of CheckLock; the child exits cleanly only when it is accepted.
void runChildIfAsked()
{
    const QByteArray mode = qgetenv(ChildVariable);
    if (mode.isEmpty())
        return;
    QReadWriteLock lock;
    QReadWriteLock other;
    const bool wrongLock = mode == "wrong-lock";
    const auto token = mode == "empty-token" ? std::make_unique<QReadLockerExt2>(1, &lock)
                                             : makeToken(mode == "ok-write" || wrongLock, wrongLock ? &other : &lock);
    if (mode == "released")
        token->unlock();
    token->CheckLock(&lock);
    std::exit(0);
}
Q_CONSTRUCTOR_FUNCTION(runChildIfAsked)

} // namespace

class TestThreads : public QObject
{
    Q_OBJECT

private slots:
    void tokensWithoutLockHoldNothing()
    {
        QReadWriteLock lock;
        QReadLockerExt2 otherMode(1, &lock);
        QCOMPARE(otherMode.readWriteLock(), static_cast<QReadWriteLock *>(nullptr));
        otherMode.relock();
        QVERIFY(otherThreadCanWrite(lock));

        for (bool write : {false, true}) {
            auto token = makeToken(write, nullptr);
            QCOMPARE(token->readWriteLock(), static_cast<QReadWriteLock *>(nullptr));
            token->unlock();
            token->relock();
        }
    }

    void contendingWriterWaitsForTheToken()
    {
        QReadWriteLock lock;
        std::atomic<bool> acquired{false};
        std::thread writer;
        {
            QReadLockerExt2 token(0, &lock);
            writer = std::thread([&] {
                lock.lockForWrite();
                acquired = true;
                lock.unlock();
            });
            QTest::qWait(50);
            QVERIFY(!acquired);

            // Letting others in while waiting, as a dialog does.
            token.unlock();
            QTRY_VERIFY(acquired.load());
            token.relock();
            QVERIFY(!otherThreadCanWrite(lock));
        }
        writer.join();
        QVERIFY(otherThreadCanWrite(lock));
    }

    // The shutdown worker waits for file writers by taking the config lock: writing the folders
    // or the settings file must hold it. A folder computation reading the catalogue holds neither
    // it nor the store (it stops by itself once the program closes).
    void fileWritersHoldTheConfigLock()
    {
        QTemporaryDir dir;
        DisplayDataSaver store(dir.filePath(QStringLiteral("user-folders.file")));
        NativeConfigLoader settings(dir.filePath(QStringLiteral("native-config.file")));
        std::atomic<int> saved{0};
        NativeHelper::_configLocker->lockForRead(); // as the shutdown worker does
        std::thread folderWriter([&] {
            QWriteLockerExt2 token(&store.lock);
            saved += store.SaveLocked(token);
        });
        std::thread settingsWriter([&] {
            QWriteLockerExt2 token(&settings.lock);
            saved += settings.SaveToFile(token);
        });
        QTest::qWait(100);
        QCOMPARE(saved.load(), 0);
        QVERIFY(!QFile::exists(settings.filePath));
        NativeHelper::_configLocker->unlock();
        folderWriter.join();
        settingsWriter.join();
        QCOMPARE(saved.load(), 2);
        QVERIFY(QFile::exists(settings.filePath));

        DisplayFolderRefresher refresher;
        refresher.SetFolders(&store, {});
        QSignalSpy completed(&refresher, &DisplayFolderRefresher::completed);
        {
            // Keeps the computation from finishing.
            QWriteLocker items(&store.items->lock);
            refresher.StartIfNotRunning();
            QTest::qWait(50);
            QVERIFY(refresher.IsRunning());
            QVERIFY(otherThreadCanWrite(*NativeHelper::_configLocker));
            QVERIFY(otherThreadCanWrite(store.lock));
        }
        QTRY_VERIFY(!refresher.IsRunning());
        QCOMPARE(completed.count(), 1);
        QVERIFY(otherThreadCanWrite(*NativeHelper::_configLocker));
    }

    void racingStartsGiveOneRun()
    {
        TestWorker worker;
        std::atomic<bool> go{false};
        std::vector<std::thread> starters;
        for (int i = 0; i < 16; ++i) {
            starters.emplace_back([&] {
                while (!go)
                    std::this_thread::yield();
                for (int n = 0; n < 20; ++n)
                    worker.StartIfNotRunning();
            });
        }
        go = true;
        for (std::thread &starter : starters)
            starter.join();
        QVERIFY(worker.IsRunning());
        QTRY_COMPARE(worker.runs.load(), 1);
        QTest::qWait(20);
        QCOMPARE(worker.runs.load(), 1);

        worker.release = true;
        QTRY_VERIFY(!worker.IsRunning());
        QVERIFY(!worker.sawClose);
        worker.release = false;
        worker.StartIfNotRunning();
        QTRY_COMPARE(worker.runs.load(), 2);
    }

    void checkLockRefusesAWrongToken_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("read token") << QByteArray("ok-read") << true;
        QTest::newRow("write token as read token") << QByteArray("ok-write") << true;
        QTest::newRow("token of another lock") << QByteArray("wrong-lock") << false;
        QTest::newRow("released token") << QByteArray("released") << false;
        QTest::newRow("token holding nothing") << QByteArray("empty-token") << false;
    }

    void checkLockRefusesAWrongToken()
    {
        QFETCH(QByteArray, mode);
        QFETCH(bool, accepted);
        QProcess child;
        qputenv(ChildVariable, mode);
        child.start(QCoreApplication::applicationFilePath(), {});
        qunsetenv(ChildVariable);
        QVERIFY(child.waitForFinished(30000));
        const bool exitedCleanly = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
#ifdef TESSALY_CHECKED_BUILD
        QCOMPARE(exitedCleanly, accepted);
#else
        // Unchecked builds only log the slip.
        QVERIFY(exitedCleanly);
#endif
        if (!accepted)
            QVERIFY(child.readAllStandardError().contains("does not hold the expected lock"));
    }
};

QTEST_GUILESS_MAIN(TestThreads)

#include "test_threads.moc"
