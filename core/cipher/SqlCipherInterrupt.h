#pragma once

#include <QtGlobal>

struct sqlite3;

// Cuts short a query on a catalogue connection when the querying thread is to stop: SQLite
// asks every few thousand steps, and the statement then ends with SQLITE_INTERRUPT. Nothing
// else cuts a statement short: a catalogue holds no SQL of its own (views, triggers and
// virtual tables are refused), so every statement ends, however long a large catalogue takes.
class SqlCipherInterrupt
{
public:
    SqlCipherInterrupt() = delete;

    // Asked on the querying thread; true ends the query. Process-wide, set by the layer that
    // knows the workers; none: queries always run to their end.
    using StopCheck = bool (*)();
    static void SetStopCheck(StopCheck check);

    // Makes the connection's queries interruptible.
    static void Install(sqlite3 *db);
};
