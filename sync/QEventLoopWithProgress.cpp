#include "QEventLoopWithProgress.h"

#include <QReadLocker>
#include <QWriteLocker>

QPair<qint64, qint64> QEventLoopWithProgress::GetProgress()
{
    QReadLocker locker(&lock);
    return qMakePair(bytesReceived, bytesTotal);
}

void QEventLoopWithProgress::downloadProgress(qint64 received, qint64 total)
{
    QWriteLocker locker(&lock);
    bytesReceived = received;
    bytesTotal = total;
}
