#pragma once

#include <QString>

class ItemBook;
class QDate;
class QDateTime;

// Texts and choices of the details pane, kept apart from the window so they can be tested.

// "37 Pages / 2.00 MB", in parentheses when asked; empty when neither is known.
QString FormatBookSizeText(qint64 pages, qint64 size, bool parentheses);
// "Today (time)", "Yesterday (time)" or the short date and time in the system locale.
QString FormatRelativeDateTime(const QDateTime &t);
QString FormatRelativeDateTime(const QDateTime &t, const QDate &today);
QString FormatBookDatesText(const ItemBook &book);
// Number of rating stars to show: 0 hides the row.
int VisibleStarCount(float stars);
// 0 recently checked, 1 checked within a week, 2 old, unknown or in the future.
int CheckAgeIconIndex(const QDateTime &checkTime, const QDateTime &now);
