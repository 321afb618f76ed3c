#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolderRefresher.h"
#include "folders/DisplayPageState.h"
#include "folders/FolderBatchQuery.h"
#include "folders/FolderQuery.h"
#include "folders/FilterRangeCode.h"
#include "threads/IBaseCloseable.h"
#include "threads/NativeHelper.h"
#include "threads/QThreadExtend.h"
#include "Helper.h"
#include "writer/CatalogueGenerator.h"
#include "cipher/SqlCipherDriverRegistration.h"
#include "TestSandbox.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <memory>

using Ids = QList<qint64>;
using Search = DisplayFolderSearch;
Q_DECLARE_METATYPE(DisplayFolderSearch)

namespace {

// 5 December 2026, 12:00 UTC (the tests run with TZ=UTC).
const QDateTime kNow(QDate(2026, 12, 5), QTime(12, 0), Qt::UTC);

const Ids kAll{1, 2, 3, 4, 5, 6, 7};

// search with one more criterion.
template <typename T>
Search With(T Search::*field, const T &value, Search search = Search())
{
    search.*field = value;
    return search;
}

DisplayFolder *AddFolder(DisplayDataSaver &store, int type, const QString &caption)
{
    DisplayFolder *folder = DisplayFolder::CreateBuiltinFolder(type, caption);
    QWriteLockerExt2 token(&store.lock);
    return store.AddFolder(folder, token) ? folder : nullptr;
}

// A generated catalogue with equal, missing, real, text and blob publication times (the order) and
// category id texts of every shape: missing, a repeated token, no leading "|", a blob, a zero
// character before a token, a token only past the part of the text that is read; and one time
// longer than that part.
QString MakeGeneratedCatalogue(const QString &path, quint64 seed, int books)
{
    CatalogueGeneratorOptions options;
    options.books = books;
    options.seed = seed;
    options.password = Helper::GetCatalogPassword().toUtf8();
    options.nowUtc = kNow.toSecsSinceEpoch();
    const QString update = QStringLiteral("update published_bookinfo set %1 where UID % %2 = 0");
    QStringList otherCategories;
    for (int id = 0; id < 45; ++id) {
        if (id != 1)
            otherCategories << QString::number(id);
    }
    options.extraSql = QStringList{
        update.arg(QStringLiteral("FirstPubTimeGMT = (select FirstPubTimeGMT from published_bookinfo where UID = 3)"))
            .arg(7),
        update.arg(QStringLiteral("FirstPubTimeGMT = NULL")).arg(11),
        update.arg(QStringLiteral("FirstPubTimeGMT = 'soon'")).arg(13),
        update.arg(QStringLiteral("FirstPubTimeGMT = FirstPubTimeGMT + 0.5")).arg(31),
        update.arg(QStringLiteral("FirstPubTimeGMT = x'00'")).arg(37),
        update.arg(QStringLiteral("FirstPubTimeGMT = 'Soon'")).arg(41),
        update.arg(QStringLiteral("BookCatalogIDS = NULL")).arg(17),
        update.arg(QStringLiteral("BookCatalogIDS = '|5|5|12'")).arg(19),
        update.arg(QStringLiteral("BookCatalogIDS = x'7C397C'")).arg(23),
        update.arg(QStringLiteral("BookCatalogIDS = '9|' || char(0) || '|7|'")).arg(29),
        // Past the part that is read (72,000 characters of "|99|1|"), every other category.
        update.arg(QStringLiteral("BookCatalogIDS = replace(hex(zeroblob(12000)), '00', '|99|1|') || '|%1|'")
                       .arg(otherCategories.join(QLatin1Char('|'))))
            .arg(430),
        update.arg(QStringLiteral("FirstPubTimeGMT = hex(zeroblob(40000)) || '1'")).arg(470),
    };
    return CatalogueGenerator::Generate(options, path) ? path : QString();
}

// None, or one to three values of next().
template <typename F>
auto Pick(QRandomGenerator &random, F next)
{
    QList<decltype(next())> picked;
    for (int n = random.bounded(3) == 0 ? 0 : 1 + random.bounded(3); n > 0; --n)
        picked << next();
    return picked;
}

Search RandomSearch(QRandomGenerator &random)
{
    const QStringList words{"a", "the", "O'", "%", "_e", "NIGHT", "\u00e9", QString(), "&", "zzz"};
    const auto word = [&] { return words.at(random.bounded(words.size())); };
    // The range codes of every group and a few past the last one of each.
    const auto code = [&] { return qint64(1000 * random.bounded(1, 5) + random.bounded(9)); };
    const auto category = [&] { return qint64(random.bounded(46)); };
    Search search;
    search.findName = Pick(random, word);
    search.findAuthor = Pick(random, word);
    search.findCategoryName = Pick(random, word);
    search.findDescription = random.bounded(4) == 0 ? Pick(random, word) : QStringList();
    search.findCategoryList = Pick(random, category);
    search.findUserRating = Pick(random, code);
    search.findOrgPrice = Pick(random, code);
    search.findBookPages = Pick(random, code);
    search.findBookSize = Pick(random, code);
    return search;
}

// Stops after a number of questions, or at one asks the worker it runs on to stop without
// saying so itself (a stop that only the catalogue driver sees); records whether the folder
// store was free at each.
class StopAfter : public IBaseCloseable
{
public:
    StopAfter(QReadWriteLock *lock, int stopAt, int stopWorkerAt) : lock(lock), stopAt(stopAt), stopWorkerAt(stopWorkerAt) {}
    bool IsCloseRequested() override
    {
        const bool free = lock->tryLockForWrite();
        if (free)
            lock->unlock();
        storeBusy = storeBusy || !free;
        if (++asked == stopWorkerAt)
            QThread::currentThread()->requestInterruption();
        return asked == stopAt;
    }
    QReadWriteLock *lock;
    int stopAt;
    int stopWorkerAt;
    int asked = 0;
    bool storeBusy = false;
};

// Computes all folders on a worker thread, as the catalogue workers do.
struct ComputeWorker : QThreadExtend
{
    ComputeWorker(DisplayDataSaver *store, IBaseCloseable *canceller) : store(store), canceller(canceller) {}
    ~ComputeWorker() override { Stop(); }
    void DoRun() override { result = store->ComputeAll(canceller); }
    DisplayDataSaver *store;
    IBaseCloseable *canceller;
    std::atomic<bool> result{false};
};

} // namespace

// Folder queries and computations on small encrypted catalogues.
class TestCompute : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    QString catalogueA;
    QString catalogueB;
    std::unique_ptr<DisplayDataSaver> store;

    // The books the filter selects, in id order; {-1} when a query failed.
    Ids Filter(const Search &search)
    {
        DisplayFolder folder;
        folder.type = FilterFolder;
        folder.search = search;
        QReadLockerExt2 itemToken(0, &store->items->lock);
        bool ok = true;
        Ids ids = store->QueryFilterBooks(&folder, &ok);
        std::sort(ids.begin(), ids.end());
        return ok ? ids : Ids{-1};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        RegisterSqlCipherDriver();
        CatalogueGeneratorOptions options;
        options.books = 0;
        options.categories = 0;
        options.password = Helper::GetCatalogPassword().toUtf8();
        options.guid = QStringLiteral("guid-A");
        // The publication times are given in days before now: book 2 is one second inside the
        // new-arrivals window, book 4 on its edge.
        options.extraSql = QStringList{
            "insert into published_bookinfo(UID, BookName, BookAuthor, BookCatalogIDS, BookStars, OrgPrice, "
            "BookPages, BookSize, FirstPubTimeGMT, IntroLong) values"
            "(1, 'Night Train', 'Ann O''Brien', '|12|40|', 4.8, 0, 200, 512000, 1, 'a quiet story'),"
            "(2, 'Day Break', 'Bob Smith', '|112|', NULL, 10, 201, 512001, 5, NULL),"
            "(3, 'Vol 1', 'Carl', '|40|', 5, 10.5, 400, 1048576, 2, NULL),"
            "(4, 'The 2nd Coming', 'Dora', '|7|', 3, 50, 401, 52428801, 5, NULL),"
            "(5, '3D Printing', 'Eve', '|12|', 4.79, NULL, NULL, NULL, 3, '100% sure'),"
            "(6, 'Plain', 'Fay', NULL, 2, 60, 10, 0, 100, NULL),"
            "(7, 'a%2b guide', 'Gus', '|12|', 1, 20, 11, 10485760, 4, '%1%2%3 %L1')",
            QStringLiteral("update published_bookinfo set FirstPubTimeGMT = %1 - FirstPubTimeGMT * 86400 + (UID = 2)")
                .arg(kNow.toSecsSinceEpoch()),
            "insert into runtime_cataloginfo(UID, LID, Calc_BookCount, Caption) values (12, 12, 0, 'Science'),"
            "(40, 40, 0, 'History'), (112, 112, 0, 'Sci-Fi Classics'), (7, 7, 0, 'Art')"};
        catalogueA = dir.filePath(QStringLiteral("a.rfile"));
        QVERIFY(CatalogueGenerator::Generate(options, catalogueA));
        // The same books without the category caption column.
        options.guid = QStringLiteral("guid-B");
        options.extraSql << QStringLiteral("alter table runtime_cataloginfo rename column Caption to Title");
        catalogueB = dir.filePath(QStringLiteral("b.rfile"));
        QVERIFY(CatalogueGenerator::Generate(options, catalogueB));
    }

    void init()
    {
        const QString path = dir.filePath(QStringLiteral("user-folders.file"));
        QFile::remove(path);
        store = std::make_unique<DisplayDataSaver>(path);
        store->clock = [] { return kNow; };
        QVERIFY(store->items->LoadDatabase(catalogueA));
    }

    void builtinQueries()
    {
        bool added = false;
        QVERIFY(store->LoadFolders(added) && store->ComputeAll());
        QStringList captions;
        for (const DisplayFolder *folder : qAsConst(store->folders))
            captions << folder->calcCaption;
        QCOMPARE(captions, QStringList({"All Tessaly (7 Books)", "New Arrivals (November, 30 - December, 5) (5 Books)",
                                        "Best Tessaly (2 Books)", "Search Result (0 Books)"}));
        // New arrivals come in a new random order at every computation.
        const DisplayFolder *arrivals = store->folders.at(1);
        const Ids firstOrder = arrivals->bookIds;
        bool reordered = false;
        for (int i = 0; i < 8 && !reordered; ++i)
            reordered = store->ComputeAll() && arrivals->bookIds != firstOrder;
        QVERIFY(reordered);
        Ids arrivalIds = arrivals->bookIds;
        std::sort(arrivalIds.begin(), arrivalIds.end());
        QCOMPARE(arrivalIds, Ids({1, 2, 3, 5, 7}));
        // Only the refresher computes the search folder.
        store->folders.at(3)->search.findName = QStringList{"train"};
        QVERIFY(store->ComputeAll());
        QCOMPARE(store->folders.at(3)->calcCaption, QStringLiteral("Search Result (0 Books)"));

        QReadLockerExt2 itemToken(0, &store->items->lock);
        bool ok = true;
        QCOMPARE(store->QueryAllBooks(&ok), Ids({1, 3, 5, 7, 2, 4, 6}));
        QCOMPARE(store->QueryBestBooks(&ok), Ids({1, 3}));
        // Category 12 does not match the token |112|.
        QCOMPARE(store->QueryCategoryBooks(12, &ok), Ids({1, 5, 7}));
        QCOMPARE(store->QueryCategoryBooks(112, &ok), Ids({2}));
        QCOMPARE(store->QueryCategoryBooks(99, &ok), Ids());
        // Every condition holds; none selects every book.
        QCOMPARE(store->items->QueryBookIdsByConditions({"BookStars>=4", "BookPages>100", QString()}, &ok), Ids({1, 3}));
        QCOMPARE(store->items->QueryBookIdsByConditions({}, &ok), store->QueryAllBooks(&ok));
        QVERIFY(ok);
    }

    void rangeCodes_data()
    {
        QTest::addColumn<qint64>("code");
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("label");
        QTest::addColumn<Ids>("books");
        const struct { qint64 code; const char *condition; const char *label; Ids books; } rows[] = {
            {1000, "BookStars is null", "unknown value", {2}},
            {1001, "", "", kAll},
            {1002, "BookStars>2 and BookStars<=3", "2 - 3 Stars", {4}},
            {1003, "BookStars>3 and BookStars<=4", "3 - 4 Stars", {}},
            {1004, "BookStars>4 and BookStars<=5", "4 - 5 Stars", {1, 3, 5}},
            {1005, "BookStars>=5", "5 Stars", {3}},
            {2000, "OrgPrice is null", "unknown value", {5}},
            {2001, "OrgPrice>50", "More than $50", {6}},
            {2002, "OrgPrice==0", "$0", {1}},
            {2003, "OrgPrice>0 and OrgPrice<=10", "$0 - $10", {2}},
            {2004, "OrgPrice>10 and OrgPrice<=20", "$10 - $20", {3, 7}},
            {2005, "OrgPrice>20 and OrgPrice<=30", "$20 - $30", {}},
            {2006, "OrgPrice>30 and OrgPrice<=50", "$30 - $50", {4}},
            {3000, "BookPages is null", "unknown value", {5}},
            {3001, "BookPages>400", "More than 400", {4}},
            {3002, "BookPages>0 and BookPages<=10", "1 - 10", {6}},
            {3003, "BookPages>10 and BookPages<=30", "11 - 30", {7}},
            {3004, "BookPages>30 and BookPages<=50", "31 - 50", {}},
            {3005, "BookPages>50 and BookPages<=100", "51 - 100", {}},
            {3006, "BookPages>100 and BookPages<=200", "101 - 200", {1}},
            {3007, "BookPages>200 and BookPages<=400", "201 - 400", {2, 3}},
            {4000, "BookSize is null", "unknown value", {5}},
            {4001, "BookSize>52428800", "More than 50MB", {4}},
            {4002, "BookSize>0 and BookSize<=512000", "< 500KB", {1}},
            {4003, "BookSize>512000 and BookSize<=1048576", "500KB - 1MB", {2, 3}},
            {4004, "BookSize>1048576 and BookSize<=10485760", "1MB - 10MB", {7}},
            {4005, "BookSize>10485760 and BookSize<=52428800", "10MB - 50MB", {}},
            {4006, "", "", kAll},
        };
        for (const auto &row : rows)
            QTest::newRow(qPrintable(QString::number(row.code)))
                << row.code << QString::fromUtf8(row.condition) << QString::fromUtf8(row.label) << row.books;
    }

    void rangeCodes()
    {
        QFETCH(qint64, code);
        QFETCH(QString, condition);
        QFETCH(QString, label);
        QFETCH(Ids, books);
        QCOMPARE(FilterRangeCode::Condition(code), condition);
        QCOMPARE(FilterRangeCode::Label(code), label);
        // The filter dialog offers exactly the codes with a label.
        QCOMPARE(FilterRangeCode::OfferedCodes(FilterRangeCode::Group(code / 1000)).contains(code), !label.isEmpty());
        // On the books, in the field of its group.
        Ids Search::*const fields[] = {&Search::findUserRating, &Search::findOrgPrice, &Search::findBookPages,
                                       &Search::findBookSize};
        QCOMPARE(Filter(With(fields[qBound<qint64>(0, code / 1000 - 1, 3)], {code})), books);
    }

    void filters_data()
    {
        QTest::addColumn<Search>("search");
        QTest::addColumn<Ids>("books");
        QTest::newRow("no criteria") << Search() << kAll;
        QTest::newRow("select-all code with others") << With(&Search::findUserRating, {1001, 1000, 4242}) << Ids{2};
        QTest::newRow("pages 1-10 or 11-30") << With(&Search::findBookPages, {3002, 3003}) << Ids{6, 7};
        QTest::newRow("1") << With(&Search::findName, {"1"}) << Ids{3};
        QTest::newRow("2nd") << With(&Search::findName, {"2nd"}) << Ids{4};
        QTest::newRow("3D, any case") << With(&Search::findName, {"3d"}) << Ids{5};
        QTest::newRow("a%2b") << With(&Search::findName, {"a%2b"}) << Ids{7};
        QTest::newRow("underscore wildcard") << With(&Search::findName, {"N_ght"}) << Ids{1};
        QTest::newRow("alternatives") << With(&Search::findName, {QString(), "train", "plain"}) << Ids{1, 6};
        QTest::newRow("quote literal") << With(&Search::findAuthor, {"O'Brien"}) << Ids{1};
        QTest::newRow("injection") << With(&Search::findName, {"') or 1=1 --", "x' or '1'='1"}) << Ids{};
        QTest::newRow("name and author")
            << With(&Search::findName, {"t"}, With(&Search::findAuthor, {"ann"})) << Ids{1};
        QTest::newRow("description") << With(&Search::findDescription, {"100%"}) << Ids{5};
        // Keywords that look like text placeholders stay literal.
        QTest::newRow("%1%2%3 %L1") << With(&Search::findDescription, {"%1%2%3 %L1"}) << Ids{7};
        QTest::newRow("category ids") << With(&Search::findCategoryList, {40, 7}) << Ids{1, 3, 4};
        // "Sci" names Science (12) and Sci-Fi Classics (112).
        QTest::newRow("category caption") << With(&Search::findCategoryName, {"sci"}) << Ids{1, 2, 5, 7};
        // A caption keyword that names no category adds no condition.
        QTest::newRow("unknown caption, pages")
            << With(&Search::findBookPages, {3007}, With(&Search::findCategoryName, {"Cooking"})) << Ids{2, 3};
        QTest::newRow("caption, pages")
            << With(&Search::findCategoryName, {"Hist"}, With(&Search::findBookPages, {3007})) << Ids{3};
    }

    void filters()
    {
        QFETCH(Search, search);
        QFETCH(Ids, books);
        QCOMPARE(Filter(search), books);
    }

    // A re-sort starts again at page 1; page sizes below the smallest are raised to it. By
    // rating, null first: 2 (null), 7, 6, 4, 5 (4.79), 1 (4.8), 3.
    void pages_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("ascending");
        QTest::addColumn<int>("pageSize");
        QTest::addColumn<Ids>("order");
        QTest::newRow("rating up, 5 a page") << int(OrderBy_UserRating) << true << 5 << Ids{2, 7, 6, 4, 5, 1, 3};
        QTest::newRow("rating down, 3 raised to 5") << int(OrderBy_UserRating) << false << 3 << Ids{3, 1, 5, 4, 6, 7, 2};
        QTest::newRow("pages, one page") << int(OrderBy_BookPages) << true << 7 << Ids{5, 6, 7, 1, 2, 3, 4};
        QTest::newRow("folder order") << int(OrderBy_None) << false << 6 << Ids{1, 3, 5, 7, 2, 4, 6};
    }

    void pages()
    {
        QFETCH(int, type);
        QFETCH(bool, ascending);
        QFETCH(int, pageSize);
        QFETCH(Ids, order);
        DisplayFolder *all = AddFolder(*store, AllBooks, QStringLiteral("All"));
        QVERIFY(store->ComputeAll());
        DisplayPageState state;
        const auto load = [&](bool resort) {
            QList<ItemBook> out;
            QReadLockerExt2 token(0, &store->lock);
            store->LoadFolderPage(all, &state, resort, pageSize, &out, token);
            Ids ids;
            for (const ItemBook &book : qAsConst(out))
                ids << book.uid;
            return ids;
        };
        // First the other way round, from page 2.
        state.SetSort(static_cast<ItemBookSortType>(type), !ascending);
        load(true);
        state.SetCurrentPage(2);
        state.SetSort(static_cast<ItemBookSortType>(type), ascending);
        const int size = qMax(pageSize, 5);
        QCOMPARE(load(true), order.mid(0, size));
        QCOMPARE(state.GetPageCount(), (order.size() + size - 1) / size);
        for (int page = 2; page <= state.GetPageCount() + 1; ++page) {
            state.SetCurrentPage(page);
            QCOMPARE(load(false), order.mid((page - 1) * size, size));
        }
    }

    void failedQueryLeavesGuidUnset()
    {
        DisplayFolder *all = AddFolder(*store, AllBooks, QStringLiteral("All Tessaly"));
        DisplayFolder *byCaption = AddFolder(*store, FilterFolder, QStringLiteral("By caption"));
        byCaption->search.findCategoryName = QStringList{QStringLiteral("Sci")};
        // Catalogue B's category table lacks the caption column: the caption lookup fails.
        QVERIFY(store->items->LoadDatabase(catalogueB));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^SQL Error: ")));
        QVERIFY(store->ComputeAll());
        QVERIFY(store->currentGuid.isEmpty());
        QCOMPARE(all->bookIds, Ids({1, 3, 5, 7, 2, 4, 6}));
        // Without its category condition the filter would hold every book.
        QVERIFY(byCaption->bookIds.isEmpty());

        // No open catalogue at all.
        DisplayDataSaver empty(dir.filePath(QStringLiteral("empty.file")));
        QVERIFY(AddFolder(empty, AllBooks, QStringLiteral("All")));
        empty.currentGuid = QStringLiteral("stale");
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^SQL Error: ")));
        QVERIFY(empty.ComputeAll());
        QVERIFY(empty.currentGuid.isEmpty());
    }

    void batchMatchesFolderQueries_data()
    {
        QTest::addColumn<quint64>("seed");
        QTest::addColumn<int>("books");
        QTest::newRow("seed 1") << quint64(1) << 1500;
        QTest::newRow("seed 2") << quint64(2) << 2600;
        QTest::newRow("seed 3") << quint64(3) << 700;
    }

    void batchMatchesFolderQueries()
    {
        QFETCH(quint64, seed);
        QFETCH(int, books);
        QVERIFY(store->items->LoadDatabase(
            MakeGeneratedCatalogue(dir.filePath(QStringLiteral("generated-%1.rfile").arg(seed)), seed, books)));
        QReadLockerExt2 itemToken(0, &store->items->lock);
        // Every built-in where, and more filters than one bit column holds.
        QList<FolderBatchQuery::Condition> conditions{
            {QString(), QString()},
            {ItemDataSaver::ConditionsWhere({SqlGreaterEqualCondition(QStringLiteral("BookStars"), 4.8)}), QString()},
            {ItemDataSaver::ConditionsWhere(
                 {SqlGreaterCondition(QStringLiteral("FirstPubTimeGMT"), kNow.addDays(-5).toSecsSinceEpoch())}),
             QString()}};
        QRandomGenerator random(seed);
        for (int i = 0; i < 110; ++i) {
            if (i % 3 == 0) {
                const qint64 category = random.bounded(45);
                conditions.append({DisplayDataSaver::CategoryWhere(category), MakeCategoryToken(category)});
            } else {
                DisplayFolder folder;
                folder.search = RandomSearch(random);
                conditions.append({store->MakeFilterWhere(&folder), QString()});
            }
        }
        QList<Ids> results;
        QCOMPARE(FolderBatchQuery::Run(store->items, conditions, &results, [] { return false; }),
                 FolderBatchQuery::Done);
        QCOMPARE(results.size(), conditions.size());
        for (int i = 0; i < conditions.size(); ++i) {
            bool ok = true;
            const Ids expected = store->items->QueryBookIds(conditions.at(i).where, &ok);
            QVERIFY(ok);
            QVERIFY2(results.at(i) == expected, qPrintable(conditions.at(i).where));
        }
        QCOMPARE(results.first().size(), books);
    }

    void computationLeavesStoreFree_data()
    {
        QTest::addColumn<int>("stopAt");
        QTest::addColumn<int>("stopWorkerAt");
        QTest::addColumn<bool>("oneFolder");
        QTest::newRow("runs to the end") << 0 << 0 << false;
        QTest::newRow("stopped before reading") << 1 << 0 << false;
        QTest::newRow("stopped while reading") << 2 << 0 << false;
        // The one pass ends inside SQLite; the folders are not then queried one by one.
        QTest::newRow("stopped inside the one pass") << 0 << 1 << false;
        // A dialog's one folder is read in the same pass, which a stop ends between rows.
        QTest::newRow("one folder, stopped while reading") << 3 << 0 << true;
    }

    void computationLeavesStoreFree()
    {
        QFETCH(int, stopAt);
        QFETCH(int, stopWorkerAt);
        QFETCH(bool, oneFolder);
        const QString catalogue = MakeGeneratedCatalogue(dir.filePath(QStringLiteral("stop.rfile")), 9, 3000);
        QVERIFY(store->items->LoadDatabase(catalogue));
        if (oneFolder) {
            StopAfter canceller(&store->lock, stopAt, stopWorkerAt);
            QList<DisplayFolder> copies{DisplayFolder()};
            copies.first().type = FilterFolder;
            QReadLockerExt2 itemToken(0, &store->items->lock);
            QVERIFY(!store->ComputeCopies(copies, true, &canceller));
            QCOMPARE(canceller.asked, stopAt);
            return;
        }
        bool added = false;
        QVERIFY(store->LoadFolders(added));
        for (qint64 id : {1, 2, 3})
            AddFolder(*store, CategoryFolder, QStringLiteral("C%1").arg(id))->categoryUid = id;
        StopAfter canceller(&store->lock, stopAt, stopWorkerAt);
        ComputeWorker worker(store.get(), &canceller);
        worker.StartIfNotRunning();
        QVERIFY(QTest::qWaitFor([&worker] { return !worker.IsRunning(); }, 30000));
        const bool completes = stopAt == 0 && stopWorkerAt == 0;
        QCOMPARE(worker.result.load(), completes);
        // Page loads and re-ordering could go on at every point of the computation.
        QVERIFY(!canceller.storeBusy);
        QCOMPARE(store->IsGuidUnchanged(), completes);
        QCOMPARE(store->folders.first()->calcBookCount, completes ? qint64(3000) : qint64(0));
        if (!completes)
            QCOMPARE(canceller.asked, qMax(stopAt, stopWorkerAt));
        else
            QVERIFY(canceller.asked >= 3000 / FolderBatchQuery::RowsPerStopCheck);
    }

    void refresherWaitsOutWriteWithStoreFree()
    {
        DisplayFolder all;
        all.type = AllBooks;
        std::unique_ptr<DisplayFolder> search(DisplayFolder::CreateSearchFolder());
        search->search.findName = QStringList{"train"};
        DisplayFolderRefresher refresher;
        QSignalSpy done(&refresher, &DisplayFolderRefresher::completed);
        // As a folders-file write holds it.
        NativeHelper::_configLocker->lockForWrite();
        refresher.SetFolders(store.get(), {&all, search.get()});
        refresher.StartIfNotRunning();
        QTest::qWait(300);
        const bool storeFree = store->lock.tryLockForRead();
        if (storeFree)
            store->lock.unlock();
        NativeHelper::_configLocker->unlock();
        QVERIFY(storeFree);
        // The results are read once the run has ended, not while its thread may still write.
        QVERIFY(QTest::qWaitFor([&refresher] { return !refresher.IsRunning(); }, 30000));
        refresher.Stop();
        QCOMPARE(done.count(), 1);
        QCOMPARE(all.calcBookCount, qint64(7));
        QCOMPARE(search->calcCaption, QStringLiteral("Search Result (1 Book)"));
    }

    // Destroyed while it runs, the refresher ends its run before its members go.
    void refresherDestructorStopsThread()
    {
        QList<DisplayFolder *> folders;
        for (int i = 0; i < 20; ++i)
            folders.append(DisplayFolder::CreateBuiltinFolder(AllBooks, QStringLiteral("All")));
        {
            DisplayFolderRefresher refresher;
            refresher.SetFolders(store.get(), folders);
            refresher.StartIfNotRunning();
        }
        // Nothing the run took is left held.
        QVERIFY(store->lock.tryLockForWrite());
        store->lock.unlock();
        QVERIFY(NativeHelper::_configLocker->tryLockForWrite());
        NativeHelper::_configLocker->unlock();
        qDeleteAll(folders);
    }

    void pagingDuringComputeAndSwaps()
    {
        // Sorted paging on this thread while a worker recomputes all folders and swaps catalogues: no
        // deadlock, no race (run under TSan), pages always whole.
        const QStringList catalogues{MakeGeneratedCatalogue(dir.filePath(QStringLiteral("s1.rfile")), 1, 1500),
                                     MakeGeneratedCatalogue(dir.filePath(QStringLiteral("s2.rfile")), 2, 1500)};
        QVERIFY(store->items->LoadDatabase(catalogues.at(0)));
        bool added = false;
        QVERIFY(store->LoadFolders(added));
        for (qint64 category = 1; category <= 9; ++category)
            AddFolder(*store, CategoryFolder, QStringLiteral("C%1").arg(category))->categoryUid = category;
        QVERIFY(store->ComputeAll());

        QAtomicInt stop(0);
        QAtomicInt rounds(0);
        QThread *worker = QThread::create([&] {
            for (int variant = 1; !stop.loadAcquire(); variant = 1 - variant) {
                store->ComputeAll();
                store->items->LoadDatabase(catalogues.at(variant));
                rounds.fetchAndAddOrdered(1);
            }
        });
        worker->start();
        DisplayPageState state;
        state.SetSort(OrderBy_OrgPrice, true);
        QElapsedTimer timer;
        timer.start();
        int pages = 0;
        QSet<int> roundsSeen; // pages were loaded while the worker went on
        while (timer.elapsed() < 1500 || (roundsSeen.size() < 3 && timer.elapsed() < 20000)) {
            roundsSeen.insert(rounds.loadAcquire());
            QList<ItemBook> out;
            QWriteLockerExt2 token(&store->lock);
            DisplayFolder *all = store->FindFolder(store->FindFirstFolderOfType(AllBooks, token), token);
            const bool resort = pages % 3 == 0;
            if (!resort)
                state.SetCurrentPage(1 + pages % 5);
            store->LoadFolderPage(all, &state, resort, 50, &out, token);
            // Every catalogue holds all 1500 ids, so every page is whole.
            QCOMPARE(out.size(), 50);
            ++pages;
        }
        stop.storeRelease(1);
        QVERIFY(worker->wait(30000));
        delete worker;
        QVERIFY(roundsSeen.size() >= 3);
        QVERIFY(pages > 10);
    }

    // Last, as closing is one-way: once the program closes, a refresher run and a computation
    // stop between folders; nothing is stored, no completed() is sent and nothing is written.
    void closingStopsComputationAndWrites()
    {
        bool added = false;
        QVERIFY(store->LoadFolders(added));
        store->currentGuid = QStringLiteral("old");
        QVERIFY(store->ApplyNewOrder({}));
        QTRY_VERIFY(store->foldersWriter.IsIdle());
        const QByteArray saved = TestSandbox::ReadBytes(store->userFoldersPath);
        // The flag goes up while the refresher's run prepares the new-arrivals query.
        store->clock = [] {
            NativeHelper::SetClosing();
            return kNow;
        };
        DisplayFolderRefresher refresher;
        int completed = 0;
        connect(&refresher, &DisplayFolderRefresher::completed, this, [&] { ++completed; }, Qt::QueuedConnection);
        refresher.SetFolders(store.get(), store->folders);
        refresher.StartIfNotRunning();
        QTRY_VERIFY_WITH_TIMEOUT(NativeHelper::IsClosing(), 10000);
        refresher.Stop();
        QTest::qWait(100);
        QCOMPARE(completed, 0);

        QVERIFY(!store->ComputeAll());
        QCOMPARE(store->currentGuid, QStringLiteral("old"));
        for (const DisplayFolder *folder : qAsConst(store->folders))
            QCOMPARE(folder->calcBookCount, qint64(0));
        {
            QWriteLockerExt2 token(&store->lock);
            QVERIFY(!store->SaveLocked(token));
        }
        QVERIFY(!store->ApplyNewOrder({}));
        QCOMPARE(TestSandbox::ReadBytes(store->userFoldersPath), saved);
    }
};

QTEST_GUILESS_MAIN(TestCompute)
#include "test_compute.moc"
