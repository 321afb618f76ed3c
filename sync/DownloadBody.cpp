#include "DownloadBody.h"

#include <QSaveFile>

DownloadBody::DownloadBody(const QString &targetPath, qint64 maxBytes)
    : md5(QCryptographicHash::Md5), maxBytes(maxBytes)
{
    if (targetPath.isEmpty())
        return;
    file = std::make_unique<QSaveFile>(targetPath);
    failed = !file->open(QIODevice::WriteOnly);
}

// An uncommitted temporary file is removed with the QSaveFile.
DownloadBody::~DownloadBody() = default;

bool DownloadBody::Append(const QByteArray &chunk)
{
    if (failed)
        return false;
    if (chunk.size() > maxBytes - size) {
        failed = true;
        return false;
    }
    size += chunk.size();
    md5.addData(chunk);
    if (file)
        failed = file->write(chunk) != chunk.size();
    else
        memory.append(chunk);
    return !failed;
}

QString DownloadBody::Md5Hex()
{
    return QString::fromLatin1(md5.result().toHex());
}

bool DownloadBody::Commit()
{
    if (failed)
        return false;
    return !file || file->commit();
}
