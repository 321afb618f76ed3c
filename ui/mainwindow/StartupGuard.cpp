#include "mainwindow/StartupGuard.h"

#include "Helper.h"
#include "mainwindow/StartupMessages.h"
#include "platform/StaleLockBreaker.h"

#include <QFileInfo>
#include <QLockFile>

const QString StartupGuard::LockFileName = QStringLiteral("single-instance.file");

StartupGuard::StartupGuard(const QString &baseFolder)
    : baseFolder(baseFolder)
{
}

StartupGuard::~StartupGuard()
{
    Release();
}

int StartupGuard::Acquire()
{
    if (IsHeld()) {
        return 0;
    }
    // Without a folder the lock would land at the file-system root.
    if (baseFolder.isEmpty()) {
        StartupMessages::ShowLocalFolderMessage();
        return ExitDataFolderUnusable;
    }
    lockPath = Helper::CombinePath(baseFolder, LockFileName);
    lockFile = std::make_unique<QLockFile>(lockPath);
    if (StaleLockBreaker::TryLock(*lockFile, lockPath) != StaleLockBreaker::Taken) {
        lockFile.reset();
        StartupMessages::ShowSingleInstanceMessage();
        return ExitLockBusy;
    }
    const QFileInfo folder(baseFolder);
    if (!folder.exists() || !folder.isDir() || !folder.isWritable()) {
        Release();
        StartupMessages::ShowLocalFolderMessage();
        return ExitDataFolderUnusable;
    }
    return 0;
}

void StartupGuard::Release()
{
    if (lockFile) {
        lockFile->unlock();
        lockFile.reset();
    }
}

bool StartupGuard::IsHeld() const
{
    return lockFile && lockFile->isLocked();
}

QString StartupGuard::lockFilePath() const
{
    return lockFile ? lockPath : QString();
}
