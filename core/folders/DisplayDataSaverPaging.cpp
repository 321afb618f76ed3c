#include "folders/DisplayDataSaver.h"

#include "folders/DisplayPageState.h"
#include "catalogue/ItemBook.h"

#include <QCoreApplication>
#include <QThread>

namespace {

const int kMinPageSize = 5;
const int kMaxPageSize = 210;

// sortedBookIds is written under the folder store's read token, which is only sound while a
// single thread (the GUI thread) loads pages.
void CheckGuiThread()
{
#ifdef TESSALY_CHECKED_BUILD
    const QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread())
        qFatal("DisplayDataSaver::LoadFolderPage called outside the GUI thread");
#endif
}

} // namespace

int DisplayDataSaver::ClampPageSize(int pageSize)
{
    return qBound(kMinPageSize, pageSize, kMaxPageSize);
}

void DisplayDataSaver::LoadFolderPage(DisplayFolder *folder, DisplayPageState *state, bool resort,
                                      int pageSize, QList<ItemBook *> *out,
                                      const QReadLockerExt2 &token)
{
    CheckGuiThread();
    token.CheckLock(&lock);
    // Resolving ids fills the catalogue store's book cache.
    QWriteLockerExt2 itemToken(&items->lock);
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
        // One query for the whole table instead of one per book.
        if (folder->type == AllBooks && sortType != OrderBy_None)
            items->LoadAllBooks(itemToken);
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
        ItemBook *book = items->GetBook(folder->sortedBookIds.at(static_cast<int>(i)), itemToken);
        if (book)
            out->append(book);
    }
}
