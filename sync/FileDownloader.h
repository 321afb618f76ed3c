#pragma once

#include "catalogue/ItemComparePart.h"

#include <QByteArray>
#include <QMutex>
#include <QPair>
#include <QReadWriteLock>
#include <QString>
#include <QThread>

#include <memory>

class DownloadBody;
class IBaseCloseable;
class QEventLoopWithProgress;
class QNetworkReply;

// One HTTP GET in a thread of its own: time-out per transfer, a number of attempts, an optional
// MD5 check and an optional target file (written atomically). Used for one run.
// Bodies are taken as sent (no content decoding) and never larger than `maxBytes`: the length
// is checked against Content-Length (and the free space of the target's disk) and while the
// body arrives, and a target file receives it as it arrives rather than from memory.
//
// The owner starts it (RunAndWait, or StartLowPriority), waits in slices (Wait, or polling
// `finished` under `lock`), reads the result and destroys it.
// `lock` is held for writing by the downloader's thread for its whole run except while a
// transfer's event loop runs, so readers block only while a transfer is set up or handled.
// Only status 200 succeeds; redirects are never followed and TLS errors are never ignored.
class FileDownloader : public QThread
{
    Q_OBJECT
public:
    FileDownloader(const ItemComparePart &tag, const QString &url, IBaseCloseable *closeable,
                   int timeoutMs, const QString &targetPath);
    ~FileDownloader() override;

    // Starts at LowPriority and waits in short slices. The body as text on success, else empty;
    // empty at once when the thread already runs.
    QString RunAndWait();
    // Starts the thread at LowPriority under startMutex unless it runs. A thread that cannot
    // start (the system's thread limit) ends the run at once as a failed download; returns
    // whether the thread started.
    bool StartLowPriority();
    // Waits until the result is final, asking `closeable` before each slice (and stopping the
    // transfer when it says so). Returns `succeeded`.
    bool Wait(int sliceMs);
    // Ends a running transfer (it fails), starts no further attempt and waits for the thread.
    void Stop();
    // (bytes received, bytes total) of the running transfer; (0, 0) between transfers.
    QPair<qint64, qint64> GetProgress();
    // `data` as UTF-8 up to its first zero byte.
    QString GetResultText();
    // Lower-case hexadecimal MD5 of the bytes (32 characters).
    static QString Md5Hex(const QByteArray &bytes);

    QString targetPath;
    QString url;
    // Expected MD5 as hexadecimal text, any case; empty: no check. Set under `lock` before the start.
    QString expectedMd5;
    QReadWriteLock lock;
    QMutex startMutex;
    QByteArray data;
    ItemComparePart tag;
    QEventLoopWithProgress *loop = nullptr;
    IBaseCloseable *closeable;
    int timeoutMs;
    int maxAttempts = 1;
    // How often a waiting owner checks whether it is asked to stop: a stop from the GUI thread
    // (Clear All Cache) waits this long at most for the transfer to be abandoned.
    static constexpr int WaitSliceMs = 20;
    // Largest body of each kind of download; set maxBytes before the start.
    static constexpr qint64 MaxAnswerBytes = 64 * 1024;
    static constexpr qint64 MaxVersionBytes = 64 * 1024;
    static constexpr qint64 MaxCoverBytes = 16 * 1024 * 1024;
    // Far above today's catalogues: the body goes to a temporary file, so memory is not the limit.
    static constexpr qint64 MaxCatalogueBytes = qint64(4) << 30;
    // What Qt may hold of a body before it is taken: little until the headers are accepted,
    // since a refused reply (status 400 or more) ends at its headers and its body is never read.
    static constexpr qint64 HeaderReadBufferBytes = 16 * 1024;
    static constexpr qint64 BodyReadBufferBytes = 256 * 1024;
    qint64 maxBytes = MaxAnswerBytes;
    // True: an empty body fails like an error (the target is then not touched). Set before the start.
    bool requireBody = false;
    bool finished = false;
    bool succeeded = false;
    bool stopRequested = false;

public slots:
    // Decides the outcome of one transfer; called directly by the transfer, `lock` held.
    void replyFinished(QNetworkReply *pReply);

protected:
    void run() override;

private:
    bool StartLocked();
    bool RunTransfer();
    // Headers of the reply: a status other than 200, a content encoding, or an announced length
    // over the cap or beyond the target disk's free space ends the transfer at once.
    void CheckHeaders(QNetworkReply *reply, QEventLoopWithProgress *transferLoop);
    void TakeBody(QNetworkReply *reply, QEventLoopWithProgress *transferLoop);
    static void AbortFromSignal(QNetworkReply *reply);
    QString GetResultTextLocked() const;

    // The body of the running transfer; used by this thread only.
    std::unique_ptr<DownloadBody> body;
    bool headersChecked = false;
};
