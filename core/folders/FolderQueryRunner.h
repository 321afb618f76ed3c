#pragma once

#include <QList>
#include <QString>

class ItemDataSaver;

// Runs the folder id queries on the catalogue store's connection. Unlike an empty result, a
// query that cannot run (no open catalogue, an SQL error) is logged with "SQL Error: " and
// reported through ok, so that a computation never records wrong zero counts as current.
namespace FolderQueryRunner {

// "select UID from <table> where <where> order by <orderBy>"; the caller holds the catalogue
// store's lock.
QList<qint64> SelectUids(ItemDataSaver *items, const QString &table, const QString &where,
                         const QString &orderBy, bool *ok);

} // namespace FolderQueryRunner
