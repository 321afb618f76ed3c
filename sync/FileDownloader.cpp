#include "FileDownloader.h"

#include "CatalogueFiles.h"
#include "DownloadBody.h"
#include "threads/IBaseCloseable.h"
#include "threads/NativeHelper.h"
#include "QEventLoopWithProgress.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QReadLocker>
#include <QStorageInfo>
#include <QTimer>
#include <QUrl>
#include <QWriteLocker>

namespace {
int StatusOf(QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// Status 200 with the body as it is stored (no content encoding): the only replies taken.
bool IsPlainOk(QNetworkReply *reply)
{
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    return StatusOf(reply) == 200 && (encoding.isEmpty() || encoding == "identity");
}

// A refused reply: it fails, whatever its body, and Qt reports an error of its own for it.
bool IsErrorStatus(QNetworkReply *reply)
{
    return StatusOf(reply) >= 400;
}

// Whether an announced body fits the cap and, with a target file, the free space of the disk
// that receives it (the temporary file sits beside the target).
bool AnnouncedFits(qint64 announced, qint64 maxBytes, const QString &targetPath)
{
    if (announced > maxBytes)
        return false;
    if (targetPath.isEmpty() || announced <= 0)
        return true;
    QStorageInfo disk(QFileInfo(targetPath).absolutePath());
    return !disk.isValid() || announced <= disk.bytesAvailable();
}
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
    StartLocked();
    return Wait(WaitSliceMs) ? GetResultText() : QString();
}

bool FileDownloader::StartLowPriority()
{
    QMutexLocker locker(&startMutex);
    return isRunning() || StartLocked();
}

bool FileDownloader::StartLocked()
{
    start(QThread::LowPriority);
    if (isRunning() || isFinished())
        return true;
    QWriteLocker locker(&lock);
    finished = true;
    succeeded = false;
    return false;
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
    // Asking for the body as it is stored turns Qt's own decoding off: a small compressed
    // reply could otherwise grow without bound.
    request.setRawHeader("Accept-Encoding", "identity");
    body = std::make_unique<DownloadBody>(targetPath, maxBytes);
    headersChecked = false;
    QNetworkReply *reply = manager->get(request);
    // Qt stops reading from the socket while this much is waiting to be taken; little until the
    // headers are accepted, so that a refused reply brings little of its body along.
    reply->setReadBufferSize(HeaderReadBufferBytes);
    connect(reply, &QNetworkReply::metaDataChanged, reply, [this, reply, transferLoop] { CheckHeaders(reply, transferLoop); });
    connect(reply, &QNetworkReply::readyRead, reply, [this, reply, transferLoop] { TakeBody(reply, transferLoop); });
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
    body.reset();
    return succeeded;
}

void FileDownloader::CheckHeaders(QNetworkReply *reply, QEventLoopWithProgress *transferLoop)
{
    if (headersChecked || !reply->isRunning())
        return;
    headersChecked = true;
    if (IsErrorStatus(reply)) {
        // Nothing of its body is needed: the transfer ends here like a time-out. The loop quits,
        // and the reply, still running, is aborted and deleted at once, so an error that Qt may
        // have queued for it meanwhile is never delivered as a second one.
        transferLoop->quit();
        return;
    }
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (!IsPlainOk(reply) || (announced.isValid() && !AnnouncedFits(announced.toLongLong(), maxBytes, targetPath))
        || body->Failed()) {
        AbortFromSignal(reply);
        return;
    }
    reply->setReadBufferSize(BodyReadBufferBytes);
}

void FileDownloader::TakeBody(QNetworkReply *reply, QEventLoopWithProgress *transferLoop)
{
    CheckHeaders(reply, transferLoop);
    if (!reply->isRunning())
        return;
    const QByteArray chunk = reply->read(reply->bytesAvailable());
    // A refused reply's bytes, arrived before its transfer ended, are dropped.
    if (!IsErrorStatus(reply) && !body->Append(chunk))
        AbortFromSignal(reply);
}

// Aborting inside the reply's own signal makes Qt report the error twice; the abort waits for the
// loop instead. Whatever arrives meanwhile is refused by the failed body or the header check.
void FileDownloader::AbortFromSignal(QNetworkReply *reply)
{
    QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
}

void FileDownloader::replyFinished(QNetworkReply *pReply)
{
    succeeded = false;
    if (!pReply)
        return;
    if (pReply->isRunning()) {
        // Time-out, stop, or a refused reply ended at its headers.
        pReply->abort();
        return;
    }
    if (NativeHelper::IsClosing())
        return;
    if (pReply->error() != QNetworkReply::NoError)
        return;
    if (!IsPlainOk(pReply))
        return;
    if (!body || !body->Append(pReply->readAll()))
        return;
    data = body->Memory();
    // A connection closed early must never pass as a complete body.
    const QVariant announced = pReply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && announced.toLongLong() != body->Size())
        return;
    if (requireBody && body->Size() == 0)
        return;
    if (!expectedMd5.isEmpty() && body->Md5Hex().compare(expectedMd5, Qt::CaseInsensitive) != 0)
        return;
    // Atomic: on any error the old target stays as it was.
    if (!body->Commit())
        return;
    succeeded = true;
}
