#pragma once

// What the filter dialog is used for.
enum FilterFolderType {
    AddFilter = 1,
    EditFilter = 2,
    SearchBooks = 3
};
