#pragma once

#include "catalogue/ItemBookSortType.h"

#include <QMutex>
#include <QReadWriteLock>

// Paging and sort state of the book list. The counters change only in Reset; the list display
// sets currentPage and the sort fields under lock.
class DisplayPageState
{
public:
    DisplayPageState() = default;
    DisplayPageState(const DisplayPageState &) = delete;
    DisplayPageState &operator=(const DisplayPageState &) = delete;

    int totalCount = 0;
    int pageCount = 0;
    // 1-based.
    int currentPage = 1;
    // At least 1.
    int pageSize = 1;
    QMutex mutex;
    QReadWriteLock lock;
    ItemBookSortType sortType = OrderBy_None;
    bool ascending = false;

    // Sets the counters for count ids at page size per page and goes back to page 1.
    void Reset(int count, int pageSize);

    // Locked accessors for callers that do not hold lock.
    void SetCurrentPage(int page);
    void SetSort(ItemBookSortType type, bool isAscending);
    int GetPageCount();
    int GetCurrentPage();
    int GetPageSize();
    ItemBookSortType GetSortType();
};
