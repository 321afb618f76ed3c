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
            // A token holds its lock once, however often it is unlocked or relocked.
            token = makeToken(write, &lock);
            token->unlock();
            token->unlock();
            QVERIFY(otherThreadCanWrite(lock));
            token->relock();
            token->relock();
            QVERIFY(!otherThreadCanWrite(lock));
            token.reset();
            QVERIFY(otherThreadCanWrite(lock));
        }
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
        QTest::addColumn<QString>("child");
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<bool>("accepted");
#ifdef TESSALY_CHECKED_BUILD
        const bool checked = true;
#else
        const bool checked = false;
#endif
        // Checked mode stops at a slip; with it off the check takes no action and reports nothing.
        for (const auto &[program, stops] : {std::make_pair(QStringLiteral(LOCKTOKEN_CHILD), checked),
                                             std::make_pair(QStringLiteral(LOCKTOKEN_CHILD_UNCHECKED), false)}) {
            const QByteArray build = stops ? "checked: " : "unchecked: ";
            QTest::newRow(build + "read token") << program << QByteArray("ok-read") << true;
            QTest::newRow(build + "write token as read token") << program << QByteArray("ok-write") << true;
            QTest::newRow(build + "token of another lock") << program << QByteArray("wrong-lock") << !stops;
            QTest::newRow(build + "released token") << program << QByteArray("released") << !stops;
            QTest::newRow(build + "token holding nothing") << program << QByteArray("empty-token") << !stops;
        }
    }

    void checkLockRefusesAWrongToken()
    {
        QFETCH(QString, child);
        QFETCH(QByteArray, mode);
        QFETCH(bool, accepted);
        QProcess process;
        process.start(child, {QString::fromLatin1(mode)});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, accepted);
        const QByteArray errors = process.readAllStandardError();
        QCOMPARE(errors.contains("does not hold the expected lock"), !accepted);
        if (accepted)
            QCOMPARE(errors, QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestThreads)

#include "test_threads.moc"
