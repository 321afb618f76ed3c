#include "folders/FolderBatchQuery.h"

#include "Const.h"
#include "catalogue/DatabaseHolder.h"
#include "catalogue/ItemDataSaver.h"
#include "catalogue/SqlText.h"

#include <QHash>
#include <QMetaType>
#include <QSqlQuery>
#include <QVector>
#include <QtAlgorithms>

#include <algorithm>
#include <cstring>

namespace {

// Which results the where bits of each column feed, and which take every row.
struct BitLayout
{
    QList<QList<int>> columns;
    QVector<int> everyRow;
    QHash<QString, QList<int>> byToken;
};

BitLayout Layout(const QList<FolderBatchQuery::Condition> &conditions)
{
    BitLayout layout;
    for (int i = 0; i < conditions.size(); ++i) {
        const FolderBatchQuery::Condition &condition = conditions.at(i);
        if (!condition.categoryToken.isEmpty()) {
            layout.byToken[condition.categoryToken] << i;
        } else if (condition.where.isEmpty()) {
            layout.everyRow << i;
        } else {
            if (layout.columns.isEmpty() || layout.columns.last().size() == FolderBatchQuery::BitsPerColumn)
                layout.columns.append(QList<int>());
            layout.columns.last() << i;
        }
    }
    return layout;
}

} // namespace

// The folder queries' order, which SQLite gives by walking the index of the publication time
// backwards: keys descending, equal keys by row id descending. Reading the table in row order
// and sorting here costs a fraction of that walk, which fetches every row by its id.
const QString FolderBatchQuery::IndexOrder = QStringLiteral("FirstPubTimeGMT DESC");

namespace {

// A value as SQLite orders it: null, then numbers (integers and reals by value), then texts
// (by their UTF-8 bytes), then blobs (by their bytes).
struct OrderKey
{
    int rank = 0;
    bool isInteger = true;
    qint64 integer = 0;
    double real = 0;
    QByteArray bytes;
};

OrderKey MakeKey(const QVariant &value)
{
    OrderKey key;
    if (value.isNull())
        return key;
    switch (value.userType()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
        key.rank = 1;
        key.integer = value.toLongLong();
        break;
    case QMetaType::Double:
        key.rank = 1;
        key.isInteger = false;
        key.real = value.toDouble();
        break;
    case QMetaType::QByteArray:
        key.rank = 3;
        key.bytes = value.toByteArray();
        break;
    default:
        key.rank = 2;
        key.bytes = value.toString().toUtf8();
        break;
    }
    return key;
}

int Sign(bool less, bool greater)
{
    return less ? -1 : (greater ? 1 : 0);
}

int CompareIntegerReal(qint64 i, double r)
{
    if (r < -9223372036854775808.0)
        return 1;
    if (r >= 9223372036854775808.0)
        return -1;
    const qint64 y = qint64(r);
    if (i != y)
        return Sign(i < y, i > y);
    const double s = double(i);
    return Sign(s < r, s > r);
}

int CompareKeys(const OrderKey &a, const OrderKey &b)
{
    if (a.rank != b.rank)
        return Sign(a.rank < b.rank, a.rank > b.rank);
    if (a.rank == 0)
        return 0;
    if (a.rank == 1) {
        if (a.isInteger && b.isInteger)
            return Sign(a.integer < b.integer, a.integer > b.integer);
        if (!a.isInteger && !b.isInteger)
            return Sign(a.real < b.real, a.real > b.real);
        return a.isInteger ? CompareIntegerReal(a.integer, b.real) : -CompareIntegerReal(b.integer, a.real);
    }
    const int common = qMin(a.bytes.size(), b.bytes.size());
    const int bytes = common > 0 ? std::memcmp(a.bytes.constData(), b.bytes.constData(), size_t(common)) : 0;
    if (bytes != 0)
        return bytes < 0 ? -1 : 1;
    return Sign(a.bytes.size() < b.bytes.size(), a.bytes.size() > b.bytes.size());
}

// One book of the pass: its id, its place in the order, and which results it feeds.
struct BatchRow
{
    qint64 uid;
    qint64 rowId;
    OrderKey key;
    int firstMember;
    int endMember;
};

} // namespace

QString FolderBatchQuery::MakeText(const QString &table, const QList<Condition> &conditions, const QString &orderBy)
{
    const BitLayout layout = Layout(conditions);
    QString columns;
    for (const QList<int> &column : layout.columns) {
        QStringList bits;
        for (int bit = 0; bit < column.size(); ++bit) {
            // CASE WHEN tests a value exactly as WHERE does (null and zero are false).
            bits << QStringLiteral("(case when (%1) then %2 else 0 end)")
                        .arg(conditions.at(column.at(bit)).where, QString::number(qint64(1) << bit));
        }
        columns += QStringLiteral(", ") + bits.join(QStringLiteral(" | "));
    }
    // Every value bounded, as every read takes it. The id text as the category test's LIKE reads
    // it: a number as text, and a blob as text unless this SQLite build never lets LIKE match a
    // blob (every token holds a "|"). The test for a "|" may read the whole value: a "|" only
    // past the part that is read leaves no token in that part either.
    const QString uid = SqlBoundedValue(QStringLiteral("UID"));
    const QString idsColumn =
        layout.byToken.isEmpty()
            ? QString()
            : QStringLiteral(", case when bookcatalogids like '%|%' then cast(%1 as text) end")
                  .arg(SqlBoundedValue(QStringLiteral("bookcatalogids")));
    if (orderBy == IndexOrder)
        return QStringLiteral("select %1, %2, rowid%3%4 from %5")
            .arg(uid, SqlBoundedValue(QStringLiteral("FirstPubTimeGMT")), idsColumn, columns, table);
    // Any other order: the same clause as the folder queries, so that SQLite walks the rows the
    // same way and equal keys come out in the same order.
    return QStringLiteral("select %1%2%3 from %4 order by %5").arg(uid, idsColumn, columns, table, orderBy);
}

FolderBatchQuery::Result FolderBatchQuery::Run(ItemDataSaver *items, const QList<Condition> &conditions,
                                               QList<QList<qint64>> *results,
                                               const std::function<bool()> &stopped)
{
    results->clear();
    if (!items || !items->database)
        return Failed;
    const BitLayout layout = Layout(conditions);
    const bool sortHere = items->orderBy == IndexOrder;
    const int idsColumn = sortHere ? 3 : 1;
    const int firstBitColumn = idsColumn + (layout.byToken.isEmpty() ? 0 : 1);
    QVector<BatchRow> rows;
    // The results each row feeds, row after row.
    QVector<int> members;
    // The row that last fed each result: a token found twice in one row counts once.
    QVector<int> lastRow(conditions.size(), -1);
    bool wasStopped = false;
    int row = 0;
    const bool ran = items->database->RunQuery(
        MakeText(Const::TablePublishedBookInfo, conditions, items->orderBy), [&](const QSqlQuery &query) {
            if (++row % RowsPerStopCheck == 0 && stopped()) {
                wasStopped = true;
                return false;
            }
            const QVariant uidValue = query.value(0);
            // The folder queries leave null ids out.
            if (uidValue.isNull())
                return true;
            BatchRow batchRow;
            batchRow.uid = uidValue.toLongLong();
            batchRow.rowId = sortHere ? query.value(2).toLongLong() : 0;
            if (sortHere)
                batchRow.key = MakeKey(query.value(1));
            batchRow.firstMember = members.size();
            members += layout.everyRow;
            if (!layout.byToken.isEmpty()) {
                QString text = query.value(idsColumn).toString();
                // LIKE reads the text up to its first zero character.
                const int end = text.indexOf(QChar(0));
                if (end >= 0)
                    text.truncate(end);
                // "|12|" occurs exactly where a part between two "|" reads "12".
                int from = text.indexOf(QLatin1Char('|'));
                while (from >= 0) {
                    const int to = text.indexOf(QLatin1Char('|'), from + 1);
                    if (to < 0)
                        break;
                    const auto found = layout.byToken.constFind(text.mid(from, to - from + 1));
                    if (found != layout.byToken.constEnd()) {
                        for (int owner : found.value()) {
                            if (lastRow[owner] != row) {
                                lastRow[owner] = row;
                                members.append(owner);
                            }
                        }
                    }
                    from = to;
                }
            }
            for (int column = 0; column < layout.columns.size(); ++column) {
                quint64 mask = quint64(query.value(firstBitColumn + column).toLongLong());
                const QList<int> &owners = layout.columns.at(column);
                while (mask != 0) {
                    const int bit = int(qCountTrailingZeroBits(mask));
                    mask &= mask - 1;
                    if (bit < owners.size())
                        members.append(owners.at(bit));
                }
            }
            batchRow.endMember = members.size();
            // A book no result takes is neither kept nor sorted.
            if (batchRow.endMember > batchRow.firstMember)
                rows.append(batchRow);
            return true;
        });
    // A query cut short by a stop is no failure: running the folders one by one would only
    // repeat the work that the stop ends.
    if (wasStopped || (!ran && stopped()))
        return Stopped;
    if (!ran)
        return Failed;
    if (sortHere) {
        std::sort(rows.begin(), rows.end(), [](const BatchRow &a, const BatchRow &b) {
            const int order = CompareKeys(a.key, b.key);
            return order != 0 ? order > 0 : a.rowId > b.rowId;
        });
    }
    QVector<QList<qint64>> ids(conditions.size());
    for (const BatchRow &batchRow : qAsConst(rows)) {
        for (int i = batchRow.firstMember; i < batchRow.endMember; ++i)
            ids[members.at(i)].append(batchRow.uid);
    }
    for (const QList<qint64> &list : qAsConst(ids))
        results->append(list);
    return Done;
}
