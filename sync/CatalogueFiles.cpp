#include "CatalogueFiles.h"

#include "cipher/CipherVfs.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString TextUpToZero(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? bytes : bytes.left(zero));
}

QString ReadTextFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return TextUpToZero(file.readAll());
}

bool WriteBytesFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool WriteTextFile(const QString &path, const QString &text)
{
    return WriteBytesFile(path, text.toUtf8());
}

bool IsFileUsable(const QString &path)
{
    if (path.isEmpty() || !QFile::exists(path))
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly);
}

void RemoveSidecarFiles(const QString &path)
{
    if (path.isEmpty())
        return;
    for (const QString &suffix : CipherVfs::SidecarSuffixes())
        QFile::remove(path + suffix);
}

bool IsSameFilePath(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    if (a.compare(b, Qt::CaseInsensitive) == 0)
        return true;
    const QFileInfo ia(a);
    const QFileInfo ib(b);
    if (ia.absoluteFilePath().compare(ib.absoluteFilePath(), Qt::CaseInsensitive) == 0)
        return true;
    const QString ca = ia.canonicalFilePath();
    return !ca.isEmpty() && ca == ib.canonicalFilePath();
}
