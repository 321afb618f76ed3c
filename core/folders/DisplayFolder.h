#pragma once

#include "folders/DisplayFolderSearch.h"
#include "folders/DisplayFolderType.h"

#include <QList>
#include <QString>
#include <QUuid>

// One folder of the tree. Created on the heap; owned by the folder store once added.
class DisplayFolder
{
public:
    QUuid uid;
    int type = 0;
    QString caption;
    // The name shown in the tree, with the book count.
    QString calcCaption;
    qint64 categoryUid = 0;
    DisplayFolderSearch search;
    qint64 calcBookCount = 0;
    // Kept and saved unchanged; nothing computes it.
    qint64 calcUnreadCount = 0;
    // Ids in the catalogue's stored order, as the last computation returned them.
    QList<qint64> bookIds;
    // The same ids in the display order; filled by the page loader, never saved.
    QList<qint64> sortedBookIds;

    // calcCaption = caption with calcBookCount.
    void UpdateCaptionWithCount();

    // A new "Search Result" folder with a fresh uid; the caller owns it until it is added.
    static DisplayFolder *CreateSearchFolder();
    // A new built-in folder of the given type and caption with a fresh uid.
    static DisplayFolder *CreateBuiltinFolder(int type, const QString &caption);
};
