#pragma once

// Value of DisplayFolder::type. Any other value is kept and saved but yields no books.
enum DisplayFolderType {
    CategoryFolder = 1,
    FilterFolder = 2,
    SearchResult = 101,
    NewArrivals = 201,
    BestBooks = 202,
    AllBooks = 401
};
