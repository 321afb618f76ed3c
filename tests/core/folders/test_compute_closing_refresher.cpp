#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolderRefresher.h"
#include "threads/NativeHelper.h"
#include "test_compute_catalogue.h"

#include <QTemporaryDir>
#include <QtTest>

// A refresher run that the closing program overtakes stores nothing and sends no completed().
// The closing flag is one-way, hence an executable of its own.
class TestComputeClosingRefresher : public QObject
{
    Q_OBJECT
private slots:
    void closingDuringRunSendsNoCompleted();
};

void TestComputeClosingRefresher::closingDuringRunSendsNoCompleted()
{
    QTemporaryDir dir;
    TestCatalogue catalogue;
    catalogue.guid = QStringLiteral("guid-R");
    TestCatalogueBook book;
    book.uid = 1;
    book.name = QStringLiteral("Only");
    book.firstPubTime = QDateTime::currentSecsSinceEpoch();
    catalogue.books.append(book);
    const QString cataloguePath = dir.filePath(QStringLiteral("r.rfile"));
    QVERIFY(MakeTestCatalogue(catalogue, cataloguePath));
    DisplayDataSaver store(dir.filePath(QStringLiteral("user-folders.file")));
    QVERIFY(store.items->LoadDatabase(cataloguePath));

    DisplayFolder arrivals;
    arrivals.type = NewArrivals;
    arrivals.caption = QStringLiteral("New Arrivals");
    DisplayFolder all;
    all.type = AllBooks;
    all.caption = QStringLiteral("All");
    store.clock = [] {
        NativeHelper::SetClosing();
        return QDateTime::currentDateTime();
    };
    DisplayFolderRefresher refresher;
    int completed = 0;
    QObject receiver;
    connect(&refresher, &DisplayFolderRefresher::completed, &receiver, [&] { ++completed; }, Qt::QueuedConnection);
    refresher.SetFolders(&store, {&all, &arrivals});
    refresher.StartIfNotRunning();
    QTRY_VERIFY_WITH_TIMEOUT(NativeHelper::IsClosing(), 10000);
    refresher.Stop();
    QTest::qWait(100);
    QCOMPARE(completed, 0);
    QVERIFY(all.bookIds.isEmpty());
}

QTEST_GUILESS_MAIN(TestComputeClosingRefresher)
#include "test_compute_closing_refresher.moc"
