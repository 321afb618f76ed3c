#include "CacheFolderClearing.h"

#include "CatalogueFiles.h"
#include "cipher/CipherVfs.h"
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
    QStringList filters{Const::RFileFilter, Const::PreFileFilter};
    // With what SQLite may have left beside a catalogue file.
    for (const QString &suffix : CipherVfs::SidecarSuffixes())
        filters << Const::RFileFilter + suffix;
    QDirIterator it(folder, filters, QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    while (it.hasNext())
        QFile::remove(it.next());
}
