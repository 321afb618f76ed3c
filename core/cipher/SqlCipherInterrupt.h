#pragma once

#include <QtGlobal>

struct sqlite3;

// Cuts short a query on a catalogue connection: SQLite asks every few thousand steps, and the
// statement ends with SQLITE_INTERRUPT once it has spent its budget of time inside SQLite, or
// when the stop check says that the querying thread is to stop. A sound catalogue holds no SQL
// that runs for long, but a damaged or hostile one must never hold a thread for ever.
class SqlCipherInterrupt
{
public:
    SqlCipherInterrupt() = delete;

    // Asked on the querying thread; true ends the query. Process-wide, set by the layer that
    // knows the workers; none: only the budget applies.
    using StopCheck = bool (*)();
    static void SetStopCheck(StopCheck check);

    // Longest time one statement may spend in SQLite, summed over its steps (ms).
    static constexpr qint64 DefaultStatementBudgetMs = 30000;
    static void SetStatementBudgetMs(qint64 ms);
    static qint64 StatementBudgetMs();

    // Makes the connection's queries interruptible.
    static void Install(sqlite3 *db);

    // Brackets one sqlite3_step of a statement: gives the calling thread the statement's
    // deadline and adds the step's time to what the statement has spent.
    class Step
    {
    public:
        explicit Step(qint64 &spentNs);
        ~Step();
        Step(const Step &) = delete;
        Step &operator=(const Step &) = delete;

    private:
        qint64 &spentNs;
        qint64 startNs;
        qint64 outerDeadlineNs;
    };
};
