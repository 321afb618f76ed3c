#include "folders/DisplayDataSaver.h"

#include "Const.h"
#include "folders/FolderQuery.h"
#include "folders/FolderQueryRunner.h"
#include "Formatters.h"
#include "threads/NativeHelper.h"
#include "ShuffleInPlace.h"

#include <QLocale>

namespace {

const int kNewArrivalDays = 5;

} // namespace

DisplayFolder *DisplayDataSaver::RefreshFolder(DisplayFolder *folder, const QWriteLockerExt2 &token,
                                               bool includeSearchFolders, bool *ok)
{
    token.CheckLock(&lock);
    if (!folder)
        return folder;
    folder->calcBookCount = 0;
    folder->bookIds.clear();
    switch (folder->type) {
    case CategoryFolder:
        folder->bookIds = QueryCategoryBooks(folder->categoryUid, ok);
        break;
    case FilterFolder:
        folder->bookIds = QueryFilterBooks(folder, ok);
        break;
    case SearchResult:
        if (includeSearchFolders)
            folder->bookIds = QueryFilterBooks(folder, ok);
        break;
    case NewArrivals:
        folder->bookIds = QueryNewArrivalBooks(ok);
        folder->calcBookCount = folder->bookIds.size();
        UpdateNewArrivalsCaption(folder);
        return folder;
    case BestBooks:
        folder->bookIds = QueryBestBooks(ok);
        break;
    case AllBooks:
        folder->bookIds = QueryAllBooks(ok);
        break;
    default:
        break;
    }
    folder->calcBookCount = folder->bookIds.size();
    folder->UpdateCaptionWithCount();
    return folder;
}

QList<qint64> DisplayDataSaver::QueryCategoryBooks(qint64 categoryId, bool *ok)
{
    const QString where = SqlLikeCondition(QStringLiteral("bookcatalogids"), MakeCategoryToken(categoryId));
    return FolderQueryRunner::SelectUids(items, Const::TablePublishedBookInfo, where, items->orderBy, ok);
}

QList<qint64> DisplayDataSaver::QueryAllBooks(bool *ok)
{
    return FolderQueryRunner::SelectUids(items, Const::TablePublishedBookInfo, QString(), items->orderBy, ok);
}

QList<qint64> DisplayDataSaver::QueryBestBooks(bool *ok)
{
    const QString where = SqlJoinConditions(
        {SqlGreaterEqualCondition(QStringLiteral("BookStars"), QVariant(4.8))}, QStringLiteral("and"), true);
    return FolderQueryRunner::SelectUids(items, Const::TablePublishedBookInfo, where, items->orderBy, ok);
}

QList<qint64> DisplayDataSaver::QueryNewArrivalBooks(bool *ok)
{
    const QDateTime from = clock().addDays(-kNewArrivalDays).toUTC();
    const qint64 seconds = static_cast<quint32>(from.toSecsSinceEpoch());
    const QString where = SqlJoinConditions(
        {SqlGreaterCondition(QStringLiteral("FirstPubTimeGMT"), QVariant(seconds))}, QStringLiteral("and"), true);
    QList<qint64> ids =
        FolderQueryRunner::SelectUids(items, Const::TablePublishedBookInfo, where, items->orderBy, ok);
    // A new random order at every computation.
    ShuffleInPlace(ids);
    return ids;
}

QString DisplayDataSaver::MakeFilterWhere(DisplayFolder *folder, bool *ok)
{
    if (!folder)
        return QString();
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
        const QString captionWhere = SqlKeywordCondition(QStringLiteral("Caption"), search.findCategoryName);
        const QList<qint64> categoryIds = FolderQueryRunner::SelectUids(
            items, Const::TableRuntimeCatalogInfo, captionWhere, QString(), ok);
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
    return SqlJoinConditions(conditions, QStringLiteral("and"), true);
}

QList<qint64> DisplayDataSaver::QueryFilterBooks(DisplayFolder *folder, bool *ok)
{
    if (!folder)
        return QList<qint64>();
    const QString where = MakeFilterWhere(folder, ok);
    return FolderQueryRunner::SelectUids(items, Const::TablePublishedBookInfo, where, items->orderBy, ok);
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

bool DisplayDataSaver::ComputeFolders()
{
    QWriteLockerExt2 token(&lock);
    QReadLockerExt2 itemToken(0, &items->lock);
    bool allRan = true;
    for (DisplayFolder *folder : qAsConst(folders)) {
        if (NativeHelper::IsClosing())
            return false;
        RefreshFolder(folder, token, false, &allRan);
    }
    // After a failed query the counts fit no catalogue: leave the guid unset so that the next
    // chance recomputes instead of keeping wrong zero counts.
    currentGuid = allRan ? items->currentGuid : QString();
    return true;
}

bool DisplayDataSaver::ComputeAll()
{
    QMutexLocker serial(&mutex);
    if (!ComputeFolders())
        return false;
    QWriteLockerExt2 token(&lock);
    return WriteFoldersFile(token);
}

bool DisplayDataSaver::IsGuidUnchanged()
{
    QReadLockerExt2 token(0, &lock);
    return currentGuid == items->GetCurrentGuid();
}
