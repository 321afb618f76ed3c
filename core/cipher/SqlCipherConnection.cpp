#include "cipher/SqlCipherConnection.h"

#include "cipher/SqlCipherResult.h"

#include <sqlite3.h>

SqlCipherConnection::~SqlCipherConnection()
{
    Close();
}

void SqlCipherConnection::Close()
{
    std::lock_guard<std::mutex> locker(mutex);
    for (SqlCipherResult *result : qAsConst(results))
        result->FinalizeStatement();
    if (db) {
        sqlite3_close_v2(db);
        db = nullptr;
    }
}
