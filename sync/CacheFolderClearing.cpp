#include "CacheFolderClearing.h"

#include "Const.h"
#include "Helper.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMutexLocker>

namespace {

void ClearFolderOfKind(QMutex *mutex, int kind)
{
    QMutexLocker locker(mutex ? mutex : &Const::FileAccessMutex);
    const QString folder = Helper::GetLocalFolder(kind);
    if (!folder.isEmpty())
        RemoveCachedFiles(folder);
}

} // namespace

void ClearImageCacheFolder(QMutex *mutex)
{
    ClearFolderOfKind(mutex, Helper::FolderImageCache);
}

void ClearDatabaseCacheFolder(QMutex *mutex)
{
    ClearFolderOfKind(mutex, Helper::FolderDatabase);
}

void RemoveCachedFiles(const QString &folder)
{
    if (folder.isEmpty() || !QDir(folder).exists())
        return;
    QDirIterator it(folder, {Const::RFileFilter, Const::PreFileFilter},
                    QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    while (it.hasNext())
        QFile::remove(it.next());
}
