#pragma once

#include "catalogue/SqlText.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// SQL text builders for the folder queries. Keywords are matched with LIKE, so "%" and "_"
// inside a keyword act as wildcards; single quotes are doubled. Every text with more than one
// placeholder is filled in one call, so a substituted value that looks like "%1" stays literal.

// Every "'" doubled.
QString SqlEscapeQuotes(const QString &text);
// A string as a quoted literal; any other value as its toString() (4.8 gives "4.8").
QString SqlLiteral(const QVariant &value);
// column like '%keyword%'; empty for an empty keyword.
QString SqlLikeCondition(const QString &column, const QString &keyword);
// The like condition of each keyword, joined with "or".
QString SqlKeywordCondition(const QString &column, const QStringList &keywords);
QString SqlGreaterCondition(const QString &column, const QVariant &value);
QString SqlGreaterEqualCondition(const QString &column, const QVariant &value);
QString SqlEqualCondition(const QString &column, const QVariant &value);
// column>low and column<=high
QString SqlBetweenCondition(const QString &column, const QVariant &low, const QVariant &high);
// The condition of each known range code, joined with "or"; unknown codes add nothing.
QString SqlRangeCondition(const QList<qint64> &codes);
// "|id|": how a book's category ids are stored.
QString MakeCategoryToken(qint64 id);
QStringList MakeIdStrings(const QList<qint64> &ids, bool asTokens);
