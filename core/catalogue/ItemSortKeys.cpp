#include "catalogue/ItemSortKeys.h"

#include "Const.h"
#include "catalogue/DatabaseHolder.h"
#include "catalogue/ItemBook.h"
#include "catalogue/SqlText.h"

#include <QReadLocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <algorithm>

namespace {

// Columns in the order the loop reads them. The name only needs to be tested for emptiness:
// its first character says as much as the whole text.
const char *const kColumns[] = {"UID", "BookName", "BookPages", "BookSize", "FirstPubTimeGMT",
                                "BookDate", "OrgPrice", "BookStars"};

} // namespace

bool ItemSortKeys::Load(DatabaseHolder *holder)
{
    Clear();
    if (!holder)
        return false;
    QReadLocker locker(&holder->lock);
    if (!holder->db.isOpen())
        return false;

    // A column the table lacks reads as NULL, as it would from a record.
    const QStringList columns = DatabaseHolder::TableColumnsOn(holder->db, Const::TablePublishedBookInfo);
    if (columns.isEmpty())
        return false;
    QStringList select;
    for (const char *column : kColumns) {
        const QString name = QString::fromLatin1(column);
        if (!columns.contains(name, Qt::CaseInsensitive))
            select.append(QStringLiteral("NULL"));
        else if (name == QLatin1String("BookName"))
            select.append(QStringLiteral("substr(\"BookName\", 1, 1)"));
        else
            select.append(SqlBoundedValue(name));
    }

    // The scan touches every page of the table: a small page cache meanwhile keeps it from
    // holding a second copy of the file next to the catalogue still in use.
    QSqlQuery pragma(holder->db);
    pragma.exec(QStringLiteral("PRAGMA cache_size"));
    const QVariant cacheSize = pragma.next() ? pragma.value(0) : QVariant();
    pragma.finish();
    pragma.exec(QStringLiteral("PRAGMA cache_size = 2000"));
    const bool read = ReadRows(holder, select);
    if (cacheSize.isValid())
        pragma.exec(QStringLiteral("PRAGMA cache_size = %1").arg(cacheSize.toLongLong()));
    return read;
}

bool ItemSortKeys::ReadRows(DatabaseHolder *holder, const QStringList &select)
{
    // Rows without a valid book stay in until duplicates are resolved: the first row of an id
    // decides, as a lookup by id would.
    struct Row
    {
        Entry entry;
        bool valid;
    };
    QVector<Row> rows;
    const QString sql = QStringLiteral("select %1 from %2 order by rowid")
                            .arg(select.join(QLatin1Char(',')), Const::TablePublishedBookInfo);
    const bool read = DatabaseHolder::RunQueryOn(holder->db, sql, [&rows](const QSqlQuery &query) {
        Row row;
        row.entry.uid = query.value(0).toLongLong();
        row.valid = ItemBook::IsValidBook(row.entry.uid, query.value(1).toString());
        row.entry.pages = query.value(2).toLongLong();
        row.entry.size = query.value(3).toLongLong();
        row.entry.firstPubSecs = quint32(ItemBook::CatalogueSeconds(query.value(4)));
        row.entry.bookDateSecs = quint32(ItemBook::CatalogueSeconds(query.value(5)));
        row.entry.orgPrice = query.value(6).toFloat();
        row.entry.stars = query.value(7).toFloat();
        rows.append(row);
        return true;
    });
    if (!read)
        return false;

    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row &a, const Row &b) { return a.entry.uid < b.entry.uid; });
    const auto keeps = [&rows](int i) {
        return rows.at(i).valid && (i == 0 || rows.at(i - 1).entry.uid != rows.at(i).entry.uid);
    };
    int kept = 0;
    for (int i = 0; i < rows.size(); ++i)
        kept += keeps(i) ? 1 : 0;
    entries.reserve(kept);
    for (int i = 0; i < rows.size(); ++i) {
        if (keeps(i))
            entries.append(rows.at(i).entry);
    }
    if (!entries.isEmpty()) {
        const qint64 span = entries.last().uid - entries.first().uid + 1;
        if (span <= qint64(entries.size()) * 4 + 1024) {
            firstUid = entries.first().uid;
            denseIndex.fill(-1, int(span));
            for (int i = 0; i < entries.size(); ++i)
                denseIndex[int(entries.at(i).uid - firstUid)] = i;
        }
    }
    loaded = true;
    return true;
}

const ItemSortKeys::Entry *ItemSortKeys::Find(qint64 uid) const
{
    if (!denseIndex.isEmpty()) {
        const qint64 offset = uid - firstUid;
        if (offset < 0 || offset >= denseIndex.size())
            return nullptr;
        const qint32 index = denseIndex.at(int(offset));
        return index < 0 ? nullptr : &entries.at(index);
    }
    const auto found = std::lower_bound(entries.cbegin(), entries.cend(), uid,
                                        [](const Entry &entry, qint64 id) { return entry.uid < id; });
    return found != entries.cend() && found->uid == uid ? &*found : nullptr;
}

void ItemSortKeys::Clear()
{
    entries.clear();
    entries.squeeze();
    denseIndex.clear();
    denseIndex.squeeze();
    firstUid = 0;
    loaded = false;
}
