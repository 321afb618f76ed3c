#include "catalogue/ItemBookLoadCache.h"

#include "catalogue/ItemBook.h"

namespace {
// A catalogue whose "repeating" values turn out unique stops growing the pools.
const int kMaxPooled = 1 << 17;
} // namespace

QString ItemBookLoadCache::Text(TextKind kind, qint64 key, MakeText make)
{
    QHash<qint64, QString> &pool = texts[kind];
    const auto found = pool.constFind(key);
    if (found != pool.constEnd())
        return found.value();
    const QString text = make(key);
    if (pool.size() < kMaxPooled)
        pool.insert(key, text);
    return text;
}

void ItemBookLoadCache::Share(QString &text)
{
    if (text.isEmpty())
        return;
    const auto found = shared.constFind(text);
    if (found != shared.constEnd())
        text = *found;
    else if (shared.size() < kMaxPooled)
        shared.insert(text);
}

QList<qint64> ItemBookLoadCache::IdList(const QString &text)
{
    const auto found = idLists.constFind(text);
    if (found != idLists.constEnd())
        return found.value();
    const QList<qint64> ids = ParseIdList(text);
    if (idLists.size() < kMaxPooled)
        idLists.insert(text, ids);
    return ids;
}

const ItemBookLoadCache::LocalDate &ItemBookLoadCache::Date(qint64 secs)
{
    auto found = dates.find(secs);
    if (found == dates.end()) {
        if (dates.size() >= kMaxPooled)
            dates.clear(); // keeps the pool bounded; entries are only a shortcut
        LocalDate date;
        date.time = converter.FromSecsSinceEpoch(secs);
        if (date.time.isValid())
            date.shortDateText = converter.ShortDateText(date.time.date());
        found = dates.insert(secs, date);
    }
    return found.value();
}
