#include "folders/DisplayDataSaver.h"
#include "folders/DisplayPageState.h"
#include "Helper.h"
#include "writer/CatalogueGenerator.h"
#include "cipher/SqlCipherDriverRegistration.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

// Sorted paging on the GUI thread while a worker recomputes all folders and swaps catalogues:
// no deadlock, no race (run under TSan), pages always whole.
class TestPagingStress : public QObject
{
    Q_OBJECT
private slots:
    void pagingDuringComputeAndSwaps();
};

void TestPagingStress::pagingDuringComputeAndSwaps()
{
    QTemporaryDir dir;
    QStringList catalogues;
    for (int variant = 0; variant < 2; ++variant) {
        CatalogueGeneratorOptions options;
        options.books = 1500;
        options.categories = 9;
        options.seed = quint64(variant + 1);
        options.password = Helper::GetCatalogPassword().toUtf8();
        catalogues.append(dir.filePath(QStringLiteral("s%1.rfile").arg(variant)));
        QVERIFY(CatalogueGenerator::Generate(options, catalogues.last()));
    }
    RegisterSqlCipherDriver();

    DisplayDataSaver store(dir.filePath(QStringLiteral("user-folders.file")));
    QVERIFY(store.items->LoadDatabase(catalogues.at(0)));
    bool added = false;
    QVERIFY(store.LoadFolders(added));
    for (qint64 category = 1; category <= 9; ++category) {
        auto *folder = new DisplayFolder();
        folder->type = CategoryFolder;
        folder->caption = QStringLiteral("C%1").arg(category);
        folder->categoryUid = category;
        QWriteLockerExt2 token(&store.lock);
        QVERIFY(store.AddFolder(folder, token));
    }
    QVERIFY(store.ComputeAll());

    QAtomicInt stop(0);
    QAtomicInt rounds(0);
    QThread *worker = QThread::create([&] {
        int variant = 0;
        while (!stop.loadAcquire()) {
            store.ComputeAll();
            variant = 1 - variant;
            store.items->LoadDatabase(catalogues.at(variant));
            rounds.fetchAndAddOrdered(1);
        }
    });
    worker->start();

    DisplayPageState state;
    state.SetSort(OrderBy_OrgPrice, true);
    QElapsedTimer timer;
    timer.start();
    int pages = 0;
    while (timer.elapsed() < 1500 || (rounds.loadAcquire() < 3 && timer.elapsed() < 20000)) {
        QList<ItemBook> out;
        QWriteLockerExt2 token(&store.lock);
        DisplayFolder *all = store.FindFolder(store.FindFirstFolderOfType(AllBooks, token), token);
        QVERIFY(all);
        const bool resort = pages % 3 == 0;
        if (!resort)
            state.SetCurrentPage(1 + pages % 5);
        store.LoadFolderPage(all, &state, resort, 50, &out, token);
        // Every catalogue holds all 1500 ids, so every page is whole.
        QCOMPARE(out.size(), 50);
        ++pages;
    }
    stop.storeRelease(1);
    QVERIFY(worker->wait(30000));
    delete worker;
    QVERIFY(rounds.loadAcquire() >= 3);
    QVERIFY(pages > 10);
}

QTEST_GUILESS_MAIN(TestPagingStress)
#include "test_paging_stress.moc"
