#pragma once

#include "CatalogueService.h"
#include "threads/QThreadExtend.h"

#include <QPair>
#include <QReadWriteLock>
#include <QString>
#include <QStringList>

class DisplayDataSaver;
class ItemDataSaver;

// The start-up catalogue worker: reads the folders file, opens the local catalogue the slot
// pointer names (asking the service only when there is no usable file) and recomputes the
// folders when they do not match the catalogue. Reports texts through `message` and ends each
// run with one `completed`, unless the program closes.
//
// The main window reads lastResult, lastError and serverAnswer under dataLock after
// `completed`. dataLock is never held while a store operation runs.
class UserDataLoader : public QThreadExtend
{
    Q_OBJECT
public:
    // Values of lastError.
    enum LoadError {
        ErrorNone = 0,
        ErrorFolders = 1,
        ErrorDatabase = 2,
        ErrorDownload = 3,
        ErrorPointer = 4,
        ErrorCompute = 5,
        ErrorNoSlot = 101
    };

    explicit UserDataLoader(QObject *parent = nullptr);
    ~UserDataLoader() override;

    // Once before the first start: the folder store (its embedded catalogue store comes with it)
    // and the software-information query of the service request.
    void SetStores(DisplayDataSaver *folderStore, const QString &query);

    // The slot file to load or download into (CatalogueSlots::PickCatalogFile); inUse may be null.
    static QString PickCatalogFile(const QStringList *inUse, int &slot, bool &needDownload);
    // Writes the slot pointer (CatalogueSlots::WritePreFile).
    static bool WritePreFile(int slot);
    // CatalogueService::DownloadCatalogue on this worker: it is the canceller, progress goes
    // out through `message`, and the answer's code is copied to serverAnswer.
    bool DownloadCatalogue(CatalogueRequest &request);
    // Sends the download text for (bytes received, bytes total) through `message`.
    void ReportDownloadProgress(const QPair<qint64, qint64> &progress);

    QReadWriteLock dataLock;
    ItemDataSaver *catalogue = nullptr;
    DisplayDataSaver *folders = nullptr;
    QString queryString;
    int lastError = ErrorNone;
    int serverAnswer = CatalogueService::AnswerNone;
    bool lastResult = false;

    // Time-outs of the service request and of the catalogue download, copied into each
    // request; tests shorten them. Set before the start.
    int requestTimeoutMs = CatalogueService::RequestTimeoutMs;
    int downloadTimeoutMs = CatalogueService::DownloadTimeoutMs;

signals:
    void message(const QString &message);
    void completed(bool isSucc, bool isrecalc);

protected:
    // What a load works on, copied under dataLock at its start.
    struct Stores
    {
        DisplayDataSaver *folders = nullptr;
        ItemDataSaver *catalogue = nullptr;
        QString queryString;
    };

    void DoRun() override;
    virtual bool LoadUserData(bool &changed);
    // Worker thread only: the last run sent `completed`.
    bool reported = false;

    Stores TakeStores();
    // Records the error code (unless the program closes: a closing load sets none); returns false.
    bool Fail(int code);
    void SetServerAnswer(int code);
    // Fills in a request for the slot file to load or download into (the open catalogue file
    // is kept out of the slot search); false when no slot is free.
    bool PrepareRequest(const Stores &stores, int alwaysAsk, CatalogueRequest &request) const;
    // Switches the catalogue store to a downloaded file, but only when it opens and its guid is
    // not empty and equals expectedGuid (the one the answer announced). A rejected file is
    // removed; the store, its open file and the slot pointer stay as they were.
    bool SwapInCatalogue(ItemDataSaver *store, const QString &path, const QString &expectedGuid);
    // The guid stored in the catalogue file; empty when it does not open as a catalogue.
    static QString ReadCatalogueGuid(const QString &path);
};
