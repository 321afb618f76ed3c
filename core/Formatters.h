#pragma once

#include <QString>

// "0 Books", "1 Book", "2 Books"; a negative count takes the plural too.
QString FormatBookCount(qint64 count);
// "Science (12 Books)".
QString FormatNameWithBookCount(const QString &name, qint64 count);
// Empty for 0; whole KB up to 1048576 bytes (and for negative sizes); MB with 2 decimals above.
QString FormatFileSize(qint64 bytes);
