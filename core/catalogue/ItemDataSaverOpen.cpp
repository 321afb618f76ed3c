// Opening a catalogue file, reading its summary and categories, and swapping it in.
#include "catalogue/ItemDataSaver.h"

#include "Const.h"
#include "Helper.h"
#include "catalogue/ItemBook.h"
#include "catalogue/ItemCategory.h"
#include "catalogue/ItemSortKeys.h"
#include "threads/QWriteLockerExt2.h"

#include <QDateTime>
#include <QDebug>
#include <QLocale>
#include <QMutexLocker>
#include <QReadLocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QWriteLocker>

#include <algorithm>

namespace {
const QString CipherDriverName = QStringLiteral("SQLITECIPHER");
const QString ConnectOptions = QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_ENABLE_SHARED_CACHE");
} // namespace

bool ItemDataSaver::LoadDatabase(const QString &filePath)
{
    CategoryHash *oldCategories = nullptr;
    BigCategoryList *oldBigCategories = nullptr;
    BookHash *oldBooks = nullptr;
    ItemSortKeys *oldSortKeys = nullptr;
    DatabaseHolder *oldHolder = nullptr;
    {
        QMutexLocker storeLocker(&storeMutex);

        auto *holder = new DatabaseHolder();
        if (!OpenDatabase(holder, filePath)) {
            delete holder;
            return false;
        }

        // Read the new catalogue before any store lock is taken: readers are not blocked
        // meanwhile. The order keys come along, so no later sort reads the whole book table.
        QString newStatusText;
        QString newGuid;
        qint64 newBookCount = 0;
        ReadLoadRecall(holder, newStatusText, newGuid, newBookCount);
        auto *newCategories = new CategoryHash();
        auto *newBigCategories = new BigCategoryList();
        LoadCategories(holder, *newCategories, *newBigCategories);
        auto *newSortKeys = new ItemSortKeys();
        newSortKeys->Load(holder); // when it fails, orderings read the book records instead

        QWriteLockerExt2 token(&lock);
        oldCategories = categories;
        oldBigCategories = bigCategories;
        oldBooks = books;
        oldSortKeys = sortKeys;
        oldHolder = database;

        currentFilePath = filePath;
        statusText = newStatusText;
        currentGuid = newGuid;
        knownBookCount = newBookCount;
        categories = newCategories;
        bigCategories = newBigCategories;
        books = new BookHash();
        sortKeys = newSortKeys;
        database = holder;
    }

    // Nobody can reach the old catalogue any more: free it outside every store lock, so that
    // neither readers nor the next load wait for a large book cache to be released.
    FreeCatalogue(oldCategories, oldBigCategories, oldBooks, oldSortKeys, oldHolder);
    return true;
}

bool ItemDataSaver::OpenDatabase(DatabaseHolder *holder, const QString &filePath)
{
    if (!holder)
        return false;
    QWriteLocker locker(&holder->lock);

    holder->Register(CipherDriverName);
    QSqlDatabase &db = holder->db;
    db.setDatabaseName(filePath);
    db.setConnectOptions(ConnectOptions);
    // Deciphered immediately before use; the plain password is kept nowhere else.
    db.setPassword(Helper::GetCatalogPassword());
    const bool opened = db.open();
    db.setPassword(QString());
    if (!opened) {
        qDebug().noquote() << QStringLiteral("SQL Error: ") + db.lastError().text();
        holder->Unregister();
        return false;
    }

    const char *const pragmas[] = {
        "PRAGMA temp_store = MEMORY",
        "PRAGMA default_cache_size =1000000",
        "PRAGMA cache_size =1000000",
        "PRAGMA page_size =1000000",
    };
    for (const char *pragma : pragmas) {
        QSqlQuery query(db);
        query.exec(QString::fromLatin1(pragma)); // a failing PRAGMA is ignored
    }

    if (!IsReadableCatalogue(holder)) {
        qDebug().noquote() << QStringLiteral("SQL Error: ") + filePath
                                  + QStringLiteral(" is not a readable catalogue");
        holder->Unregister();
        return false;
    }
    return true;
}

namespace {

// Reads every row of the query; false on any error, a damaged page included.
bool ReadsCleanly(const QSqlDatabase &db, const QString &sql, QStringList *firstColumn = nullptr)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        return false;
    while (query.next()) {
        if (firstColumn)
            firstColumn->append(query.value(0).toString());
    }
    return !query.lastError().isValid();
}

} // namespace

bool ItemDataSaver::IsReadableCatalogue(DatabaseHolder *holder)
{
    // A file can open and still be unreadable (another key, a damaged page, not a database at
    // all). Before it may replace a catalogue, read its schema, the small summary and category
    // tables whole, and the first and last book (the book table's outer pages).
    const QSqlDatabase &db = holder->db;
    QStringList tables;
    if (!ReadsCleanly(db, QStringLiteral("select name from sqlite_master where type='table'"), &tables)
        || !tables.contains(Const::TablePublishedBookInfo))
        return false;
    for (const QString &table : {QStringLiteral("native_loadrecall"), Const::TableRuntimeCatalogInfo}) {
        if (tables.contains(table) && !ReadsCleanly(db, QStringLiteral("select * from %1").arg(table)))
            return false;
    }
    return ReadsCleanly(db, QStringLiteral("select * from %1 order by rowid limit 1")
                                .arg(Const::TablePublishedBookInfo))
           && ReadsCleanly(db, QStringLiteral("select * from %1 order by rowid desc limit 1")
                                   .arg(Const::TablePublishedBookInfo));
}

QVariant ItemDataSaver::QuerySingleValue(DatabaseHolder *holder, const QString &sql)
{
    if (!holder)
        return QVariant();
    QReadLocker locker(&holder->lock);
    if (!holder->db.isOpen())
        return holder->invalidValue;
    QSqlQuery query(holder->db);
    query.setForwardOnly(true);
    if (!query.exec(sql) || !query.next())
        return holder->invalidValue;
    return query.value(0);
}

QVariant ItemDataSaver::GetLoadRecallValue(DatabaseHolder *holder, const QString &name)
{
    return QuerySingleValue(
        holder, QStringLiteral("select pvalue from native_loadrecall where pname='%1'").arg(name));
}

void ItemDataSaver::ReadLoadRecall(DatabaseHolder *holder, QString &statusText,
                                   QString &currentGuid, qint64 &knownBookCount)
{
    currentGuid = GetLoadRecallValue(holder, QStringLiteral("current_guid")).toString();
    const QString freeCount = GetLoadRecallValue(holder, QStringLiteral("free_ebooks_count")).toString();
    knownBookCount = GetLoadRecallValue(holder, QStringLiteral("current_ebooks_count")).toLongLong();
    const QString weekNew = GetLoadRecallValue(holder, QStringLiteral("free_ebooks_week_new")).toString();
    const QString weekRevoked =
        GetLoadRecallValue(holder, QStringLiteral("free_ebooks_week_revoked")).toString();
    const quint32 timeUtc = static_cast<quint32>(
        GetLoadRecallValue(holder, QStringLiteral("current_time_utc")).toLongLong());

    const QString caption = tr("%1 Tessaly").arg(freeCount);

    QString timeSuffix;
    const QDateTime catalogueTime =
        QDateTime::fromSecsSinceEpoch(static_cast<qint64>(timeUtc), Qt::UTC).toLocalTime();
    if (catalogueTime.isValid() && catalogueTime.date().year() >= 2001)
        timeSuffix = QStringLiteral(" ")
                     + QLocale::system().toString(catalogueTime, QLocale::ShortFormat);

    // One arg call: the values come from the catalogue and may hold "%" signs themselves.
    statusText = QStringLiteral("Total %1 (%2 tessaly are new arrivals this week, "
                                "%3 books are no longer free.%4)")
                     .arg(caption, weekNew, weekRevoked, timeSuffix);
}

void ItemDataSaver::LoadCategories(DatabaseHolder *holder, CategoryHash &categories,
                                   BigCategoryList &bigCategories)
{
    if (!holder)
        return;
    const QList<DatabaseRow> rows =
        holder->SelectRows(QStringLiteral("select * from %1").arg(Const::TableRuntimeCatalogInfo));
    for (const DatabaseRow &row : rows) {
        auto *category = new ItemCategory();
        if (!category->LoadFromRecord(row)) {
            delete category;
            continue;
        }
        // A repeated id replaces the earlier record, which is freed here.
        ItemCategory *&slot = categories[category->uid];
        delete slot;
        slot = category;
    }
    // Built from the final records, so a replaced category leaves no entry behind.
    for (const ItemCategory *category : qAsConst(categories)) {
        if (category->bookCount >= 10)
            bigCategories.append(qMakePair(category->uid, category->caption));
    }
    std::sort(bigCategories.begin(), bigCategories.end(),
              [](const QPair<qint64, QString> &a, const QPair<qint64, QString> &b) {
                  return a.second < b.second;
              });
}
