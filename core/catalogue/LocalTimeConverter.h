#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// Converts catalogue times to local date-times for many records at a time.
//
// Every conversion to Qt::LocalTime re-reads the zone rules (tzset); with TZ unset glibc then
// checks /etc/localtime on each call, which dominates loading a large catalogue. This converter
// refreshes the rules once when built and asks the C library for each instant's offset
// directly: a result has the same instant, date, clock time and offset as QDateTime's own
// local-time conversion, held as a fixed offset from UTC. Instants outside the range where Qt
// itself uses the C library, and locales whose short date-time format shows the zone, take
// Qt's own conversion, so displayed texts never differ.
//
// Not shared between threads (each loader builds its own); cheap to build.
class LocalTimeConverter
{
public:
    LocalTimeConverter();

    // The local date-time of secs seconds since 1970-01-01 UTC.
    QDateTime FromSecsSinceEpoch(qint64 secs) const;
    // The date and clock time that `time` shows, taken as UTC and converted to local time;
    // null for an invalid time.
    QDateTime WallClockAsUtcToLocal(const QDateTime &time) const;
    // `time` in the system locale's short date-time format.
    QString ShortText(const QDateTime &time) const;
    // `date` in the system locale's short date format.
    QString ShortDateText(const QDate &date) const;

private:
    QLocale locale;
    // The short format names the zone: fixed-offset results would show another zone name.
    bool exact = false;
};
