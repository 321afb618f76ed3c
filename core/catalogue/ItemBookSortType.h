#pragma once

// The order of a folder's book list; stored as an int. Values 7 to 10 have no enumerator
// and leave the resolved books in their input order.
enum ItemBookSortType : int {
    OrderBy_None = 0,           // the folder's stored order
    OrderBy_EventStartDate = 1, // ItemBook::firstPubTime, always newest first
    OrderBy_BookDate = 2,       // ItemBook::bookDate
    OrderBy_OrgPrice = 3,       // ItemBook::orgPrice
    OrderBy_UserRating = 4,     // ItemBook::stars
    OrderBy_BookPages = 5,      // ItemBook::pages
    OrderBy_BookSize = 6,       // ItemBook::size
    OrderBy_Random = 11         // a new random permutation at every sort
};

// The direction a type gets when the user switches to it from another type.
bool ItemBookSortTypeInitialAscending(ItemBookSortType type);
// Whether choosing the type already in force again flips the direction.
bool ItemBookSortTypeFlipsOnRepeat(ItemBookSortType type);
