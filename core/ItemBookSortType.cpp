#include "ItemBookSortType.h"

bool ItemBookSortTypeInitialAscending(ItemBookSortType type)
{
    return type == OrderBy_BookPages || type == OrderBy_BookSize;
}

bool ItemBookSortTypeFlipsOnRepeat(ItemBookSortType type)
{
    return (type >= OrderBy_BookDate && type <= OrderBy_BookSize) || type == OrderBy_Random;
}
