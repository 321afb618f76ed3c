#include "catalogue/ItemBook.h"

#include "Formatters.h"
#include "catalogue/ItemBookLoadCache.h"
#include "catalogue/LocalTimeConverter.h"
#include "catalogue/SqlText.h"

#include <QStringList>

#include <cmath>
#include <cstring>
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

qint64 ItemBook::CatalogueSeconds(const QVariant &value)
{
    return static_cast<qint64>(static_cast<quint32>(value.toLongLong()));
}

namespace {

// Floats travel through the text cache as their bit pattern.
qint64 FloatKey(float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float KeyFloat(qint64 key)
{
    const quint32 bits = static_cast<quint32>(key);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

QString MakePagesText(qint64 pages)
{
    return pages != 0 ? QString::number(pages) + QStringLiteral(" Pages") : QString();
}

QString MakeStarsText(qint64 key)
{
    const float stars = KeyFloat(key);
    return std::fabs(stars) < std::numeric_limits<float>::epsilon()
               ? QString()
               : QString::number(static_cast<double>(stars), 'g', 6);
}

QString MakePriceText(qint64 key)
{
    return QStringLiteral("$") + QString::number(static_cast<double>(KeyFloat(key)), 'f', 2);
}

QString TextValue(const DatabaseRow &row, const char *column)
{
    QString text = row.value(QLatin1String(column)).toString();
    if (text.size() > ItemBook::MaxTextLength) {
        int keep = ItemBook::MaxTextLength - 1;
        if (text.at(keep - 1).isHighSurrogate())
            --keep; // never half a character
        text.truncate(keep);
        text.append(QChar(0x2026));
    }
    return text;
}

} // namespace

QString ItemBook::SelectList(const QStringList &columns, const QStringList &textColumns)
{
    return SqlBoundedSelectList(columns, textColumns);
}

ItemBook::ItemBook()
    : orgPriceField(QStringLiteral("OrgPrice")),
      pagesField(QStringLiteral("BookPages")),
      sizeField(QStringLiteral("BookSize")),
      starsField(QStringLiteral("BookStars"))
{
}

bool ItemBook::LoadFromRecord(const DatabaseRow &row)
{
    const LocalTimeConverter converter;
    return Fill(row, converter, nullptr);
}

bool ItemBook::LoadFromRecord(const DatabaseRow &row, ItemBookLoadCache &cache)
{
    return Fill(row, cache.Converter(), &cache);
}

bool ItemBook::Fill(const DatabaseRow &row, const LocalTimeConverter &converter, ItemBookLoadCache *cache)
{
    uid = row.value(QStringLiteral("UID")).toLongLong();
    lid = row.value(QStringLiteral("LID")).toLongLong();
    name = TextValue(row, "BookName");
    orgPrice = row.value(QStringLiteral("OrgPrice")).toFloat();
    price = row.value(QStringLiteral("BookPrice")).toFloat();
    catalogNames = TextValue(row, "BookCatalog");
    catalogIds = TextValue(row, "BookCatalogIDS");
    author = TextValue(row, "BookAuthor");
    const qint64 bookSeconds = CatalogueSeconds(row.value(QStringLiteral("BookDate")));
    pages = row.value(QStringLiteral("BookPages")).toLongLong();
    size = row.value(QStringLiteral("BookSize")).toLongLong();
    stars = row.value(starsField).toFloat();
    starsCount = row.value(QStringLiteral("BookStarsCount")).toLongLong();
    goLink = TextValue(row, "GoLink");
    transLink = TextValue(row, "_TransLink");
    introLong = TextValue(row, "IntroLong");
    firstPubTime = converter.FromSecsSinceEpoch(CatalogueSeconds(row.value(QStringLiteral("FirstPubTimeGMT"))));
    localCompField = row.value(QStringLiteral("LocalCompField")).toLongLong();
    checkTime = converter.FromSecsSinceEpoch(CatalogueSeconds(row.value(QStringLiteral("_CheckTimeGMT"))));
    imageCompId = row.value(QStringLiteral("_ImageCompID")).toLongLong();

    // The catalogue writes its event times as UTC wall-clock values: the shown date and clock
    // time are re-read as UTC and converted to local time.
    firstPubTimeLocal = converter.WallClockAsUtcToLocal(firstPubTime);
    firstPubText = firstPubTimeLocal.isValid() ? converter.ShortText(firstPubTimeLocal) : QString();
    checkTimeLocal = converter.WallClockAsUtcToLocal(checkTime);

    if (cache) {
        // Values that repeat across a catalogue are shared; names, links, descriptions and
        // event times rarely repeat.
        const ItemBookLoadCache::LocalDate &date = cache->Date(bookSeconds);
        bookDate = date.time;
        bookDateText = date.shortDateText;
        catalogIdList = cache->IdList(catalogIds);
        cache->Share(catalogIds);
        cache->Share(catalogNames);
        cache->Share(author);
        pagesText = cache->Text(ItemBookLoadCache::PagesText, pages, MakePagesText);
        sizeText = FormatFileSize(size); // sizes rarely repeat, their rounded texts do
        cache->Share(sizeText);
        starsText = cache->Text(ItemBookLoadCache::StarsText, FloatKey(stars), MakeStarsText);
        orgPriceText = cache->Text(ItemBookLoadCache::PriceText, FloatKey(orgPrice), MakePriceText);
    } else {
        bookDate = converter.FromSecsSinceEpoch(bookSeconds);
        bookDateText = bookDate.isValid() ? converter.ShortDateText(bookDate.date()) : QString();
        catalogIdList = ParseIdList(catalogIds);
        pagesText = MakePagesText(pages);
        sizeText = FormatFileSize(size);
        starsText = MakeStarsText(FloatKey(stars));
        orgPriceText = MakePriceText(FloatKey(orgPrice));
    }

    if (!IsValidBook(uid, name)) {
        comparePart = ItemComparePart();
        return false;
    }
    comparePart = ItemComparePart(uid, imageCompId);
    return true;
}
