#include "catalogue/DatabaseHolder.h"

#include <QAtomicInteger>
#include <QReadLocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlField>
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

bool DatabaseHolder::RunQuery(const QString &sql, const std::function<bool(const QSqlQuery &)> &row,
                              QString *error)
{
    QReadLocker locker(&lock);
    if (!db.isOpen()) {
        if (error)
            *error = QStringLiteral("no open catalogue");
        return false;
    }
    return RunQueryOn(db, sql, row, error);
}

bool DatabaseHolder::RunQueryOn(const QSqlDatabase &db, const QString &sql,
                                const std::function<bool(const QSqlQuery &)> &row, QString *error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    bool ran = query.exec(sql);
    while (ran && query.next()) {
        if (!row(query))
            return true;
    }
    // A damaged page can end the rows early with an error.
    ran = ran && !query.lastError().isValid();
    if (!ran && error) {
        *error = query.lastError().text();
        if (error->isEmpty())
            *error = QStringLiteral("query failed");
    }
    return ran;
}

QStringList DatabaseHolder::TableColumnsOn(const QSqlDatabase &db, const QString &table, QStringList *textColumns)
{
    QSqlQuery probe(db);
    QStringList names;
    if (!probe.exec(QStringLiteral("select * from %1 limit 0").arg(table)))
        return names;
    const QSqlRecord record = probe.record();
    for (int i = 0; i < record.count(); ++i) {
        names.append(record.fieldName(i));
        // The driver types a column by its declared type as SQLite gives it its affinity.
        if (textColumns && record.field(i).type() == QVariant::String)
            textColumns->append(record.fieldName(i));
    }
    return names;
}

bool DatabaseHolder::VisitRows(const QString &sql,
                               const std::function<void(const DatabaseRow &)> &visitor)
{
    QStringList names;
    bool named = false;
    DatabaseRow row;
    return RunQuery(sql, [&](const QSqlQuery &query) {
        if (!named) {
            const QSqlRecord record = query.record();
            for (int i = 0; i < record.count(); ++i)
                names.append(record.fieldName(i));
            row.reserve(names.size());
            named = true;
        }
        if (names.isEmpty())
            return false;
        for (int i = 0; i < names.size(); ++i)
            row.insert(names.at(i), query.value(i));
        visitor(row);
        return true;
    });
}

QList<DatabaseRow> DatabaseHolder::SelectRows(const QString &sql)
{
    QList<DatabaseRow> rows;
    VisitRows(sql, [&rows](const DatabaseRow &row) { rows.append(row); });
    return rows;
}

QList<QVariant> DatabaseHolder::SelectValues(const QString &sql, bool firstColumnOnly, bool skipNulls,
                                             QString *error)
{
    QList<QVariant> values;
    int columns = 1;
    bool first = true;
    const bool ran = RunQuery(
        sql,
        [&](const QSqlQuery &query) {
            if (first && !firstColumnOnly)
                columns = query.record().count();
            first = false;
            for (int i = 0; i < columns; ++i) {
                const QVariant value = query.value(i);
                if (!(skipNulls && value.isNull()))
                    values.append(value);
            }
            return true;
        },
        error);
    if (!ran)
        values.clear();
    return values;
}
