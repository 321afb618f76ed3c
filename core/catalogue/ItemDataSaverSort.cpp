// Book orderings of a folder's id list.
#include "catalogue/ItemDataSaver.h"

#include "catalogue/ItemBook.h"
#include "threads/QWriteLockerExt2.h"
#include "ShuffleInPlace.h"

#include <QVector>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// Keys are extracted once, so a sort of the whole catalogue converts no date-time per comparison.
// Dates become milliseconds since the epoch (the order of QDateTime's less-than).
template <typename KeyOf>
void SortByKey(QVector<ItemBook *> &work, bool ascending, KeyOf keyOf)
{
    using Key = decltype(keyOf(work.first()));
    using KeyedBook = std::pair<Key, ItemBook *>;
    QVector<KeyedBook> keyed;
    keyed.reserve(work.size());
    for (ItemBook *book : qAsConst(work))
        keyed.append(KeyedBook(keyOf(book), book));
    if (ascending)
        std::sort(keyed.begin(), keyed.end(),
                  [](const KeyedBook &a, const KeyedBook &b) { return a.first < b.first; });
    else
        std::sort(keyed.begin(), keyed.end(),
                  [](const KeyedBook &a, const KeyedBook &b) { return b.first < a.first; });
    for (int i = 0; i < keyed.size(); ++i)
        work[i] = keyed.at(i).second;
}

// NaN breaks the strict weak order that std::sort relies on: it sorts as the smallest value.
float FloatKey(float value)
{
    return std::isnan(value) ? -std::numeric_limits<float>::infinity() : value;
}

qint64 DateKey(const QDateTime &time)
{
    return time.toMSecsSinceEpoch();
}

} // namespace

void ItemDataSaver::SortBookIds(ItemBookSortType sortType, bool ascending,
                                const QList<qint64> *bookIds, QList<qint64> &sortedIds,
                                const QWriteLockerExt2 &token)
{
    token.CheckLock(&lock);
    sortedIds.clear();
    if (!bookIds || bookIds->isEmpty())
        return;
    if (sortType == OrderBy_None) {
        CopyIdList(bookIds, &sortedIds);
        return;
    }

    QVector<ItemBook *> work;
    work.reserve(bookIds->size());
    for (const qint64 id : *bookIds) {
        if (ItemBook *book = GetBook(id, token))
            work.append(book);
    }

    switch (sortType) {
    case OrderBy_EventStartDate: // always newest first
        SortByKey(work, false, [](const ItemBook *b) { return DateKey(b->firstPubTime); });
        break;
    case OrderBy_BookDate:
        SortByKey(work, ascending, [](const ItemBook *b) { return DateKey(b->bookDate); });
        break;
    case OrderBy_OrgPrice:
        SortByKey(work, ascending, [](const ItemBook *b) { return FloatKey(b->orgPrice); });
        break;
    case OrderBy_UserRating:
        SortByKey(work, ascending, [](const ItemBook *b) { return FloatKey(b->stars); });
        break;
    case OrderBy_BookPages:
        SortByKey(work, ascending, [](const ItemBook *b) { return b->pages; });
        break;
    case OrderBy_BookSize:
        SortByKey(work, ascending, [](const ItemBook *b) { return b->size; });
        break;
    case OrderBy_Random:
        ShuffleInPlace(work);
        break;
    default: // 7 to 10 and unknown values keep the input order
        break;
    }

    sortedIds.reserve(work.size());
    for (const ItemBook *book : qAsConst(work))
        sortedIds.append(book->uid);
}
