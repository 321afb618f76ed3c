#include "MainWindowCloseThread.h"

#include "threads/NativeHelper.h"

#include <QCoreApplication>
#include <QMetaObject>

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

    // Wait until a writer of the settings or folders file, or a folder computation, is done.
    NativeHelper::_configLocker->lockForRead();
    NativeHelper::_configLocker->unlock();

    for (QThreadExtend *worker : qAsConst(threadsToStop)) {
        if (worker)
            worker->Stop();
    }

    // QCoreApplication::exit is not thread-safe in Qt 5: ask the GUI thread to do it.
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}
