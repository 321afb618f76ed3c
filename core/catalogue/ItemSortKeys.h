#pragma once

#include <QStringList>
#include <QVector>

class DatabaseHolder;

// The values that the book orderings compare, for every valid book of one catalogue.
//
// Read in one pass when a catalogue is opened (in the worker that opens it), so that ordering
// even the folder of all books needs no book record: about 40 bytes a book instead of a full
// record. Each value converts as the book record converts it, so an order by these keys is the
// order by the records' fields.
class ItemSortKeys
{
public:
    struct Entry
    {
        qint64 uid;
        qint64 pages;
        qint64 size;
        quint32 firstPubSecs;
        quint32 bookDateSecs;
        float orgPrice;
        float stars;
    };

    // Reads the book table through the holder; false (and empty) when the query fails.
    bool Load(DatabaseHolder *holder);
    // Whether Load succeeded: an id that Find misses has no valid book then.
    bool IsLoaded() const { return loaded; }
    // The keys of uid's book, or null.
    const Entry *Find(qint64 uid) const;
    int Count() const { return entries.size(); }
    void Clear();

private:
    // The scan itself, with the column list to select.
    bool ReadRows(DatabaseHolder *holder, const QStringList &select);

    // By uid, one entry per valid book.
    QVector<Entry> entries;
    // When the ids are dense enough: the index of each id's entry (or -1) from firstUid on,
    // so that ordering a million ids costs no binary searches.
    QVector<qint32> denseIndex;
    qint64 firstUid = 0;
    bool loaded = false;
};
