#include "folders/DamagedFileKeeper.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const QString CopyMarker = QStringLiteral(".bad-");
}

bool DamagedFileKeeper::Keep(bool move) const
{
    const QString copyPath = NewCopyPath();
    const bool kept = (move && QFile::rename(path, copyPath)) || QFile::copy(path, copyPath);
    if (!kept) {
        qDebug().noquote() << QStringLiteral("cannot keep the damaged file aside: ") + copyPath;
        return false;
    }
    if (move)
        QFile::remove(path);
    PruneOldest();
    return true;
}

QStringList DamagedFileKeeper::KeptCopies() const
{
    const QFileInfo info(path);
    // The time stamp sorts by name; a counter only follows copies made within one millisecond.
    const QStringList names = info.dir().entryList({info.fileName() + CopyMarker + QLatin1Char('*')},
                                                   QDir::Files | QDir::Hidden, QDir::Name);
    QStringList paths;
    for (const QString &name : names)
        paths.append(info.dir().filePath(name));
    return paths;
}

QString DamagedFileKeeper::NewCopyPath() const
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmsszzz"));
    const QString base = path + CopyMarker + stamp;
    QString candidate = base;
    for (int n = 1; QFileInfo::exists(candidate); ++n)
        candidate = base + QStringLiteral("-%1").arg(n, 3, 10, QLatin1Char('0'));
    return candidate;
}

void DamagedFileKeeper::PruneOldest() const
{
    const QStringList copies = KeptCopies();
    for (int i = 0; i < copies.size() - MaxKeptCopies; ++i)
        QFile::remove(copies.at(i));
}
