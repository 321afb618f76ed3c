// Book orderings of a folder's id list.
#include "catalogue/ItemDataSaver.h"

#include "catalogue/ItemBook.h"
#include "catalogue/ItemSortKeys.h"
#include "threads/QReadLockerExt2.h"
#include "ShuffleInPlace.h"

#include <QVector>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// Keys are extracted once, so a sort of the whole catalogue converts no date-time per comparison.
// Dates become milliseconds since the epoch (the order of QDateTime's less-than).
template <typename Book, typename KeyOf>
void SortByKey(QVector<Book *> &work, bool ascending, KeyOf keyOf)
{
    using Key = decltype(keyOf(work.first()));
    using KeyedBook = std::pair<Key, Book *>;
    QVector<KeyedBook> keyed;
    keyed.reserve(work.size());
    for (Book *book : qAsConst(work))
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

// Reorders the working list by the type; Keys turns a book into its key values.
template <typename Book, typename Keys>
void SortWork(QVector<Book *> &work, ItemBookSortType sortType, bool ascending, Keys keys)
{
    switch (sortType) {
    case OrderBy_EventStartDate: // always newest first
        SortByKey(work, false, [&keys](Book *b) { return keys.FirstPub(b); });
        break;
    case OrderBy_BookDate:
        SortByKey(work, ascending, [&keys](Book *b) { return keys.BookDate(b); });
        break;
    case OrderBy_OrgPrice:
        SortByKey(work, ascending, [&keys](Book *b) { return FloatKey(keys.OrgPrice(b)); });
        break;
    case OrderBy_UserRating:
        SortByKey(work, ascending, [&keys](Book *b) { return FloatKey(keys.Stars(b)); });
        break;
    case OrderBy_BookPages:
        SortByKey(work, ascending, [&keys](Book *b) { return keys.Pages(b); });
        break;
    case OrderBy_BookSize:
        SortByKey(work, ascending, [&keys](Book *b) { return keys.Size(b); });
        break;
    case OrderBy_Random:
        ShuffleInPlace(work);
        break;
    default: // 7 to 10 and unknown values keep the input order
        break;
    }
}

struct RecordKeys
{
    qint64 FirstPub(const ItemBook *b) const { return DateKey(b->firstPubTime); }
    qint64 BookDate(const ItemBook *b) const { return DateKey(b->bookDate); }
    float OrgPrice(const ItemBook *b) const { return b->orgPrice; }
    float Stars(const ItemBook *b) const { return b->stars; }
    qint64 Pages(const ItemBook *b) const { return b->pages; }
    qint64 Size(const ItemBook *b) const { return b->size; }
    static qint64 Uid(const ItemBook *b) { return b->uid; }
};

// Loaded dates are valid local times of their instant: their order is that of the seconds.
struct StoredKeys
{
    using Entry = const ItemSortKeys::Entry;
    qint64 FirstPub(Entry *e) const { return e->firstPubSecs; }
    qint64 BookDate(Entry *e) const { return e->bookDateSecs; }
    float OrgPrice(Entry *e) const { return e->orgPrice; }
    float Stars(Entry *e) const { return e->stars; }
    qint64 Pages(Entry *e) const { return e->pages; }
    qint64 Size(Entry *e) const { return e->size; }
    static qint64 Uid(Entry *e) { return e->uid; }
};

template <typename Book, typename Keys, typename Resolve>
void SortResolved(const QList<qint64> &bookIds, ItemBookSortType sortType, bool ascending,
                  QList<qint64> &sortedIds, Resolve resolve)
{
    QVector<Book *> work;
    work.reserve(bookIds.size());
    for (const qint64 id : bookIds) {
        if (Book *book = resolve(id))
            work.append(book);
    }
    SortWork(work, sortType, ascending, Keys());
    sortedIds.reserve(work.size());
    for (Book *book : qAsConst(work))
        sortedIds.append(Keys::Uid(book));
}

} // namespace

void ItemDataSaver::SortBookIds(ItemBookSortType sortType, bool ascending,
                                const QList<qint64> *bookIds, QList<qint64> &sortedIds,
                                const QReadLockerExt2 &token)
{
    token.CheckLock(&lock);
    sortedIds.clear();
    if (!bookIds || bookIds->isEmpty())
        return;
    if (sortType == OrderBy_None) {
        CopyIdList(bookIds, &sortedIds);
        return;
    }
    if (sortKeys->IsLoaded()) {
        const ItemSortKeys &keys = *sortKeys;
        SortResolved<const ItemSortKeys::Entry, StoredKeys>(
            *bookIds, sortType, ascending, sortedIds, [&keys](qint64 id) { return keys.Find(id); });
    } else {
        SortResolved<ItemBook, RecordKeys>(*bookIds, sortType, ascending, sortedIds,
                                           [this, &token](qint64 id) { return GetBook(id, token); });
    }
}
