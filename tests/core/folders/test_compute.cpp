#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolderRefresher.h"
#include "threads/NativeHelper.h"
#include "folders/FolderBatchQuery.h"
#include "threads/IBaseCloseable.h"
#include "test_compute_catalogue.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>

namespace {

// 5 December 2026, 12:00 UTC (the tests run with TZ=UTC).
const QDateTime kNow(QDate(2026, 12, 5), QTime(12, 0), Qt::UTC);

qint64 DaysAgo(int days)
{
    return kNow.addDays(-days).toSecsSinceEpoch();
}

TestCatalogueBook Book(qint64 uid, const QString &name, const QString &author, const QString &cats,
                       const QVariant &stars, const QVariant &price, const QVariant &pages, const QVariant &size,
                       int daysAgo, const QString &intro = QString())
{
    TestCatalogueBook book;
    book.uid = uid;
    book.name = name;
    book.author = author;
    book.catalogIds = cats;
    book.stars = stars;
    book.orgPrice = price;
    book.pages = pages;
    book.size = size;
    book.firstPubTime = DaysAgo(daysAgo);
    book.intro = intro;
    return book;
}

QList<qint64> Sorted(QList<qint64> ids)
{
    std::sort(ids.begin(), ids.end());
    return ids;
}

// A generated catalogue with equal, missing, real, text and blob publication times (the order) and
// category id texts of every shape: missing, a repeated token, no leading "|", a blob, a zero
// character before a token.
QString MakeGeneratedCatalogue(const QString &path, quint64 seed, int books)
{
    CatalogueGeneratorOptions options;
    options.books = books;
    options.seed = seed;
    options.password = Helper::GetCatalogPassword().toUtf8();
    options.nowUtc = kNow.toSecsSinceEpoch();
    const QString update = QStringLiteral("update published_bookinfo set %1 where UID % %2 = 0");
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
    };
    RegisterSqlCipherDriver();
    return CatalogueGenerator::Generate(options, path) ? path : QString();
}

template <typename T>
QList<T> Pick(QRandomGenerator &random, const QList<T> &pool)
{
    QList<T> picked;
    if (random.bounded(3) == 0)
        return picked;
    for (int n = 1 + random.bounded(3); n > 0; --n)
        picked << pool.at(random.bounded(pool.size()));
    return picked;
}

DisplayFolderSearch RandomSearch(QRandomGenerator &random)
{
    const QList<QString> words{QStringLiteral("a"), QStringLiteral("the"), QStringLiteral("O'"), QStringLiteral("%"),
                               QStringLiteral("_e"), QStringLiteral("NIGHT"), QStringLiteral("\u00e9"), QString(),
                               QStringLiteral("&"), QStringLiteral("zzz")};
    QList<qint64> codes;
    for (qint64 group = 1000; group <= 4000; group += 1000) {
        for (qint64 code = group; code <= group + 8; ++code)
            codes << code;
    }
    QList<qint64> categories;
    for (qint64 id = 0; id <= 45; ++id)
        categories << id;
    DisplayFolderSearch search;
    search.findName = Pick(random, words);
    search.findAuthor = Pick(random, words);
    search.findCategoryName = Pick(random, words);
    search.findDescription = random.bounded(4) == 0 ? Pick(random, words) : QStringList();
    search.findCategoryList = Pick(random, categories);
    search.findUserRating = Pick(random, codes);
    search.findOrgPrice = Pick(random, codes);
    search.findBookPages = Pick(random, codes);
    search.findBookSize = Pick(random, codes);
    return search;
}

// Stops after a number of questions; records whether the folder store was free at each.
class StopAfter : public IBaseCloseable
{
public:
    StopAfter(QReadWriteLock *lock, int stopAt) : lock(lock), stopAt(stopAt) {}
    bool IsCloseRequested() override
    {
        const bool free = lock->tryLockForWrite();
        if (free)
            lock->unlock();
        storeBusy = storeBusy || !free;
        return ++asked == stopAt;
    }
    QReadWriteLock *lock;
    int stopAt;
    int asked = 0;
    bool storeBusy = false;
};

} // namespace

// Folder queries and computations on small encrypted catalogues.
class TestCompute : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void builtinQueries();
    void rangeBoundaries_data();
    void rangeBoundaries();
    void keywords_data();
    void keywords();
    void categoryCriteria();
    void failedQueryLeavesGuidUnset();
    void batchMatchesFolderQueries_data();
    void batchMatchesFolderQueries();
    void computationLeavesStoreFree_data();
    void computationLeavesStoreFree();
    void refresherDestructorStopsThread();

private:
    QList<qint64> Filter(const DisplayFolderSearch &search, bool *ok = nullptr);
    DisplayFolder *AddFolder(int type, const QString &caption);

    QTemporaryDir dir;
    QString catalogueA;
    QString catalogueB;
    DisplayDataSaver *store = nullptr;
};

void TestCompute::initTestCase()
{
    QVERIFY(dir.isValid());
    TestCatalogue a;
    a.guid = QStringLiteral("guid-A");
    a.books = {
        Book(1, QStringLiteral("Night Train"), QStringLiteral("Ann O'Brien"), QStringLiteral("|12|40|"), 4.8, 0.0, 200,
             512000, 1, QStringLiteral("a quiet story")),
        Book(2, QStringLiteral("Day Break"), QStringLiteral("Bob Smith"), QStringLiteral("|112|"), QVariant(), 10.0, 201,
             512001, 10),
        Book(3, QStringLiteral("Vol 1"), QStringLiteral("Carl"), QStringLiteral("|40|"), 5.0, 10.5, 400, 1048576, 2),
        Book(4, QStringLiteral("The 2nd Coming"), QStringLiteral("Dora"), QStringLiteral("|7|"), 3.0, 50.0, 401,
             52428801, 30),
        Book(5, QStringLiteral("3D Printing"), QStringLiteral("Eve"), QStringLiteral("|12|"), 4.79, QVariant(),
             QVariant(), QVariant(), 3, QStringLiteral("100% sure")),
        Book(6, QStringLiteral("Plain"), QStringLiteral("Fay"), QString(), 2.0, 60.0, 10, 0, 100),
        Book(7, QStringLiteral("a%2b guide"), QStringLiteral("Gus"), QStringLiteral("|12|"), 1.0, 20.0, 11, 10485760, 4),
    };
    a.categories = {{12, QStringLiteral("Science")}, {40, QStringLiteral("History")},
                    {112, QStringLiteral("Sci-Fi Classics")}, {7, QStringLiteral("Art")}};
    catalogueA = dir.filePath(QStringLiteral("a.rfile"));
    QVERIFY(MakeTestCatalogue(a, catalogueA));

    TestCatalogue b;
    b.guid = QStringLiteral("guid-B");
    b.books = {Book(8, QStringLiteral("Other"), QStringLiteral("Hal"), QStringLiteral("|12|"), 4.9, 1.0, 5, 5, 1)};
    b.withCaptionColumn = false;
    catalogueB = dir.filePath(QStringLiteral("b.rfile"));
    QVERIFY(MakeTestCatalogue(b, catalogueB));
}

void TestCompute::init()
{
    const QString path = dir.filePath(QStringLiteral("user-folders.file"));
    QFile::remove(path);
    store = new DisplayDataSaver(path);
    store->clock = [] { return kNow; };
    QVERIFY(store->items->LoadDatabase(catalogueA));
}

void TestCompute::cleanup()
{
    delete store;
}

QList<qint64> TestCompute::Filter(const DisplayFolderSearch &search, bool *ok)
{
    DisplayFolder folder;
    folder.type = FilterFolder;
    folder.search = search;
    QReadLockerExt2 itemToken(0, &store->items->lock);
    return Sorted(store->QueryFilterBooks(&folder, ok));
}

DisplayFolder *TestCompute::AddFolder(int type, const QString &caption)
{
    auto *folder = new DisplayFolder();
    folder->type = type;
    folder->caption = caption;
    QWriteLockerExt2 token(&store->lock);
    store->AddFolder(folder, token);
    return folder;
}

void TestCompute::builtinQueries()
{
    QReadLockerExt2 itemToken(0, &store->items->lock);
    bool ok = true;
    QCOMPARE(store->QueryAllBooks(&ok), QList<qint64>({1, 3, 5, 7, 2, 4, 6}));
    QCOMPARE(store->QueryBestBooks(&ok), QList<qint64>({1, 3}));
    // Category 12 does not match the token |112|.
    QCOMPARE(store->QueryCategoryBooks(12, &ok), QList<qint64>({1, 5, 7}));
    QCOMPARE(store->QueryCategoryBooks(112, &ok), QList<qint64>({2}));
    QCOMPARE(store->QueryCategoryBooks(99, &ok), QList<qint64>());
    QVERIFY(ok);
}

void TestCompute::rangeBoundaries_data()
{
    QTest::addColumn<QList<qint64>>("codes");
    QTest::addColumn<QList<qint64>>("books");
    QTest::newRow("stars null") << QList<qint64>{1000} << QList<qint64>{2};
    QTest::newRow("stars 2-3") << QList<qint64>{1002} << QList<qint64>{4};
    QTest::newRow("stars 4-5") << QList<qint64>{1004} << QList<qint64>{1, 3, 5};
    QTest::newRow("stars 5") << QList<qint64>{1005} << QList<qint64>{3};
    QTest::newRow("stars 1001 alone selects all") << QList<qint64>{1001} << QList<qint64>{1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("stars 1001 with 1000") << QList<qint64>{1001, 1000, 4242} << QList<qint64>{2};
    QTest::newRow("pages 101-200") << QList<qint64>{3006} << QList<qint64>{1};
    QTest::newRow("pages 201-400") << QList<qint64>{3007} << QList<qint64>{2, 3};
    QTest::newRow("pages >400") << QList<qint64>{3001} << QList<qint64>{4};
    QTest::newRow("pages null") << QList<qint64>{3000} << QList<qint64>{5};
    QTest::newRow("pages 1-10 or 11-30") << QList<qint64>{3002, 3003} << QList<qint64>{6, 7};
    QTest::newRow("size <500KB") << QList<qint64>{4002} << QList<qint64>{1};
    QTest::newRow("size 500KB-1MB") << QList<qint64>{4003} << QList<qint64>{2, 3};
    QTest::newRow("size 1-10MB") << QList<qint64>{4004} << QList<qint64>{7};
    QTest::newRow("size >50MB") << QList<qint64>{4001} << QList<qint64>{4};
    QTest::newRow("size null") << QList<qint64>{4000} << QList<qint64>{5};
    QTest::newRow("price 0") << QList<qint64>{2002} << QList<qint64>{1};
    QTest::newRow("price 10-20") << QList<qint64>{2004} << QList<qint64>{3, 7};
    QTest::newRow("price >50") << QList<qint64>{2001} << QList<qint64>{6};
}

void TestCompute::rangeBoundaries()
{
    QFETCH(QList<qint64>, codes);
    QFETCH(QList<qint64>, books);
    DisplayFolderSearch search;
    const int group = int(codes.first() / 1000);
    if (group == 1)
        search.findUserRating = codes;
    else if (group == 2)
        search.findOrgPrice = codes;
    else if (group == 3)
        search.findBookPages = codes;
    else
        search.findBookSize = codes;
    bool ok = true;
    QCOMPARE(Filter(search, &ok), books);
    QVERIFY(ok);
}

void TestCompute::keywords_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("authors");
    QTest::addColumn<QStringList>("descriptions");
    QTest::addColumn<QList<qint64>>("books");
    const QStringList none;
    QTest::newRow("no criteria") << none << none << none << QList<qint64>{1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("1") << QStringList{QStringLiteral("1")} << none << none << QList<qint64>{3};
    QTest::newRow("2nd") << QStringList{QStringLiteral("2nd")} << none << none << QList<qint64>{4};
    QTest::newRow("3D, any case") << QStringList{QStringLiteral("3d")} << none << none << QList<qint64>{5};
    QTest::newRow("a%2b") << QStringList{QStringLiteral("a%2b")} << none << none << QList<qint64>{7};
    QTest::newRow("underscore wildcard") << QStringList{QStringLiteral("N_ght")} << none << none << QList<qint64>{1};
    QTest::newRow("alternatives") << QStringList{QString(), QStringLiteral("train"), QStringLiteral("plain")} << none
                                  << none << QList<qint64>{1, 6};
    QTest::newRow("quote literal") << none << QStringList{QStringLiteral("O'Brien")} << none << QList<qint64>{1};
    QTest::newRow("injection") << QStringList{QStringLiteral("') or 1=1 --")} << none << none << QList<qint64>{};
    QTest::newRow("injection author") << none << QStringList{QStringLiteral("x' or '1'='1")} << none << QList<qint64>{};
    QTest::newRow("name and author") << QStringList{QStringLiteral("t")} << QStringList{QStringLiteral("ann")} << none
                                     << QList<qint64>{1};
    QTest::newRow("description") << none << none << QStringList{QStringLiteral("100%")} << QList<qint64>{5};
}

void TestCompute::keywords()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, authors);
    QFETCH(QStringList, descriptions);
    QFETCH(QList<qint64>, books);
    DisplayFolderSearch search;
    search.findName = names;
    search.findAuthor = authors;
    search.findDescription = descriptions;
    bool ok = true;
    QCOMPARE(Filter(search, &ok), books);
    QVERIFY(ok);
}

void TestCompute::categoryCriteria()
{
    DisplayFolderSearch search;
    search.findCategoryList = {40, 7};
    QCOMPARE(Filter(search), QList<qint64>({1, 3, 4}));
    search = DisplayFolderSearch();
    // "Sci" names Science (12) and Sci-Fi Classics (112).
    search.findCategoryName = QStringList{QStringLiteral("sci")};
    QCOMPARE(Filter(search), QList<qint64>({1, 2, 5, 7}));
    // A caption keyword that names no category adds no condition.
    search.findCategoryName = QStringList{QStringLiteral("Cooking")};
    QCOMPARE(Filter(search), QList<qint64>({1, 2, 3, 4, 5, 6, 7}));
    search.findBookPages = {3007};
    QCOMPARE(Filter(search), QList<qint64>({2, 3}));
    search.findCategoryName = QStringList{QStringLiteral("Hist")};
    QCOMPARE(Filter(search), QList<qint64>({3}));
}

void TestCompute::failedQueryLeavesGuidUnset()
{
    DisplayFolder *all = AddFolder(AllBooks, QStringLiteral("All Tessaly"));
    DisplayFolder *byCaption = AddFolder(FilterFolder, QStringLiteral("By caption"));
    byCaption->search.findCategoryName = QStringList{QStringLiteral("Sci")};
    // Catalogue B's category table lacks the caption column: the caption lookup fails.
    QVERIFY(store->items->LoadDatabase(catalogueB));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^SQL Error: ")));
    QVERIFY(store->ComputeAll());
    QVERIFY(store->currentGuid.isEmpty());
    QVERIFY(!store->IsGuidUnchanged());
    QCOMPARE(all->bookIds, QList<qint64>({8}));
    // Without its category condition the filter would hold every book.
    QVERIFY(byCaption->bookIds.isEmpty());

    // No open catalogue at all.
    DisplayDataSaver empty(dir.filePath(QStringLiteral("empty.file")));
    {
        QWriteLockerExt2 token(&empty.lock);
        auto *folder = new DisplayFolder();
        folder->type = AllBooks;
        folder->caption = QStringLiteral("All");
        QVERIFY(empty.AddFolder(folder, token));
        empty.currentGuid = QStringLiteral("stale");
    }
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^SQL Error: ")));
    QVERIFY(empty.ComputeAll());
    QVERIFY(empty.currentGuid.isEmpty());
}

void TestCompute::batchMatchesFolderQueries_data()
{
    QTest::addColumn<quint64>("seed");
    QTest::addColumn<int>("books");
    QTest::newRow("seed 1") << quint64(1) << 1500;
    QTest::newRow("seed 2") << quint64(2) << 2600;
    QTest::newRow("seed 3") << quint64(3) << 700;
}

void TestCompute::batchMatchesFolderQueries()
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
        {ItemDataSaver::ConditionsWhere({SqlGreaterCondition(QStringLiteral("FirstPubTimeGMT"), DaysAgo(5))}),
         QString()}};
    QRandomGenerator random(seed);
    for (int i = 0; i < 110; ++i) {
        if (i % 3 == 0) {
            const QString token = MakeCategoryToken(random.bounded(45));
            conditions.append({SqlLikeCondition(QStringLiteral("bookcatalogids"), token), token});
        } else {
            DisplayFolder folder;
            folder.search = RandomSearch(random);
            conditions.append({store->MakeFilterWhere(&folder), QString()});
        }
    }
    QList<QList<qint64>> results;
    QCOMPARE(FolderBatchQuery::Run(store->items, conditions, &results, [] { return false; }), FolderBatchQuery::Done);
    QCOMPARE(results.size(), conditions.size());
    for (int i = 0; i < conditions.size(); ++i) {
        bool ok = true;
        const QList<qint64> expected = store->items->QueryBookIds(conditions.at(i).where, &ok);
        QVERIFY(ok);
        QVERIFY2(results.at(i) == expected, qPrintable(conditions.at(i).where));
    }
    QCOMPARE(results.first().size(), books);
}

void TestCompute::computationLeavesStoreFree_data()
{
    QTest::addColumn<int>("stopAt");
    QTest::newRow("runs to the end") << 0;
    QTest::newRow("stopped before reading") << 1;
    QTest::newRow("stopped while reading") << 2;
}

void TestCompute::computationLeavesStoreFree()
{
    QFETCH(int, stopAt);
    QVERIFY(store->items->LoadDatabase(MakeGeneratedCatalogue(dir.filePath(QStringLiteral("stop.rfile")), 9, 3000)));
    bool added = false;
    QVERIFY(store->LoadFolders(added));
    for (qint64 id : {1, 2, 3})
        AddFolder(CategoryFolder, QStringLiteral("C%1").arg(id))->categoryUid = id;
    StopAfter canceller(&store->lock, stopAt);
    QCOMPARE(store->ComputeAll(&canceller), stopAt == 0);
    // Page loads and re-ordering could go on at every point of the computation.
    QVERIFY(!canceller.storeBusy);
    QCOMPARE(store->IsGuidUnchanged(), stopAt == 0);
    QCOMPARE(store->folders.first()->calcBookCount, stopAt == 0 ? qint64(3000) : qint64(0));
    if (stopAt != 0)
        QCOMPARE(canceller.asked, stopAt);
    else
        QVERIFY(canceller.asked >= 3000 / FolderBatchQuery::RowsPerStopCheck);
}

void TestCompute::refresherDestructorStopsThread()
{
    // Reaches the worker's thread, to see it end before the destructor returns. No object of
    // this type is made: a derived destructor would run while the worker still calls its methods.
    struct ThreadOf : DisplayFolderRefresher
    {
        static QThread *Get(DisplayFolderRefresher &worker) { return &(worker.*(&ThreadOf::thread)); }
    };
    QList<DisplayFolder *> folders;
    for (int i = 0; i < 20; ++i) {
        auto *folder = new DisplayFolder();
        folder->type = AllBooks;
        folder->caption = QStringLiteral("All");
        folders.append(folder);
    }
    std::atomic<bool> finished{false};
    {
        DisplayFolderRefresher refresher;
        refresher.SetFolders(store, folders);
        QObject::connect(ThreadOf::Get(refresher), &QThread::finished, [&finished] { finished = true; });
        refresher.StartIfNotRunning();
        QVERIFY(ThreadOf::Get(refresher)->isRunning() || finished);
    }
    QVERIFY(finished);
    // Nothing the run took is left held.
    QVERIFY(store->lock.tryLockForWrite());
    store->lock.unlock();
    QVERIFY(NativeHelper::_configLocker->tryLockForWrite());
    NativeHelper::_configLocker->unlock();
    qDeleteAll(folders);
}

QTEST_GUILESS_MAIN(TestCompute)
#include "test_compute.moc"
