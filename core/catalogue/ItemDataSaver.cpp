#include "catalogue/ItemDataSaver.h"

#include "Const.h"
#include "catalogue/ItemBook.h"
#include "catalogue/ItemBookLoadCache.h"
#include "catalogue/ItemCategory.h"
#include "catalogue/ItemSortKeys.h"
#include "catalogue/SqlText.h"
#include "threads/QReadLockerExt2.h"
#include "threads/QWriteLockerExt2.h"

#include <QMutexLocker>

#include <QDebug>

ItemDataSaver::ItemDataSaver()
    : orderBy(QStringLiteral("FirstPubTimeGMT DESC")),
      database(new DatabaseHolder()),
      categories(new CategoryHash()),
      bigCategories(new BigCategoryList()),
      books(new BookHash()),
      sortKeys(new ItemSortKeys())
{
}

ItemDataSaver::~ItemDataSaver()
{
    FreeCatalogue(categories, bigCategories, books, sortKeys, database);
}

void ItemDataSaver::FreeCatalogue(CategoryHash *categories, BigCategoryList *bigCategories,
                                  BookHash *books, ItemSortKeys *sortKeys, DatabaseHolder *holder)
{
    delete sortKeys;
    qDeleteAll(*categories);
    delete categories;
    delete bigCategories;
    if (books)
        qDeleteAll(*books); // null entries are fine for delete
    delete books;
    delete holder;
}

ItemBook *ItemDataSaver::LoadBook(DatabaseHolder *holder, qint64 uid)
{
    if (!holder)
        return nullptr;
    const QList<DatabaseRow> rows = holder->SelectRows(
        QStringLiteral("select %1 from %2 where uid=%3")
            .arg(holder->bookSelect, Const::TablePublishedBookInfo, QString::number(uid)));
    if (rows.isEmpty())
        return nullptr;
    auto *book = new ItemBook();
    if (!book->LoadFromRecord(rows.first())) {
        delete book;
        return nullptr;
    }
    return book;
}

ItemBook *ItemDataSaver::GetBook(qint64 uid, const QReadLockerExt2 &token)
{
    token.CheckLock(&lock);
    QMutexLocker cacheLocker(&cacheMutex);
    const auto found = books->constFind(uid);
    if (found != books->constEnd())
        return found.value();
    ItemBook *book = LoadBook(database, uid);
    books->insert(uid, book);
    return book;
}

void ItemDataSaver::LoadAllBooks(const QWriteLockerExt2 &token)
{
    token.CheckLock(&lock);
    if (knownBookCount <= books->size())
        return;
    // Rows are turned into records one at a time: a whole table of row maps would cost
    // several times the memory of the records themselves.
    BookHash &cache = *books;
    // The count comes from the file: bound the reservation against a damaged value.
    cache.reserve(static_cast<int>(qMin<qint64>(knownBookCount, 1 << 20)));
    const QString uidColumn = QStringLiteral("UID");
    ItemBookLoadCache shared;
    database->VisitRows(QStringLiteral("select %1 from %2").arg(database->bookSelect, Const::TablePublishedBookInfo),
                        [&cache, &uidColumn, &shared](const DatabaseRow &row) {
                            const qint64 uid = row.value(uidColumn).toLongLong();
                            if (cache.contains(uid))
                                return;
                            auto *book = new ItemBook();
                            if (book->LoadFromRecord(row, shared))
                                cache.insert(uid, book);
                            else
                                delete book;
                        });
}

QString ItemDataSaver::GetCurrentGuid()
{
    QReadLockerExt2 token(0, &lock);
    return currentGuid;
}

QList<qint64> ItemDataSaver::SelectUids(const QString &table, const QString &where,
                                        const QString &orderByText, bool *ok)
{
    QList<qint64> ids;
    QString error;
    QList<QVariant> values;
    if (database)
        values = database->SelectValues(MakeSelectUidsText(table, where, orderByText), true, true, &error);
    else
        error = QStringLiteral("no catalogue");
    if (!error.isEmpty()) {
        qDebug().noquote() << QStringLiteral("SQL Error: ") + error;
        if (ok)
            *ok = false;
        return ids;
    }
    ids.reserve(values.size());
    for (const QVariant &value : values)
        ids.append(value.toLongLong());
    return ids;
}

QList<qint64> ItemDataSaver::QueryBookIds(const QString &where, bool *ok)
{
    return SelectUids(Const::TablePublishedBookInfo, where, orderBy, ok);
}

QString ItemDataSaver::ConditionsWhere(const QStringList &conditions)
{
    return SqlJoinConditions(conditions, QStringLiteral("and"), true);
}

QList<qint64> ItemDataSaver::QueryBookIdsByConditions(const QStringList &conditions, bool *ok)
{
    return QueryBookIds(ConditionsWhere(conditions), ok);
}

QList<qint64> ItemDataSaver::QueryCategoryIds(const QString &where, bool *ok)
{
    return SelectUids(Const::TableRuntimeCatalogInfo, where, QString(), ok);
}
