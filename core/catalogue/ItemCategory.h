#pragma once

#include "catalogue/DatabaseRow.h"

#include <QHash>
#include <QString>
#include <QVariant>

// One catalogue category from a row of "runtime_cataloginfo"; owned by the catalogue store.
class ItemCategory
{
public:
    // Fills the record from one row; false when "UID" is below 1 or "Caption" is empty.
    bool LoadFromRecord(const DatabaseRow &row);

    // "caption (N Book[s])"; with escape, every "&" of the caption is doubled so that
    // menus and buttons show it rather than take it as a shortcut marker.
    QString MakeCategoryCaption(bool escape) const;

    qint64 uid = 0;
    qint64 lid = 0;
    qint64 bookCount = 0;
    QString caption;
    // MakeCategoryCaption(true), built by LoadFromRecord.
    QString displayCaption;
};
