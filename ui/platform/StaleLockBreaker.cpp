#include "platform/StaleLockBreaker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QThread>

namespace {
// A starting owner creates the file first and writes its details right after.
constexpr unsigned long OwnerWritingPauseMs = 150;

bool RemoveUnreadable(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return QDir().rmdir(path);
    return QFile::remove(path);
}
} // namespace

StaleLockBreaker::Result StaleLockBreaker::TryLock(QLockFile &lock, const QString &path)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (lock.tryLock(0))
            return Taken;
        if (lock.error() != QLockFile::LockFailedError)
            return Unusable;
        // Readable details mean a live owner: QLockFile has already cleared a dead one's lock.
        qint64 pid = 0;
        QString host;
        QString application;
        if (lock.getLockInfo(&pid, &host, &application))
            return HeldByLiveOwner;
        if (attempt == 0) {
            QThread::msleep(OwnerWritingPauseMs);
            continue;
        }
        if (!RemoveUnreadable(path))
            return Unusable;
    }
    return Unusable;
}
