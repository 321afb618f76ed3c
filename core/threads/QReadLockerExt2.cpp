#include "threads/QReadLockerExt2.h"

QReadLockerExt2::QReadLockerExt2(int mode, QReadWriteLock *lock)
{
    if (mode == 0) {
        readLocker = new QReadLocker(lock);
        held = lock != nullptr;
    }
}

QReadLockerExt2::~QReadLockerExt2()
{
    delete readLocker;
}

QReadWriteLock *QReadLockerExt2::readWriteLock() const
{
    return readLocker ? readLocker->readWriteLock() : nullptr;
}

void QReadLockerExt2::unlock() const
{
    if (readLocker && held) {
        readLocker->unlock();
        held = false;
    }
}

void QReadLockerExt2::relock() const
{
    if (readLocker && readLocker->readWriteLock() && !held) {
        readLocker->relock();
        held = true;
    }
}

void QReadLockerExt2::CheckLock(const QReadWriteLock *expected) const
{
#ifdef TESSALY_CHECKED_BUILD
    // Not Q_ASSERT: checked builds also define QT_NO_DEBUG, which compiles asserts out.
    if (readWriteLock() != expected || !held)
        qFatal("QReadLockerExt2::CheckLock: the token does not hold the expected lock");
#else
    // A user's program neither stops nor logs for a check meant for development.
    Q_UNUSED(expected)
#endif
}
