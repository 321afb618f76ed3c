#pragma once

#include "catalogue/DatabaseRow.h"

#include <QHash>
#include <QList>
#include <QReadWriteLock>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

class QSqlQuery;

// One catalogue connection with its lock. Created on the heap by the catalogue store,
// which holds one at a time.
//
// Every holder registers its connection under a name of its own ("DEFAULT_DB_CONN"
// followed by a serial number): Qt drops an existing connection when a name is
// registered again, and the previous catalogue must stay usable while the next one opens.
// The destructor closes the connection and removes its registration.
//
// Lock order: the catalogue store's lock before this holder's lock.
class DatabaseHolder
{
public:
    DatabaseHolder();
    ~DatabaseHolder();

    DatabaseHolder(const DatabaseHolder &) = delete;
    DatabaseHolder &operator=(const DatabaseHolder &) = delete;

    // Runs one query under the read lock; every result row as a map from column name to value,
    // in database order. Empty when the connection is closed, the query fails or has no columns.
    QList<DatabaseRow> SelectRows(const QString &sql);

    // Runs one query under the read lock; row by row the first column's value (or every
    // column's value), leaving out null values when skipNulls is set. Empty when closed or
    // failed; the reason (never empty) then goes to *error (when given).
    QList<QVariant> SelectValues(const QString &sql, bool firstColumnOnly, bool skipNulls,
                                 QString *error = nullptr);

    // Runs sql as one forward-only query under the read lock and hands the query, positioned
    // on each result row in turn, to `row` until it returns false. False, with the reason (never
    // empty) in *error (when given), when the connection is closed or the query fails, also part way.
    bool RunQuery(const QString &sql, const std::function<bool(const QSqlQuery &)> &row,
                  QString *error = nullptr);
    // The same on a connection whose holder's lock the caller holds already (while opening).
    static bool RunQueryOn(const QSqlDatabase &db, const QString &sql,
                           const std::function<bool(const QSqlQuery &)> &row, QString *error = nullptr);

    // The column names of a table, in order; empty when it cannot be read. With textColumns,
    // also those whose declared type gives them text affinity (they hold texts, blobs and NULL
    // only). For a connection whose holder's lock the caller holds.
    static QStringList TableColumnsOn(const QSqlDatabase &db, const QString &table,
                                      QStringList *textColumns = nullptr);

    // Like SelectRows, but hands each row to the visitor instead of keeping them all
    // (large tables). Returns false when the connection is closed or the query fails.
    bool VisitRows(const QString &sql, const std::function<void(const DatabaseRow &)> &visitor);

    // Registers a connection with the given driver under connectionName and stores it in db.
    // The caller holds lock for writing.
    void Register(const QString &driverName);
    // Closes the connection and removes its registration. The caller holds lock for writing.
    void Unregister();

    // The base of every connection name; each holder appends its own serial number.
    static const QString ConnectionNameBase;

    QString connectionName;
    // The value returned when a query yields nothing.
    const QVariant invalidValue;
    // Held for writing while the connection is opened, for reading by every query.
    QReadWriteLock lock;
    // Invalid and closed in a new holder.
    QSqlDatabase db;
    // What book reads select (ItemBook::SelectList): set when the catalogue is opened, before
    // any read; every column until then.
    QString bookSelect = QStringLiteral("*");
    // The same for category reads.
    QString categorySelect = QStringLiteral("*");

private:
    bool registered = false;
};
