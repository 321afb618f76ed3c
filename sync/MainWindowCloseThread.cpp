#include "MainWindowCloseThread.h"

#include "threads/NativeHelper.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>

#include <cstdlib>

MainWindowCloseThread::MainWindowCloseThread(QObject *parent) : QThreadExtend(parent)
{
}

MainWindowCloseThread::~MainWindowCloseThread()
{
    Stop();
}

void MainWindowCloseThread::SetThreadsToStop(const QList<QThreadExtend *> &threads)
{
    QMutexLocker locker(&runMutex);
    threadsToStop = threads;
}

void MainWindowCloseThread::DoRun()
{
    SetDoneFlag();
    QMutexLocker locker(&runMutex);
    NativeHelper::SetClosing();
    const QDeadlineTimer deadline(StopLimitMs);

    // Wait until a writer of the settings or folders file, or a folder computation, is done,
    // but not for ever: nothing is written once the flag is set.
    if (NativeHelper::_configLocker->tryLockForRead(RemainingMs(deadline)))
        NativeHelper::_configLocker->unlock();

    // Every worker is asked to stop, in order, each waited for while time is left.
    QList<QThreadExtend *> running;
    for (QThreadExtend *worker : qAsConst(threadsToStop)) {
        if (worker && !worker->StopWithin(RemainingMs(deadline)))
            running.append(worker);
    }

    // QCoreApplication::exit is not thread-safe in Qt 5: ask the GUI thread to do it.
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);

    // A worker that does not end would keep the process alive while the window is torn down:
    // after a last grace period the process ends without its tear-down (nothing is saved at
    // close anyway).
    const QDeadlineTimer grace(ExitGraceMs);
    for (QThreadExtend *worker : qAsConst(running)) {
        if (!worker->StopWithin(RemainingMs(grace))) {
            qWarning("A worker did not stop; the program ends without waiting for it");
            std::_Exit(0);
        }
    }
}

int MainWindowCloseThread::RemainingMs(const QDeadlineTimer &deadline)
{
    return int(qMax<qint64>(0, deadline.remainingTime()));
}
