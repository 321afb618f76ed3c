#include "catalogue/LocalTimeConverter.h"

#include <ctime>

namespace {

// Qt converts local times through the C library only inside [0, 2037-12-31 23:59:59 UTC];
// outside it Qt applies rules of its own, which the fallback reproduces by calling Qt.
const qint64 kLastLibcSecond = 2145916799;

// Whether a date-time format has a time-zone field ('t' outside quoted text).
bool FormatShowsZone(const QString &format)
{
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char('t'))
            return true;
    }
    return false;
}

} // namespace

LocalTimeConverter::LocalTimeConverter()
    : locale(QLocale::system()),
      exact(FormatShowsZone(locale.dateTimeFormat(QLocale::ShortFormat)))
{
    tzset(); // localtime_r does not refresh the rules itself
}

QDateTime LocalTimeConverter::FromSecsSinceEpoch(qint64 secs) const
{
    if (!exact && secs >= 0 && secs <= kLastLibcSecond) {
        const time_t value = static_cast<time_t>(secs);
        tm parts{};
        if (localtime_r(&value, &parts))
            return QDateTime::fromSecsSinceEpoch(secs, Qt::OffsetFromUTC, static_cast<int>(parts.tm_gmtoff));
    }
    return QDateTime::fromSecsSinceEpoch(secs, Qt::LocalTime);
}

QDateTime LocalTimeConverter::WallClockAsUtcToLocal(const QDateTime &time) const
{
    if (!time.isValid())
        return QDateTime();
    const QDateTime wallClock(time.date(), time.time(), Qt::UTC);
    if (wallClock.time().msec() != 0) // catalogue times are whole seconds; keep any other exact
        return wallClock.toLocalTime();
    return FromSecsSinceEpoch(wallClock.toSecsSinceEpoch());
}

QString LocalTimeConverter::ShortText(const QDateTime &time) const
{
    return locale.toString(time, QLocale::ShortFormat);
}

QString LocalTimeConverter::ShortDateText(const QDate &date) const
{
    return locale.toString(date, QLocale::ShortFormat);
}
