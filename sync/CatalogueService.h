#pragma once

#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

class IBaseCloseable;
class ItemDataSaver;

struct CatalogueRequest;

// The conversation with the catalogue service. Everything runs on the calling worker's thread;
// the transfers run on threads of their own and are waited for in 300 ms slices.
class CatalogueService
{
public:
    CatalogueService() = delete;

    // Status codes of an answer.
    enum Answer { AnswerNone = 0, AnswerDownload = 1, AnswerRetry = 2, AnswerUpgrade = 3, AnswerUnchanged = 10 };

    static const int RequestTimeoutMs = 240000;
    static const int DownloadTimeoutMs = 840000;

    using ProgressReporter = std::function<void(const QPair<qint64, qint64> &)>;

    // Makes sure request.localPath holds the current catalogue: asks the service (unless a
    // start-up load already has a usable file), and downloads a new catalogue when told to.
    // Never writes over request.openFilePath. True when the local file is current (downloaded,
    // unchanged, or not asked); false on any failure or when the canceller asks to close.
    // report (may be empty) receives Const::ZeroProgress first, then the download progress
    // about every 1.5 s.
    static bool DownloadCatalogue(CatalogueRequest &request, IBaseCloseable *canceller,
                                  const ProgressReporter &report);

    // The status code of the answer text "status|guid|location|md5[|x|y]"; location and md5 are
    // filled for code 1 only.
    static int ParseServiceAnswer(const QString &answer, const QString &openGuid, QString &location,
                                  QString &md5, bool needDownload);

    // The request address for the software-information query.
    static QString MakeRequestUrl(const QString &queryString);

    // "Loading the free ebooks database from official website%1%2 ..." with " 50%" and
    // " (10.00 MB)" filled in when both numbers are above 0 (context "UserDataLoader").
    static QString DownloadProgressText(const QPair<qint64, qint64> &progress);

    // The file the catalogue store has open (read under its lock; do not hold that lock).
    static QString OpenCatalogueFile(ItemDataSaver &store);
};

// One catalogue check with the service: its inputs, and what came of it.
struct CatalogueRequest
{
    // The software-information query appended to the request.
    QString queryString;
    // Guid and file of the catalogue the store has open (empty when none is open).
    QString openGuid;
    QString openFilePath;
    // 0 for the start-up load (a usable local file is used without asking), 1 for a refresh.
    int alwaysAsk = 0;
    // From CatalogueSlots::PickCatalogFile.
    bool needDownload = true;
    // The paths the slot search was told to avoid; a new search honours them too.
    QStringList inUse;

    // In: the slot file chosen by CatalogueSlots::PickCatalogFile and its slot. Out: when a
    // download had to move away from the open catalogue file, the slot file written instead.
    QString localPath;
    int slot = 0;

    // Time-outs of the service request and of the catalogue download.
    int requestTimeoutMs = CatalogueService::RequestTimeoutMs;
    int downloadTimeoutMs = CatalogueService::DownloadTimeoutMs;

    // Out: the status code of the answer (0 until an answer was parsed).
    int serverAnswer = 0;
    // Out: for a download answer, the guid it announced (the downloaded file must carry it).
    QString publishedGuid;
    // Out: both true together exactly when a new file was written to localPath (the slot
    // pointer must then name `slot`).
    bool downloaded = false;
    bool pointerStale = false;
    // Out: a download was due but no slot other than the open file was free.
    bool noFreeSlot = false;
};
