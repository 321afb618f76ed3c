#include "folders/FolderBatchQuery.h"

#include "Const.h"
#include "catalogue/DatabaseHolder.h"
#include "catalogue/ItemDataSaver.h"

#include <QHash>
#include <QSqlQuery>
#include <QVector>
#include <QtAlgorithms>

namespace {

// Which results the where bits of each column feed, and which take every row.
struct BitLayout
{
    QList<QList<int>> columns;
    QList<int> everyRow;
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
    // The id text as LIKE reads it: a number as text, and a blob as text unless this SQLite
    // build never lets LIKE match a blob (every token holds a "|").
    const QString idsColumn = layout.byToken.isEmpty()
                                  ? QString()
                                  : QStringLiteral(", case when bookcatalogids like '%|%' then cast(bookcatalogids as text) end");
    // The same order clause as the folder queries, so that SQLite walks the rows the same way
    // and equal keys come out in the same order.
    return QStringLiteral("select UID%1%2 from %3 order by %4").arg(idsColumn, columns, table, orderBy);
}

FolderBatchQuery::Result FolderBatchQuery::Run(ItemDataSaver *items, const QList<Condition> &conditions,
                                               QList<QList<qint64>> *results,
                                               const std::function<bool()> &stopped)
{
    results->clear();
    if (!items || !items->database)
        return Failed;
    const BitLayout layout = Layout(conditions);
    const int firstBitColumn = layout.byToken.isEmpty() ? 1 : 2;
    QVector<QList<qint64>> ids(conditions.size());
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
            const qint64 uid = uidValue.toLongLong();
            for (int owner : layout.everyRow)
                ids[owner].append(uid);
            if (firstBitColumn == 2) {
                QString text = query.value(1).toString();
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
                                ids[owner].append(uid);
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
                        ids[owners.at(bit)].append(uid);
                }
            }
            return true;
        });
    if (wasStopped)
        return Stopped;
    if (!ran)
        return Failed;
    for (const QList<qint64> &list : qAsConst(ids))
        results->append(list);
    return Done;
}
