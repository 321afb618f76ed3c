#pragma once

#include "catalogue/DatabaseHolder.h"
#include "catalogue/ItemBookSortType.h"

#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QReadWriteLock>
#include <QString>
#include <QVariant>

class ItemBook;
class ItemCategory;
class ItemSortKeys;
class QReadLockerExt2;
class QWriteLockerExt2;

// The catalogue store: the open catalogue connection, the book cache by id, the categories
// and the catalogue summary. Embedded in the folder store; read from the GUI thread and the
// catalogue workers, everything runs in the caller's thread.
//
// Locking: every field from currentFilePath down is guarded by `lock`. Operations that take a
// token expect the caller to hold `lock` already (a write token wherever the book cache may
// change); `lock` is not recursive, so the operations that lock by themselves (GetCurrentGuid,
// LoadDatabase) must be called without it. Lock order: storeMutex, then lock, then the
// holder's lock.
class ItemDataSaver
{
    Q_DECLARE_TR_FUNCTIONS(ItemDataSaver)

public:
    using CategoryHash = QHash<qint64, ItemCategory *>;
    using BigCategoryList = QList<QPair<qint64, QString>>;
    using BookHash = QHash<qint64, ItemBook *>;

    ItemDataSaver();
    ~ItemDataSaver();

    ItemDataSaver(const ItemDataSaver &) = delete;
    ItemDataSaver &operator=(const ItemDataSaver &) = delete;

    // --- Books ---

    // The cached record for uid, loaded and cached on a miss; null when the catalogue has no
    // valid book with that id (remembered, so a miss is queried once per catalogue).
    // The pointer stays valid while the caller holds `lock`. A read token is enough: the cache
    // has a mutex of its own, so that page loads never wait for a long reader of the catalogue
    // (a folder computation).
    ItemBook *GetBook(qint64 uid, const QReadLockerExt2 &token);
    // A new record for one id read through the given connection, or null; the cache is untouched.
    static ItemBook *LoadBook(DatabaseHolder *holder, qint64 uid);
    // Fills the cache with every valid book, unless it already holds knownBookCount entries.
    void LoadAllBooks(const QWriteLockerExt2 &token);
    // The guid of the open catalogue; takes a read token itself (do not hold `lock`).
    QString GetCurrentGuid();

    // --- Orderings ---

    // Clears sortedIds, then fills it with bookIds in the requested order. Type 0 copies the ids
    // as they are; every other type resolves them (through sortKeys when it was read, else
    // through GetBook) and drops ids without a book. Random order uses the process-wide
    // QRandomGenerator.
    void SortBookIds(ItemBookSortType sortType, bool ascending, const QList<qint64> *bookIds,
                     QList<qint64> &sortedIds, const QReadLockerExt2 &token);

    // --- Opening a catalogue ---

    // Opens the file and swaps it in as the catalogue (books cache emptied). False when it cannot
    // be opened or is not a readable catalogue; the store is then unchanged and keeps answering
    // from the previous catalogue. Takes storeMutex and then `lock` itself.
    bool LoadDatabase(const QString &filePath);
    // Opens the holder's connection read-only through the cipher driver, tunes it and checks
    // that the file is a readable catalogue (plain tables only, the book table, a summary that
    // reads alike by name and by a full scan; missing summary keys are fine). On failure the
    // holder is left unregistered and closed, and the reason is on the debug stream after
    // "SQL Error: ". An empty password stands for the program's catalogue password.
    static bool OpenDatabase(DatabaseHolder *holder, const QString &filePath,
                             const QByteArray &password = QByteArray());
    // Reads the catalogue summary from "native_loadrecall".
    static void ReadLoadRecall(DatabaseHolder *holder, QString &statusText, QString &currentGuid,
                               qint64 &knownBookCount);
    // The "pvalue" of the "native_loadrecall" row named `name`, or an invalid value.
    static QVariant GetLoadRecallValue(DatabaseHolder *holder, const QString &name);
    // First column of the first row, or an invalid value.
    static QVariant QuerySingleValue(DatabaseHolder *holder, const QString &sql);
    // Reads "runtime_cataloginfo": every valid category by id, and the (id, caption) pairs of
    // those with 10 or more books, ordered by caption.
    static void LoadCategories(DatabaseHolder *holder, CategoryHash &categories,
                               BigCategoryList &bigCategories);

    // --- Id queries (the caller holds `lock`) ---

    // "select UID from <table> where <where> order by <orderBy>" on the open connection;
    // empty parts are left out. A query that cannot run (nothing open, an SQL error) is logged
    // with "SQL Error: ", gives no ids and turns *ok false (when given).
    QList<qint64> SelectUids(const QString &table, const QString &where, const QString &orderBy,
                             bool *ok = nullptr);
    // Book ids matching `where` (may be empty), in the order of `orderBy`.
    QList<qint64> QueryBookIds(const QString &where, bool *ok = nullptr);
    // The where text of book ids meeting every condition: the conditions joined with "and".
    static QString ConditionsWhere(const QStringList &conditions);
    // Book ids meeting every condition (QueryBookIds of their ConditionsWhere).
    QList<qint64> QueryBookIdsByConditions(const QStringList &conditions, bool *ok = nullptr);
    // Category ids matching `where` (may be empty).
    QList<qint64> QueryCategoryIds(const QString &where, bool *ok = nullptr);

    // The SQL order of id queries.
    QString orderBy;
    // Serialises catalogue loads.
    QMutex storeMutex;
    // Guards every field below.
    QReadWriteLock lock;
    QString currentFilePath;
    // The open connection; never null (an unopened holder before the first load).
    DatabaseHolder *database;
    // Never null. Owned records.
    CategoryHash *categories;
    // Never null.
    BigCategoryList *bigCategories;
    // The book cache; never null. A null value records that the id has no valid book.
    // Holders of a read token change it only under cacheMutex.
    BookHash *books;
    QMutex cacheMutex;
    // The catalogue summary shown in the status bar.
    QString statusText;
    QString currentGuid;
    // The catalogue's book count ("current_ebooks_count").
    qint64 knownBookCount = 0;
    // The order keys of every book, read with the catalogue; never null.
    ItemSortKeys *sortKeys;

    // Whether a catalogue query on the calling thread is to end now (the program closes, or
    // the thread's worker is asked to stop): the one reason the driver cuts a query short.
    static bool IsQueryToStop();

private:
    static bool IsReadableCatalogue(DatabaseHolder *holder, QString *problem);
    // Frees a catalogue's records and its connection; books may be null (none loaded yet).
    static void FreeCatalogue(CategoryHash *categories, BigCategoryList *bigCategories, BookHash *books,
                              ItemSortKeys *sortKeys, DatabaseHolder *holder);
};
