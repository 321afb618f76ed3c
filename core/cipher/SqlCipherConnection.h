#pragma once

#include <mutex>
#include <QSet>
#include <QString>

struct sqlite3;
class SqlCipherResult;

// One open catalogue handle, shared by the driver and its results so that a result
// outliving its driver (or a close from another thread) never touches a freed handle.
// The handle is opened with SQLITE_OPEN_FULLMUTEX: SQLite serialises calls on it, and
// each result owns its own statement.
//
// Lock order: the connection's mutex before a result's statement mutex.
class SqlCipherConnection
{
public:
    SqlCipherConnection() = default;
    ~SqlCipherConnection();
    SqlCipherConnection(const SqlCipherConnection &) = delete;
    SqlCipherConnection &operator=(const SqlCipherConnection &) = delete;

    std::mutex mutex;

    // Under mutex.
    sqlite3 *db = nullptr;
    QSet<SqlCipherResult *> results;

    // Finalises every result's statement and closes the handle.
    void Close();
};
