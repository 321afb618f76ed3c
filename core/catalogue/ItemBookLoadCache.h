#pragma once

#include "catalogue/LocalTimeConverter.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

// Shared state while many book records are filled in one go (the whole catalogue).
//
// Catalogues repeat many values: authors, category lists, publication dates, sizes, page
// counts, ratings and prices. Equal values are handed out as copies of one implicitly shared
// text, id list or date-time (each computed once), so 100,000 records keep each distinct
// value once; the records are the same as when filled one by one. Only values that repeat in
// practice are pooled: a pool of unique values would cost memory instead of saving it.
class ItemBookLoadCache
{
public:
    enum TextKind { PagesText, StarsText, PriceText, TextKindCount };
    using MakeText = QString (*)(qint64 key);

    struct LocalDate
    {
        QDateTime time;
        QString shortDateText; // empty for an invalid time
    };

    ItemBookLoadCache() = default;
    ItemBookLoadCache(const ItemBookLoadCache &) = delete;
    ItemBookLoadCache &operator=(const ItemBookLoadCache &) = delete;

    const LocalTimeConverter &Converter() const { return converter; }

    // make(key), computed once per kind and key.
    QString Text(TextKind kind, qint64 key, MakeText make);
    // Replaces text by the pooled equal text (pooling it when new).
    void Share(QString &text);
    // ParseIdList of text, shared between equal texts.
    QList<qint64> IdList(const QString &text);
    // The local date-time of secs with its short date text, shared between equal values
    // (dates repeat; event times mostly do not and are converted directly).
    const LocalDate &Date(qint64 secs);

private:
    LocalTimeConverter converter;
    QHash<qint64, QString> texts[TextKindCount];
    QSet<QString> shared;
    QHash<QString, QList<qint64>> idLists;
    QHash<qint64, LocalDate> dates;
};
