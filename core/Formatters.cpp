#include "Formatters.h"

#include <cmath>

QString FormatBookCount(qint64 count)
{
    return QStringLiteral("%1 Book%2").arg(QString::number(count),
                                           count == 1 ? QString() : QStringLiteral("s"));
}

QString FormatNameWithBookCount(const QString &name, qint64 count)
{
    // One arg() call: a "%2" inside the name must stay as it is.
    return QStringLiteral("%1 (%2)").arg(name, FormatBookCount(count));
}

QString FormatFileSize(qint64 bytes)
{
    if (bytes == 0)
        return QString();
    if (bytes < 1048577)
        return QString::number(std::llround(static_cast<double>(bytes) / 1024.0)) + QStringLiteral(" KB");
    return QString::number(static_cast<double>(bytes) / 1048576.0, 'f', 2) + QStringLiteral(" MB");
}
