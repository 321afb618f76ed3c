#include "CatalogueService.h"

#include "CatalogueFiles.h"
#include "CatalogueSlots.h"
#include "Const.h"
#include "FileDownloader.h"
#include "threads/IBaseCloseable.h"
#include "catalogue/ItemDataSaver.h"
#include "ServiceUrl.h"

#include <QCoreApplication>
#include <QDebug>
#include <QReadLocker>
#include <QWriteLocker>

#include <cmath>

namespace {

bool CloseRequested(IBaseCloseable *canceller)
{
    return canceller && canceller->IsCloseRequested();
}

void Report(const CatalogueService::ProgressReporter &report, const QPair<qint64, qint64> &progress)
{
    if (report)
        report(progress);
}

// Progress is reported after this many waits (about every 1.5 s).
const int SlicesPerReport = 1500 / FileDownloader::WaitSliceMs;

// Runs the catalogue file download into path, reporting progress about every 1.5 s; true when
// it completed and no close is asked. The downloader writes the file only when it is complete.
bool FetchCatalogueFile(const QString &location, const QString &md5, const QString &path, int timeoutMs,
                        IBaseCloseable *canceller, const CatalogueService::ProgressReporter &report)
{
    FileDownloader downloader(ItemComparePart(), location, canceller, timeoutMs, path);
    {
        QWriteLocker locker(&downloader.lock);
        downloader.expectedMd5 = md5;
        // An empty file would open as an empty catalogue.
        downloader.requireBody = true;
        downloader.maxBytes = FileDownloader::MaxCatalogueBytes;
    }
    // A thread that cannot start ends as a failed download: the loop below sees it finished.
    downloader.StartLowPriority();
    for (;;) {
        if (CloseRequested(canceller))
            return false;
        {
            QReadLocker locker(&downloader.lock);
            if (downloader.finished)
                return downloader.succeeded && !CloseRequested(canceller);
        }
        for (int wait = 0; wait < SlicesPerReport; ++wait) {
            if (CloseRequested(canceller)) {
                downloader.Stop();
                break;
            }
            downloader.wait(FileDownloader::WaitSliceMs);
            QReadLocker locker(&downloader.lock);
            if (downloader.finished)
                break;
        }
        Report(report, downloader.GetProgress());
    }
}

} // namespace

bool CatalogueService::DownloadCatalogue(CatalogueRequest &request, IBaseCloseable *canceller,
                                         const ProgressReporter &report)
{
    request.downloaded = false;
    request.pointerStale = false;
    request.noFreeSlot = false;
    request.publishedGuid.clear();
    if (request.alwaysAsk == 0 && !request.needDownload && IsFileUsable(request.localPath))
        return true;

    request.serverAnswer = AnswerNone;
    Report(report, Const::ZeroProgress);
    const QString url = MakeRequestUrl(request.queryString);
    qDebug().noquote() << QStringLiteral("load db from: ") + url;
    QString answer;
    {
        FileDownloader query(ItemComparePart(), url, canceller, request.requestTimeoutMs, QString());
        query.maxBytes = FileDownloader::MaxAnswerBytes;
        answer = query.RunAndWait();
    }
    if (answer.isEmpty() || CloseRequested(canceller))
        return false;

    QString location;
    QString md5;
    request.serverAnswer = ParseServiceAnswer(answer, request.openGuid, location, md5, request.needDownload);
    if (request.serverAnswer == AnswerUnchanged)
        return true;
    if (request.serverAnswer != AnswerDownload)
        return false;
    // A download answer has six parts; the second is the guid the file must carry.
    request.publishedGuid = answer.split(QLatin1Char('|'), Qt::KeepEmptyParts).value(1);

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

    if (!FetchCatalogueFile(location, md5, request.localPath, request.downloadTimeoutMs, canceller, report))
        return false;
    RemoveSidecarFiles(request.localPath);
    request.downloaded = true;
    request.pointerStale = true;
    return true;
}

int CatalogueService::ParseServiceAnswer(const QString &answer, const QString &openGuid, QString &location,
                                         QString &md5, bool needDownload)
{
    location.clear();
    md5.clear();
    if (answer.isEmpty())
        return AnswerNone;
    const QStringList parts = answer.split(QLatin1Char('|'), Qt::KeepEmptyParts);
    if (parts.size() < 4 || parts.size() > 6)
        return AnswerNone;
    const QString status = parts.at(0).toLower();
    if (parts.size() == 6 && status == QLatin1String("ok")) {
        if (parts.at(1) == openGuid && !needDownload)
            return AnswerUnchanged;
        const QString where = parts.at(2);
        if (where.isEmpty())
            return AnswerNone;
        QString resolved;
        if (where.startsWith(QLatin1String("http"), Qt::CaseInsensitive)) {
            // Taken as it stands, but only as a web address.
            if (!IsWebUrl(where))
                return AnswerNone;
            resolved = where;
        } else {
            resolved = MakeServiceUrl(where);
            if (resolved.isEmpty())
                return AnswerNone;
        }
        location = resolved;
        md5 = parts.at(3);
        return AnswerDownload;
    }
    if (status == QLatin1String("retry"))
        return AnswerRetry;
    if (status == QLatin1String("upgrade"))
        return AnswerUpgrade;
    return AnswerNone;
}

QString CatalogueService::MakeRequestUrl(const QString &queryString)
{
    return MakeServiceUrl(QStringLiteral("/service/getdatabase.php?") + queryString);
}

QString CatalogueService::DownloadProgressText(const QPair<qint64, qint64> &progress)
{
    QString percent;
    QString size;
    if (progress.first > 0 && progress.second > 0) {
        const double ratio = double(progress.first) / double(progress.second) * 100.0;
        percent = QLatin1Char(' ') + QString::number(qint64(std::trunc(ratio))) + QLatin1Char('%');
        size = QStringLiteral(" (%1 MB)").arg(double(progress.second) / 1024.0 / 1024.0, 0, 'f', 2);
    }
    return QCoreApplication::translate("UserDataLoader", "Loading the free ebooks database from official website%1%2 ...")
        .arg(percent, size);
}

QString CatalogueService::OpenCatalogueFile(ItemDataSaver &store)
{
    QReadLocker locker(&store.lock);
    return store.currentFilePath;
}
