#pragma once

#include "threads/QThreadExtend.h"

#include <QDeadlineTimer>
#include <QList>
#include <QMutex>

// Runs once at close: sets the closing flag, waits for any writer of the settings or folders
// file, stops the other workers in order and asks the GUI thread to end the event loop.
// Closing never hangs on a worker: the waits share a limit, and a worker still running after
// a further grace period ends the process.
class MainWindowCloseThread : public QThreadExtend
{
    Q_OBJECT
public:
    explicit MainWindowCloseThread(QObject *parent = nullptr);
    ~MainWindowCloseThread() override;

    // Called once by the main window during its construction.
    void SetThreadsToStop(const QList<QThreadExtend *> &threads);

    static constexpr int StopLimitMs = 3000;
    static constexpr int ExitGraceMs = 3000;

protected:
    void DoRun() override;
    bool HasDoneFlag() override { return true; }

private:
    static int RemainingMs(const QDeadlineTimer &deadline);

    QMutex runMutex;
    QList<QThreadExtend *> threadsToStop;
};
