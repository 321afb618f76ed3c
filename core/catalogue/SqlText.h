#pragma once

#include <QString>
#include <QStringList>

// SQL text pieces shared by the catalogue's id queries and the folder conditions.

// Non-empty conditions wrapped in parentheses and joined by the operator (with padded, the
// operator gets a blank on each side).
QString SqlJoinConditions(const QStringList &conditions, const QString &op, bool padded);
// "select UID from <table> <where part> <order part>", filled in one call; an empty part
// leaves its blank.
QString MakeSelectUidsText(const QString &table, const QString &where, const QString &orderBy);
