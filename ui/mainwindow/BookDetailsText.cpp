#include "mainwindow/BookDetailsText.h"

#include "Formatters.h"
#include "catalogue/ItemBook.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QStringList>
#include <cmath>

QString FormatBookSizeText(qint64 pages, qint64 size, bool parentheses)
{
    QString text;
    if (pages > 0)
        text += QString::number(pages) + QStringLiteral(" Pages");
    if (size > 0) {
        if (!text.isEmpty())
            text += QStringLiteral(" / ");
        text += FormatFileSize(size);
    }
    if (parentheses && !text.isEmpty())
        return QStringLiteral("(") + text + QStringLiteral(")");
    return text;
}

QString FormatRelativeDateTime(const QDateTime &t, const QDate &today)
{
    if (!t.isValid())
        return QString();
    const QLocale locale = QLocale::system();
    if (t.date() == today)
        return QCoreApplication::translate("Const", "Today (%1)").arg(locale.toString(t.time(), QLocale::LongFormat));
    if (t.date().addDays(1) == today)
        return QCoreApplication::translate("Const", "Yesterday (%1)")
            .arg(locale.toString(t.time(), QLocale::LongFormat));
    return locale.toString(t, QLocale::ShortFormat);
}

QString FormatRelativeDateTime(const QDateTime &t)
{
    return FormatRelativeDateTime(t, QDate::currentDate());
}

QString FormatBookDatesText(const ItemBook &book)
{
    QStringList parts;
    const QString first = FormatRelativeDateTime(book.firstPubTimeLocal);
    if (!first.isEmpty())
        parts << QStringLiteral("Event Start Date: ") + first;
    const QString checked = FormatRelativeDateTime(book.checkTimeLocal);
    if (!checked.isEmpty())
        parts << QStringLiteral("Last Check Time: ") + checked;
    if (!book.bookDateText.isEmpty())
        parts << QStringLiteral("Publication Date: ") + book.bookDateText;
    return parts.join(QStringLiteral(" / "));
}

int VisibleStarCount(float stars)
{
    // Written so that a NaN rating hides the row too.
    if (!(stars >= 2.0f))
        return 0;
    if (static_cast<double>(stars) > 4.7)
        return 5;
    return static_cast<int>(stars);
}

int CheckAgeIconIndex(const QDateTime &checkTime, const QDateTime &now)
{
    if (!checkTime.isValid())
        return 2;
    const float seconds = static_cast<float>(checkTime.secsTo(now));
    const int days = static_cast<int>(std::trunc(seconds / 86400.0f));
    if (days >= 0 && days <= 2)
        return 0;
    if (days >= 3 && days <= 7)
        return 1;
    return 2;
}

