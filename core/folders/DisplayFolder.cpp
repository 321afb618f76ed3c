#include "folders/DisplayFolder.h"

#include "Formatters.h"

void DisplayFolder::UpdateCaptionWithCount()
{
    calcCaption = FormatNameWithBookCount(caption, calcBookCount);
}

DisplayFolder *DisplayFolder::CreateSearchFolder()
{
    return CreateBuiltinFolder(SearchResult, QStringLiteral("Search Result"));
}

DisplayFolder *DisplayFolder::CreateBuiltinFolder(int type, const QString &caption)
{
    auto *folder = new DisplayFolder();
    folder->uid = QUuid::createUuid();
    folder->type = type;
    folder->caption = caption;
    folder->UpdateCaptionWithCount();
    return folder;
}
