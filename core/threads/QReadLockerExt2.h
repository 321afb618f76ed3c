#pragma once

#include <QReadLocker>

// Scoped holder of a store's lock, passed by const reference as proof that the caller holds it.
class QReadLockerExt2
{
public:
    // Mode 0 takes the lock for reading; any other mode holds nothing.
    QReadLockerExt2(int mode, QReadWriteLock *lock);
    virtual ~QReadLockerExt2();

    QReadLockerExt2(const QReadLockerExt2 &) = delete;
    QReadLockerExt2 &operator=(const QReadLockerExt2 &) = delete;

    virtual QReadWriteLock *readWriteLock() const;
    virtual void unlock() const;
    virtual void relock() const;
    // Checked builds stop when the token does not hold the lock the callee expects; other builds
    // do nothing here.
    virtual void CheckLock(const QReadWriteLock *expected) const;

protected:
    QReadLockerExt2() = default;
    // Whether the locker currently holds its lock (tracked because QReadLocker does not tell).
    mutable bool held = false;

private:
    QReadLocker *readLocker = nullptr;
};
