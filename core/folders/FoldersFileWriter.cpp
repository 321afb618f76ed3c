#include "folders/FoldersFileWriter.h"

#include "threads/NativeHelper.h"

#include <QDeadlineTimer>
#include <QThread>

namespace {

// How often an idle writer looks for a stop request.
constexpr int IdlePollMs = 20;

} // namespace

FoldersFileWriter::FoldersFileWriter(WriteFunction write, QObject *parent)
    : QThreadExtend(parent), write(std::move(write))
{
}

FoldersFileWriter::~FoldersFileWriter()
{
    // Writes what is still queued before the thread ends.
    Stop();
}

quint64 FoldersFileWriter::Queue(FoldersSnapshot snapshot)
{
    // Started before the closing flag is read: a snapshot accepted below always has a running
    // writer, which the close path stops only after writing it.
    if (!IsRunning())
        StartIfNotRunning();
    QMutexLocker locker(&queueMutex);
    if (NativeHelper::IsClosing() || !IsRunning())
        return 0;
    pending = std::move(snapshot);
    pendingTicket = ++lastTicket;
    changed.wakeAll();
    return pendingTicket;
}

bool FoldersFileWriter::WaitFor(quint64 ticket, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(timeoutMs));
    QMutexLocker locker(&queueMutex);
    while (doneTicket < ticket) {
        if (!changed.wait(&queueMutex, deadline))
            return false;
    }
    return lastResult;
}

quint64 FoldersFileWriter::WritesStarted()
{
    QMutexLocker locker(&queueMutex);
    return writesStarted;
}

bool FoldersFileWriter::IsIdle()
{
    QMutexLocker locker(&queueMutex);
    return doneTicket == lastTicket;
}

bool FoldersFileWriter::StopAsked()
{
    QReadLocker locker(&stateLock);
    return stopRequested || QThread::currentThread()->isInterruptionRequested();
}

void FoldersFileWriter::DoRun()
{
    QMutexLocker locker(&queueMutex);
    for (;;) {
        if (pendingTicket == 0) {
            // Nothing queued: a stop request ends the run (never the closing flag alone).
            if (StopAsked())
                return;
            changed.wait(&queueMutex, IdlePollMs);
            continue;
        }
        const FoldersSnapshot snapshot = std::move(pending);
        pending = FoldersSnapshot();
        const quint64 ticket = pendingTicket;
        pendingTicket = 0;
        ++writesStarted;
        locker.unlock();
        const bool ok = write(snapshot);
        emit written(ticket, ok);
        locker.relock();
        doneTicket = ticket;
        lastResult = ok;
        changed.wakeAll();
    }
}
