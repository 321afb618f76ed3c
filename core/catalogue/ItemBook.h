#pragma once

#include "catalogue/DatabaseRow.h"

#include "catalogue/ItemComparePart.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// One catalogue row as DatabaseHolder::SelectRows returns it: column name -> value.
class ItemBookLoadCache;
class LocalTimeConverter;

// Splits "|12|40|" into its positive ids, in order; empty parts are skipped, duplicates kept.
QList<qint64> ParseIdList(const QString &text);
// Clears the destination (when given), then appends every id of the source (when given).
void CopyIdList(const QList<qint64> *source, QList<qint64> *destination);

// One book of the catalogue, filled from one row of "published_bookinfo".
// Created on the heap by the catalogue store and owned by its book cache.
// Loaded date-times are local times: each holds its instant with the local offset of that
// instant (LocalTimeConverter), so dates, clock times and texts read as local ones.
class ItemBook
{
public:
    ItemBook();

    // Fills the record from one row; false when the row has no positive "UID" or no "BookName".
    bool LoadFromRecord(const DatabaseRow &row);
    // The same for one of many records filled together: repeated values are shared through
    // the cache (the record's values are equal to those of the one-row form).
    bool LoadFromRecord(const DatabaseRow &row, ItemBookLoadCache &cache);

    // Catalogue times are unsigned 32-bit seconds since the epoch.
    static qint64 CatalogueSeconds(const QVariant &value);
    // Whether a row with this id and name holds a book.
    static bool IsValidBook(qint64 uid, const QString &name) { return uid >= 1 && !name.isEmpty(); }

    // Longest text a record keeps of one field (UTF-16 units). A longer catalogue value is cut
    // to fit, ending in "…", so that no value can swamp memory or the views.
    static const int MaxTextLength = 65536;
    // What a read of book rows selects from a table with these columns: every column, any text
    // or blob in it cut by SQLite to just over MaxTextLength, so a huge value never reaches the
    // program whole (a number field holding a long text reads as a malformed number).
    static QString SelectList(const QStringList &columns, const QStringList &textColumns);

    qint64 uid = 0;
    qint64 lid = 0;
    QString name;
    float orgPrice = 0.0f;
    QString orgPriceField;
    float price = 0.0f;
    QString catalogNames;
    QString catalogIds;
    QString author;
    QDateTime bookDate;
    qint64 pages = 0;
    QString pagesField;
    qint64 size = 0;
    QString sizeField;
    float stars = 0.0f;
    QString starsField;
    qint64 starsCount = 0;
    QString goLink;
    QString transLink;
    QString introLong;
    QDateTime firstPubTime;
    qint64 localCompField = 0;
    QDateTime checkTime;
    qint64 imageCompId = 0;

    // Derived values.
    QDateTime firstPubTimeLocal;
    QDateTime checkTimeLocal;
    QList<qint64> catalogIdList;
    QString firstPubText;
    QString bookDateText;
    QString sizeText;
    QString pagesText;
    QString starsText;
    QString orgPriceText;
    ItemComparePart comparePart;

private:
    bool Fill(const DatabaseRow &row, const LocalTimeConverter &converter, ItemBookLoadCache *cache);
};
