#include "FileDownloader.h"

#include "CatalogueFiles.h"
#include "threads/IBaseCloseable.h"
#include "threads/NativeHelper.h"
#include "QEventLoopWithProgress.h"

#include <QCryptographicHash>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QReadLocker>
#include <QTimer>
#include <QUrl>
#include <QWriteLocker>

namespace {
const int RunSliceMs = 300;
}

FileDownloader::FileDownloader(const ItemComparePart &tag, const QString &url, IBaseCloseable *closeable,
                               int timeoutMs, const QString &targetPath)
    : targetPath(targetPath), url(url), tag(tag), closeable(closeable), timeoutMs(timeoutMs)
{
}

FileDownloader::~FileDownloader()
{
    Stop();
    wait();
}

QString FileDownloader::RunAndWait()
{
    QMutexLocker locker(&startMutex);
    if (isRunning())
        return QString();
    {
        // One run only: a finished downloader answers with its result.
        QReadLocker state(&lock);
        if (finished)
            return succeeded ? GetResultTextLocked() : QString();
    }
    start(QThread::LowPriority);
    return Wait(RunSliceMs) ? GetResultText() : QString();
}

bool FileDownloader::Wait(int sliceMs)
{
    for (;;) {
        if (closeable && closeable->IsCloseRequested()) {
            Stop();
            QReadLocker locker(&lock);
            return succeeded;
        }
        const bool running = !QThread::wait(static_cast<unsigned long>(qMax(1, sliceMs)));
        QReadLocker locker(&lock);
        if (finished)
            return succeeded;
        if (!running && !isRunning())
            return false;   // never started
    }
}

void FileDownloader::Stop()
{
    if (!isRunning())
        return;
    {
        QWriteLocker locker(&lock);
        if (!stopRequested) {
            stopRequested = true;
            // Queued, so the quit also counts when the loop has been published but exec() has
            // not started yet: the event waits in the thread's queue until exec() runs.
            if (loop)
                QMetaObject::invokeMethod(loop, "quit", Qt::QueuedConnection);
        }
    }
    QThread::wait();
}

QPair<qint64, qint64> FileDownloader::GetProgress()
{
    QReadLocker locker(&lock);
    if (!loop)
        return qMakePair(qint64(0), qint64(0));
    return loop->GetProgress();
}

QString FileDownloader::GetResultText()
{
    QReadLocker locker(&lock);
    return GetResultTextLocked();
}

QString FileDownloader::GetResultTextLocked() const
{
    return TextUpToZero(data);
}

QString FileDownloader::Md5Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

void FileDownloader::run()
{
    lock.lockForWrite();
    for (int attempt = 0; attempt < maxAttempts; ++attempt) {
        if (stopRequested)
            break;
        if (RunTransfer())
            break;
    }
    finished = true;
    lock.unlock();
}

// Runs with `lock` held for writing, except while the loop runs.
bool FileDownloader::RunTransfer()
{
    // No parent: the manager belongs to this thread alone and is deleted here.
    auto *manager = new QNetworkAccessManager;
    auto *transferLoop = new QEventLoopWithProgress;
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = manager->get(request);
    connect(reply, &QNetworkReply::finished, transferLoop, &QEventLoop::quit);
    connect(reply, &QNetworkReply::downloadProgress, transferLoop, &QEventLoopWithProgress::downloadProgress);
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, transferLoop, &QEventLoop::quit);
    timeout.start(timeoutMs);

    loop = transferLoop;
    lock.unlock();
    transferLoop->exec();
    lock.lockForWrite();
    loop = nullptr;
    timeout.stop();

    replyFinished(reply);
    // This thread runs no event loop after the transfer: delete at once, never deleteLater.
    delete reply;
    delete transferLoop;
    delete manager;
    return succeeded;
}

void FileDownloader::replyFinished(QNetworkReply *pReply)
{
    succeeded = false;
    if (!pReply)
        return;
    if (pReply->isRunning()) {
        // Time-out or stop.
        pReply->abort();
        return;
    }
    if (NativeHelper::IsClosing())
        return;
    if (pReply->error() != QNetworkReply::NoError)
        return;
    if (pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return;
    data = pReply->readAll();
    // A connection closed early must never pass as a complete body.
    // (With a content encoding the announced length is that of the encoded body.)
    const QVariant announced = pReply->header(QNetworkRequest::ContentLengthHeader);
    const QByteArray encoding = pReply->rawHeader("Content-Encoding").trimmed().toLower();
    if (announced.isValid() && (encoding.isEmpty() || encoding == "identity")
        && announced.toLongLong() != data.size())
        return;
    if (requireBody && data.isEmpty())
        return;
    if (!expectedMd5.isEmpty() && Md5Hex(data).compare(expectedMd5, Qt::CaseInsensitive) != 0)
        return;
    // Atomic: on any error the old target stays as it was.
    if (!targetPath.isEmpty() && !WriteBytesFile(targetPath, data))
        return;
    succeeded = true;
}
