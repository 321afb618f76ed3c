#include "ItemBook.h"

#include "Formatters.h"

#include <QLocale>
#include <QStringList>

#include <cmath>
#include <limits>

QList<qint64> ParseIdList(const QString &text)
{
    QList<qint64> ids;
    if (text.isEmpty())
        return ids;
    const QStringList parts = text.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const qint64 id = part.toLongLong(); // a part that is not a number gives 0
        if (id > 0)
            ids.append(id);
    }
    return ids;
}

void CopyIdList(const QList<qint64> *source, QList<qint64> *destination)
{
    if (!destination)
        return;
    destination->clear();
    if (source)
        destination->append(*source);
}

namespace {

// Catalogue times are unsigned 32-bit seconds since the epoch, shown in local time.
QDateTime ToLocalDateTime(const QVariant &value)
{
    const quint32 seconds = static_cast<quint32>(value.toLongLong());
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(seconds), Qt::LocalTime);
}

// The catalogue writes its event times as UTC wall-clock values: re-read the shown
// date and clock time as UTC and convert to local time.
QDateTime WallClockAsUtcToLocal(const QDateTime &time)
{
    if (!time.isValid())
        return QDateTime();
    return QDateTime(time.date(), time.time(), Qt::UTC).toLocalTime();
}

} // namespace

ItemBook::ItemBook()
    : orgPriceField(QStringLiteral("OrgPrice")),
      pagesField(QStringLiteral("BookPages")),
      sizeField(QStringLiteral("BookSize")),
      starsField(QStringLiteral("BookStars"))
{
}

bool ItemBook::LoadFromRecord(const DatabaseRow &row)
{
    uid = row.value(QStringLiteral("UID")).toLongLong();
    lid = row.value(QStringLiteral("LID")).toLongLong();
    name = row.value(QStringLiteral("BookName")).toString();
    orgPrice = row.value(QStringLiteral("OrgPrice")).toFloat();
    price = row.value(QStringLiteral("BookPrice")).toFloat();
    catalogNames = row.value(QStringLiteral("BookCatalog")).toString();
    catalogIds = row.value(QStringLiteral("BookCatalogIDS")).toString();
    author = row.value(QStringLiteral("BookAuthor")).toString();
    bookDate = ToLocalDateTime(row.value(QStringLiteral("BookDate")));
    pages = row.value(QStringLiteral("BookPages")).toLongLong();
    size = row.value(QStringLiteral("BookSize")).toLongLong();
    stars = row.value(starsField).toFloat();
    starsCount = row.value(QStringLiteral("BookStarsCount")).toLongLong();
    goLink = row.value(QStringLiteral("GoLink")).toString();
    transLink = row.value(QStringLiteral("_TransLink")).toString();
    introLong = row.value(QStringLiteral("IntroLong")).toString();
    firstPubTime = ToLocalDateTime(row.value(QStringLiteral("FirstPubTimeGMT")));
    localCompField = row.value(QStringLiteral("LocalCompField")).toLongLong();
    checkTime = ToLocalDateTime(row.value(QStringLiteral("_CheckTimeGMT")));
    imageCompId = row.value(QStringLiteral("_ImageCompID")).toLongLong();

    catalogIdList = ParseIdList(catalogIds);

    const QLocale locale = QLocale::system();
    if (bookDate.isValid())
        bookDateText = locale.toString(bookDate.date(), QLocale::ShortFormat);

    firstPubTimeLocal = WallClockAsUtcToLocal(firstPubTime);
    firstPubText = firstPubTimeLocal.isValid()
                       ? locale.toString(firstPubTimeLocal, QLocale::ShortFormat)
                       : QString();
    checkTimeLocal = WallClockAsUtcToLocal(checkTime);

    pagesText = pages != 0 ? QString::number(pages) + QStringLiteral(" Pages") : QString();
    sizeText = FormatFileSize(size);
    starsText = std::fabs(stars) < std::numeric_limits<float>::epsilon()
                    ? QString()
                    : QString::number(static_cast<double>(stars), 'g', 6);
    orgPriceText = QStringLiteral("$") + QString::number(static_cast<double>(orgPrice), 'f', 2);

    if (uid < 1 || name.isEmpty()) {
        comparePart = ItemComparePart();
        return false;
    }
    comparePart = ItemComparePart(uid, imageCompId);
    return true;
}
