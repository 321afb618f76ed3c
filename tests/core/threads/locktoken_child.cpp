// One CheckLock with the token the argument names; exits 0 when CheckLock lets it go on.
// Built as the tests are and once more with checked mode off, as a release build has it.
#include "threads/QReadLockerExt2.h"
#include "threads/QWriteLockerExt2.h"

#include <QByteArray>
#include <QReadWriteLock>

#include <memory>

int main(int argc, char **argv)
{
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    QReadWriteLock lock;
    QReadWriteLock other;
    std::unique_ptr<QReadLockerExt2> token;
    if (mode == "empty-token")
        token = std::make_unique<QReadLockerExt2>(1, &lock);
    else if (mode == "ok-write")
        token = std::make_unique<QWriteLockerExt2>(&lock);
    else if (mode == "wrong-lock")
        token = std::make_unique<QWriteLockerExt2>(&other);
    else
        token = std::make_unique<QReadLockerExt2>(0, &lock);
    if (mode == "released")
        token->unlock();
    token->CheckLock(&lock);
    return 0;
}
