#include "threads/QReadLockerExt2.h"
#include "threads/QWriteLockerExt2.h"

#include <QProcess>
#include <QReadWriteLock>
#include <QtTest>

#include <atomic>
#include <thread>

namespace {

// What another thread can take on the lock right now.
bool otherThreadCanRead(QReadWriteLock &lock)
{
    bool ok = false;
    std::thread([&] {
        ok = lock.tryLockForRead();
        if (ok)
            lock.unlock();
    }).join();
    return ok;
}

bool otherThreadCanWrite(QReadWriteLock &lock)
{
    bool ok = false;
    std::thread([&] {
        ok = lock.tryLockForWrite();
        if (ok)
            lock.unlock();
    }).join();
    return ok;
}

// An operation that only reads a store: accepts either token.
QReadWriteLock *readOperation(const QReadLockerExt2 &token, QReadWriteLock *expected)
{
    token.CheckLock(expected);
    return token.readWriteLock();
}

const char ChildVariable[] = "TESSALY_LOCKTOKEN_CHILD";

// Runs one misuse of CheckLock in a child process; returns normally only when it is accepted.
int runChild(const QByteArray &mode)
{
    QReadWriteLock lock;
    QReadWriteLock other;
    if (mode == "ok-read") {
        QReadLockerExt2 token(0, &lock);
        token.CheckLock(&lock);
    } else if (mode == "ok-write") {
        QWriteLockerExt2 token(&lock);
        readOperation(token, &lock);
    } else if (mode == "wrong-lock") {
        QWriteLockerExt2 token(&other);
        token.CheckLock(&lock);
    } else if (mode == "released") {
        QReadLockerExt2 token(0, &lock);
        token.unlock();
        token.CheckLock(&lock);
    } else if (mode == "empty-token") {
        QReadLockerExt2 token(1, &lock);
        token.CheckLock(&lock);
    }
    return 0;
}

} // namespace

class TestLockTokens : public QObject
{
    Q_OBJECT

private slots:
    void readTokenSharesAndReleasesOnce()
    {
        QReadWriteLock lock;
        {
            QReadLockerExt2 token(0, &lock);
            QCOMPARE(token.readWriteLock(), &lock);
            QVERIFY(otherThreadCanRead(lock));
            QVERIFY(!otherThreadCanWrite(lock));

            token.unlock();
            token.unlock();
            QVERIFY(otherThreadCanWrite(lock));

            token.relock();
            token.relock(); // already held: must not take a second read lock
            QVERIFY(!otherThreadCanWrite(lock));
            QCOMPARE(token.readWriteLock(), &lock);
        }
        QVERIFY(otherThreadCanWrite(lock));

        {
            QReadLockerExt2 token(0, &lock);
            token.unlock();
        } // destructor of a released token releases nothing more
        QVERIFY(otherThreadCanWrite(lock));
    }

    void writeTokenIsExclusiveAndServesAsReadToken()
    {
        QReadWriteLock lock;
        {
            QWriteLockerExt2 token(&lock);
            QVERIFY(!otherThreadCanRead(lock));
            QCOMPARE(readOperation(token, &lock), &lock);

            token.unlock();
            token.unlock();
            QVERIFY(otherThreadCanWrite(lock));
            token.relock();
            token.relock();
            QVERIFY(!otherThreadCanRead(lock));
        }
        QVERIFY(otherThreadCanWrite(lock));
    }

    void tokensWithoutLockHoldNothing()
    {
        QReadWriteLock lock;
        QReadLockerExt2 otherMode(1, &lock);
        QCOMPARE(otherMode.readWriteLock(), static_cast<QReadWriteLock *>(nullptr));
        QVERIFY(otherThreadCanWrite(lock));
        otherMode.relock();
        QVERIFY(otherThreadCanWrite(lock));

        QReadLockerExt2 nullRead(0, nullptr);
        QWriteLockerExt2 nullWrite(nullptr);
        for (const QReadLockerExt2 *token : {static_cast<const QReadLockerExt2 *>(&nullRead), static_cast<const QReadLockerExt2 *>(&nullWrite)}) {
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
#ifndef TESSALY_CHECKED_BUILD
        QSKIP("CheckLock verifies nothing in unchecked builds");
#endif
        QFETCH(QByteArray, mode);
        QFETCH(bool, accepted);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(ChildVariable), QString::fromLatin1(mode));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(30000));
        const bool exitedCleanly = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
        QCOMPARE(exitedCleanly, accepted);
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
    TestLockTokens test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_locktokens.moc"
