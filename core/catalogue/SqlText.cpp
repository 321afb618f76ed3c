#include "catalogue/SqlText.h"

#include "catalogue/ItemBook.h"

const int SqlValueMaxLength = ItemBook::MaxTextLength + 1;

namespace {
QString Quoted(QString column)
{
    column.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + column + QLatin1Char('"');
}
} // namespace

QString SqlBoundedValue(const QString &column, bool onlyTexts)
{
    if (onlyTexts)
        return QStringLiteral("substr(%1, 1, %2)").arg(Quoted(column), QString::number(SqlValueMaxLength));
    // SQLite orders every number below every text and blob, and compares a column with a text
    // constant without a function call: numbers (and NULL) stay as they are, a text is cut by
    // characters, a blob by bytes.
    return QStringLiteral("(case when %1 >= '' then substr(%1, 1, %2) else %1 end)")
        .arg(Quoted(column), QString::number(SqlValueMaxLength));
}

QString SqlBoundedSelectList(const QStringList &columns, const QStringList &textColumns)
{
    QStringList select;
    for (const QString &column : columns)
        select.append(SqlBoundedValue(column, textColumns.contains(column)) + QStringLiteral(" as ") + Quoted(column));
    return select.isEmpty() ? QStringLiteral("*") : select.join(QStringLiteral(", "));
}

QString SqlJoinConditions(const QStringList &conditions, const QString &op, bool padded)
{
    QString glue = op;
    if (padded) {
        if (!glue.startsWith(QLatin1Char(' ')))
            glue.prepend(QLatin1Char(' '));
        if (!glue.endsWith(QLatin1Char(' ')))
            glue.append(QLatin1Char(' '));
    }
    QString joined;
    bool first = true;
    for (const QString &condition : conditions) {
        if (condition.isEmpty())
            continue;
        if (!first)
            joined += glue;
        joined += QLatin1Char('(') + condition + QLatin1Char(')');
        first = false;
    }
    return joined;
}

QString MakeSelectUidsText(const QString &table, const QString &where, const QString &orderBy)
{
    const QString wherePart = where.isEmpty() ? QString() : QStringLiteral("where ") + where;
    const QString orderPart = orderBy.isEmpty() ? QString() : QStringLiteral("order by ") + orderBy;
    return QStringLiteral("select %1 from %2 %3 %4").arg(SqlBoundedValue(QStringLiteral("UID")), table, wherePart, orderPart);
}
