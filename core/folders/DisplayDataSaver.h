#pragma once

#include "folders/DisplayFolder.h"
#include "folders/FoldersFileWriter.h"
#include "catalogue/ItemBook.h"
#include "catalogue/ItemDataSaver.h"
#include "threads/QReadLockerExt2.h"
#include "threads/QWriteLockerExt2.h"

#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QReadWriteLock>
#include <QString>
#include <QUuid>
#include <QVariant>

#include <atomic>
#include <functional>

class DisplayPageState;
class IBaseCloseable;
class QXmlStreamReader;
class QXmlStreamWriter;

// The folder store: the user's folders in tree order, their computation, paging and the
// folders file. Lock order: mutex, then lock, then NativeHelper::_configLocker, then the
// catalogue store's locks. Neither mutex nor lock is recursive: an operation that locks by
// itself is never called with lock held.
class DisplayDataSaver
{
public:
    // Keeps its folders file in the base data folder.
    DisplayDataSaver();
    // Keeps its folders file at the given path (its folder is created when missing).
    explicit DisplayDataSaver(const QString &foldersFilePath);
    virtual ~DisplayDataSaver();

    DisplayDataSaver(const DisplayDataSaver &) = delete;
    DisplayDataSaver &operator=(const DisplayDataSaver &) = delete;

    // Serialises load, compute-and-save and re-order-and-save.
    QMutex mutex;
    // Guards currentGuid, folders and every folder's fields.
    QReadWriteLock lock;
    // Page loads re-sort under a read token (they never wait for a save or a computation that
    // reads the store): every folder's sortedBookIds is read and written under this mutex too,
    // unless the write token is held. Taken after `lock`, before the catalogue store's locks.
    QMutex sortedMutex;
    QString userFoldersPath;
    // Guid of the catalogue for which the folders were last computed.
    QString currentGuid;
    // Tree order; the store owns every folder in it.
    QList<DisplayFolder *> folders;
    ItemDataSaver itemStore;
    ItemDataSaver *items;
    // The clock of the new-arrivals window; replaceable for tests.
    std::function<QDateTime()> clock;

    // ---- lookups and changes ----
    DisplayFolder *FindFolder(const QUuid &id, const QReadLockerExt2 &token) const;
    QUuid FindFirstFolderOfType(int type, const QReadLockerExt2 &token) const;
    void CollectCategoryIds(QList<qint64> *out);
    // Refuses null and a folder (pointer or uid) already in the store.
    bool AddFolder(DisplayFolder *folder, const QWriteLockerExt2 &token);
    // Puts the folder in the place of the one with the given id; it takes that id, and the old
    // record is deleted. Refuses null, an unknown id and a folder stored elsewhere in the list.
    bool ReplaceFolder(const QUuid &id, DisplayFolder *folder, const QWriteLockerExt2 &token);
    bool CanRemoveFolder(const QVariant &id);
    bool CanEditFolder(const QVariant &id);
    // Takes the folder out of the list and deletes it.
    bool RemoveFolder(const QUuid &id);
    int GetFolderType(const QUuid &id);
    // Writes the folders file and waits for the write: not for the GUI thread.
    bool SaveLocked(const QWriteLockerExt2 &token);
    // Hands the folders to the writer without waiting: its ticket, or 0 when refused at once
    // (the program closes, or the file on disk was never read by this store).
    quint64 QueueSave(const QReadLockerExt2 &token);
    // The result of the write that covered the ticket (or of a later one); false for ticket 0
    // and when timeoutMs (-1: no limit) ran out.
    bool WaitForSave(quint64 ticket, int timeoutMs = -1);
    // Re-orders the folders by the given ids and queues a save; unknown and repeated ids are
    // skipped, folders the list does not name keep their old relative order at the end. False
    // when the save was refused.
    bool ApplyNewOrder(const QList<QUuid> &ids);
    // Fills out with copies of one page of the folder's books, re-sorting when asked or needed.
    void LoadFolderPage(DisplayFolder *folder, DisplayPageState *state, bool resort, int pageSize,
                        QList<ItemBook> *out, const QReadLockerExt2 &token);
    static int ClampPageSize(int pageSize);

    // ---- computation ----
    // Computes one folder in place; ok (when given) turns false when a query of the folder failed.
    DisplayFolder *RefreshFolder(DisplayFolder *folder, const QWriteLockerExt2 &token,
                                 bool includeSearchFolders, bool *ok = nullptr);
    // Computes copies of the folders and swaps the results in under a short write lock, so
    // that readers of the store never wait for the catalogue. False when cut short by closing
    // or by the canceller (nothing swapped in, currentGuid kept). After a failed query
    // currentGuid is left empty, so the folders are recomputed at the next chance.
    bool ComputeFolders(IBaseCloseable *canceller = nullptr);
    bool ComputeAll(IBaseCloseable *canceller = nullptr);
    bool IsGuidUnchanged();
    // Computes the ids, count and caption of each copy (all in one pass over the books where
    // it can). The caller holds the catalogue store's lock, and needs no folder store lock for
    // copies of its own. False when stopped by closing or the canceller (copies unchanged); ok
    // (when given) turns false when a query could not run.
    bool ComputeCopies(QList<DisplayFolder> &copies, bool includeSearchFolders, IBaseCloseable *canceller,
                       bool *ok = nullptr);
    // Copies of the listed folders (an empty folder for null) to compute on; the token reads
    // this store, and the copy is taken under sortedMutex, which a page load may be sorting under.
    QList<DisplayFolder> CopyFolders(const QList<DisplayFolder *> &list, const QReadLockerExt2 &token);
    // Takes the computed ids, count and caption of a copy; the caller holds the write lock.
    static void TakeComputed(DisplayFolder *folder, const DisplayFolder &computed);
    // Queries run on the catalogue store's connection; the caller holds the catalogue store's
    // lock. ok (when given) turns false when the query could not run.
    QList<qint64> QueryCategoryBooks(qint64 categoryId, bool *ok = nullptr);
    QList<qint64> QueryNewArrivalBooks(bool *ok = nullptr);
    QList<qint64> QueryBestBooks(bool *ok = nullptr);
    QList<qint64> QueryAllBooks(bool *ok = nullptr);
    // No ids when the category-name lookup failed.
    QList<qint64> QueryFilterBooks(DisplayFolder *folder, bool *ok = nullptr);
    void UpdateNewArrivalsCaption(DisplayFolder *folder);
    // A filter folder's conditions, one per criterion (category-name keywords are resolved
    // to category ids through the catalogue; ok turns false when that lookup failed), and
    // their where text.
    QStringList MakeFilterConditions(const DisplayFolder *folder, bool *ok = nullptr);
    QString MakeFilterWhere(const DisplayFolder *folder, bool *ok = nullptr);

    // ---- folders file ----
    // An exception while reading ends the read: the folders read so far are kept and the load
    // goes on as after a read.
    bool LoadFolders(bool &builtinsAdded);
    virtual bool ReadFoldersFile(const QWriteLockerExt2 &token);
    bool EnsureBuiltinFolders(const QWriteLockerExt2 &token);
    // Queues a save and waits for it. Saves are queued under the lock (at least for reading), so
    // the files follow the order of the changes (made under the write lock).
    bool WriteFoldersFile(const QReadLockerExt2 &token);
    bool HasFolderOfType(int type, const QReadLockerExt2 &token) const;
    // The document as written into the envelope.
    QByteArray BuildFoldersDocument(const QReadLockerExt2 &token) const;
    static QByteArray BuildFoldersDocument(const FoldersSnapshot &snapshot);
    // What a save writes: the saved fields of every folder, without the display order.
    FoldersSnapshot TakeFoldersSnapshot(const QReadLockerExt2 &token) const;
    // The folders file was read (or written, or there was none) by this store; lock-free.
    bool HoldsFoldersFile() const { return foldersFileInHand; }
    // Copies of damaged folders files kept aside, oldest first.
    QStringList KeptDamagedCopies() const;

    static QString JoinTextList(const QStringList &items);
    static QString JoinNumberList(const QList<qint64> &items);
    static QStringList ParseTextList(const QString &text);
    static QList<qint64> ParseNumberList(const QString &text);
    // The where text of a category folder.
    static QString CategoryWhere(qint64 categoryId);

private:
    // Copies of the folders in store order, computed outside the store's lock.
    struct FolderSnapshot
    {
        QList<DisplayFolder *> originals;
        QList<DisplayFolder> copies;
        QString guid;
        bool allRan = true;
    };
    bool ComputeSnapshot(FolderSnapshot &snapshot, IBaseCloseable *canceller);
    void TakeSnapshot(const FolderSnapshot &snapshot, const QWriteLockerExt2 &token);
    // The where text of the folder's query; false when the folder has no query and no books.
    bool MakeFolderWhere(const DisplayFolder &folder, bool includeSearchFolders, QString *where, bool *ok);
    // The filter's conditions; false (and ok false) when its category-name lookup failed.
    bool ResolvedFilterConditions(const DisplayFolder &folder, QStringList *conditions, bool *ok);
    static QStringList BestBooksConditions();
    QStringList NewArrivalsConditions();
    // Closing, or the canceller asks to stop.
    static bool IsStopped(IBaseCloseable *canceller);

    QString BaseFolder() const;
    void ClearFolders();
    // After a fault part of the way through the file.
    void TreatAsPartlyRead();

    // Runs on the writer's thread and holds NativeHelper::_configLocker for writing.
    bool WriteSnapshot(const FoldersSnapshot &snapshot);
    static void WriteMetaElement(QXmlStreamWriter &writer, const QString &guid);
    static void WriteFolderElement(QXmlStreamWriter &writer, const DisplayFolder *folder);
    static void WriteSearchElement(QXmlStreamWriter &writer, const DisplayFolderSearch &search);
    static void WriteUuidElement(QXmlStreamWriter &writer, const QString &name, const QUuid &id);
    static void WriteNumberElement(QXmlStreamWriter &writer, const QString &name, qint64 value);
    static void WriteTextElement(QXmlStreamWriter &writer, const QString &name, const QString &text);
    static void WriteTextListElement(QXmlStreamWriter &writer, const QString &name,
                                     const QStringList &items);
    static void WriteNumberListElement(QXmlStreamWriter &writer, const QString &name,
                                       const QList<qint64> &items);
    void ReadMetaElement(QXmlStreamReader &reader);
    static DisplayFolder *ReadFolderElement(QXmlStreamReader &reader);
    static void ReadSearchElement(QXmlStreamReader &reader, DisplayFolderSearch &search);

    // Where a custom path was given, its folder stands in for the base data folder.
    QString customBaseFolder;
    // The file on disk is one this store read (or wrote, or there is none): only then may it
    // be written over. Set by reads under lock and by the writer's thread.
    std::atomic<bool> foldersFileInHand{false};
    // The file was read only in part: what was read replaces it at the end of the load.
    bool foldersFileNeedsRewrite = false;

public:
    // Last member: it is stopped, writing what it still holds, before the rest goes.
    FoldersFileWriter foldersWriter;
};
