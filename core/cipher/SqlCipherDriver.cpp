#include "cipher/SqlCipherDriver.h"

#include "cipher/CipherVfs.h"
#include "cipher/SqlCipherConnection.h"
#include "cipher/SqlCipherInterrupt.h"
#include "cipher/SqlCipherResult.h"
#include "cipher/SqlCipherTypes.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

#include <sqlite3.h>

#include <map>

namespace {

constexpr int kDefaultBusyTimeoutMs = 5000;

} // namespace

SqlCipherDriver::SqlCipherDriver(QObject *parent)
    : QSqlDriver(parent)
    , connection(std::make_shared<SqlCipherConnection>())
{
}

SqlCipherDriver::~SqlCipherDriver()
{
    close();
}

bool SqlCipherDriver::hasFeature(DriverFeature feature) const
{
    switch (feature) {
    case Transactions:
    case PreparedQueries:
    case PositionalPlaceholders:
    case NamedPlaceholders:
    case Unicode:
    case BLOB:
    case FinishQuery:
    case SimpleLocking:
        return true;
    case LowPrecisionNumbers: // numbers come back as stored, whatever the precision policy
    case QuerySize:
    case LastInsertId:
    case BatchOperations:
    case EventNotifications:
    case MultipleResultSets:
    case CancelQuery:
        return false;
    }
    return false;
}

void SqlCipherDriver::FailOpen(const QString &text, int code)
{
    setLastError(QSqlError(QStringLiteral("Error opening catalogue"), text, QSqlError::ConnectionError,
                           code ? QString::number(code) : QString()));
    setOpenError(true);
}

bool SqlCipherDriver::open(const QString &db, const QString &, const QString &password, const QString &, int,
                           const QString &connectOptions)
{
    if (isOpen())
        close();

    bool sharedCache = false;
    int busyTimeout = kDefaultBusyTimeoutMs;
    const QStringList options = connectOptions.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &raw : options) {
        const QString option = raw.trimmed();
        if (option == QLatin1String("QSQLITE_ENABLE_SHARED_CACHE")) {
            sharedCache = true;
        } else if (option.startsWith(QLatin1String("QSQLITE_BUSY_TIMEOUT"))) {
            bool ok = false;
            const int value = option.section(QLatin1Char('='), 1).trimmed().toInt(&ok);
            if (ok)
                busyTimeout = value;
        }
        // QSQLITE_OPEN_READONLY is always in force; other options do not apply to catalogues.
    }

    if (db.isEmpty() || db == QLatin1String(":memory:")) {
        FailOpen(QStringLiteral("no catalogue file was given"), 0);
        return false;
    }
    const QFileInfo info(db);
    if (!info.exists() || !info.isFile()) {
        const QString what = !info.exists() ? QStringLiteral("does not exist")
                             : info.isDir() ? QStringLiteral("is a directory")
                                            : QStringLiteral("is not a regular file");
        FailOpen(QStringLiteral("the catalogue file %1: %2").arg(what, db), SQLITE_CANTOPEN);
        return false;
    }
    if (password.isEmpty()) {
        FailOpen(QStringLiteral("no catalogue password was given"), 0);
        return false;
    }
    QString vfsError;
    const QByteArray vfsName = CipherVfs::VfsNameForPassword(password.toUtf8(), &vfsError);
    if (vfsName.isEmpty()) {
        FailOpen(vfsError, 0);
        return false;
    }

    // An absolute path never reads as a URI, whatever SQLite's URI default is.
    const QByteArray path = QFile::encodeName(info.absoluteFilePath());
    const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX
                      | (sharedCache ? SQLITE_OPEN_SHAREDCACHE : SQLITE_OPEN_PRIVATECACHE);
    sqlite3 *handle = nullptr;
    const int rc = sqlite3_open_v2(path.constData(), &handle, flags, vfsName.constData());
    if (rc != SQLITE_OK) {
        QString text = CipherVfs::LastOpenFailure();
        const QString sqliteText = handle ? QString::fromUtf8(sqlite3_errmsg(handle)) : QString::fromUtf8(sqlite3_errstr(rc));
        text = text.isEmpty() ? sqliteText : QStringLiteral("%1 (%2)").arg(text, sqliteText);
        sqlite3_close_v2(handle);
        FailOpen(text, rc);
        return false;
    }
    sqlite3_busy_timeout(handle, busyTimeout);
    SqlCipherInterrupt::Install(handle);

    // Read the schema now: a damaged catalogue fails here rather than at the first query.
    sqlite3_stmt *check = nullptr;
    int checkRc = sqlite3_prepare_v2(handle, "SELECT count(*) FROM sqlite_master", -1, &check, nullptr);
    if (checkRc == SQLITE_OK)
        checkRc = sqlite3_step(check);
    const QString checkText = QString::fromUtf8(sqlite3_errmsg(handle));
    sqlite3_finalize(check);
    if (checkRc != SQLITE_ROW) {
        sqlite3_close_v2(handle);
        FailOpen(QStringLiteral("the catalogue cannot be read (%1)").arg(checkText), checkRc);
        return false;
    }

    {
        std::lock_guard<std::mutex> locker(connection->mutex);
        connection->db = handle;
    }
    setOpen(true);
    setOpenError(false);
    setLastError(QSqlError());
    return true;
}

void SqlCipherDriver::close()
{
    connection->Close();
    if (isOpen()) {
        setOpen(false);
        setOpenError(false);
    }
}

QSqlResult *SqlCipherDriver::createResult() const
{
    return new SqlCipherResult(this, connection);
}

bool SqlCipherDriver::ExecSimple(const QString &sql, const QString &what)
{
    QSqlQuery query(createResult());
    if (query.exec(sql))
        return true;
    setLastError(QSqlError(what, query.lastError().databaseText(), QSqlError::TransactionError));
    return false;
}

bool SqlCipherDriver::beginTransaction()
{
    return isOpen() && ExecSimple(QStringLiteral("BEGIN"), QStringLiteral("Unable to begin transaction"));
}

bool SqlCipherDriver::commitTransaction()
{
    return isOpen() && ExecSimple(QStringLiteral("COMMIT"), QStringLiteral("Unable to commit transaction"));
}

bool SqlCipherDriver::rollbackTransaction()
{
    return isOpen() && ExecSimple(QStringLiteral("ROLLBACK"), QStringLiteral("Unable to roll back transaction"));
}

QStringList SqlCipherDriver::tables(QSql::TableType type) const
{
    QStringList result;
    if (!isOpen())
        return result;
    QString filter;
    if (type & QSql::Tables)
        filter = QStringLiteral("type = 'table'");
    if (type & QSql::Views)
        filter += (filter.isEmpty() ? QString() : QStringLiteral(" OR ")) + QStringLiteral("type = 'view'");
    if (!filter.isEmpty()) {
        QSqlQuery query(createResult());
        query.setForwardOnly(true);
        if (query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE (%1) AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'")
                           .arg(filter))) {
            while (query.next())
                result.append(query.value(0).toString());
        }
    }
    if (type & QSql::SystemTables)
        result.append(QStringLiteral("sqlite_master"));
    return result;
}

QSqlRecord SqlCipherDriver::record(const QString &tableName) const
{
    QSqlRecord result;
    if (!isOpen() || tableName.isEmpty())
        return result;
    QSqlQuery query(createResult());
    query.setForwardOnly(true);
    const QString table = escapeIdentifier(tableName, TableName);
    if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        return result;
    // Columns: cid, name, type, notnull, dflt_value, pk.
    while (query.next()) {
        const QString declared = query.value(2).toString();
        QSqlField field(query.value(1).toString(), SqlCipherTypes::TypeFromDeclaration(declared.toUtf8().constData()),
                        tableName);
        field.setRequired(query.value(3).toInt() != 0);
        if (!query.isNull(4))
            field.setDefaultValue(query.value(4));
        field.setAutoValue(query.value(5).toInt() == 1 && declared.compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0);
        result.append(field);
    }
    return result;
}

QSqlIndex SqlCipherDriver::primaryIndex(const QString &tableName) const
{
    QSqlIndex index(tableName);
    if (!isOpen() || tableName.isEmpty())
        return index;
    QSqlQuery query(createResult());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(escapeIdentifier(tableName, TableName))))
        return index;
    std::map<int, QSqlField> keyColumns; // ordered by position in the key
    while (query.next()) {
        const int position = query.value(5).toInt();
        if (position > 0) {
            keyColumns.emplace(position, QSqlField(query.value(1).toString(),
                                                   SqlCipherTypes::TypeFromDeclaration(query.value(2).toString().toUtf8().constData()),
                                                   tableName));
        }
    }
    for (const auto &entry : keyColumns)
        index.append(entry.second);
    if (!keyColumns.empty())
        index.setName(tableName);
    return index;
}

QString SqlCipherDriver::escapeIdentifier(const QString &identifier, IdentifierType) const
{
    if (identifier.size() >= 2 && identifier.startsWith(QLatin1Char('"')) && identifier.endsWith(QLatin1Char('"')))
        return identifier;
    QString escaped = identifier;
    escaped.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QVariant SqlCipherDriver::handle() const
{
    std::lock_guard<std::mutex> locker(connection->mutex);
    return QVariant::fromValue(static_cast<void *>(connection->db));
}
