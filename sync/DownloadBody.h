#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

#include <memory>

class QSaveFile;

// The body of one transfer as it arrives: kept in memory, or streamed into a temporary file
// that replaces the target only on Commit, never more than a cap of bytes, its MD5 taken on
// the way. A body over the cap, or a target that cannot be written, has failed for good.
class DownloadBody
{
public:
    DownloadBody(const QString &targetPath, qint64 maxBytes);
    ~DownloadBody();
    DownloadBody(const DownloadBody &) = delete;
    DownloadBody &operator=(const DownloadBody &) = delete;

    // False once the body has failed (this chunk made it pass the cap, or a write failed).
    bool Append(const QByteArray &chunk);
    bool Failed() const { return failed; }
    qint64 Size() const { return size; }
    // Lower-case hexadecimal MD5 of every byte appended.
    QString Md5Hex();
    // The bytes kept in memory (empty with a target file).
    QByteArray Memory() const { return memory; }
    // Replaces the target with the body; true without a target. False when that failed.
    bool Commit();

private:
    std::unique_ptr<QSaveFile> file;
    QByteArray memory;
    QCryptographicHash md5;
    qint64 maxBytes;
    qint64 size = 0;
    bool failed = false;
};
