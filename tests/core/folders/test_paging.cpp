#include "folders/DisplayDataSaver.h"
#include "folders/DisplayPageState.h"
#include "catalogue/ItemBook.h"

#include <QTemporaryDir>
#include <QtTest>

// Page cutting and page state, on a catalogue store whose book cache is filled by hand.
class TestPaging : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void resetArithmetic();
    void thirdPageOfTwentyThree();
    void pageSizeIsClamped_data();
    void pageSizeIsClamped();
    void pagingWithoutResortKeepsState();
    void emptyFolder();
    void missingBooksAreSkipped();
    void sortsByPriceAndKeepsOrderBetweenPages();

private:
    // Books 1..count with price = id % 7 (0 when the id is in missing).
    void AddBooks(int count, const QList<qint64> &missing = {});
    DisplayFolder *AddFolder(const QList<qint64> &ids);
    QList<qint64> Page(DisplayFolder *folder, bool resort, int pageSize);

    QTemporaryDir dir;
    DisplayDataSaver *store = nullptr;
    DisplayPageState *state = nullptr;
};

void TestPaging::init()
{
    store = new DisplayDataSaver(dir.filePath(QStringLiteral("user-folders.file")));
    state = new DisplayPageState();
}

void TestPaging::cleanup()
{
    delete state;
    delete store;
}

void TestPaging::AddBooks(int count, const QList<qint64> &missing)
{
    QWriteLockerExt2 token(&store->items->lock);
    for (qint64 id = 1; id <= count; ++id) {
        if (missing.contains(id)) {
            store->items->books->insert(id, nullptr);
            continue;
        }
        auto *book = new ItemBook();
        book->uid = id;
        book->name = QStringLiteral("Book %1").arg(id);
        book->orgPrice = float(id % 7);
        store->items->books->insert(id, book);
    }
}

DisplayFolder *TestPaging::AddFolder(const QList<qint64> &ids)
{
    auto *folder = new DisplayFolder();
    folder->type = FilterFolder;
    folder->caption = QStringLiteral("f");
    folder->bookIds = ids;
    QWriteLockerExt2 token(&store->lock);
    store->AddFolder(folder, token);
    return folder;
}

QList<qint64> TestPaging::Page(DisplayFolder *folder, bool resort, int pageSize)
{
    QList<ItemBook> out;
    QWriteLockerExt2 token(&store->lock);
    store->LoadFolderPage(folder, state, resort, pageSize, &out, token);
    QList<qint64> ids;
    for (const ItemBook &book : out)
        ids.append(book.uid);
    return ids;
}

void TestPaging::resetArithmetic()
{
    state->Reset(23, 10);
    QCOMPARE(state->totalCount, 23);
    QCOMPARE(state->pageCount, 3);
    QCOMPARE(state->currentPage, 1);
    state->Reset(20, 10);
    QCOMPARE(state->pageCount, 2);
    state->Reset(-4, 0);
    QCOMPARE(state->totalCount, 0);
    QCOMPARE(state->pageSize, 1);
    QCOMPARE(state->pageCount, 0);
    state->Reset(1, 210);
    QCOMPARE(state->pageCount, 1);
}

void TestPaging::thirdPageOfTwentyThree()
{
    AddBooks(23);
    QList<qint64> ids;
    for (qint64 id = 1; id <= 23; ++id)
        ids.append(id);
    DisplayFolder *folder = AddFolder(ids);
    QCOMPARE(Page(folder, true, 10), QList<qint64>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    QCOMPARE(state->pageCount, 3);
    state->SetCurrentPage(3);
    QCOMPARE(Page(folder, false, 10), QList<qint64>({21, 22, 23}));
    // A page past the end is empty rather than out of bounds.
    state->SetCurrentPage(4);
    QVERIFY(Page(folder, false, 10).isEmpty());
}

void TestPaging::pageSizeIsClamped_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("used");
    QTest::newRow("-3") << -3 << 5;
    QTest::newRow("4") << 4 << 5;
    QTest::newRow("5") << 5 << 5;
    QTest::newRow("210") << 210 << 210;
    QTest::newRow("211") << 211 << 210;
}

void TestPaging::pageSizeIsClamped()
{
    QFETCH(int, requested);
    QFETCH(int, used);
    AddBooks(250);
    QList<qint64> ids;
    for (qint64 id = 1; id <= 250; ++id)
        ids.append(id);
    DisplayFolder *folder = AddFolder(ids);
    QCOMPARE(Page(folder, true, requested).size(), used);
    QCOMPARE(state->pageSize, used);
}

void TestPaging::pagingWithoutResortKeepsState()
{
    AddBooks(30);
    QList<qint64> ids;
    for (qint64 id = 1; id <= 30; ++id)
        ids.append(id);
    DisplayFolder *folder = AddFolder(ids);
    Page(folder, true, 10);
    state->SetCurrentPage(2);
    // The passed page size is ignored: the state's size stands.
    QCOMPARE(Page(folder, false, 200), QList<qint64>({11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
    QCOMPARE(state->pageSize, 10);
    QCOMPARE(state->currentPage, 2);
    // A recomputation leaves the display order; a re-sort starts at page 1 again.
    folder->bookIds = {30, 29};
    QCOMPARE(Page(folder, false, 10).first(), 11);
    QCOMPARE(Page(folder, true, 10), QList<qint64>({30, 29}));
    QCOMPARE(state->currentPage, 1);
    QCOMPARE(state->totalCount, 2);
}

void TestPaging::emptyFolder()
{
    DisplayFolder *folder = AddFolder({});
    state->Reset(50, 10);
    state->SetCurrentPage(3);
    // Without resort nothing is touched.
    QVERIFY(Page(folder, false, 20).isEmpty());
    QCOMPARE(state->totalCount, 50);
    QCOMPARE(state->currentPage, 3);
    QVERIFY(Page(folder, true, 20).isEmpty());
    QCOMPARE(state->totalCount, 0);
    QCOMPARE(state->pageCount, 0);
    QCOMPARE(state->currentPage, 1);
}

void TestPaging::missingBooksAreSkipped()
{
    AddBooks(12, {3, 11});
    QList<qint64> ids;
    for (qint64 id = 1; id <= 12; ++id)
        ids.append(id);
    DisplayFolder *folder = AddFolder(ids);
    QCOMPARE(Page(folder, true, 5), QList<qint64>({1, 2, 4, 5}));
    QCOMPARE(state->totalCount, 12);
    state->SetCurrentPage(3);
    QCOMPARE(Page(folder, false, 5), QList<qint64>({12}));
}

void TestPaging::sortsByPriceAndKeepsOrderBetweenPages()
{
    AddBooks(20);
    QList<qint64> ids;
    for (qint64 id = 1; id <= 20; ++id)
        ids.append(id);
    DisplayFolder *folder = AddFolder(ids);
    state->SetSort(OrderBy_OrgPrice, true);
    QList<qint64> all = Page(folder, true, 10);
    state->SetCurrentPage(2);
    all += Page(folder, false, 10);
    QCOMPARE(all.size(), 20);
    for (int i = 1; i < all.size(); ++i)
        QVERIFY(all.at(i - 1) % 7 <= all.at(i) % 7);
    QCOMPARE(folder->sortedBookIds, all);
    QCOMPARE(folder->bookIds, ids);
}

QTEST_GUILESS_MAIN(TestPaging)
#include "test_paging.moc"
