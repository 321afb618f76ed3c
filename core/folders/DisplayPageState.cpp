#include "folders/DisplayPageState.h"

#include <QtMath>

void DisplayPageState::Reset(int count, int size)
{
    QMutexLocker serial(&mutex);
    QWriteLocker locker(&lock);
    totalCount = qMax(count, 0);
    pageSize = qMax(size, 1);
    pageCount = static_cast<int>(qCeil(static_cast<double>(totalCount) / pageSize));
    currentPage = 1;
}

void DisplayPageState::SetCurrentPage(int page)
{
    QWriteLocker locker(&lock);
    currentPage = page;
}

void DisplayPageState::SetSort(ItemBookSortType type, bool isAscending)
{
    QWriteLocker locker(&lock);
    sortType = type;
    ascending = isAscending;
}

int DisplayPageState::GetPageCount()
{
    QReadLocker locker(&lock);
    return pageCount;
}

int DisplayPageState::GetCurrentPage()
{
    QReadLocker locker(&lock);
    return currentPage;
}

int DisplayPageState::GetPageSize()
{
    QReadLocker locker(&lock);
    return pageSize;
}

ItemBookSortType DisplayPageState::GetSortType()
{
    QReadLocker locker(&lock);
    return sortType;
}

