#include "folders/DisplayFolderRefresher.h"

#include "folders/DisplayDataSaver.h"
#include "threads/NativeHelper.h"

DisplayFolderRefresher::DisplayFolderRefresher(QObject *parent) : QThreadExtend(parent)
{
}

DisplayFolderRefresher::~DisplayFolderRefresher()
{
    // The run must end before the list it reads goes away.
    Stop();
}

void DisplayFolderRefresher::SetFolders(DisplayDataSaver *folderStore, const QList<DisplayFolder *> &list)
{
    QMutexLocker locker(&mutex);
    store = folderStore;
    folders = list;
}

void DisplayFolderRefresher::DoRun()
{
    DisplayDataSaver *target;
    QList<DisplayFolder *> list;
    {
        QMutexLocker locker(&mutex);
        target = store;
        list = folders;
    }
    if (!target || IsCloseRequested())
        return;

    // Computed into copies, so that the store is not locked while the catalogue is read and a
    // stop (the dialog's cancel) ends the run within a fraction of a second.
    QList<DisplayFolder> copies;
    {
        QReadLockerExt2 token(0, &target->lock);
        copies = target->CopyFolders(list, token);
    }
    {
        // No catalogue swap replaces the connection while the queries run.
        QReadLockerExt2 itemToken(0, &target->items->lock);
        if (!target->ComputeCopies(copies, true, this))
            return;
    }

    QWriteLockerExt2 token(&target->lock);
    // The shutdown worker waits on _configLocker, and so waits for the results to be stored.
    // A folders-file write holds it for the whole write: that is waited out with the store
    // unlocked, so that the window can read the store meanwhile.
    QReadWriteLock *configLock = NativeHelper::_configLocker;
    while (!configLock->tryLockForWrite()) {
        token.unlock();
        configLock->lockForWrite();
        configLock->unlock();
        token.relock();
    }
    const bool closing = IsCloseRequested();
    if (!closing) {
        for (int i = 0; i < list.size(); ++i) {
            if (list.at(i))
                DisplayDataSaver::TakeComputed(list.at(i), copies.at(i));
        }
    }
    token.unlock();
    if (!closing && !IsCloseRequested())
        emit completed();
    configLock->unlock();
}
