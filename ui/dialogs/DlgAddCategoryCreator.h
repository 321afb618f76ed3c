#pragma once

#include <QHash>
#include <QList>
#include <QString>

class FlowLayout;
class ItemDataSaver;
class QCheckBox;

// Builds and reads a check list of the large catalogue categories.
struct AddCategoryCreator
{
    FlowLayout *flowLayout = nullptr;
    ItemDataSaver *catalogue = nullptr;
    // False: preselected categories are checked and disabled; true: checked and still enabled.
    bool allowUncheckExisting = false;
    // In: the ids to show checked. GetCheckedIds replaces it with its result.
    QList<qint64> categoryIds;
    QHash<QCheckBox *, qint64> boxIds;

    // One box per category with 10 or more books, in caption order, coloured by size.
    void BuildCategoryCheckBoxes();
    // The ids of the enabled, checked boxes in layout order; never null.
    QList<qint64> *GetCheckedIds();

    // The background of a category's box by its book count; empty for no colour.
    static QString ColorForBookCount(qint64 bookCount);
};
