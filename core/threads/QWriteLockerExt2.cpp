#include "threads/QWriteLockerExt2.h"

QWriteLockerExt2::QWriteLockerExt2(QReadWriteLock *lock)
{
    if (lock) {
        writeLocker = new QWriteLocker(lock);
        held = true;
    }
}

QWriteLockerExt2::~QWriteLockerExt2()
{
    delete writeLocker;
}

QReadWriteLock *QWriteLockerExt2::readWriteLock() const
{
    return writeLocker ? writeLocker->readWriteLock() : nullptr;
}

void QWriteLockerExt2::unlock() const
{
    if (writeLocker && held) {
        writeLocker->unlock();
        held = false;
    }
}

void QWriteLockerExt2::relock() const
{
    if (writeLocker && !held) {
        writeLocker->relock();
        held = true;
    }
}
