#include "catalogue/SqlText.h"

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
    return QStringLiteral("select UID from %1 %2 %3").arg(table, wherePart, orderPart);
}
