#include "cipher/SqlCipherInterrupt.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>

namespace {

// Virtual machine steps between two checks: a few microseconds of work.
constexpr int kStepsPerCheck = 4096;

std::atomic<SqlCipherInterrupt::StopCheck> g_stopCheck{nullptr};
std::atomic<qint64> g_budgetMs{SqlCipherInterrupt::DefaultStatementBudgetMs};
// Deadline of the statement this thread is stepping (steady clock, ns); 0: none.
thread_local qint64 t_deadlineNs = 0;

qint64 NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int OnProgress(void *)
{
    if (t_deadlineNs != 0 && NowNs() > t_deadlineNs)
        return 1;
    const SqlCipherInterrupt::StopCheck check = g_stopCheck.load();
    return check && check() ? 1 : 0;
}

} // namespace

void SqlCipherInterrupt::SetStopCheck(StopCheck check)
{
    g_stopCheck.store(check);
}

void SqlCipherInterrupt::SetStatementBudgetMs(qint64 ms)
{
    g_budgetMs.store(ms);
}

qint64 SqlCipherInterrupt::StatementBudgetMs()
{
    return g_budgetMs.load();
}

void SqlCipherInterrupt::Install(sqlite3 *db)
{
    sqlite3_progress_handler(db, kStepsPerCheck, OnProgress, nullptr);
}

SqlCipherInterrupt::Step::Step(qint64 &spentNs)
    : spentNs(spentNs), startNs(NowNs()), outerDeadlineNs(t_deadlineNs)
{
    // A step inside another (a query run from within a query) keeps the nearer deadline.
    const qint64 deadline = startNs + g_budgetMs.load() * 1000000 - spentNs;
    t_deadlineNs = outerDeadlineNs != 0 && outerDeadlineNs < deadline ? outerDeadlineNs : deadline;
}

SqlCipherInterrupt::Step::~Step()
{
    spentNs += NowNs() - startNs;
    t_deadlineNs = outerDeadlineNs;
}
