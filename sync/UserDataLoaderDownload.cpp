#include "UserDataLoader.h"

#include "CatalogueFiles.h"
#include "CatalogueSlots.h"
#include "Const.h"
#include "FileDownloader.h"

#include <QDebug>
#include <QReadLocker>
#include <QWriteLocker>

bool UserDataLoader::DownloadCatalogue(CatalogueRequest &request, QString &publishedGuid)
{
    request.downloaded = false;
    request.pointerStale = false;
    request.noFreeSlot = false;
    publishedGuid.clear();
    if (request.alwaysAsk == 0 && !request.needDownload && IsFileUsable(request.localPath))
        return true;

    request.serverAnswer = CatalogueService::AnswerNone;
    SetServerAnswer(request.serverAnswer);
    ReportDownloadProgress(Const::ZeroProgress);
    const QString url = CatalogueService::MakeRequestUrl(request.queryString);
    qDebug().noquote() << QStringLiteral("load db from: ") + url;
    QString answer;
    {
        FileDownloader query(ItemComparePart(), url, this, requestTimeoutMs, QString());
        answer = query.RunAndWait();
    }
    if (answer.isEmpty() || IsCloseRequested())
        return false;

    QString location;
    QString md5;
    request.serverAnswer =
        CatalogueService::ParseServiceAnswer(answer, request.openGuid, location, md5, request.needDownload);
    SetServerAnswer(request.serverAnswer);
    if (request.serverAnswer == CatalogueService::AnswerUnchanged)
        return true;
    if (request.serverAnswer != CatalogueService::AnswerDownload)
        return false;
    // A download answer has six parts; the second is the guid the file must carry.
    publishedGuid = answer.split(QLatin1Char('|'), Qt::KeepEmptyParts).value(1);

    // The store reads from its open file: a new catalogue goes into another slot.
    if (request.localPath.isEmpty() || IsSameFilePath(request.localPath, request.openFilePath)) {
        QStringList inUse = request.inUse;
        inUse.append(request.openFilePath);
        int slot = 0;
        const QString path = CatalogueSlots::PickFreeSlot(inUse, slot);
        if (path.isEmpty()) {
            request.noFreeSlot = true;
            return false;
        }
        request.localPath = path;
        request.slot = slot;
    }

    if (!FetchCatalogueFile(location, md5, request.localPath))
        return false;
    request.downloaded = true;
    request.pointerStale = true;
    return true;
}

// Runs the catalogue file download into path, reporting progress about every 1.5 s; true when
// it completed and no close is asked. The downloader writes the file only when it is complete.
bool UserDataLoader::FetchCatalogueFile(const QString &location, const QString &md5, const QString &path)
{
    FileDownloader downloader(ItemComparePart(), location, this, downloadTimeoutMs, path);
    {
        QWriteLocker locker(&downloader.lock);
        downloader.expectedMd5 = md5;
        // An empty file would open as an empty catalogue.
        downloader.requireBody = true;
    }
    {
        QMutexLocker locker(&downloader.startMutex);
        if (!downloader.isRunning())
            downloader.start(QThread::LowPriority);
    }
    for (;;) {
        if (IsCloseRequested())
            return false;
        {
            QReadLocker locker(&downloader.lock);
            if (downloader.finished)
                return downloader.succeeded && !IsCloseRequested();
        }
        for (int wait = 0; wait < 5; ++wait) {
            if (IsCloseRequested()) {
                downloader.Stop();
                break;
            }
            downloader.wait(300);
            QReadLocker locker(&downloader.lock);
            if (downloader.finished)
                break;
        }
        ReportDownloadProgress(downloader.GetProgress());
    }
}

void UserDataLoader::ReportDownloadProgress(const QPair<qint64, qint64> &progress)
{
    emit message(CatalogueService::DownloadProgressText(progress));
}
