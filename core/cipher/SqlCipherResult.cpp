#include "cipher/SqlCipherResult.h"

#include "cipher/SqlCipherConnection.h"
#include "cipher/SqlCipherDriver.h"
#include "cipher/SqlCipherTypes.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlField>

#include <sqlite3.h>

namespace {

// Holds the connection's own mutex so that an error message belongs to this call.
class DbMutexLocker
{
public:
    explicit DbMutexLocker(sqlite3 *db)
        : mutex(db ? sqlite3_db_mutex(db) : nullptr)
    {
        if (mutex)
            sqlite3_mutex_enter(mutex);
    }
    ~DbMutexLocker()
    {
        if (mutex)
            sqlite3_mutex_leave(mutex);
    }
    DbMutexLocker(const DbMutexLocker &) = delete;
    DbMutexLocker &operator=(const DbMutexLocker &) = delete;

private:
    sqlite3_mutex *mutex;
};

QString ErrorMessage(sqlite3 *db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

int BindValue(sqlite3_stmt *stmt, int index, const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return sqlite3_bind_null(stmt, index);
    switch (value.userType()) {
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return sqlite3_bind_blob(stmt, index, bytes.constData(), bytes.size(), SQLITE_TRANSIENT);
    }
    case QMetaType::Int:
    case QMetaType::Bool:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return sqlite3_bind_int64(stmt, index, value.toLongLong());
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return sqlite3_bind_int64(stmt, index, sqlite3_int64(value.toULongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return sqlite3_bind_double(stmt, index, value.toDouble());
    case QMetaType::QDateTime:
        return sqlite3_bind_text(stmt, index, value.toDateTime().toString(Qt::ISODateWithMs).toUtf8().constData(),
                                 -1, SQLITE_TRANSIENT);
    default: {
        const QString text = value.toString();
        return sqlite3_bind_text16(stmt, index, text.utf16(), text.size() * int(sizeof(QChar)), SQLITE_TRANSIENT);
    }
    }
}

} // namespace

SqlCipherResult::SqlCipherResult(const SqlCipherDriver *driver, std::shared_ptr<SqlCipherConnection> connectionIn)
    : QSqlResult(driver)
    , connection(std::move(connectionIn))
{
    std::lock_guard<std::mutex> locker(connection->mutex);
    connection->results.insert(this);
}

SqlCipherResult::~SqlCipherResult()
{
    std::lock_guard<std::mutex> locker(connection->mutex);
    connection->results.remove(this);
    std::lock_guard<std::mutex> statementLocker(stmtMutex);
    FinalizeLocked();
}

void SqlCipherResult::FinalizeStatement()
{
    std::lock_guard<std::mutex> locker(stmtMutex);
    FinalizeLocked();
}

void SqlCipherResult::FinalizeLocked()
{
    if (stmt) {
        sqlite3_finalize(stmt);
        stmt = nullptr;
    }
    stepIndex = -1;
    onRow = false;
    exhausted = false;
}

void SqlCipherResult::SetStatementError(const QString &text, int rc)
{
    setLastError(QSqlError(QStringLiteral("Unable to execute statement"), text, QSqlError::StatementError,
                           QString::number(rc)));
}

bool SqlCipherResult::reset(const QString &query)
{
    return prepare(query) && exec();
}

bool SqlCipherResult::prepare(const QString &query)
{
    std::lock_guard<std::mutex> locker(connection->mutex);
    std::lock_guard<std::mutex> statementLocker(stmtMutex);
    return PrepareLocked(query);
}

bool SqlCipherResult::PrepareLocked(const QString &query)
{
    FinalizeLocked();
    columns.clear();
    setSelect(false);
    setActive(false);
    setAt(QSql::BeforeFirstRow);
    sqlite3 *db = connection->db;
    if (!db) {
        setLastError(QSqlError(QStringLiteral("Unable to prepare statement"), QStringLiteral("the catalogue is not open"),
                               QSqlError::ConnectionError));
        return false;
    }
    DbMutexLocker dbLocker(db);
    const void *tail = nullptr;
    const int rc = sqlite3_prepare16_v2(db, query.utf16(), query.size() * int(sizeof(QChar)), &stmt, &tail);
    if (rc != SQLITE_OK) {
        setLastError(QSqlError(QStringLiteral("Unable to prepare statement"), ErrorMessage(db),
                               QSqlError::StatementError, QString::number(rc)));
        FinalizeLocked();
        return false;
    }
    if (tail) {
        const QString rest = QString::fromUtf16(static_cast<const ushort *>(tail)).trimmed();
        if (!rest.isEmpty() && rest != QLatin1String(";")) {
            setLastError(QSqlError(QStringLiteral("Unable to prepare statement"),
                                   QStringLiteral("only one statement can be run at a time"),
                                   QSqlError::StatementError));
            FinalizeLocked();
            return false;
        }
    }
    if (!stmt) {
        // Only whitespace or a comment.
        setLastError(QSqlError(QStringLiteral("Unable to prepare statement"), QStringLiteral("empty statement"),
                               QSqlError::StatementError));
        return false;
    }
    const int count = sqlite3_column_count(stmt);
    for (int i = 0; i < count; ++i) {
        const QString name = QString::fromUtf8(sqlite3_column_name(stmt, i));
        QSqlField field(name, SqlCipherTypes::TypeFromDeclaration(sqlite3_column_decltype(stmt, i)));
        columns.append(field);
    }
    return true;
}

bool SqlCipherResult::BindLocked()
{
    const QVector<QVariant> &values = boundValues();
    const int paramCount = sqlite3_bind_parameter_count(stmt);
    if (paramCount == values.size()) {
        for (int i = 0; i < paramCount; ++i) {
            const int rc = BindValue(stmt, i + 1, values.at(i));
            if (rc != SQLITE_OK) {
                SetStatementError(QString::fromUtf8(sqlite3_errstr(rc)), rc);
                return false;
            }
        }
        return true;
    }
    bool named = paramCount < values.size();
    // A name used twice appears once to SQLite but once per use among the bound values; a value
    // whose name the statement lacks is one too many.
    for (int i = 0; named && i < values.size(); ++i)
        named = sqlite3_bind_parameter_index(stmt, boundValueName(i).toUtf8().constData()) > 0;
    if (named) {
        for (int i = 1; i <= paramCount; ++i) {
            const char *name = sqlite3_bind_parameter_name(stmt, i);
            if (!name) {
                SetStatementError(QStringLiteral("parameter %1 has no name").arg(i), SQLITE_MISUSE);
                return false;
            }
            const int rc = BindValue(stmt, i, boundValue(QString::fromUtf8(name)));
            if (rc != SQLITE_OK) {
                SetStatementError(QString::fromUtf8(sqlite3_errstr(rc)), rc);
                return false;
            }
        }
        return true;
    }
    SetStatementError(QStringLiteral("parameter count mismatch (%1 expected, %2 bound)").arg(paramCount).arg(values.size()),
                      SQLITE_RANGE);
    return false;
}

SqlCipherResult::StepResult SqlCipherResult::StepLocked()
{
    sqlite3 *db = sqlite3_db_handle(stmt);
    DbMutexLocker dbLocker(db);
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        ++stepIndex;
        onRow = true;
        return StepResult::Row;
    }
    onRow = false;
    exhausted = true;
    if (rc == SQLITE_DONE)
        return StepResult::Done;
    SetStatementError(ErrorMessage(db), rc);
    sqlite3_reset(stmt);
    return StepResult::Error;
}

bool SqlCipherResult::RewindLocked()
{
    sqlite3_reset(stmt);
    stepIndex = -1;
    onRow = false;
    exhausted = false;
    return true;
}

bool SqlCipherResult::exec()
{
    std::lock_guard<std::mutex> locker(stmtMutex);
    setActive(false);
    setAt(QSql::BeforeFirstRow);
    if (!stmt) {
        SetStatementError(QStringLiteral("no statement is prepared"), SQLITE_MISUSE);
        return false;
    }
    RewindLocked();
    sqlite3_clear_bindings(stmt);
    if (!BindLocked())
        return false;
    // Step once now so that errors show up at execution, as callers expect.
    if (StepLocked() == StepResult::Error)
        return false;
    setSelect(sqlite3_column_count(stmt) > 0);
    setActive(true);
    return true;
}

bool SqlCipherResult::fetch(int index)
{
    if (index < 0)
        return false;
    std::lock_guard<std::mutex> locker(stmtMutex);
    if (!stmt || !isActive())
        return false;
    if (onRow && index == stepIndex) {
        setAt(index);
        return true;
    }
    if (exhausted && index > stepIndex) {
        setAt(QSql::AfterLastRow);
        return false;
    }
    if (index < stepIndex || (exhausted && index <= stepIndex))
        RewindLocked();
    while (stepIndex < index) {
        if (StepLocked() != StepResult::Row) {
            setAt(QSql::AfterLastRow);
            return false;
        }
    }
    setAt(index);
    return true;
}

bool SqlCipherResult::fetchFirst()
{
    return fetch(0);
}

bool SqlCipherResult::fetchNext()
{
    if (at() == QSql::AfterLastRow)
        return false;
    return fetch(at() + 1);
}

bool SqlCipherResult::fetchLast()
{
    int last = -1;
    {
        std::lock_guard<std::mutex> locker(stmtMutex);
        if (!stmt || !isActive())
            return false;
        while (!exhausted) {
            if (StepLocked() == StepResult::Error) {
                setAt(QSql::AfterLastRow);
                return false;
            }
        }
        last = stepIndex;
    }
    if (last < 0) {
        setAt(QSql::AfterLastRow);
        return false;
    }
    return fetch(last);
}

QVariant SqlCipherResult::data(int field)
{
    std::lock_guard<std::mutex> locker(stmtMutex);
    if (!stmt || !onRow || field < 0 || field >= sqlite3_column_count(stmt))
        return QVariant();
    switch (sqlite3_column_type(stmt, field)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(stmt, field)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, field));
    case SQLITE_TEXT: {
        const void *text = sqlite3_column_text16(stmt, field);
        const int bytes = sqlite3_column_bytes16(stmt, field);
        return QVariant(QString(static_cast<const QChar *>(text), bytes / int(sizeof(QChar))));
    }
    case SQLITE_BLOB: {
        const void *blob = sqlite3_column_blob(stmt, field);
        const int bytes = sqlite3_column_bytes(stmt, field);
        // An empty blob is a value, not NULL: keep the byte array non-null.
        return QVariant(QByteArray(blob ? static_cast<const char *>(blob) : "", bytes));
    }
    default:
        return QVariant();
    }
}

bool SqlCipherResult::isNull(int field)
{
    std::lock_guard<std::mutex> locker(stmtMutex);
    if (!stmt || !onRow || field < 0 || field >= sqlite3_column_count(stmt))
        return true;
    return sqlite3_column_type(stmt, field) == SQLITE_NULL;
}

int SqlCipherResult::size()
{
    return -1;
}

int SqlCipherResult::numRowsAffected()
{
    std::lock_guard<std::mutex> locker(stmtMutex);
    return stmt ? sqlite3_changes(sqlite3_db_handle(stmt)) : -1;
}

QSqlRecord SqlCipherResult::record() const
{
    std::lock_guard<std::mutex> locker(stmtMutex);
    if (!isActive() || !isSelect())
        return QSqlRecord();
    return columns;
}

void SqlCipherResult::detachFromResultSet()
{
    std::lock_guard<std::mutex> locker(stmtMutex);
    if (stmt)
        RewindLocked();
}

QVariant SqlCipherResult::handle() const
{
    std::lock_guard<std::mutex> locker(stmtMutex);
    return QVariant::fromValue(static_cast<void *>(stmt));
}
