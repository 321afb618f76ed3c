// Folder computation and paging on a 100,000-book catalogue.
//
// Arguments: [book count, default 100000] [timed rounds, default 5].
//
// 1. ComputeAll (every folder's SELECT through the catalogue connection, then the folders
//    file) against the same SELECT texts run directly through the sqlite3 C API over the same
//    decrypting file layer, in the same run.
// 2. LoadFolderPage of "All" sorted by price: the first time and later
//    pages, with time and peak memory.
#include "folders/DisplayDataSaver.h"
#include "folders/DisplayPageState.h"
#include "folders/FolderQuery.h"
#include "Helper.h"
#include "writer/CatalogueGenerator.h"
#include "cipher/CipherVfs.h"
#include "cipher/SqlCipherDriverRegistration.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <sqlite3.h>

#include <algorithm>

namespace {

QTextStream out(stdout);

qint64 ProcStatusKb(const char *key)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Resets the peak resident size (VmHWM) so that the next phase is measured alone.
void ResetPeak()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    if (file.open(QIODevice::WriteOnly))
        file.write("5");
}

double Median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0.0 : values.at(values.size() / 2);
}

// Runs every text and reads each UID as the folder queries do; returns the number of ids.
qint64 RunDirect(sqlite3 *db, const QStringList &texts)
{
    qint64 ids = 0;
    for (const QString &text : texts) {
        sqlite3_stmt *stmt = nullptr;
        const QByteArray sql = text.toUtf8();
        if (sqlite3_prepare_v2(db, sql.constData(), sql.size(), &stmt, nullptr) != SQLITE_OK)
            continue;
        QList<qint64> list;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            if (sqlite3_column_type(stmt, 0) != SQLITE_NULL)
                list.append(sqlite3_column_int64(stmt, 0));
        }
        sqlite3_finalize(stmt);
        ids += list.size();
    }
    return ids;
}

DisplayFolder *NewFilter(const QString &caption)
{
    auto *folder = new DisplayFolder();
    folder->type = FilterFolder;
    folder->caption = caption;
    return folder;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    RegisterSqlCipherDriver();
    const int bookCount = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    const int rounds = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 5;

    QTemporaryDir dir;
    const QString cataloguePath = dir.filePath(QStringLiteral("bench.rfile"));
    CatalogueGeneratorOptions options;
    options.books = bookCount;
    options.categories = 40;
    options.password = Helper::GetCatalogPassword().toUtf8();
    options.nowUtc = 1764892800;
    CatalogueGeneratorResult generated;
    QString error;
    QElapsedTimer timer;
    timer.start();
    if (!CatalogueGenerator::Generate(options, cataloguePath, &generated, &error)) {
        out << "cannot generate the catalogue: " << error << "\n";
        return 1;
    }
    // Local-time conversions cost far more with TZ unset (the zone file is checked on each).
    out << "TZ: " << (qEnvironmentVariableIsSet("TZ") ? qEnvironmentVariable("TZ") : QStringLiteral("unset")) << "\n";
    out << "catalogue: " << generated.books << " books, " << generated.categories << " categories, made in "
        << timer.elapsed() << " ms\n";

    DisplayDataSaver store(dir.filePath(QStringLiteral("user-folders.file")));
    const QDateTime now = QDateTime::fromSecsSinceEpoch(generated.nowUtc);
    store.clock = [now] { return now; };
    if (!store.items->LoadDatabase(cataloguePath)) {
        out << "cannot open the catalogue\n";
        return 1;
    }
    bool added = false;
    store.LoadFolders(added);
    {
        QWriteLockerExt2 token(&store.lock);
        for (qint64 category = 1; category <= generated.categories; ++category) {
            auto *folder = new DisplayFolder();
            folder->type = CategoryFolder;
            folder->caption = QStringLiteral("Category %1").arg(category);
            folder->categoryUid = category;
            store.AddFolder(folder, token);
        }
        QList<DisplayFolder *> filters;
        filters << NewFilter(QStringLiteral("Name a"));
        filters.last()->search.findName = QStringList{QStringLiteral("a")};
        filters << NewFilter(QStringLiteral("Name keywords"));
        filters.last()->search.findName = QStringList{QStringLiteral("the"), QStringLiteral("night"), QStringLiteral("1")};
        filters << NewFilter(QStringLiteral("Author"));
        filters.last()->search.findAuthor = QStringList{QStringLiteral("an"), QStringLiteral("O'")};
        filters << NewFilter(QStringLiteral("Five stars"));
        filters.last()->search.findUserRating = {1004, 1005};
        filters << NewFilter(QStringLiteral("Free to $10"));
        filters.last()->search.findOrgPrice = {2002, 2003};
        filters << NewFilter(QStringLiteral("Long"));
        filters.last()->search.findBookPages = {3006, 3007, 3001};
        filters << NewFilter(QStringLiteral("Small"));
        filters.last()->search.findBookSize = {4002, 4003};
        filters << NewFilter(QStringLiteral("Categories"));
        filters.last()->search.findCategoryList = {1, 5, 9, 13};
        filters << NewFilter(QStringLiteral("Category names"));
        filters.last()->search.findCategoryName = QStringList{QStringLiteral("s")};
        filters << NewFilter(QStringLiteral("Mixed"));
        filters.last()->search.findName = QStringList{QStringLiteral("e")};
        filters.last()->search.findUserRating = {1003, 1004};
        filters.last()->search.findBookSize = {4004};
        for (DisplayFolder *folder : qAsConst(filters))
            store.AddFolder(folder, token);
    }

    // The same SELECT texts the computation runs, built once.
    QStringList texts;
    {
        QReadLockerExt2 token(0, &store.lock);
        QReadLockerExt2 itemToken(0, &store.items->lock);
        const QString table = QStringLiteral("published_bookinfo");
        const QString order = store.items->orderBy;
        for (DisplayFolder *folder : qAsConst(store.folders)) {
            switch (folder->type) {
            case CategoryFolder:
                texts << MakeSelectUidsText(table, SqlLikeCondition(QStringLiteral("bookcatalogids"),
                                                                    MakeCategoryToken(folder->categoryUid)), order);
                break;
            case FilterFolder:
                if (!folder->search.findCategoryName.isEmpty())
                    texts << MakeSelectUidsText(QStringLiteral("runtime_cataloginfo"),
                                                SqlKeywordCondition(QStringLiteral("Caption"), folder->search.findCategoryName),
                                                QString());
                texts << MakeSelectUidsText(table, store.MakeFilterWhere(folder), order);
                break;
            case NewArrivals:
                texts << MakeSelectUidsText(
                    table,
                    SqlJoinConditions({SqlGreaterCondition(QStringLiteral("FirstPubTimeGMT"),
                                                           qint64(quint32(now.addDays(-5).toUTC().toSecsSinceEpoch())))},
                                      QStringLiteral("and"), true),
                    order);
                break;
            case BestBooks:
                texts << MakeSelectUidsText(
                    table, SqlJoinConditions({SqlGreaterEqualCondition(QStringLiteral("BookStars"), 4.8)},
                                             QStringLiteral("and"), true),
                    order);
                break;
            case AllBooks:
                texts << MakeSelectUidsText(table, QString(), order);
                break;
            default:
                break;
            }
        }
    }

    sqlite3 *direct = nullptr;
    const QByteArray vfs = CipherVfs::VfsNameForPassword(options.password);
    if (sqlite3_open_v2(QFile::encodeName(cataloguePath).constData(), &direct, SQLITE_OPEN_READONLY | SQLITE_OPEN_SHAREDCACHE,
                        vfs.constData()) != SQLITE_OK) {
        out << "sqlite3 cannot open the catalogue\n";
        return 1;
    }
    for (const char *pragma : {"PRAGMA temp_store = MEMORY", "PRAGMA cache_size =1000000"})
        sqlite3_exec(direct, pragma, nullptr, nullptr, nullptr);

    // Warm both paths (page cache, key cache) before timing.
    store.ComputeAll();
    const qint64 directIds = rounds > 0 ? RunDirect(direct, texts) : 0;
    QList<double> computeAll;
    QList<double> computeFolders;
    QList<double> directTimes;
    for (int round = 0; round < rounds; ++round) {
        timer.restart();
        RunDirect(direct, texts);
        directTimes << timer.nsecsElapsed() / 1e6;
        timer.restart();
        store.ComputeFolders();
        computeFolders << timer.nsecsElapsed() / 1e6;
        timer.restart();
        store.ComputeAll();
        computeAll << timer.nsecsElapsed() / 1e6;
    }
    sqlite3_close(direct);
    qint64 storeIds = 0;
    for (const DisplayFolder *folder : qAsConst(store.folders))
        storeIds += folder->bookIds.size();
    out << "folders: " << store.folders.size() << " (" << texts.size() << " SELECTs), ids: store " << storeIds
        << ", direct " << directIds << "\n";
    const auto report = [](const char *label, const QList<double> &times, const QList<double> &base) {
        const double best = *std::min_element(times.begin(), times.end());
        const double baseBest = *std::min_element(base.begin(), base.end());
        out << QStringLiteral("%1 median %2 ms (%3x), best %4 ms (%5x)\n")
                   .arg(QString::fromLatin1(label), -24)
                   .arg(Median(times), 0, 'f', 1)
                   .arg(Median(times) / Median(base), 0, 'f', 2)
                   .arg(best, 0, 'f', 1)
                   .arg(best / baseBest, 0, 'f', 2);
    };
    if (rounds > 0) {
        report("direct sqlite3 SELECTs", directTimes, directTimes);
        report("ComputeFolders", computeFolders, directTimes);
        report("ComputeAll (with save)", computeAll, directTimes);
    }
    out << "folders file: " << QFile(store.userFoldersPath).size() << " bytes\n";

    // Paging "All" sorted by price.
    DisplayPageState state;
    state.SetSort(OrderBy_OrgPrice, false);
    const qint64 rssBefore = ProcStatusKb("VmRSS:");
    ResetPeak();
    QList<ItemBook> page;
    double first;
    {
        QWriteLockerExt2 token(&store.lock);
        DisplayFolder *all = store.FindFolder(store.FindFirstFolderOfType(AllBooks, token), token);
        timer.restart();
        store.LoadFolderPage(all, &state, true, 100, &page, token);
        first = timer.nsecsElapsed() / 1e6;
        const qint64 peak = ProcStatusKb("VmHWM:");
        out << QStringLiteral("first sorted page of All: %1 ms, %2 books on the page, RSS before %3 MB, peak %4 MB\n")
                   .arg(first, 0, 'f', 1)
                   .arg(page.size())
                   .arg(rssBefore / 1024.0, 0, 'f', 1)
                   .arg(peak / 1024.0, 0, 'f', 1);
        QList<double> later;
        for (int i = 2; i <= 21; ++i) {
            state.SetCurrentPage(i * 37 % state.GetPageCount() + 1);
            timer.restart();
            store.LoadFolderPage(all, &state, false, 100, &page, token);
            later << timer.nsecsElapsed() / 1e6;
        }
        timer.restart();
        store.LoadFolderPage(all, &state, true, 100, &page, token);
        const double resortCached = timer.nsecsElapsed() / 1e6;
        out << QStringLiteral("later pages: median %1 ms, max %2 ms; re-sort with every book cached: %3 ms\n")
                   .arg(Median(later), 0, 'f', 2)
                   .arg(*std::max_element(later.begin(), later.end()), 0, 'f', 2)
                   .arg(resortCached, 0, 'f', 1);
    }
    out << QStringLiteral("process peak after paging: %1 MB\n").arg(ProcStatusKb("VmHWM:") / 1024.0, 0, 'f', 1);
    out.flush();
    return 0;
}
