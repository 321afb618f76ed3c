#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolderRefresher.h"
#include "threads/NativeHelper.h"
#include "threads/QReadLockerExt2.h"
#include "threads/QWriteLockerExt2.h"
#include "TestWorker.h"

#include <QProcess>
#include <QReadWriteLock>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Whether another thread can take the lock right now.
bool otherThreadCan(QReadWriteLock &lock, bool write)
{
    bool ok = false;
    std::thread([&] {
        ok = write ? lock.tryLockForWrite() : lock.tryLockForRead();
        if (ok)
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

// Runs one use of CheckLock in a child process; returns normally only when it is accepted.
int runChild(const QByteArray &mode)
{
    QReadWriteLock lock;
    QReadWriteLock other;
    std::unique_ptr<QReadLockerExt2> token;
    if (mode == "empty-token")
        token = std::make_unique<QReadLockerExt2>(1, &lock);
    else
        token = makeToken(mode == "ok-write" || mode == "wrong-lock", mode == "wrong-lock" ? &other : &lock);
    if (mode == "released")
        token->unlock();
    token->CheckLock(&lock);
    return 0;
}

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
        QVERIFY(otherThreadCan(lock, true));

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
            QVERIFY(!otherThreadCan(lock, true));
        }
        writer.join();
        QVERIFY(otherThreadCan(lock, true));
    }

    // The shutdown worker waits for folder writers by taking the config lock: writing the
    // folders file must hold it. A folder computation reading the catalogue holds neither it nor
    // the store (it stops by itself once the program closes).
    void folderWritersHoldTheConfigLock()
    {
        QTemporaryDir dir;
        DisplayDataSaver store(dir.filePath(QStringLiteral("user-folders.file")));
        std::atomic<bool> saved{false};
        NativeHelper::_configLocker->lockForRead();
        std::thread writer([&] {
            QWriteLockerExt2 token(&store.lock);
            saved = store.SaveLocked(token);
        });
        QTest::qWait(50);
        QVERIFY(!saved);
        NativeHelper::_configLocker->unlock();
        writer.join();
        QVERIFY(saved);

        DisplayFolderRefresher refresher;
        refresher.SetFolders(&store, {});
        QSignalSpy completed(&refresher, &DisplayFolderRefresher::completed);
        {
            // Keeps the computation from finishing.
            QWriteLocker items(&store.items->lock);
            refresher.StartIfNotRunning();
            QTest::qWait(50);
            QVERIFY(refresher.IsRunning());
            QVERIFY(otherThreadCan(*NativeHelper::_configLocker, true));
            QVERIFY(otherThreadCan(store.lock, true));
        }
        QTRY_VERIFY(!refresher.IsRunning());
        QCOMPARE(completed.count(), 1);
        QVERIFY(otherThreadCan(*NativeHelper::_configLocker, true));
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
        // Idle again: it may run again.
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
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(ChildVariable), QString::fromLatin1(mode));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
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

int main(int argc, char **argv)
{
    const QByteArray childMode = qgetenv(ChildVariable);
    if (!childMode.isEmpty())
        return runChild(childMode);
    QCoreApplication app(argc, argv);
    TestThreads test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_threads.moc"
