#include "ImageCache.h"

#include "CacheFolderClearing.h"
#include "CatalogueFiles.h"
#include "Const.h"
#include "Helper.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

const QString ImageCache::MarkerFileName = QStringLiteral("active-check-cache.file");

namespace {

// Rewriting the marker is what moves its modification time to now.
void WriteMarker(const QString &path)
{
    if (!path.isEmpty())
        WriteTextFile(path, QStringLiteral("NOW"));
}

} // namespace

QDateTime ImageCache::GetMarkerTime(const QString &fileName, bool reset)
{
    const QString path = Helper::GetLocalFilePath(fileName, Helper::FolderBase);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QFileInfo info(path);
    const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
    if (!modified.isValid() || modified > now) {
        WriteMarker(path);
        return now.addYears(-1);
    }
    if (reset)
        WriteMarker(path);
    return modified;
}

double ImageCache::MinutesSinceCheck(bool reset)
{
    QMutexLocker locker(&Const::FileAccessMutex);
    return MinutesSinceCheckLocked(reset);
}

double ImageCache::MinutesSinceCheckLocked(bool reset)
{
    const QDateTime last = GetMarkerTime(MarkerFileName, reset);
    const qint64 seconds = last.secsTo(QDateTime::currentDateTimeUtc());
    return static_cast<double>(seconds / 60);
}

bool ImageCache::ClearIfLarge(QMutex *mutex)
{
    QMutexLocker locker(mutex ? mutex : &Const::FileAccessMutex);
    MinutesSinceCheckLocked(true);

    const QString folder = Helper::GetLocalFolder(Helper::FolderImageCache);
    if (folder.isEmpty())
        return false;
    // The default listing, "." and ".." included; no sorting needed just to count.
    const QDir dir(folder, QString(), QDir::NoSort, QDir::AllEntries);
    if (!dir.exists() || dir.count() < static_cast<uint>(ClearThresholdEntries))
        return false;
    RemoveCachedFiles(folder);
    return true;
}
