#pragma once

#include <QString>

#include <memory>

class QLockFile;

// The lock file in the base data folder and the checks of that folder, in start-up order.
class StartupGuard
{
public:
    static constexpr int ExitDataFolderUnusable = -2003;
    static constexpr int ExitLockBusy = -2004;
    static const QString LockFileName;

    explicit StartupGuard(const QString &baseFolder);
    ~StartupGuard();

    StartupGuard(const StartupGuard &) = delete;
    StartupGuard &operator=(const StartupGuard &) = delete;

    // 0 when the lock is held and the folder usable; otherwise the exit code, after the
    // matching message box. An unknown folder fails before any lock file is made.
    int Acquire();
    void Release();
    bool IsHeld() const;
    // Empty until Acquire got as far as the lock.
    QString lockFilePath() const;

private:
    QString baseFolder;
    QString lockPath;
    std::unique_ptr<QLockFile> lockFile;
};
