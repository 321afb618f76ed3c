#include "folders/DisplayDataSaver.h"

#include "folders/DisplayPageState.h"
#include "catalogue/ItemBook.h"
#include "catalogue/ItemSortKeys.h"
#include "settings/NativeConfigLoader.h"

#include <QMutexLocker>

int DisplayDataSaver::ClampPageSize(int pageSize)
{
    return NativeConfigLoader::ClampPageCount(pageSize);
}

void DisplayDataSaver::LoadFolderPage(DisplayFolder *folder, DisplayPageState *state, bool resort,
                                      int pageSize, QList<ItemBook> *out,
                                      const QReadLockerExt2 &token)
{
    token.CheckLock(&lock);
    QMutexLocker sortedLocker(&sortedMutex);
    QReadLockerExt2 itemToken(0, &items->lock);
    if (out)
        out->clear();
    if (!folder || !state || !out)
        return;

    if (!resort && folder->sortedBookIds.isEmpty() && folder->bookIds.isEmpty())
        return;
    if (resort || folder->sortedBookIds.isEmpty()) {
        const int clamped = ClampPageSize(pageSize);
        ItemBookSortType sortType;
        bool ascending;
        {
            QReadLocker stateLocker(&state->lock);
            sortType = state->sortType;
            ascending = state->ascending;
        }
        // Without the order keys, one query for the whole table instead of one per book.
        if (folder->type == AllBooks && sortType != OrderBy_None && !items->sortKeys->IsLoaded()) {
            itemToken.unlock();
            {
                QWriteLockerExt2 writeToken(&items->lock);
                items->LoadAllBooks(writeToken);
            }
            itemToken.relock();
        }
        items->SortBookIds(sortType, ascending, &folder->bookIds, folder->sortedBookIds, itemToken);
        state->Reset(folder->bookIds.size(), clamped);
        if (folder->sortedBookIds.isEmpty())
            return;
    }

    int totalCount;
    int currentPage;
    int statePageSize;
    {
        QReadLocker stateLocker(&state->lock);
        totalCount = state->totalCount;
        currentPage = state->currentPage;
        statePageSize = state->pageSize;
    }
    const qint64 first = qMax<qint64>(qint64(currentPage - 1) * statePageSize, 0);
    const qint64 end = qMin<qint64>(totalCount, qint64(currentPage) * statePageSize);
    for (qint64 i = first; i < end && i < folder->sortedBookIds.size(); ++i) {
        // Copies: the caller keeps them across a catalogue swap without holding any store lock.
        if (const ItemBook *book = items->GetBook(folder->sortedBookIds.at(static_cast<int>(i)), itemToken))
            out->append(*book);
    }
}
