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
// Dates become milliseconds since the epoch (the order of QDateTime's less-than). The pairs
// carry the ids, so the ordered ids come straight out of them.
template <typename Book, typename KeyOf, typename UidOf>
void SortByKey(const QVector<Book *> &work, bool ascending, KeyOf keyOf, UidOf uidOf, QList<qint64> &sortedIds)
{
    using Key = decltype(keyOf(work.first()));
    using KeyedId = std::pair<Key, qint64>;
    QVector<KeyedId> keyed;
    keyed.reserve(work.size());
    for (Book *book : work)
        keyed.append(KeyedId(keyOf(book), uidOf(book)));
    if (ascending)
        std::sort(keyed.begin(), keyed.end(), [](const KeyedId &a, const KeyedId &b) { return a.first < b.first; });
    else
        std::sort(keyed.begin(), keyed.end(), [](const KeyedId &a, const KeyedId &b) { return b.first < a.first; });
    for (const KeyedId &entry : qAsConst(keyed))
        sortedIds.append(entry.second);
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

// Appends the ids of the working list in the order of the type; Keys turns a book into its
// key values and its id.
template <typename Book, typename Keys>
void SortWork(QVector<Book *> &work, ItemBookSortType sortType, bool ascending, Keys keys,
              QList<qint64> &sortedIds)
{
    const auto uid = [](Book *b) { return Keys::Uid(b); };
    sortedIds.reserve(work.size());
    switch (sortType) {
    case OrderBy_EventStartDate: // always newest first
        SortByKey(work, false, [&keys](Book *b) { return keys.FirstPub(b); }, uid, sortedIds);
        return;
    case OrderBy_BookDate:
        SortByKey(work, ascending, [&keys](Book *b) { return keys.BookDate(b); }, uid, sortedIds);
        return;
    case OrderBy_OrgPrice:
        SortByKey(work, ascending, [&keys](Book *b) { return FloatKey(keys.OrgPrice(b)); }, uid, sortedIds);
        return;
    case OrderBy_UserRating:
        SortByKey(work, ascending, [&keys](Book *b) { return FloatKey(keys.Stars(b)); }, uid, sortedIds);
        return;
    case OrderBy_BookPages:
        SortByKey(work, ascending, [&keys](Book *b) { return keys.Pages(b); }, uid, sortedIds);
        return;
    case OrderBy_BookSize:
        SortByKey(work, ascending, [&keys](Book *b) { return keys.Size(b); }, uid, sortedIds);
        return;
    case OrderBy_Random:
        ShuffleInPlace(work);
        break;
    default: // 7 to 10 and unknown values keep the input order
        break;
    }
    for (Book *book : qAsConst(work))
        sortedIds.append(Keys::Uid(book));
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
    SortWork(work, sortType, ascending, Keys(), sortedIds);
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
