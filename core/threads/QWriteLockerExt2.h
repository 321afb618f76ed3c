#pragma once

#include "threads/QReadLockerExt2.h"

#include <QWriteLocker>

// Write token: accepted wherever a read token is asked for.
class QWriteLockerExt2 : public QReadLockerExt2
{
public:
    explicit QWriteLockerExt2(QReadWriteLock *lock);
    ~QWriteLockerExt2() override;

    QReadWriteLock *readWriteLock() const override;
    void unlock() const override;
    void relock() const override;

private:
    QWriteLocker *writeLocker = nullptr;
};
