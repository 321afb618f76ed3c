#include "UserDataLoader.h"

#include "CatalogueSlots.h"
#include "CatalogueFiles.h"
#include "catalogue/DatabaseHolder.h"
#include "folders/DisplayDataSaver.h"
#include "catalogue/ItemDataSaver.h"

#include <QFile>
#include <QReadLocker>
#include <QWriteLocker>

UserDataLoader::UserDataLoader(QObject *parent) : QThreadExtend(parent)
{
}

UserDataLoader::~UserDataLoader()
{
    // DoRun must not run on while this object is torn down.
    Stop();
}

void UserDataLoader::SetStores(DisplayDataSaver *folderStore, const QString &query)
{
    QWriteLocker locker(&dataLock);
    folders = folderStore;
    catalogue = folderStore ? folderStore->items : nullptr;
    queryString = query;
}

QString UserDataLoader::PickCatalogFile(const QStringList *inUse, int &slot, bool &needDownload)
{
    return CatalogueSlots::PickCatalogFile(inUse ? *inUse : QStringList(), slot, needDownload);
}

bool UserDataLoader::WritePreFile(int slot)
{
    return CatalogueSlots::WritePreFile(slot);
}

UserDataLoader::Stores UserDataLoader::TakeStores()
{
    QReadLocker locker(&dataLock);
    Stores stores;
    stores.folders = folders;
    stores.catalogue = catalogue;
    stores.queryString = queryString;
    return stores;
}

bool UserDataLoader::Fail(int code)
{
    if (IsCloseRequested())
        return false;
    QWriteLocker locker(&dataLock);
    lastError = code;
    return false;
}

void UserDataLoader::SetServerAnswer(int code)
{
    QWriteLocker locker(&dataLock);
    serverAnswer = code;
}

bool UserDataLoader::PrepareRequest(const Stores &stores, int alwaysAsk, CatalogueRequest &request) const
{
    request.queryString = stores.queryString;
    request.alwaysAsk = alwaysAsk;
    request.requestTimeoutMs = requestTimeoutMs;
    request.downloadTimeoutMs = downloadTimeoutMs;
    // Empty at start-up; otherwise the slot search must spare the open file.
    request.openFilePath = CatalogueService::OpenCatalogueFile(*stores.catalogue);
    if (!request.openFilePath.isEmpty())
        request.inUse << request.openFilePath;
    request.localPath = PickCatalogFile(&request.inUse, request.slot, request.needDownload);
    if (request.localPath.isEmpty())
        return false;
    request.openGuid = stores.catalogue->GetCurrentGuid();
    return true;
}

bool UserDataLoader::DownloadCatalogue(CatalogueRequest &request)
{
    const bool current = CatalogueService::DownloadCatalogue(
        request, this, [this](const QPair<qint64, qint64> &progress) { ReportDownloadProgress(progress); });
    SetServerAnswer(request.serverAnswer);
    return current;
}

void UserDataLoader::ReportDownloadProgress(const QPair<qint64, qint64> &progress)
{
    emit message(CatalogueService::DownloadProgressText(progress));
}

QString UserDataLoader::ReadCatalogueGuid(const QString &path)
{
    DatabaseHolder holder;
    if (!ItemDataSaver::OpenDatabase(&holder, path))
        return QString();
    QString statusText;
    QString guid;
    qint64 bookCount = 0;
    ItemDataSaver::ReadLoadRecall(&holder, statusText, guid, bookCount);
    return guid;
}

bool UserDataLoader::SwapInCatalogue(ItemDataSaver *store, const QString &path, const QString &expectedGuid)
{
    // Checked on a connection of its own first: a file that fails never reaches the store.
    const QString guid = ReadCatalogueGuid(path);
    if (!guid.isEmpty() && guid == expectedGuid && store->LoadDatabase(path))
        return true;
    if (!IsSameFilePath(path, CatalogueService::OpenCatalogueFile(*store)))
        QFile::remove(path);
    return false;
}

void UserDataLoader::DoRun()
{
    reported = false;
    if (IsCloseRequested())
        return;
    {
        QWriteLocker locker(&dataLock);
        lastResult = true;
        lastError = ErrorNone;
    }
    bool changed = false;
    const bool result = LoadUserData(changed);
    {
        QWriteLocker locker(&dataLock);
        lastResult = result;
    }
    if (!IsCloseRequested()) {
        reported = true;
        emit completed(result, changed);
    }
}

bool UserDataLoader::LoadUserData(bool &changed)
{
    changed = false;
    SetServerAnswer(CatalogueService::AnswerNone);
    if (IsCloseRequested())
        return false;

    emit message(tr("Loading the custom folders from local disk..."));
    const Stores stores = TakeStores();
    if (!stores.folders || !stores.catalogue)
        return Fail(ErrorFolders);
    bool foldersChanged = false;
    if (!stores.folders->LoadFolders(foldersChanged))
        return Fail(ErrorFolders);
    if (IsCloseRequested())
        return false;

    CatalogueRequest request;
    if (!PrepareRequest(stores, 0, request))
        return Fail(ErrorNoSlot);
    if (IsCloseRequested())
        return false;

    if (!DownloadCatalogue(request))
        return Fail(request.noFreeSlot ? ErrorNoSlot : ErrorDownload);
    if (IsCloseRequested())
        return false;

    emit message(tr("Loading the free ebooks database from local disk..."));
    const bool opened = request.downloaded
        ? SwapInCatalogue(stores.catalogue, request.localPath, request.publishedGuid)
        : stores.catalogue->LoadDatabase(request.localPath);
    if (!opened)
        return Fail(ErrorDatabase);
    if (IsCloseRequested())
        return false;

    if (request.pointerStale && !WritePreFile(request.slot))
        return Fail(ErrorPointer);
    if (IsCloseRequested())
        return false;

    changed = request.downloaded || foldersChanged;
    if (!changed && !stores.folders->IsGuidUnchanged())
        changed = true;
    if (!changed)
        return true;

    emit message(tr("Computing the free ebooks information..."));
    if (!stores.folders->ComputeAll(this))
        return Fail(ErrorCompute);
    return true;
}
