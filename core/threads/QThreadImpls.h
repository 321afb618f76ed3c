#pragma once

#include <QThread>

class IRunThread;

// The real thread of a worker; runs the worker's body without an event loop.
class QThreadImpls : public QThread
{
    Q_OBJECT
public:
    explicit QThreadImpls(IRunThread *target) : runTarget(target) {}

protected:
    void run() override;

private:
    IRunThread *runTarget;
};
