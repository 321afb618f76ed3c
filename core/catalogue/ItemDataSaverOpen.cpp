// Opening a catalogue file, reading its summary and categories, and swapping it in.
#include "catalogue/ItemDataSaver.h"

#include "Const.h"
#include "Helper.h"
#include "catalogue/ItemBook.h"
#include "catalogue/ItemCategory.h"
#include "catalogue/ItemSortKeys.h"
#include "catalogue/SqlText.h"
#include "cipher/SqlCipherInterrupt.h"
#include "threads/NativeHelper.h"
#include "threads/QThreadExtend.h"
#include "threads/QWriteLockerExt2.h"

#include <QDateTime>
#include <QDebug>
#include <QLocale>
#include <QMutexLocker>
#include <QMultiHash>
#include <QReadLocker>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QWriteLocker>

#include <algorithm>
#include <functional>

#ifdef __GLIBC__
#include <malloc.h>
#endif

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
        // When the keys cannot be read, orderings read the book records instead; but a load
        // cut short by a stop is not swapped in.
        if (!newSortKeys->Load(holder) && IsQueryToStop()) {
            FreeCatalogue(newCategories, newBigCategories, nullptr, newSortKeys, holder);
            return false;
        }

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
#ifdef __GLIBC__
    // The old connection's page cache held about the whole file in small blocks: hand the
    // freed memory back, or the process keeps the size of two catalogues for good.
    malloc_trim(0);
#endif
    return true;
}

bool ItemDataSaver::OpenDatabase(DatabaseHolder *holder, const QString &filePath, const QByteArray &password)
{
    if (!holder)
        return false;
    // Queries of a worker that is asked to stop, and every query once the program closes,
    // end at once, whatever the catalogue makes them do.
    SqlCipherInterrupt::SetStopCheck(&IsQueryToStop);
    QWriteLocker locker(&holder->lock);

    holder->Register(CipherDriverName);
    QSqlDatabase &db = holder->db;
    db.setDatabaseName(filePath);
    db.setConnectOptions(ConnectOptions);
    // Deciphered immediately before use; the plain password is kept nowhere else.
    db.setPassword(password.isEmpty() ? Helper::GetCatalogPassword() : QString::fromUtf8(password));
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

    QString problem;
    if (!IsReadableCatalogue(holder, &problem)) {
        qDebug().noquote() << QStringLiteral("SQL Error: ") + filePath
                                  + QStringLiteral(" is not a readable catalogue (%1)").arg(problem);
        holder->Unregister();
        return false;
    }
    QStringList textColumns;
    const QStringList bookColumns = DatabaseHolder::TableColumnsOn(db, Const::TablePublishedBookInfo, &textColumns);
    holder->bookSelect = ItemBook::SelectList(bookColumns, textColumns);
    textColumns.clear();
    const QStringList categoryColumns = DatabaseHolder::TableColumnsOn(db, Const::TableRuntimeCatalogInfo, &textColumns);
    holder->categorySelect = SqlBoundedSelectList(categoryColumns, textColumns);
    return true;
}

namespace {

const QString LoadRecallTable = QStringLiteral("native_loadrecall");
const QStringList LoadRecallNames = {
    QStringLiteral("current_guid"),          QStringLiteral("free_ebooks_count"),
    QStringLiteral("current_ebooks_count"),  QStringLiteral("free_ebooks_week_new"),
    QStringLiteral("free_ebooks_week_revoked"), QStringLiteral("current_time_utc")};

QString LoadRecallSql(const QString &name)
{
    return QStringLiteral("select %1 from native_loadrecall where pname='%2'")
        .arg(SqlBoundedValue(QStringLiteral("pvalue")), name);
}

// Reads every row of the query; false on any error, a damaged page included.
bool ReadsCleanly(const QSqlDatabase &db, const QString &sql,
                  const std::function<void(const QSqlQuery &)> &row = nullptr)
{
    return DatabaseHolder::RunQueryOn(db, sql, [&row](const QSqlQuery &query) {
        if (row)
            row(query);
        return true;
    });
}

// The statement without comments, its blanks folded: what SQLite will parse.
QString PlainStatement(QString sql)
{
    static const QRegularExpression comments(QStringLiteral("/\\*.*?(\\*/|$)|--[^\\n]*"),
                                             QRegularExpression::DotMatchesEverythingOption);
    return sql.replace(comments, QStringLiteral(" ")).simplified();
}

// Only plain tables and indexes: a view, a trigger or a virtual table runs SQL of the file's
// own whenever it is read, which could take for ever.
bool IsPlainObject(const QString &type, const QString &sql)
{
    static const QRegularExpression table(QStringLiteral("^CREATE TABLE\\b"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression index(QStringLiteral("^CREATE (UNIQUE )?INDEX\\b"),
                                          QRegularExpression::CaseInsensitiveOption);
    if (type == QLatin1String("table"))
        return table.match(PlainStatement(sql)).hasMatch();
    // Indexes SQLite makes for keys have no statement.
    return type == QLatin1String("index") && (sql.isEmpty() || index.match(PlainStatement(sql)).hasMatch());
}

} // namespace

bool ItemDataSaver::IsQueryToStop()
{
    if (NativeHelper::IsClosing())
        return true;
    QThreadExtend *worker = QThreadExtend::CurrentWorker();
    return worker && worker->IsCloseRequested();
}

bool ItemDataSaver::IsReadableCatalogue(DatabaseHolder *holder, QString *problem)
{
    // A file can open and still be unreadable (another key, a damaged page or index, not a
    // database at all, SQL of its own). Before it may replace a catalogue: its schema holds
    // plain tables and indexes only, the book table among them; the small summary and category
    // tables read whole; every summary value reads the same by name, as the loader reads it
    // (through the summary's index), as by a full scan; the first and last book read (the book
    // table's outer pages).
    const auto refuse = [problem](const QString &why) {
        if (problem)
            *problem = why;
        return false;
    };
    const QSqlDatabase &db = holder->db;
    QStringList tables;
    bool plain = true;
    if (!ReadsCleanly(db, QStringLiteral("select ") + SqlBoundedSelectList({"type", "name", "sql"})
                              + QStringLiteral(" from sqlite_master"),
                      [&tables, &plain](const QSqlQuery &row) {
                          const QString type = row.value(0).toString();
                          plain = plain && IsPlainObject(type, row.value(2).toString());
                          if (type == QLatin1String("table"))
                              tables.append(row.value(1).toString());
                      }))
        return refuse(QStringLiteral("its schema cannot be read"));
    if (!plain)
        return refuse(QStringLiteral("it holds views, triggers or virtual tables"));
    for (const QString &table : {Const::TablePublishedBookInfo, LoadRecallTable}) {
        if (!tables.contains(table))
            return refuse(QStringLiteral("it has no table %1").arg(table));
    }

    QMultiHash<QString, QVariant> summary;
    if (!ReadsCleanly(db, QStringLiteral("select %1 from native_loadrecall").arg(SqlBoundedSelectList({"pname", "pvalue"})),
                      [&summary](const QSqlQuery &row) {
                          const QString name = row.value(0).toString();
                          if (LoadRecallNames.contains(name))
                              summary.insert(name, row.value(1));
                      }))
        return refuse(QStringLiteral("its summary cannot be read"));
    for (const QString &name : LoadRecallNames) {
        bool found = false;
        QVariant value;
        const bool read = DatabaseHolder::RunQueryOn(db, LoadRecallSql(name), [&](const QSqlQuery &query) {
            found = true;
            value = query.value(0);
            return false;
        });
        // A missing key is no damage: it reads as an empty text or 0.
        if (!read || found != summary.contains(name) || (found && !summary.contains(name, value)))
            return refuse(QStringLiteral("its summary reads differently by name"));
    }

    if (tables.contains(Const::TableRuntimeCatalogInfo)
        && !ReadsCleanly(db, QStringLiteral("select * from %1").arg(Const::TableRuntimeCatalogInfo)))
        return refuse(QStringLiteral("its categories cannot be read"));
    if (!ReadsCleanly(db, QStringLiteral("select * from %1 order by rowid limit 1").arg(Const::TablePublishedBookInfo))
        || !ReadsCleanly(db, QStringLiteral("select * from %1 order by rowid desc limit 1")
                                 .arg(Const::TablePublishedBookInfo)))
        return refuse(QStringLiteral("its books cannot be read"));
    return true;
}

QVariant ItemDataSaver::QuerySingleValue(DatabaseHolder *holder, const QString &sql)
{
    if (!holder)
        return QVariant();
    QVariant value = holder->invalidValue;
    holder->RunQuery(sql, [&value](const QSqlQuery &query) {
        value = query.value(0);
        return false;
    });
    return value;
}

QVariant ItemDataSaver::GetLoadRecallValue(DatabaseHolder *holder, const QString &name)
{
    return QuerySingleValue(holder, LoadRecallSql(name));
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
        holder->SelectRows(QStringLiteral("select %1 from %2").arg(holder->categorySelect, Const::TableRuntimeCatalogInfo));
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
