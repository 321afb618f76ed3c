#include "catalogue/DatabaseHolder.h"

#include <QAtomicInteger>
#include <QReadLocker>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QWriteLocker>

const QString DatabaseHolder::ConnectionNameBase = QStringLiteral("DEFAULT_DB_CONN");

namespace {
QAtomicInteger<quint64> nextConnectionSerial(1);
}

DatabaseHolder::DatabaseHolder()
    // The literal, not ConnectionNameBase: a holder may be built during static initialisation.
    : connectionName(QStringLiteral("DEFAULT_DB_CONN_")
                     + QString::number(nextConnectionSerial.fetchAndAddOrdered(1)))
{
}

DatabaseHolder::~DatabaseHolder()
{
    QWriteLocker locker(&lock);
    Unregister();
}

void DatabaseHolder::Register(const QString &driverName)
{
    Unregister();
    db = QSqlDatabase::addDatabase(driverName, connectionName);
    registered = true;
}

void DatabaseHolder::Unregister()
{
    if (!registered)
        return;
    if (db.isOpen())
        db.close();
    // Drop our handle first, so that removeDatabase finds the connection unused.
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
    registered = false;
}

bool DatabaseHolder::VisitRows(const QString &sql,
                               const std::function<void(const DatabaseRow &)> &visitor)
{
    QReadLocker locker(&lock);
    if (!db.isOpen())
        return false;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        return false;
    const QSqlRecord record = query.record();
    const int columns = record.count();
    if (columns < 1)
        return true;
    QStringList names;
    names.reserve(columns);
    for (int i = 0; i < columns; ++i)
        names.append(record.fieldName(i));
    DatabaseRow row;
    row.reserve(columns);
    while (query.next()) {
        for (int i = 0; i < columns; ++i)
            row.insert(names.at(i), query.value(i));
        visitor(row);
    }
    return true;
}

QList<DatabaseRow> DatabaseHolder::SelectRows(const QString &sql)
{
    QList<DatabaseRow> rows;
    VisitRows(sql, [&rows](const DatabaseRow &row) { rows.append(row); });
    return rows;
}

QList<QVariant> DatabaseHolder::SelectValues(const QString &sql, bool firstColumnOnly, bool skipNulls)
{
    QList<QVariant> values;
    QReadLocker locker(&lock);
    if (!db.isOpen())
        return values;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        return values;
    const int columns = firstColumnOnly ? 1 : query.record().count();
    while (query.next()) {
        for (int i = 0; i < columns; ++i) {
            const QVariant value = query.value(i);
            if (skipNulls && value.isNull())
                continue;
            values.append(value);
        }
    }
    return values;
}
