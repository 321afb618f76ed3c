#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the thread that owns the relay:
// the handler only writes a byte into a socket pair that a QSocketNotifier watches.
// One relay may be installed at a time; the previous handlers come back when it is destroyed.
class UnixSignalRelay : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignalRelay(QObject *parent = nullptr);
    ~UnixSignalRelay() override;

signals:
    // Once for each batch of signals read from the pipe.
    void terminateRequested();

private slots:
    void OnReadable();

private:
    bool installed = false;
    QSocketNotifier *notifier = nullptr;
};
