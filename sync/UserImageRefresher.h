#pragma once

#include "CoverDecoder.h"
#include "CoverImageState.h"
#include "catalogue/ItemComparePart.h"
#include "threads/QThreadExtend.h"

#include <QImage>
#include <QList>
#include <QReadWriteLock>
#include <QSize>
#include <QString>
#include <QVariant>

class FileDownloader;
class QPixmap;

// The cover worker: keeps the queue of missing covers, downloads them into the image cache
// folder in passes (up to 20 new downloads per pass) and reports each finished one.
// The views ask it for covers on the GUI thread; a missing cover is queued and shown as loading.
class UserImageRefresher : public QThreadExtend
{
    Q_OBJECT
public:
    static constexpr int MaxQueuedCovers = 210;
    static constexpr int MaxStartsPerPass = 20;
    static constexpr int DownloadTimeoutMs = 240000;
    static constexpr int DownloadAttempts = 3;
    static constexpr int PassSleepMs = 300;
    static constexpr int PassSleeps = 3;

    explicit UserImageRefresher(QObject *parent = nullptr);
    ~UserImageRefresher() override;

    // Sets the image cache folder (once, before the worker starts). False when it is unknown.
    bool PrepareCacheFolder();

    // A key names a cover only when both of its ids are set; other keys show "no cover".
    static bool HasCover(const ItemComparePart &key);
    // "<uid>_[<imageCompId>_]201" and ".rfile" (local) or ".jpg" (remote).
    static QString GetImageFileName(const ItemComparePart &key, bool local);
    // Address of the cover on the catalogue service; named after the book id alone.
    static QString GetImageUrl(const ItemComparePart &key);
    QString GetImageFilePath(const ItemComparePart &key) const;
    bool IsImageCached(const ItemComparePart &key) const;
    // Queued, or being downloaded and not yet reported.
    bool IsImagePending(const ItemComparePart &key);
    // Puts the key at the front (or the back with append); a key already queued keeps its place,
    // a full queue drops its last key, and keys without a cover or being downloaded are refused.
    void QueueImage(const ItemComparePart &key, bool append = false);

    // The cover for a view (GUI thread): a cached cover decoded at size (when load is set) goes
    // into pixmap; one still being decoded, or missing and then queued, is answered as loading.
    // The GUI thread never decodes: decoded tells when to ask again.
    CoverImageState GetCoverPixmap(const ItemComparePart &key, QPixmap &pixmap, bool load,
                                   const QSize &size);

    // One pass: starts downloads from the queue and collects finished ones.
    // False when it ended because the worker is to stop.
    bool ProcessQueue();

    // Covers waiting plus downloads running, for the queue count of the main window.
    int GetWaitingCount();
    // Snapshot of the queue, front first.
    QList<ItemComparePart> QueuedKeys();
    int ActiveDownloadCount();

signals:
    void completed(bool isSucc, const QVariant &uid, const QVariant &compare);
    // A cached cover asked for by GetCoverPixmap is decoded (or found undecodable).
    void decoded(const QVariant &uid, const QVariant &compare);

protected:
    void DoRun() override;

private:
    struct ActiveDownload
    {
        FileDownloader *downloader;
        ItemComparePart key;
        bool reported;
    };
    struct Report
    {
        ItemComparePart key;
        bool succeeded;
    };

    void QueueImageLocked(const ItemComparePart &key, bool append);
    // Started and not yet reported.
    bool IsDownloadingLocked(const ItemComparePart &key) const;
    bool StartDownloadsLocked();
    bool CollectFinishedLocked(QList<Report> &reports, QList<FileDownloader *> &ended);
    // Stops and deletes the downloads still running; covers cut short go back to the queue.
    void StopActiveDownloads();
    // Emits completed for each; never called with queueLock held.
    void EmitReports(const QList<Report> &reports);

    QList<ItemComparePart> queue;
    QList<ActiveDownload> activeDownloads;
    QReadWriteLock queueLock;
    // Set once before the worker starts, then only read.
    QString cacheFolder;
    CoverDecoder decoder;
};
