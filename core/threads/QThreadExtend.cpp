#include "threads/QThreadExtend.h"

#include "threads/NativeHelper.h"

QThreadExtend::QThreadExtend(QObject *parent)
    : QObject(parent), thread(this), closeable(this)
{
}

QThreadExtend::~QThreadExtend()
{
    Stop();
}

void QThreadExtend::StartIfNotRunning()
{
    QMutexLocker locker(&startMutex);
    if (IsDone() || IsCloseRequested() || thread.isRunning())
        return;
    thread.start(QThread::LowPriority);
}

void QThreadExtend::Stop()
{
    QMutexLocker locker(&startMutex);
    if (thread.isRunning()) {
        stateLock.lockForWrite();
        stopRequested = true;
        stateLock.unlock();
        thread.requestInterruption();
        thread.quit();
        thread.wait();
    }
    stateLock.lockForWrite();
    stopRequested = false;
    stateLock.unlock();
}

bool QThreadExtend::IsDone()
{
    QReadLocker locker(&stateLock);
    return HasDoneFlag() && doneFlag;
}

bool QThreadExtend::IsRunning() const
{
    return thread.isRunning();
}

void QThreadExtend::Run()
{
    DoRun();
}

bool QThreadExtend::IsCloseRequested()
{
    if (NativeHelper::IsClosing())
        return true;
    if (thread.isInterruptionRequested())
        return true;
    QReadLocker locker(&stateLock);
    return stopRequested;
}

void QThreadExtend::SetDoneFlag()
{
    QWriteLocker locker(&stateLock);
    doneFlag = true;
}
