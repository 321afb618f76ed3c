#include "folders/FolderQuery.h"

#include "folders/FilterRangeCode.h"

QString SqlEscapeQuotes(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\''), QStringLiteral("''"));
    return escaped;
}

QString SqlLiteral(const QVariant &value)
{
    if (value.type() == QVariant::String)
        return QLatin1Char('\'') + SqlEscapeQuotes(value.toString()) + QLatin1Char('\'');
    return value.toString();
}

QString SqlLikeCondition(const QString &column, const QString &keyword)
{
    if (keyword.isEmpty())
        return QString();
    return QStringLiteral("%1 like '%%2%'").arg(column, SqlEscapeQuotes(keyword));
}

QString SqlKeywordCondition(const QString &column, const QStringList &keywords)
{
    QStringList conditions;
    conditions.reserve(keywords.size());
    for (const QString &keyword : keywords)
        conditions.append(SqlLikeCondition(column, keyword));
    return SqlJoinConditions(conditions, QStringLiteral("or"), true);
}

QString SqlGreaterCondition(const QString &column, const QVariant &value)
{
    return column + QLatin1Char('>') + SqlLiteral(value);
}

QString SqlGreaterEqualCondition(const QString &column, const QVariant &value)
{
    return column + QStringLiteral(">=") + SqlLiteral(value);
}

QString SqlEqualCondition(const QString &column, const QVariant &value)
{
    return column + QStringLiteral("==") + SqlLiteral(value);
}

QString SqlBetweenCondition(const QString &column, const QVariant &low, const QVariant &high)
{
    return QStringLiteral("%1>%2 and %1<=%3").arg(column, SqlLiteral(low), SqlLiteral(high));
}

QString SqlRangeCondition(const QList<qint64> &codes)
{
    QStringList conditions;
    conditions.reserve(codes.size());
    for (qint64 code : codes)
        conditions.append(FilterRangeCode::Condition(code));
    return SqlJoinConditions(conditions, QStringLiteral("or"), true);
}

QString MakeCategoryToken(qint64 id)
{
    return QLatin1Char('|') + QString::number(id) + QLatin1Char('|');
}

QStringList MakeIdStrings(const QList<qint64> &ids, bool asTokens)
{
    QStringList strings;
    strings.reserve(ids.size());
    for (qint64 id : ids)
        strings.append(asTokens ? MakeCategoryToken(id) : QString::number(id));
    return strings;
}
