#include "UserDataRefresher.h"

#include "Const.h"
#include "folders/DisplayDataSaver.h"
#include "ImageCache.h"
#include "catalogue/ItemDataSaver.h"
#include "threads/QReadLockerExt2.h"

#include <QCoreApplication>

UserDataRefresher::UserDataRefresher(QObject *parent) : UserDataLoader(parent)
{
}

UserDataRefresher::~UserDataRefresher()
{
    // LoadUserData of this class must not run on while it is torn down.
    Stop();
}

void UserDataRefresher::DoRun()
{
    computingAnnounced = false;
    UserDataLoader::DoRun();
    // Stopped between the two: no result will end the computing state, so end it here
    // (the window gives back what it disabled unless the program is closing).
    if (computingAnnounced && !reported)
        emit startComputing(false);
}

bool UserDataRefresher::EnsureFoldersRead(DisplayDataSaver *store, bool &reread)
{
    reread = false;
    {
        // A successful read always leaves the built-in folders: an empty store was never read.
        QReadLockerExt2 token(0, &store->lock);
        if (!store->folders.isEmpty())
            return true;
    }
    emit message(QCoreApplication::translate("UserDataLoader", "Loading the custom folders from local disk..."));
    bool builtinsAdded = false;
    if (!store->LoadFolders(builtinsAdded))
        return false;
    reread = true;
    return true;
}

bool UserDataRefresher::LoadUserData(bool &changed)
{
    changed = false;
    emit message(tr("refreshing the free ebooks database from official website..."));
    if (IsCloseRequested())
        return false;

    const Stores stores = TakeStores();
    if (!stores.folders || !stores.catalogue)
        return Fail(ErrorFolders);
    // Folders that were never read must not be computed and saved over the user's file.
    bool foldersReread = false;
    if (!EnsureFoldersRead(stores.folders, foldersReread))
        return Fail(ErrorFolders);
    if (IsCloseRequested())
        return false;

    if (ImageCache::MinutesSinceCheck(false) > ImageCache::CheckIntervalMinutes) {
        emit message(tr("Clearing the local image cache..."));
        ImageCache::ClearIfLarge(&Const::FileAccessMutex);
    }
    if (IsCloseRequested())
        return false;

    CatalogueRequest request;
    if (!PrepareRequest(stores, 1, request))
        return Fail(ErrorNoSlot);
    if (!DownloadCatalogue(request))
        return Fail(request.noFreeSlot ? ErrorNoSlot : ErrorDownload);
    if (IsCloseRequested())
        return false;

    if (!request.downloaded && !foldersReread && stores.folders->IsGuidUnchanged())
        return true;

    emit message(tr("Loading the latest free ebooks information..."));
    computingAnnounced = true;
    emit startComputing(true);
    if (request.downloaded) {
        if (!SwapInCatalogue(stores.catalogue, request.localPath, request.publishedGuid))
            return Fail(ErrorDatabase);
    } else if (request.openFilePath.isEmpty()) {
        // Nothing is open yet (the start-up load failed): open the file the pointer names.
        if (!stores.catalogue->LoadDatabase(request.localPath))
            return Fail(ErrorDatabase);
    }
    // Otherwise nothing new arrived: the open catalogue is recomputed, never an older slot.
    if (IsCloseRequested())
        return false;

    if (request.pointerStale && !WritePreFile(request.slot))
        return Fail(ErrorPointer);

    emit message(tr("Computing the free ebooks information..."));
    if (!stores.folders->ComputeAll(this))
        return Fail(ErrorCompute);
    changed = true;
    return true;
}
