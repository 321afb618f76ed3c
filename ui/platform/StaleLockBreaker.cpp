#include "platform/StaleLockBreaker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
// A starting owner creates the file first and writes its details right after.
constexpr unsigned long OwnerWritingPauseMs = 150;

// The file is locked by a live process that has not written its details yet.
bool IsHeldWhileUnreadable(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

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
        // Readable details mean a live owner: QLockFile has already cleared a dead one's lock,
        // and one from another machine once it is older than the stale time.
        qint64 pid = 0;
        QString host;
        QString application;
        if (lock.getLockInfo(&pid, &host, &application) || IsHeldWhileUnreadable(path))
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
