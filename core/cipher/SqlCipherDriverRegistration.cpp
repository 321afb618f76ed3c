#include "cipher/SqlCipherDriverRegistration.h"

#include "cipher/SqlCipherDriver.h"

#include <QSqlDatabase>
#include <QSqlDriverCreator>

#include <mutex>

void RegisterSqlCipherDriver()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QSqlDatabase::registerSqlDriver(QStringLiteral("SQLITECIPHER"), new QSqlDriverCreator<SqlCipherDriver>);
    });
}
