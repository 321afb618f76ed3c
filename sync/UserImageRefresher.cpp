#include "UserImageRefresher.h"

#include "Const.h"
#include "FileDownloader.h"
#include "Helper.h"
#include "ServiceUrl.h"
#include "threads/NativeHelper.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QPixmap>
#include <QReadLocker>
#include <QWriteLocker>

namespace {

// A cover download: three attempts, started at low priority. One whose thread cannot start
// is finished at once as a failed download, so it gives its place back at the next pass.
FileDownloader *StartDownloader(const ItemComparePart &key, const QString &url,
                                IBaseCloseable *canceller, const QString &target)
{
    auto *downloader = new FileDownloader(key, url, canceller,
                                          UserImageRefresher::DownloadTimeoutMs, target);
    {
        QWriteLocker locker(&downloader->lock);
        downloader->maxAttempts = UserImageRefresher::DownloadAttempts;
        downloader->maxBytes = FileDownloader::MaxCoverBytes;
    }
    downloader->StartLowPriority();
    return downloader;
}

// True with the outcome once the result is final. Never blocks: while the downloader's thread
// holds its lock (setting up or handling a transfer) the answer is "not yet", so a pass that
// holds the queue lock never waits for a transfer.
bool TryReadResult(FileDownloader *downloader, bool &succeeded)
{
    if (!downloader->lock.tryLockForRead())
        return false;
    const bool finished = downloader->finished;
    succeeded = downloader->succeeded;
    downloader->lock.unlock();
    return finished;
}

} // namespace

UserImageRefresher::UserImageRefresher(QObject *parent) : QThreadExtend(parent)
{
    connect(&decoder, &CoverDecoder::decoded, this, &UserImageRefresher::decoded);
}

UserImageRefresher::~UserImageRefresher()
{
    decoder.Stop();
    Stop();
    // Covers for which no pass ran (ProcessQueue called without the thread) end here too.
    StopActiveDownloads();
}

bool UserImageRefresher::PrepareCacheFolder()
{
    QWriteLocker locker(&queueLock);
    cacheFolder = Helper::GetLocalFolder(Helper::FolderImageCache);
    // The path comes back whether or not the folder could be made: covers need a real,
    // writable folder, otherwise none would ever be kept.
    const QFileInfo folder(cacheFolder);
    if (!folder.exists() || !folder.isDir() || !folder.isWritable())
        cacheFolder.clear();
    return !cacheFolder.isEmpty();
}

bool UserImageRefresher::HasCover(const ItemComparePart &key)
{
    return key.uid != 0 && key.imageCompId != 0;
}

QString UserImageRefresher::GetImageFileName(const ItemComparePart &key, bool local)
{
    QString name = QString::number(key.uid) + QLatin1Char('_');
    if (key.imageCompId > 0)
        name += QString::number(key.imageCompId) + QLatin1Char('_');
    name += QStringLiteral("201");
    name += local ? Const::RFileSuffix : QStringLiteral(".jpg");
    return name;
}

QString UserImageRefresher::GetImageUrl(const ItemComparePart &key)
{
    return MakeServiceUrl(QStringLiteral("/local/images/")
                          + GetImageFileName(ItemComparePart(key.uid, 0), false));
}

QString UserImageRefresher::GetImageFilePath(const ItemComparePart &key) const
{
    return Helper::CombinePath(cacheFolder, GetImageFileName(key, true));
}

bool UserImageRefresher::IsImageCached(const ItemComparePart &key) const
{
    if (cacheFolder.isEmpty())
        return false;
    return QFileInfo::exists(GetImageFilePath(key));
}

bool UserImageRefresher::IsImagePending(const ItemComparePart &key)
{
    QReadLocker locker(&queueLock);
    return queue.contains(key) || IsDownloadingLocked(key);
}

bool UserImageRefresher::IsDownloadingLocked(const ItemComparePart &key) const
{
    for (const ActiveDownload &active : activeDownloads) {
        if (!active.reported && active.key == key)
            return true;
    }
    return false;
}

void UserImageRefresher::QueueImage(const ItemComparePart &key, bool append)
{
    if (!HasCover(key))
        return;
    QWriteLocker locker(&queueLock);
    QueueImageLocked(key, append);
}

void UserImageRefresher::QueueImageLocked(const ItemComparePart &key, bool append)
{
    // A cover being downloaded is not fetched a second time; its report is on its way.
    if (queue.contains(key) || IsDownloadingLocked(key))
        return;
    if (queue.size() >= MaxQueuedCovers)
        queue.removeLast();
    if (append)
        queue.append(key);
    else
        queue.prepend(key);
}

CoverImageState UserImageRefresher::GetCoverPixmap(const ItemComparePart &key, QPixmap &pixmap,
                                                   bool load, const QSize &size)
{
    // Without both ids there is nothing to fetch: show "no cover", not a loading picture forever.
    if (!HasCover(key) || cacheFolder.isEmpty())
        return CoverImageState::NoCover();
    if (IsImagePending(key))
        return CoverImageState::Loading();
    if (!IsImageCached(key)) {
        QueueImage(key, false);
        return CoverImageState::Loading();
    }
    if (!load)
        return CoverImageState::NoCover();

    const QString path = GetImageFilePath(key);
    QImage image;
    switch (decoder.Take(key, path, size, image)) {
    case CoverDecoder::Pending:
        return CoverImageState::Loading();
    case CoverDecoder::Failed:
        // A broken (or absurd) file would never heal; the next request downloads the cover again.
        QFile::remove(path);
        return CoverImageState::NoCover();
    case CoverDecoder::Ready:
        break;
    }
    pixmap = QPixmap::fromImage(image);
    return CoverImageState(&pixmap, false);
}

bool UserImageRefresher::ProcessQueue()
{
    QList<Report> reports;
    QList<FileDownloader *> ended;
    bool goOn;
    {
        QWriteLocker locker(&queueLock);
        goOn = StartDownloadsLocked() && !IsCloseRequested()
               && CollectFinishedLocked(reports, ended);
    }
    // Outside the lock: a receiver may ask for the cover at once, and ended threads are gone.
    EmitReports(reports);
    qDeleteAll(ended);
    return goOn;
}

bool UserImageRefresher::StartDownloadsLocked()
{
    // Tested once: up to 19 running plus 20 new ones, so at most 39 at a time.
    if (activeDownloads.size() >= MaxStartsPerPass)
        return true;
    for (int i = 0; i < MaxStartsPerPass; ++i) {
        if (queue.isEmpty())
            break;
        if (IsCloseRequested())
            return false;
        const ItemComparePart key = queue.takeFirst();
        // Queueing admits only keys with both ids.
        if (cacheFolder.isEmpty())
            continue; // still counts as one of this pass
        FileDownloader *downloader =
            StartDownloader(key, GetImageUrl(key), closeable, GetImageFilePath(key));
        activeDownloads.append(ActiveDownload{downloader, key, false});
    }
    return true;
}

bool UserImageRefresher::CollectFinishedLocked(QList<Report> &reports,
                                               QList<FileDownloader *> &ended)
{
    bool goOn = true;
    for (int i = 0; i < activeDownloads.size();) {
        if (IsCloseRequested()) {
            goOn = false;
            break;
        }
        ActiveDownload &active = activeDownloads[i];
        bool succeeded = false;
        if (!active.reported && TryReadResult(active.downloader, succeeded)) {
            active.reported = true;
            reports.append(Report{active.key, succeeded});
        }
        // Reported once; dropped when its thread has ended as well (or never started).
        if (active.reported && !active.downloader->isRunning()) {
            ended.append(active.downloader);
            activeDownloads.removeAt(i);
        } else {
            ++i;
        }
    }
    return goOn;
}

void UserImageRefresher::StopActiveDownloads()
{
    QList<ActiveDownload> running;
    {
        QWriteLocker locker(&queueLock);
        running.swap(activeDownloads);
    }
    // Deleting a downloader stops its transfer and waits for its thread; no lock is held.
    QList<ItemComparePart> cutShort;
    QList<Report> reports;
    for (const ActiveDownload &active : qAsConst(running)) {
        bool succeeded = false;
        if (!active.reported) {
            if (TryReadResult(active.downloader, succeeded))
                reports.append(Report{active.key, succeeded});
            else
                cutShort.append(active.key);
        }
        delete active.downloader;
    }
    if (!cutShort.isEmpty()) {
        QWriteLocker locker(&queueLock);
        // Back to the front in their old order, so a restart fetches them first.
        for (int i = cutShort.size() - 1; i >= 0; --i)
            QueueImageLocked(cutShort.at(i), false);
    }
    // Finished ones that no pass reported yet: their views are waiting for them.
    EmitReports(reports);
}

void UserImageRefresher::EmitReports(const QList<Report> &reports)
{
    for (const Report &report : reports)
        emit completed(report.succeeded, QVariant(report.key.uid), QVariant(report.key.imageCompId));
}

void UserImageRefresher::DoRun()
{
    while (!IsCloseRequested()) {
        if (!ProcessQueue())
            break;
        for (int i = 0; i < PassSleeps && !IsCloseRequested(); ++i)
            QThread::msleep(PassSleepMs);
    }
    StopActiveDownloads();
    // At close the decode in progress is waited for here, within the close path's shared time
    // limit, rather than by the window's tear-down, which has none.
    if (NativeHelper::IsClosing())
        decoder.Stop();
}

int UserImageRefresher::GetWaitingCount()
{
    QReadLocker locker(&queueLock);
    return queue.size() + activeDownloads.size();
}

QList<ItemComparePart> UserImageRefresher::QueuedKeys()
{
    QReadLocker locker(&queueLock);
    return queue;
}

int UserImageRefresher::ActiveDownloadCount()
{
    QReadLocker locker(&queueLock);
    return activeDownloads.size();
}
