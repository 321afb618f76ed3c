#include "threads/QThreadExtend.h"

#include "threads/NativeHelper.h"

#include <QDeadlineTimer>

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

// With startMutex held and the thread running: asks the run to end, without waiting.
void QThreadExtend::RequestStopLocked()
{
    stateLock.lockForWrite();
    stopRequested = true;
    stateLock.unlock();
    thread.requestInterruption();
    thread.quit();
}

void QThreadExtend::Stop()
{
    QMutexLocker locker(&startMutex);
    if (thread.isRunning()) {
        RequestStopLocked();
        thread.wait();
    }
    stateLock.lockForWrite();
    stopRequested = false;
    stateLock.unlock();
}

bool QThreadExtend::StopWithin(int timeoutMs)
{
    QDeadlineTimer deadline(qMax(0, timeoutMs));
    if (!startMutex.tryLock(qMax(0, timeoutMs)))
        return false;
    bool ended = true;
    if (thread.isRunning()) {
        RequestStopLocked();
        ended = thread.wait(deadline);
    }
    // A worker that goes on keeps its stop request.
    if (ended) {
        stateLock.lockForWrite();
        stopRequested = false;
        stateLock.unlock();
    }
    startMutex.unlock();
    return ended;
}

namespace {
thread_local QThreadExtend *t_currentWorker = nullptr;
}

QThreadExtend *QThreadExtend::CurrentWorker()
{
    return t_currentWorker;
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
    t_currentWorker = this;
    DoRun();
    t_currentWorker = nullptr;
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
