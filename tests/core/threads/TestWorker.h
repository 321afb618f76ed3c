#pragma once

#include "threads/QThreadExtend.h"

#include <QThread>

#include <atomic>

// Runs until released or asked to close; counts its runs.
class TestWorker : public QThreadExtend
{
public:
    ~TestWorker() override { Stop(); }

    std::atomic<int> runs{0};
    std::atomic<bool> release{false};
    std::atomic<bool> sawClose{false};

protected:
    void DoRun() override
    {
        ++runs;
        while (!release) {
            if (closeable->IsCloseRequested()) {
                sawClose = true;
                return;
            }
            QThread::usleep(200);
        }
    }
};
