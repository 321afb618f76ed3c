#pragma once

#include <QString>
#include <QStringList>

// SQL text pieces shared by the catalogue's id queries and the folder conditions.

// Non-empty conditions wrapped in parentheses and joined by the operator (with padded, the
// operator gets a blank on each side).
QString SqlJoinConditions(const QStringList &conditions, const QString &op, bool padded);
// Longest part of any value a read takes (characters of a text, bytes of a blob): one more than a
// book record keeps of a text, so that a cut shows.
extern const int SqlValueMaxLength;
// A column as every read takes it: numbers as they are, a text or blob cut by SQLite to
// SqlValueMaxLength, so that a huge value never reaches the program whole. The catalogue may
// hold any value in any column.
// A column known to hold texts only (text affinity) is simply cut: shorter to prepare.
QString SqlBoundedValue(const QString &column, bool onlyTexts = false);
// The columns, each bounded and named as itself, as one select list ("*" for none); textColumns
// are those with text affinity.
QString SqlBoundedSelectList(const QStringList &columns, const QStringList &textColumns = QStringList());
// "select <UID, bounded> from <table> <where part> <order part>", filled in one call; an
// empty part leaves its blank.
QString MakeSelectUidsText(const QString &table, const QString &where, const QString &orderBy);
