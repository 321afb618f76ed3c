// Folder computation, the folders file and paging on a 100,000-book catalogue.
//
// Arguments: [book count, default 100000] [timed rounds, default 5] [category folders, default
// 40] [filter folders, default 10]. The large case: 1000000 1 200 150 (no statement is cut
// short however long it runs, and the one pass is never repeated folder by folder).
//
// 1. One full scan of the books table ("select *", every column of every row, through the
//    sqlite3 C API over the same decrypting file layer): the unit of the ratios below.
// 2. The folder SELECTs one by one, as the computation ran them before it read the table once
//    for all folders, against ComputeFolders and ComputeAll (with the save), and the longest
//    waits for the folder store's write lock (re-ordering) and read lock (page loads) while
//    ComputeAll runs.
// 3. The folders file envelope at zlib level 9 against the level it is written at.
// 4. LoadFolderPage of "All" sorted by price: the first time and later
//    pages, with time and peak memory.
#include "BenchMemory.h"
#include "folders/DisplayDataSaver.h"
#include "folders/DisplayPageState.h"
#include "folders/FolderQuery.h"
#include "envelope/DisplayFolderEncrypterClass.h"
#include "envelope/SimpleCrypt.h"
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
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

QTextStream out(stdout);
using BenchMemory::MemoryKiB;
using BenchMemory::ResetPeakMemory;

double Median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0.0 : values.at(values.size() / 2);
}

// Steps through every row of "select *" (SQLite reads every column of a result row).
void FullScan(sqlite3 *db)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, "select * from published_bookinfo", -1, &stmt, nullptr) != SQLITE_OK)
        return;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
    }
    sqlite3_finalize(stmt);
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
    const int categoryFolders = argc > 3 ? QString::fromLocal8Bit(argv[3]).toInt() : 40;
    const int filterFolders = argc > 4 ? QString::fromLocal8Bit(argv[4]).toInt() : 10;

    QTemporaryDir dir;
    const QString cataloguePath = dir.filePath(QStringLiteral("bench.rfile"));
    CatalogueGeneratorOptions options;
    options.books = bookCount;
    options.categories = categoryFolders;
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
        // More filters: the same kinds again, each narrowed by a name letter of its own.
        const int kinds = filters.size();
        for (int i = kinds; i < filterFolders; ++i) {
            filters << NewFilter(QStringLiteral("Filter %1").arg(i));
            filters.last()->search = filters.at(i % kinds)->search;
            filters.last()->search.findName << QString(QChar('a' + i % 26));
        }
        while (filters.size() > filterFolders)
            delete filters.takeLast();
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
    timer.restart();
    bool allRan = store.ComputeAll() && store.IsGuidUnchanged();
    out << "first ComputeAll (cold): " << timer.elapsed() << " ms, ran to its end: " << (allRan ? "yes" : "no") << "\n";
    out.flush();
    FullScan(direct);
    const qint64 directIds = rounds > 0 ? RunDirect(direct, texts) : 0;
    QList<double> scans;
    QList<double> computeAll;
    QList<double> computeFolders;
    QList<double> directTimes;
    double longestWait = 0;
    double longestReadWait = 0;
    for (int round = 0; round < rounds; ++round) {
        timer.restart();
        FullScan(direct);
        scans << timer.nsecsElapsed() / 1e6;
        timer.restart();
        RunDirect(direct, texts);
        directTimes << timer.nsecsElapsed() / 1e6;
        timer.restart();
        allRan = store.ComputeFolders() && allRan;
        computeFolders << timer.nsecsElapsed() / 1e6;
        // Another thread takes the write lock every millisecond while ComputeAll runs.
        std::atomic<bool> done{false};
        std::atomic<qint64> waitNs{0};
        std::atomic<qint64> readWaitNs{0};
        std::thread prober([&] {
            for (bool write = true; !done; write = !write) {
                QElapsedTimer wait;
                wait.start();
                if (write)
                    store.lock.lockForWrite();
                else
                    store.lock.lockForRead();
                const qint64 ns = wait.nsecsElapsed();
                store.lock.unlock();
                std::atomic<qint64> &longest = write ? waitNs : readWaitNs;
                if (ns > longest)
                    longest = ns;
                QThread::msleep(1);
            }
        });
        timer.restart();
        allRan = store.ComputeAll() && store.IsGuidUnchanged() && allRan;
        computeAll << timer.nsecsElapsed() / 1e6;
        done = true;
        prober.join();
        longestWait = qMax(longestWait, waitNs / 1e6);
        longestReadWait = qMax(longestReadWait, readWaitNs / 1e6);
    }
    sqlite3_close(direct);
    qint64 storeIds = 0;
    for (const DisplayFolder *folder : qAsConst(store.folders))
        storeIds += folder->bookIds.size();
    out << "folders: " << store.folders.size() << " (" << texts.size() << " SELECTs), ids: store " << storeIds
        << ", direct " << directIds << "; every computation ran to its end: " << (allRan ? "yes" : "no") << "\n";
    const auto report = [&scans](const char *label, const QList<double> &times) {
        out << QStringLiteral("%1 median %2 ms = %3 full scans (best %4 ms)\n")
                   .arg(QString::fromLatin1(label), -34)
                   .arg(Median(times), 0, 'f', 1)
                   .arg(Median(times) / Median(scans), 0, 'f', 2)
                   .arg(*std::min_element(times.begin(), times.end()), 0, 'f', 1);
    };
    if (rounds > 0) {
        report("one full scan of the books table", scans);
        report("folder SELECTs one by one (before)", directTimes);
        report("ComputeFolders (one pass)", computeFolders);
        report("ComputeAll (with the save)", computeAll);
        out << QStringLiteral("longest wait during ComputeAll for the store's write lock (re-ordering): %1 ms, "
                              "read lock (page loads): %2 ms\n")
                   .arg(longestWait, 0, 'f', 1)
                   .arg(longestReadWait, 0, 'f', 1);
        out << QStringLiteral("computing all folders: target <= 8 full scans: %1\n")
                   .arg(Median(computeFolders) / Median(scans) <= 8 ? QStringLiteral("met") : QStringLiteral("missed"));
    }

    // The folders file envelope: the level it is written at against zlib level 9.
    {
        QReadLockerExt2 token(0, &store.lock);
        QList<double> builds;
        QByteArray document;
        for (int round = 0; round < qMax(rounds, 1); ++round) {
            timer.restart();
            document = store.BuildFoldersDocument(token);
            builds << timer.nsecsElapsed() / 1e6;
        }
        const DisplayFolderEncrypterClass encrypter;
        SimpleCrypt level9(encrypter.GetKey());
        level9.setCompressionMode(SimpleCryptCompression::Always);
        level9.setProtectionMode(SimpleCryptProtection::Hash);
        level9.setCompressionLevel(9);
        QList<double> slow;
        QList<double> fast;
        QByteArray slowEnvelope;
        QByteArray fastEnvelope;
        for (int round = 0; round < qMax(rounds, 1); ++round) {
            timer.restart();
            slowEnvelope = level9.encryptToByteArray(document);
            slow << timer.nsecsElapsed() / 1e6;
            timer.restart();
            encrypter.EncryptBytes(document, fastEnvelope);
            fast << timer.nsecsElapsed() / 1e6;
        }
        token.unlock();
        QList<double> saves;
        for (int round = 0; round < qMax(rounds, 1); ++round) {
            QWriteLockerExt2 writeToken(&store.lock);
            timer.restart();
            store.SaveLocked(writeToken);
            saves << timer.nsecsElapsed() / 1e6;
        }
        out << QStringLiteral("folders file: document %1 bytes built in %7 ms; envelope at level 9 %2 ms, %3 bytes; "
                              "as written %4 ms, %5 bytes; whole save %6 ms\n")
                   .arg(document.size())
                   .arg(Median(slow), 0, 'f', 1)
                   .arg(slowEnvelope.size())
                   .arg(Median(fast), 0, 'f', 1)
                   .arg(fastEnvelope.size())
                   .arg(Median(saves), 0, 'f', 1)
                   .arg(Median(builds), 0, 'f', 1);
    }

    // Paging "All" sorted by price.
    DisplayPageState state;
    state.SetSort(OrderBy_OrgPrice, false);
    const qint64 rssBefore = MemoryKiB("VmRSS");
    ResetPeakMemory();
    QList<ItemBook> page;
    double first;
    {
        QWriteLockerExt2 token(&store.lock);
        DisplayFolder *all = store.FindFolder(store.FindFirstFolderOfType(AllBooks, token), token);
        timer.restart();
        store.LoadFolderPage(all, &state, true, 100, &page, token);
        first = timer.nsecsElapsed() / 1e6;
        const qint64 peak = MemoryKiB("VmHWM");
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
    out << QStringLiteral("process peak after paging: %1 MB\n").arg(MemoryKiB("VmHWM") / 1024.0, 0, 'f', 1);
    out.flush();
    return 0;
}
