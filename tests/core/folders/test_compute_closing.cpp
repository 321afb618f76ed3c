#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolderRefresher.h"
#include "threads/NativeHelper.h"
#include "Helper.h"
#include "writer/CatalogueGenerator.h"
#include "cipher/SqlCipherDriverRegistration.h"
#include "TestSandbox.h"

#include <QTemporaryDir>
#include <QtTest>

// Once the program closes, a refresher run and a computation stop between folders: nothing is
// stored, no completed() is sent and nothing is written. The closing flag is one-way, hence an
// executable of its own.
class TestComputeClosing : public QObject
{
    Q_OBJECT
private slots:
    void closingStopsComputationAndWrites()
    {
        QTemporaryDir dir;
        RegisterSqlCipherDriver();
        CatalogueGeneratorOptions options;
        options.books = 5;
        options.password = Helper::GetCatalogPassword().toUtf8();
        const QString cataloguePath = dir.filePath(QStringLiteral("c.rfile"));
        QVERIFY(CatalogueGenerator::Generate(options, cataloguePath));
        const QString path = dir.filePath(QStringLiteral("user-folders.file"));
        DisplayDataSaver store(path);
        QVERIFY(store.items->LoadDatabase(cataloguePath));
        bool added = false;
        QVERIFY(store.LoadFolders(added));
        store.currentGuid = QStringLiteral("old");
        QVERIFY(store.ApplyNewOrder({}));
        QTRY_VERIFY(store.foldersWriter.IsIdle());
        const QByteArray saved = TestSandbox::ReadBytes(path);

        // The flag goes up while the refresher's run prepares the new-arrivals query.
        store.clock = [] {
            NativeHelper::SetClosing();
            return QDateTime::currentDateTime();
        };
        DisplayFolderRefresher refresher;
        int completed = 0;
        connect(&refresher, &DisplayFolderRefresher::completed, this, [&] { ++completed; }, Qt::QueuedConnection);
        refresher.SetFolders(&store, store.folders);
        refresher.StartIfNotRunning();
        QTRY_VERIFY_WITH_TIMEOUT(NativeHelper::IsClosing(), 10000);
        refresher.Stop();
        QTest::qWait(100);
        QCOMPARE(completed, 0);

        QVERIFY(!store.ComputeAll());
        QCOMPARE(store.currentGuid, QStringLiteral("old"));
        for (const DisplayFolder *folder : qAsConst(store.folders))
            QCOMPARE(folder->calcBookCount, qint64(0));
        {
            QWriteLockerExt2 token(&store.lock);
            QVERIFY(!store.SaveLocked(token));
        }
        QVERIFY(!store.ApplyNewOrder({}));
        QCOMPARE(TestSandbox::ReadBytes(path), saved);
        // No refresher starts any more.
        refresher.StartIfNotRunning();
        QVERIFY(!refresher.IsRunning());
    }
};

QTEST_GUILESS_MAIN(TestComputeClosing)
#include "test_compute_closing.moc"
