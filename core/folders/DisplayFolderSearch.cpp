#include "folders/DisplayFolderSearch.h"

void DisplayFolderSearch::Clear()
{
    *this = DisplayFolderSearch();
}

bool DisplayFolderSearch::IsEmpty() const
{
    return findName.isEmpty() && findAuthor.isEmpty() && findCategoryName.isEmpty()
        && findDescription.isEmpty() && findUserRating.isEmpty() && findOrgPrice.isEmpty()
        && findBookPages.isEmpty() && findBookSize.isEmpty() && findCategoryList.isEmpty();
}
