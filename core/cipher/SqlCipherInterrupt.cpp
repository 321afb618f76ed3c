#include "cipher/SqlCipherInterrupt.h"

#include <sqlite3.h>

#include <atomic>

namespace {

// Virtual machine steps between two checks: a few microseconds of work.
constexpr int kStepsPerCheck = 4096;

std::atomic<SqlCipherInterrupt::StopCheck> g_stopCheck{nullptr};

int OnProgress(void *)
{
    const SqlCipherInterrupt::StopCheck check = g_stopCheck.load();
    return check && check() ? 1 : 0;
}

} // namespace

void SqlCipherInterrupt::SetStopCheck(StopCheck check)
{
    g_stopCheck.store(check);
}

void SqlCipherInterrupt::Install(sqlite3 *db)
{
    sqlite3_progress_handler(db, kStepsPerCheck, OnProgress, nullptr);
}
