#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolderRefresher.h"
#include "threads/NativeHelper.h"
#include "test_compute_catalogue.h"

#include <QTemporaryDir>
#include <QtTest>

// Once the program closes, computations stop between folders and nothing is written.
// The closing flag is one-way, hence an executable of its own.
class TestComputeClosing : public QObject
{
    Q_OBJECT
private slots:
    void closingStopsComputationAndWrites();
};

void TestComputeClosing::closingStopsComputationAndWrites()
{
    QTemporaryDir dir;
    TestCatalogue catalogue;
    catalogue.guid = QStringLiteral("guid-C");
    for (qint64 id = 1; id <= 5; ++id) {
        TestCatalogueBook book;
        book.uid = id;
        book.name = QStringLiteral("Book %1").arg(id);
        book.stars = 5.0;
        book.firstPubTime = QDateTime::currentSecsSinceEpoch();
        catalogue.books.append(book);
    }
    const QString cataloguePath = dir.filePath(QStringLiteral("c.rfile"));
    QVERIFY(MakeTestCatalogue(catalogue, cataloguePath));

    const QString path = dir.filePath(QStringLiteral("user-folders.file"));
    DisplayDataSaver store(path);
    QVERIFY(store.items->LoadDatabase(cataloguePath));
    bool added = false;
    QVERIFY(store.LoadFolders(added));
    {
        QWriteLockerExt2 token(&store.lock);
        store.currentGuid = QStringLiteral("old");
        QVERIFY(store.SaveLocked(token));
    }
    const QByteArray saved = [&] {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();
    // The flag goes up while the new-arrivals query is prepared: nothing is swapped in.
    store.clock = [] {
        NativeHelper::SetClosing();
        return QDateTime::currentDateTime();
    };
    QVERIFY(!store.ComputeAll());
    QCOMPARE(store.currentGuid, QStringLiteral("old"));
    for (const DisplayFolder *folder : qAsConst(store.folders))
        QCOMPARE(folder->calcBookCount, qint64(0));
    QVERIFY(!store.ComputeAll());
    {
        QWriteLockerExt2 token(&store.lock);
        QVERIFY(!store.SaveLocked(token));
    }
    QVERIFY(!store.ApplyNewOrder({}));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), saved);

    // No refresher starts any more.
    DisplayFolderRefresher refresher;
    refresher.SetFolders(&store, {store.folders.at(2)});
    refresher.StartIfNotRunning();
    QVERIFY(!refresher.IsRunning());
}

QTEST_GUILESS_MAIN(TestComputeClosing)
#include "test_compute_closing.moc"
