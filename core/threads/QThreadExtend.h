#pragma once

#include "threads/IBaseCloseable.h"
#include "threads/IRunThread.h"
#include "threads/QThreadImpls.h"

#include <QMutex>
#include <QObject>
#include <QReadWriteLock>

// Base of every background worker: start-if-not-running, run-once option, stop request, close test.
// Every concrete worker calls Stop() in its own destructor, so that DoRun never runs while the
// subclass is being torn down; the base destructor's Stop() is only a safety net.
class QThreadExtend : public QObject, public IBaseCloseable, public IRunThread
{
    Q_OBJECT
public:
    explicit QThreadExtend(QObject *parent = nullptr);
    ~QThreadExtend() override;

    void StartIfNotRunning();
    void Stop();
    // Asks the worker to stop and waits at most timeoutMs; true when its thread has ended.
    bool StopWithin(int timeoutMs);
    // The worker whose DoRun runs on the calling thread; null on any other thread.
    static QThreadExtend *CurrentWorker();
    bool IsDone();
    bool IsRunning() const;

    void Run() override;
    bool IsCloseRequested() override;

protected:
    virtual void DoRun() = 0;
    virtual bool HasDoneFlag() { return false; }
    // Marks the one-time work as done (only effective with HasDoneFlag()).
    void SetDoneFlag();

    QMutex startMutex;
    QReadWriteLock stateLock;
    QThreadImpls thread;
    bool stopRequested = false;
    bool doneFlag = false;
    IBaseCloseable *closeable;

private:
    void RequestStopLocked();
};
