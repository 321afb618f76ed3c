#include "catalogue/ItemBookSortType.h"

bool ItemBookSortTypeInitialAscending(ItemBookSortType type)
{
    // Pages and size start small-to-large; the values without an enumerator (7 to 10, above 11)
    // do too, and every other order starts with the largest or newest.
    return type < OrderBy_None || (type >= OrderBy_BookPages && type != OrderBy_Random);
}

bool ItemBookSortTypeFlipsOnRepeat(ItemBookSortType type)
{
    return (type >= OrderBy_BookDate && type <= OrderBy_BookSize) || type == OrderBy_Random;
}
