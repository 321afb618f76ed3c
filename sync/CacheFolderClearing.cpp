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
    // With what SQLite may have left beside a catalogue file.
    QDirIterator it(folder, {Const::RFileFilter, Const::PreFileFilter, Const::RFileFilter + QStringLiteral("-journal"),
                             Const::RFileFilter + QStringLiteral("-wal"), Const::RFileFilter + QStringLiteral("-shm")},
                    QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    while (it.hasNext())
        QFile::remove(it.next());
}
