#include "folders/DisplayDataSaver.h"

#include <QTemporaryDir>
#include <QtTest>

// Adding, removing and re-ordering folders: no duplicates, removals really delete, and a new
// order skips unknown and repeated ids.
class TestFolderStore : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void addFolderRefusesDuplicates();
    void removeFolder();
    void newOrderSurvivesReload();

private:
    DisplayFolder *Add(int type, const QString &caption, qint64 categoryUid = 0);
    QStringList Captions(DisplayDataSaver *target);

    QTemporaryDir dir;
    QString path;
    DisplayDataSaver *store = nullptr;
};

void TestFolderStore::init()
{
    path = dir.filePath(QStringLiteral("user-folders.file"));
    QFile::remove(path);
    store = new DisplayDataSaver(path);
}

void TestFolderStore::cleanup()
{
    delete store;
}

DisplayFolder *TestFolderStore::Add(int type, const QString &caption, qint64 categoryUid)
{
    auto *folder = new DisplayFolder();
    folder->type = type;
    folder->caption = caption;
    folder->categoryUid = categoryUid;
    QWriteLockerExt2 token(&store->lock);
    if (!store->AddFolder(folder, token)) {
        delete folder;
        return nullptr;
    }
    return folder;
}

QStringList TestFolderStore::Captions(DisplayDataSaver *target)
{
    QStringList captions;
    QReadLockerExt2 token(0, &target->lock);
    for (const DisplayFolder *folder : qAsConst(target->folders))
        captions.append(folder->caption);
    return captions;
}

void TestFolderStore::addFolderRefusesDuplicates()
{
    DisplayFolder *first = Add(FilterFolder, QStringLiteral("A"));
    DisplayFolder *second = Add(FilterFolder, QStringLiteral("B"));
    QVERIFY(first && second);
    QVERIFY(!first->uid.isNull());
    QVERIFY(first->uid != second->uid);
    QCOMPARE(first->calcCaption, QStringLiteral("A (0 Books)"));

    QWriteLockerExt2 token(&store->lock);
    QVERIFY(!store->AddFolder(nullptr, token));
    QVERIFY(!store->AddFolder(first, token));
    auto *twin = new DisplayFolder();
    twin->type = FilterFolder;
    twin->caption = QStringLiteral("Twin");
    twin->uid = second->uid;
    QVERIFY(!store->AddFolder(twin, token));
    delete twin;
    QCOMPARE(store->folders.size(), 2);
}

void TestFolderStore::removeFolder()
{
    DisplayFolder *first = Add(FilterFolder, QStringLiteral("A"));
    Add(CategoryFolder, QStringLiteral("B"), 3);
    const QUuid id = first->uid;
    QVERIFY(store->RemoveFolder(id));
    QVERIFY(!store->RemoveFolder(id));
    QVERIFY(!store->RemoveFolder(QUuid()));
    QCOMPARE(Captions(store), QStringList({QStringLiteral("B")}));
    QCOMPARE(store->GetFolderType(id), 0);
}

void TestFolderStore::newOrderSurvivesReload()
{
    bool added = false;
    QVERIFY(store->LoadFolders(added));
    DisplayFolder *a = Add(FilterFolder, QStringLiteral("A"));
    DisplayFolder *b = Add(CategoryFolder, QStringLiteral("B"), 5);
    QUuid all;
    QUuid arrivals;
    {
        QReadLockerExt2 token(0, &store->lock);
        all = store->FindFirstFolderOfType(AllBooks, token);
        arrivals = store->FindFirstFolderOfType(NewArrivals, token);
    }
    QCOMPARE(Captions(store), QStringList({QStringLiteral("All Tessaly"), QStringLiteral("New Arrivals"),
                                           QStringLiteral("Best Tessaly"), QStringLiteral("Search Result"),
                                           QStringLiteral("A"), QStringLiteral("B")}));
    // Unknown and repeated ids are skipped; folders not named follow in their old order.
    QVERIFY(store->ApplyNewOrder({b->uid, QUuid::createUuid(), a->uid, b->uid, QUuid(), arrivals}));
    const QStringList expected = {QStringLiteral("B"), QStringLiteral("A"), QStringLiteral("New Arrivals"),
                                  QStringLiteral("All Tessaly"), QStringLiteral("Best Tessaly"),
                                  QStringLiteral("Search Result")};
    QCOMPARE(Captions(store), expected);

    DisplayDataSaver reloaded(path);
    QVERIFY(reloaded.LoadFolders(added));
    QVERIFY(!added);
    QCOMPARE(Captions(&reloaded), expected);
    QCOMPARE(reloaded.GetFolderType(all), int(AllBooks));

    // An empty order keeps every folder where it was.
    QVERIFY(store->ApplyNewOrder({}));
    QCOMPARE(Captions(store), expected);
}

QTEST_GUILESS_MAIN(TestFolderStore)
#include "test_folder_store.moc"
