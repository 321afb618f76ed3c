#pragma once

#include <QtGlobal>
#include <QHash>
#include <QMetaType>

// Identifies one cover image: the book's id and its cover image id.
// {0, 0} stands for "no cover".
class ItemComparePart
{
public:
    qint64 uid = 0;
    qint64 imageCompId = 0;

    ItemComparePart() = default;
    ItemComparePart(qint64 bookUid, qint64 imageId) : uid(bookUid), imageCompId(imageId) {}

    bool IsEmpty() const { return uid == 0 && imageCompId == 0; }

    bool operator==(const ItemComparePart &other) const
    {
        return uid == other.uid && imageCompId == other.imageCompId;
    }
    bool operator!=(const ItemComparePart &other) const { return !(*this == other); }
    // Gives a strict order so the record can key a QMap.
    bool operator<(const ItemComparePart &other) const
    {
        return uid != other.uid ? uid < other.uid : imageCompId < other.imageCompId;
    }
};

inline uint qHash(const ItemComparePart &key, uint seed = 0) noexcept
{
    return qHash(qMakePair(key.uid, key.imageCompId), seed);
}

Q_DECLARE_TYPEINFO(ItemComparePart, Q_PRIMITIVE_TYPE);
Q_DECLARE_METATYPE(ItemComparePart)
