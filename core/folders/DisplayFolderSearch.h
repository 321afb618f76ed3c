#pragma once

#include <QList>
#include <QStringList>

// A folder's filter conditions; turned into SQL by the folder queries.
class DisplayFolderSearch
{
public:
    QStringList findName;
    QStringList findAuthor;
    QStringList findCategoryName;
    // Filled by the search dialog only; never saved.
    QStringList findDescription;
    QList<qint64> findUserRating;
    QList<qint64> findOrgPrice;
    QList<qint64> findBookPages;
    QList<qint64> findBookSize;
    QList<qint64> findCategoryList;

    void Clear();
    bool IsEmpty() const;
};
