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

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = RealFunction<void (*)(QMutex *)>("_ZN6QMutex4lockEv");
    real(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = RealFunction<bool (*)(QMutex *, int)>("_ZN6QMutex7tryLockEi");
    return AcquireIf(real(this, timeout), this);
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
    return AcquireIf(real(this), this);
}

bool QReadWriteLock::tryLockForRead(int timeout)
{
    static const auto real = RealFunction<bool (*)(QReadWriteLock *, int)>("_ZN14QReadWriteLock14tryLockForReadEi");
    return AcquireIf(real(this, timeout), this);
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
    return AcquireIf(real(this), this);
}

bool QReadWriteLock::tryLockForWrite(int timeout)
{
    static const auto real = RealFunction<bool (*)(QReadWriteLock *, int)>("_ZN14QReadWriteLock15tryLockForWriteEi");
    return AcquireIf(real(this, timeout), this);
}

void QReadWriteLock::unlock()
{
    static const auto real = RealFunction<void (*)(QReadWriteLock *)>("_ZN14QReadWriteLock6unlockEv");
    __tsan_release(this);
    real(this);
}

namespace {

// A wait releases the lock and takes it again inside Qt. One instance per overload of wait(), so
// each keeps the real function of its own symbol.
template <typename Lock, typename Time>
bool Wait(const char *symbol, QWaitCondition *condition, Lock *locked, Time time)
{
    static const auto real = RealFunction<bool (*)(QWaitCondition *, Lock *, Time)>(symbol);
    __tsan_release(locked);
    const bool woken = real(condition, locked, time);
    __tsan_acquire(locked);
    return woken;
}

} // namespace

bool QWaitCondition::wait(QMutex *lockedMutex, QDeadlineTimer deadline)
{
    return Wait("_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer", this, lockedMutex, deadline);
}

bool QWaitCondition::wait(QMutex *lockedMutex, unsigned long time)
{
    return Wait("_ZN14QWaitCondition4waitEP6QMutexm", this, lockedMutex, time);
}

bool QWaitCondition::wait(QReadWriteLock *lockedReadWriteLock, QDeadlineTimer deadline)
{
    return Wait("_ZN14QWaitCondition4waitEP14QReadWriteLock14QDeadlineTimer", this, lockedReadWriteLock, deadline);
}

bool QWaitCondition::wait(QReadWriteLock *lockedReadWriteLock, unsigned long time)
{
    return Wait("_ZN14QWaitCondition4waitEP14QReadWriteLockm", this, lockedReadWriteLock, time);
}
