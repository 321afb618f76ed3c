#pragma once

#include <QEventLoop>
#include <QPair>
#include <QReadWriteLock>

// The event loop of one transfer; records the transfer's progress for readers in other threads.
class QEventLoopWithProgress : public QEventLoop
{
    Q_OBJECT
public:
    explicit QEventLoopWithProgress(QObject *parent = nullptr) : QEventLoop(parent) {}

    // (bytes received, bytes total) as last reported.
    QPair<qint64, qint64> GetProgress();

    QReadWriteLock lock;
    qint64 bytesReceived = 0;
    qint64 bytesTotal = 0;

public slots:
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);
};
