#pragma once

#include "threads/QThreadExtend.h"

#include <QList>
#include <QMutex>

// Runs once at close: sets the closing flag, waits for any writer of the settings or folders
// file, stops the other workers in order and asks the GUI thread to end the event loop.
class MainWindowCloseThread : public QThreadExtend
{
    Q_OBJECT
public:
    explicit MainWindowCloseThread(QObject *parent = nullptr);
    ~MainWindowCloseThread() override;

    // Called once by the main window during its construction.
    void SetThreadsToStop(const QList<QThreadExtend *> &threads);

protected:
    void DoRun() override;
    bool HasDoneFlag() override { return true; }

private:
    QMutex runMutex;
    QList<QThreadExtend *> threadsToStop;
};
