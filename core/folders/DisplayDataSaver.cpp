#include "folders/DisplayDataSaver.h"

#include "Helper.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {

const char kFoldersFileName[] = "user-folders.file";

} // namespace

DisplayDataSaver::DisplayDataSaver()
    : mutex(QMutex::NonRecursive), lock(QReadWriteLock::NonRecursive), items(&itemStore),
      clock([] { return QDateTime::currentDateTime(); }),
      foldersWriter([this](const FoldersSnapshot &snapshot) { return WriteSnapshot(snapshot); })
{
    // Empty when the base data folder is unknown: never a file at the file-system root.
    userFoldersPath = Helper::GetLocalFilePath(QString::fromLatin1(kFoldersFileName), Helper::FolderBase);
}

DisplayDataSaver::DisplayDataSaver(const QString &foldersFilePath)
    : mutex(QMutex::NonRecursive), lock(QReadWriteLock::NonRecursive), userFoldersPath(foldersFilePath),
      items(&itemStore), clock([] { return QDateTime::currentDateTime(); }),
      foldersWriter([this](const FoldersSnapshot &snapshot) { return WriteSnapshot(snapshot); })
{
    customBaseFolder = QFileInfo(foldersFilePath).absolutePath();
}

DisplayDataSaver::~DisplayDataSaver()
{
    // A queued save is written while everything it uses is still there.
    foldersWriter.Stop();
    qDeleteAll(folders);
}

QString DisplayDataSaver::BaseFolder() const
{
    if (customBaseFolder.isEmpty())
        return Helper::GetLocalFolder(0);
    if (!QDir().mkpath(customBaseFolder))
        return QString();
    return customBaseFolder;
}

void DisplayDataSaver::ClearFolders()
{
    qDeleteAll(folders);
    folders.clear();
}

DisplayFolder *DisplayDataSaver::FindFolder(const QUuid &id, const QReadLockerExt2 &token) const
{
    token.CheckLock(&lock);
    if (id.isNull())
        return nullptr;
    for (DisplayFolder *folder : folders) {
        if (folder->uid == id)
            return folder;
    }
    return nullptr;
}

QUuid DisplayDataSaver::FindFirstFolderOfType(int type, const QReadLockerExt2 &token) const
{
    token.CheckLock(&lock);
    for (const DisplayFolder *folder : folders) {
        if (folder->type == type)
            return folder->uid;
    }
    return QUuid();
}

bool DisplayDataSaver::HasFolderOfType(int type, const QReadLockerExt2 &token) const
{
    return !FindFirstFolderOfType(type, token).isNull();
}

void DisplayDataSaver::CollectCategoryIds(QList<qint64> *out)
{
    if (!out)
        return;
    QReadLockerExt2 token(0, &lock);
    out->clear();
    for (const DisplayFolder *folder : folders) {
        if (folder->type == CategoryFolder)
            out->append(folder->categoryUid);
    }
}

bool DisplayDataSaver::AddFolder(DisplayFolder *folder, const QWriteLockerExt2 &token)
{
    token.CheckLock(&lock);
    if (!folder || folders.contains(folder))
        return false;
    if (folder->uid.isNull())
        folder->uid = QUuid::createUuid();
    else if (FindFolder(folder->uid, token))
        return false;
    folder->UpdateCaptionWithCount();
    folders.append(folder);
    return true;
}

bool DisplayDataSaver::ReplaceFolder(const QUuid &id, DisplayFolder *folder, const QWriteLockerExt2 &token)
{
    token.CheckLock(&lock);
    DisplayFolder *old = folder ? FindFolder(id, token) : nullptr;
    if (!old)
        return false;
    // A folder already stored elsewhere would end up in the list twice.
    if (old != folder && folders.contains(folder))
        return false;
    folder->uid = id;
    folder->UpdateCaptionWithCount();
    folders[folders.indexOf(old)] = folder;
    if (old != folder)
        delete old;
    return true;
}

bool DisplayDataSaver::CanRemoveFolder(const QVariant &id)
{
    if (!id.isValid())
        return false;
    QReadLockerExt2 token(0, &lock);
    const DisplayFolder *folder = FindFolder(id.toUuid(), token);
    return folder && (folder->type == CategoryFolder || folder->type == FilterFolder);
}

bool DisplayDataSaver::CanEditFolder(const QVariant &id)
{
    if (!id.isValid())
        return false;
    QReadLockerExt2 token(0, &lock);
    const DisplayFolder *folder = FindFolder(id.toUuid(), token);
    return folder && folder->type == FilterFolder;
}

bool DisplayDataSaver::RemoveFolder(const QUuid &id)
{
    QWriteLockerExt2 token(&lock);
    DisplayFolder *folder = FindFolder(id, token);
    if (!folder)
        return false;
    folders.removeOne(folder);
    delete folder;
    return true;
}

int DisplayDataSaver::GetFolderType(const QUuid &id)
{
    QReadLockerExt2 token(0, &lock);
    const DisplayFolder *folder = FindFolder(id, token);
    return folder ? folder->type : 0;
}

bool DisplayDataSaver::SaveLocked(const QWriteLockerExt2 &token)
{
    return WriteFoldersFile(token);
}

bool DisplayDataSaver::ApplyNewOrder(const QList<QUuid> &ids)
{
    QMutexLocker serial(&mutex);
    QWriteLockerExt2 token(&lock);
    QList<DisplayFolder *> ordered;
    ordered.reserve(folders.size());
    QSet<DisplayFolder *> placed;
    for (const QUuid &id : ids) {
        DisplayFolder *folder = FindFolder(id, token);
        if (!folder || placed.contains(folder))
            continue;
        placed.insert(folder);
        ordered.append(folder);
    }
    // Folders the caller did not name are never lost.
    for (DisplayFolder *folder : qAsConst(folders)) {
        if (!placed.contains(folder))
            ordered.append(folder);
    }
    folders = ordered;
    return QueueSave(token) != 0;
}
