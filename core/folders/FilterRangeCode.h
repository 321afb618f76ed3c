#pragma once

#include <QList>
#include <QString>

// Range codes of the filter conditions: rating 1000-1005, original price 2000-2006,
// page count 3000-3007 and file size 4000-4005.
namespace FilterRangeCode {

enum Group { UserRating = 1, OrgPrice = 2, BookPages = 3, BookSize = 4 };

// The SQL condition of a code; empty for 1001 and for unknown codes.
QString Condition(qint64 code);
// The column a code tests; empty when it tests none.
QString Column(qint64 code);
// The translated label the filter dialog shows; empty for codes not offered.
QString Label(qint64 code);
// The codes the filter dialog offers for one group, in table order.
QList<qint64> OfferedCodes(Group group);

} // namespace FilterRangeCode
