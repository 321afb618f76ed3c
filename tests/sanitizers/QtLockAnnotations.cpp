// Linked into test executables of ThreadSanitizer builds only.
//
// Debian's Qt is not built with ThreadSanitizer, so the sanitizer cannot see QMutex and
// QReadWriteLock being taken and released inside libQt5Core and reports every object they guard.
// These definitions stand in for Qt's own (the executable's definitions win over the shared
// library's), call the real ones and tell the sanitizer about the happens-before edge.
#include <QDeadlineTimer>
#include <QMutex>
#include <QReadWriteLock>
#include <QWaitCondition>

#include "RealFunction.h"

#include <sanitizer/tsan_interface.h>

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = RealFunction<void (*)(QMutex *)>("_ZN6QMutex4lockEv");
    real(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = RealFunction<bool (*)(QMutex *, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = real(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto real = RealFunction<void (*)(QMutex *)>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    real(this);
}

void QReadWriteLock::lockForRead()
{
    static const auto real = RealFunction<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock11lockForReadEv");
    real(this);
    __tsan_acquire(this);
}

bool QReadWriteLock::tryLockForRead()
{
    static const auto real = RealFunction<bool (*)(QReadWriteLock *)>("_ZN14QReadWriteLock14tryLockForReadEv");
    const bool locked = real(this);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

bool QReadWriteLock::tryLockForRead(int timeout)
{
    static const auto real = RealFunction<bool (*)(QReadWriteLock *, int)>("_ZN14QReadWriteLock14tryLockForReadEi");
    const bool locked = real(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QReadWriteLock::lockForWrite()
{
    static const auto real = RealFunction<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock12lockForWriteEv");
    real(this);
    __tsan_acquire(this);
}

bool QReadWriteLock::tryLockForWrite()
{
    static const auto real = RealFunction<bool (*)(QReadWriteLock *)>("_ZN14QReadWriteLock15tryLockForWriteEv");
    const bool locked = real(this);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

bool QReadWriteLock::tryLockForWrite(int timeout)
{
    static const auto real = RealFunction<bool (*)(QReadWriteLock *, int)>("_ZN14QReadWriteLock15tryLockForWriteEi");
    const bool locked = real(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QReadWriteLock::unlock()
{
    static const auto real = RealFunction<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock6unlockEv");
    __tsan_release(this);
    real(this);
}

// A wait releases the lock and takes it again inside Qt.
bool QWaitCondition::wait(QMutex *lockedMutex, QDeadlineTimer deadline)
{
    static const auto real =
        RealFunction<bool (*)(QWaitCondition *, QMutex *, QDeadlineTimer)>("_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    __tsan_release(lockedMutex);
    const bool woken = real(this, lockedMutex, deadline);
    __tsan_acquire(lockedMutex);
    return woken;
}

bool QWaitCondition::wait(QMutex *lockedMutex, unsigned long time)
{
    static const auto real = RealFunction<bool (*)(QWaitCondition *, QMutex *, unsigned long)>("_ZN14QWaitCondition4waitEP6QMutexm");
    __tsan_release(lockedMutex);
    const bool woken = real(this, lockedMutex, time);
    __tsan_acquire(lockedMutex);
    return woken;
}

bool QWaitCondition::wait(QReadWriteLock *lockedReadWriteLock, QDeadlineTimer deadline)
{
    static const auto real = RealFunction<bool (*)(QWaitCondition *, QReadWriteLock *, QDeadlineTimer)>(
        "_ZN14QWaitCondition4waitEP14QReadWriteLock14QDeadlineTimer");
    __tsan_release(lockedReadWriteLock);
    const bool woken = real(this, lockedReadWriteLock, deadline);
    __tsan_acquire(lockedReadWriteLock);
    return woken;
}

bool QWaitCondition::wait(QReadWriteLock *lockedReadWriteLock, unsigned long time)
{
    static const auto real =
        RealFunction<bool (*)(QWaitCondition *, QReadWriteLock *, unsigned long)>("_ZN14QWaitCondition4waitEP14QReadWriteLockm");
    __tsan_release(lockedReadWriteLock);
    const bool woken = real(this, lockedReadWriteLock, time);
    __tsan_acquire(lockedReadWriteLock);
    return woken;
}
