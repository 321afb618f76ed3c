#pragma once

#include <mutex>
#include <QSqlRecord>
#include <QSqlResult>

#include <memory>

struct sqlite3_stmt;
class SqlCipherConnection;
class SqlCipherDriver;

// One statement of a catalogue connection. Rows are read straight from the statement
// (nothing is cached); moving backwards re-runs the statement from its start, which is
// cheap for the read-only catalogue.
class SqlCipherResult : public QSqlResult
{
public:
    SqlCipherResult(const SqlCipherDriver *driver, std::shared_ptr<SqlCipherConnection> connection);
    ~SqlCipherResult() override;

    // Called by the connection when it closes (connection mutex held).
    void FinalizeStatement();

protected:
    bool reset(const QString &query) override;
    bool prepare(const QString &query) override;
    bool exec() override;
    bool fetch(int index) override;
    bool fetchFirst() override;
    bool fetchLast() override;
    bool fetchNext() override;
    QVariant data(int field) override;
    bool isNull(int field) override;
    int size() override;
    int numRowsAffected() override;
    QSqlRecord record() const override;
    void detachFromResultSet() override;
    QVariant handle() const override;

private:
    enum class StepResult { Row, Done, Error };

    bool PrepareLocked(const QString &query);
    bool BindLocked();
    StepResult StepLocked();
    bool RewindLocked();
    void SetStatementError(const QString &text, int rc);
    void FinalizeLocked();

    std::shared_ptr<SqlCipherConnection> connection;
    mutable std::mutex stmtMutex;
    sqlite3_stmt *stmt = nullptr;
    QSqlRecord columns;
    // Index of the last row stepped to (-1 before the first); onRow while the statement
    // still stands on it (exec() steps to the first row to report errors early).
    int stepIndex = -1;
    bool onRow = false;
    bool exhausted = false;
};
