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
    if (!target)
        return;

    QWriteLockerExt2 token(&target->lock);
    // The shutdown worker waits on _configLocker, and so waits for this computation.
    QWriteLocker configLocker(NativeHelper::_configLocker);
    // No catalogue swap replaces the connection while the queries run.
    QReadLockerExt2 itemToken(0, &target->items->lock);
    if (IsCloseRequested())
        return;
    for (DisplayFolder *folder : qAsConst(list))
        target->RefreshFolder(folder, token, true);
    itemToken.unlock();
    token.unlock();
    if (!IsCloseRequested())
        emit completed();
}
