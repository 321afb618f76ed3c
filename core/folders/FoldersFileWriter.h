#pragma once

#include "folders/DisplayFolder.h"
#include "threads/QThreadExtend.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QWaitCondition>

#include <functional>

// What the folders file holds, copied from the store under its lock. The lists are implicitly
// shared, so taking it costs little even for the folder of every book.
struct FoldersSnapshot
{
    QString guid;
    QList<DisplayFolder> folders;
};

// Writes the folders file on a thread of its own, so that a save never holds up its caller.
// Snapshots are queued in the order of the changes; the ones that queue up while a write runs
// coalesce into one write of the newest. A queued snapshot is written even while the program
// closes: the close path stops this worker, which first writes what it still holds.
class FoldersFileWriter : public QThreadExtend
{
    Q_OBJECT
public:
    using WriteFunction = std::function<bool(const FoldersSnapshot &)>;

    explicit FoldersFileWriter(WriteFunction write, QObject *parent = nullptr);
    ~FoldersFileWriter() override;

    // Queues the snapshot; its ticket (greater than 0), or 0 when the program closes.
    quint64 Queue(FoldersSnapshot snapshot);
    // Waits until the write that covers the ticket has ended, at most timeoutMs (-1: no
    // limit); its result, false when the time ran out.
    bool WaitFor(quint64 ticket, int timeoutMs = -1);
    // Writes begun since construction (coalesced snapshots are not counted).
    quint64 WritesStarted();
    // Nothing queued and no write running.
    bool IsIdle();

signals:
    // After each write, from the writer's thread: the newest ticket it covered and its result.
    void written(quint64 ticket, bool ok);

protected:
    void DoRun() override;

private:
    bool StopAsked();

    const WriteFunction write;
    // Guards everything below; taken after every lock of the stores.
    QMutex queueMutex;
    QWaitCondition changed;
    FoldersSnapshot pending;
    quint64 pendingTicket = 0;
    quint64 lastTicket = 0;
    quint64 doneTicket = 0;
    bool lastResult = true;
    quint64 writesStarted = 0;
};
