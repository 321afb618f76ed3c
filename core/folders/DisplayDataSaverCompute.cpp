#include "folders/DisplayDataSaver.h"

#include "Const.h"
#include "folders/FolderBatchQuery.h"
#include "folders/FolderQuery.h"
#include "Formatters.h"
#include "threads/IBaseCloseable.h"
#include "ShuffleInPlace.h"

#include <QLocale>
#include <QMutexLocker>

namespace {

const int kNewArrivalDays = 5;

bool SameDefinition(const DisplayFolder &a, const DisplayFolder &b)
{
    const DisplayFolderSearch &x = a.search;
    const DisplayFolderSearch &y = b.search;
    return a.uid == b.uid && a.type == b.type && a.categoryUid == b.categoryUid && x.findName == y.findName
           && x.findAuthor == y.findAuthor && x.findCategoryName == y.findCategoryName
           && x.findDescription == y.findDescription && x.findUserRating == y.findUserRating
           && x.findOrgPrice == y.findOrgPrice && x.findBookPages == y.findBookPages
           && x.findBookSize == y.findBookSize && x.findCategoryList == y.findCategoryList;
}

} // namespace

bool DisplayDataSaver::IsStopped(IBaseCloseable *canceller)
{
    // Whatever makes the driver cut a query short stops the computation too.
    return ItemDataSaver::IsQueryToStop() || (canceller && canceller->IsCloseRequested());
}

DisplayFolder *DisplayDataSaver::RefreshFolder(DisplayFolder *folder, const QWriteLockerExt2 &token,
                                               bool includeSearchFolders, bool *ok)
{
    token.CheckLock(&lock);
    if (!folder)
        return folder;
    QList<DisplayFolder> copies{*folder};
    if (ComputeCopies(copies, includeSearchFolders, nullptr, ok))
        TakeComputed(folder, copies.first());
    return folder;
}

bool DisplayDataSaver::MakeFolderWhere(const DisplayFolder &folder, bool includeSearchFolders, QString *where,
                                       bool *ok)
{
    switch (folder.type) {
    case CategoryFolder:
        *where = CategoryWhere(folder.categoryUid);
        return true;
    case SearchResult:
        if (!includeSearchFolders)
            return false;
        Q_FALLTHROUGH();
    case FilterFolder: {
        QStringList conditions;
        if (!ResolvedFilterConditions(folder, &conditions, ok))
            return false;
        *where = ItemDataSaver::ConditionsWhere(conditions);
        return true;
    }
    case NewArrivals:
        *where = ItemDataSaver::ConditionsWhere(NewArrivalsConditions());
        return true;
    case BestBooks:
        *where = ItemDataSaver::ConditionsWhere(BestBooksConditions());
        return true;
    case AllBooks:
        where->clear();
        return true;
    default:
        return false;
    }
}

bool DisplayDataSaver::ComputeCopies(QList<DisplayFolder> &copies, bool includeSearchFolders,
                                     IBaseCloseable *canceller, bool *ok)
{
    bool allRan = true;
    QList<FolderBatchQuery::Condition> conditions;
    QList<int> owners;
    for (int i = 0; i < copies.size(); ++i) {
        FolderBatchQuery::Condition condition;
        if (MakeFolderWhere(copies.at(i), includeSearchFolders, &condition.where, &allRan)) {
            if (copies.at(i).type == CategoryFolder)
                condition.categoryToken = MakeCategoryToken(copies.at(i).categoryUid);
            conditions << condition;
            owners << i;
        }
    }
    if (IsStopped(canceller))
        return false;

    QList<QList<qint64>> results;
    bool batchRan = false;
    // Also for one folder: the folder query walks the time index and fetches each row by its
    // id, which grows faster than the catalogue once the table no longer fits the page cache.
    if (!conditions.isEmpty()) {
        switch (FolderBatchQuery::Run(items, conditions, &results, [canceller] { return IsStopped(canceller); })) {
        case FolderBatchQuery::Stopped:
            return false;
        case FolderBatchQuery::Done:
            batchRan = true;
            break;
        case FolderBatchQuery::Failed:
            break;
        }
    }
    if (!batchRan) {
        // One query per folder: a query that cannot run fails its own folder only.
        results.clear();
        for (const FolderBatchQuery::Condition &condition : qAsConst(conditions)) {
            if (IsStopped(canceller))
                return false;
            results << items->QueryBookIds(condition.where, &allRan);
        }
    }

    for (DisplayFolder &copy : copies) {
        copy.bookIds.clear();
        copy.sortedBookIds.clear();
    }
    for (int k = 0; k < owners.size(); ++k)
        copies[owners.at(k)].bookIds = results.at(k);
    for (DisplayFolder &copy : copies) {
        copy.calcBookCount = copy.bookIds.size();
        if (copy.type == NewArrivals) {
            // A new random order at every computation.
            ShuffleInPlace(copy.bookIds);
            UpdateNewArrivalsCaption(&copy);
        } else {
            copy.UpdateCaptionWithCount();
        }
    }
    if (ok && !allRan)
        *ok = false;
    return true;
}

QList<DisplayFolder> DisplayDataSaver::CopyFolders(const QList<DisplayFolder *> &list, const QReadLockerExt2 &token)
{
    token.CheckLock(&lock);
    QMutexLocker sortedLocker(&sortedMutex);
    QList<DisplayFolder> copies;
    copies.reserve(list.size());
    for (const DisplayFolder *folder : list)
        copies.append(folder ? *folder : DisplayFolder());
    return copies;
}

void DisplayDataSaver::TakeComputed(DisplayFolder *folder, const DisplayFolder &computed)
{
    folder->bookIds = computed.bookIds;
    folder->calcBookCount = computed.calcBookCount;
    folder->calcCaption = computed.calcCaption;
}

QString DisplayDataSaver::CategoryWhere(qint64 categoryId)
{
    // The id text as far as a read takes it, so that a book is in the categories its record
    // lists, and the one-pass computation, which reads that much, finds the same books.
    return SqlLikeCondition(SqlBoundedValue(QStringLiteral("bookcatalogids")), MakeCategoryToken(categoryId));
}

QStringList DisplayDataSaver::BestBooksConditions()
{
    return {SqlGreaterEqualCondition(QStringLiteral("BookStars"), QVariant(4.8))};
}

QStringList DisplayDataSaver::NewArrivalsConditions()
{
    const QDateTime from = clock().addDays(-kNewArrivalDays).toUTC();
    const qint64 seconds = static_cast<quint32>(from.toSecsSinceEpoch());
    return {SqlGreaterCondition(QStringLiteral("FirstPubTimeGMT"), QVariant(seconds))};
}

QList<qint64> DisplayDataSaver::QueryCategoryBooks(qint64 categoryId, bool *ok)
{
    return items->QueryBookIds(CategoryWhere(categoryId), ok);
}

QList<qint64> DisplayDataSaver::QueryAllBooks(bool *ok)
{
    return items->QueryBookIds(QString(), ok);
}

QList<qint64> DisplayDataSaver::QueryBestBooks(bool *ok)
{
    return items->QueryBookIdsByConditions(BestBooksConditions(), ok);
}

QList<qint64> DisplayDataSaver::QueryNewArrivalBooks(bool *ok)
{
    QList<qint64> ids = items->QueryBookIdsByConditions(NewArrivalsConditions(), ok);
    ShuffleInPlace(ids);
    return ids;
}

QString DisplayDataSaver::MakeFilterWhere(const DisplayFolder *folder, bool *ok)
{
    return ItemDataSaver::ConditionsWhere(MakeFilterConditions(folder, ok));
}

QStringList DisplayDataSaver::MakeFilterConditions(const DisplayFolder *folder, bool *ok)
{
    if (!folder)
        return QStringList();
    const DisplayFolderSearch &search = folder->search;
    QStringList conditions;
    if (!search.findName.isEmpty())
        conditions.append(SqlKeywordCondition(QStringLiteral("BookName"), search.findName));
    if (!search.findAuthor.isEmpty())
        conditions.append(SqlKeywordCondition(QStringLiteral("BookAuthor"), search.findAuthor));
    if (!search.findDescription.isEmpty())
        conditions.append(SqlKeywordCondition(QStringLiteral("IntroLong"), search.findDescription));
    if (!search.findCategoryList.isEmpty())
        conditions.append(SqlKeywordCondition(QStringLiteral("BookCatalogIDS"),
                                              MakeIdStrings(search.findCategoryList, true)));
    if (!search.findCategoryName.isEmpty()) {
        const QList<qint64> categoryIds =
            items->QueryCategoryIds(SqlKeywordCondition(QStringLiteral("Caption"), search.findCategoryName), ok);
        // No matching category adds no condition.
        if (!categoryIds.isEmpty())
            conditions.append(SqlKeywordCondition(QStringLiteral("BookCatalogIDS"), MakeIdStrings(categoryIds, true)));
    }
    if (!search.findUserRating.isEmpty())
        conditions.append(SqlRangeCondition(search.findUserRating));
    if (!search.findOrgPrice.isEmpty())
        conditions.append(SqlRangeCondition(search.findOrgPrice));
    if (!search.findBookPages.isEmpty())
        conditions.append(SqlRangeCondition(search.findBookPages));
    if (!search.findBookSize.isEmpty())
        conditions.append(SqlRangeCondition(search.findBookSize));
    return conditions;
}

bool DisplayDataSaver::ResolvedFilterConditions(const DisplayFolder &folder, QStringList *conditions, bool *ok)
{
    bool lookupRan = true;
    *conditions = MakeFilterConditions(&folder, &lookupRan);
    // Without its category condition the filter would select a broader, wrong set.
    if (!lookupRan && ok)
        *ok = false;
    return lookupRan;
}

QList<qint64> DisplayDataSaver::QueryFilterBooks(DisplayFolder *folder, bool *ok)
{
    QStringList conditions;
    if (!folder || !ResolvedFilterConditions(*folder, &conditions, ok))
        return QList<qint64>();
    return items->QueryBookIdsByConditions(conditions, ok);
}

void DisplayDataSaver::UpdateNewArrivalsCaption(DisplayFolder *folder)
{
    if (!folder)
        return;
    const QDateTime now = clock();
    const QDateTime from = now.addDays(-kNewArrivalDays);
    const QLocale locale = QLocale::system();
    const QString format = QStringLiteral("MMMM, d");
    const QString range = locale.toString(from, format) + QStringLiteral(" - ") + locale.toString(now, format);
    folder->calcCaption = QStringLiteral("%1 (%2) (%3)").arg(folder->caption, range, FormatBookCount(folder->calcBookCount));
}

bool DisplayDataSaver::ComputeSnapshot(FolderSnapshot &snapshot, IBaseCloseable *canceller)
{
    // Computed into copies: the store stays readable and changeable (page loads, re-ordering)
    // while the catalogue is read; only the results are swapped in under the write lock.
    {
        QReadLockerExt2 token(0, &lock);
        snapshot.originals = folders;
        snapshot.copies = CopyFolders(folders, token);
    }
    QReadLockerExt2 itemToken(0, &items->lock);
    if (!ComputeCopies(snapshot.copies, false, canceller, &snapshot.allRan))
        return false;
    snapshot.guid = items->currentGuid;
    return !IsStopped(canceller);
}

void DisplayDataSaver::TakeSnapshot(const FolderSnapshot &snapshot, const QWriteLockerExt2 &token)
{
    token.CheckLock(&lock);
    for (int i = 0; i < snapshot.originals.size(); ++i) {
        DisplayFolder *folder = snapshot.originals.at(i);
        // A folder removed or redefined meanwhile keeps what it has.
        if (folders.contains(folder) && SameDefinition(*folder, snapshot.copies.at(i)))
            TakeComputed(folder, snapshot.copies.at(i));
    }
    // After a failed query the counts fit no catalogue: leave the guid unset so that the next
    // chance recomputes instead of keeping wrong zero counts.
    currentGuid = snapshot.allRan ? snapshot.guid : QString();
}

bool DisplayDataSaver::ComputeFolders(IBaseCloseable *canceller)
{
    FolderSnapshot snapshot;
    if (!ComputeSnapshot(snapshot, canceller))
        return false;
    QWriteLockerExt2 token(&lock);
    TakeSnapshot(snapshot, token);
    return true;
}

bool DisplayDataSaver::ComputeAll(IBaseCloseable *canceller)
{
    FolderSnapshot snapshot;
    if (!ComputeSnapshot(snapshot, canceller))
        return false;
    // Only the swap and the save are serialised with loads and re-ordering: neither waits for
    // the catalogue to be read.
    quint64 save = 0;
    {
        QMutexLocker serial(&mutex);
        QWriteLockerExt2 token(&lock);
        TakeSnapshot(snapshot, token);
        save = QueueSave(token);
    }
    // The save is queued in the order of the changes; its write needs neither lock.
    return WaitForSave(save);
}

bool DisplayDataSaver::IsGuidUnchanged()
{
    QReadLockerExt2 token(0, &lock);
    return currentGuid == items->GetCurrentGuid();
}
