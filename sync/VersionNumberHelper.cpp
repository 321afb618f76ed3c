#include "VersionNumberHelper.h"

#include <QStringList>
#include <QVector>

QVersionNumber ParseVersionNumber(const QString &text)
{
    if (text.isEmpty())
        return QVersionNumber();
    const QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 3 && parts.size() != 4)
        return QVersionNumber();
    QVector<int> segments;
    segments.reserve(3);
    for (int i = 0; i < 3; ++i)
        segments.append(parts.at(i).toInt(nullptr, 10)); // 0 when not a number
    return QVersionNumber(segments);
}

QString BoundedVersionText(const QString &answer)
{
    QString text;
    // Only look at a little more than we keep: the body may be arbitrarily large.
    const QStringView head = QStringView(answer).left(MaxVersionTextLength * 4);
    text.reserve(head.size());
    for (const QChar c : head) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            continue;
        text.append(c);
    }
    text = text.trimmed();
    if (text.size() > MaxVersionTextLength) {
        text.truncate(MaxVersionTextLength);
        // Never leave half of a surrogate pair behind.
        if (text.at(text.size() - 1).isHighSurrogate())
            text.chop(1);
    }
    return text;
}

QString EscapedVersionText(const QString &answer)
{
    // toHtmlEscaped leaves single quotes alone; links here are written with them.
    return BoundedVersionText(answer).toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;"));
}
