#include "folders/DisplayDataSaver.h"

#include <QTemporaryDir>
#include <QtTest>

// Folder lookups, adding, removing and re-ordering.
class TestFolderStore : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void lookupsPerFolderType();
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

void TestFolderStore::lookupsPerFolderType()
{
    {
        QReadLockerExt2 token(0, &store->lock);
        QVERIFY(store->FindFirstFolderOfType(AllBooks, token).isNull());
    }
    bool added = false;
    QVERIFY(store->LoadFolders(added));
    QVERIFY(added);
    DisplayFolder *science = Add(CategoryFolder, QStringLiteral("Science"), 12);
    DisplayFolder *cheap = Add(FilterFolder, QStringLiteral("Cheap"));
    DisplayFolder *history = Add(CategoryFolder, QStringLiteral("History"), 40);
    DisplayFolder *odd = Add(77, QStringLiteral("Odd"));
    QVERIFY(science && cheap && history && odd);

    QReadLockerExt2 token(0, &store->lock);
    QVERIFY(!store->FindFolder(QUuid(), token));
    QVERIFY(!store->FindFolder(QUuid::createUuid(), token));
    QCOMPARE(store->FindFolder(cheap->uid, token), cheap);
    const QUuid all = store->FindFirstFolderOfType(AllBooks, token);
    const QUuid search = store->FindFirstFolderOfType(SearchResult, token);
    const QUuid best = store->FindFirstFolderOfType(BestBooks, token);
    const QUuid arrivals = store->FindFirstFolderOfType(NewArrivals, token);
    QVERIFY(!all.isNull() && !search.isNull() && !best.isNull() && !arrivals.isNull());
    QCOMPARE(store->FindFirstFolderOfType(CategoryFolder, token), science->uid);
    token.unlock();

    QCOMPARE(store->GetFolderType(QUuid()), 0);
    QCOMPARE(store->GetFolderType(QUuid::createUuid()), 0);
    QCOMPARE(store->GetFolderType(all), int(AllBooks));
    QCOMPARE(store->GetFolderType(odd->uid), 77);

    for (const QUuid &builtin : {all, search, best, arrivals}) {
        QVERIFY(!store->CanRemoveFolder(QVariant(builtin)));
        QVERIFY(!store->CanEditFolder(QVariant(builtin)));
    }
    QVERIFY(store->CanRemoveFolder(QVariant(science->uid)));
    QVERIFY(!store->CanEditFolder(QVariant(science->uid)));
    QVERIFY(store->CanRemoveFolder(QVariant(cheap->uid)));
    QVERIFY(store->CanEditFolder(QVariant(cheap->uid)));
    // Tree items keep the id as text.
    QVERIFY(store->CanEditFolder(QVariant(cheap->uid.toString())));
    QVERIFY(!store->CanRemoveFolder(QVariant(odd->uid)));
    QVERIFY(!store->CanRemoveFolder(QVariant()));
    QVERIFY(!store->CanEditFolder(QVariant()));

    QList<qint64> categories = {99};
    store->CollectCategoryIds(&categories);
    QCOMPARE(categories, QList<qint64>({12, 40}));
    store->CollectCategoryIds(nullptr);
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
