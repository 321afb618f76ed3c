#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolder.h"
#include "folders/DisplayFolderType.h"
#include "threads/QReadLockerExt2.h"
#include "threads/QWriteLockerExt2.h"
#include "views/TreeController.h"
#include "views/TreeControllerImpls.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QSet>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

namespace {
DisplayFolder *makeFolder(int type, const QString &caption)
{
    auto *folder = new DisplayFolder();
    folder->uid = QUuid::createUuid();
    folder->type = type;
    folder->caption = caption;
    folder->calcCaption = caption + QStringLiteral(" (0)");
    return folder;
}

QList<QUuid> storeOrder(DisplayDataSaver &store)
{
    QReadLockerExt2 token(0, &store.lock);
    QList<QUuid> ids;
    for (const DisplayFolder *folder : qAsConst(store.folders))
        ids << folder->uid;
    return ids;
}

// Drops the folder of row `from` at pos (viewport coordinates), as a finished drag does.
// (A synthetic event cannot pass the drag manager, which wants a real drag source.)
struct Drop
{
    QScopedPointer<QMimeData> data;
    QScopedPointer<QDropEvent> event;
};
Drop *dropRow(TreeController &tree, int from, const QPoint &pos)
{
    auto *drop = new Drop;
    drop->data.reset(tree.model->mimeData({tree.model->index(from, 0)}));
    drop->event.reset(new QDropEvent(pos, Qt::MoveAction, drop->data.data(), Qt::LeftButton, Qt::NoModifier));
    tree.treeView->dropEvent(drop->event.data());
    return drop;
}
} // namespace

// The stored folders and a tree filled from them.
struct Loaded
{
    explicit Loaded(const QString &file)
        : store(file), tree(&store)
    {
        bool added = true;
        ok = store.LoadFolders(added) && !added;
        tree.CreateTreeView();
        QReadLockerExt2 token(0, &store.lock);
        for (DisplayFolder *folder : qAsConst(store.folders))
            tree.CreateFolderItem(folder, -1, token);
    }
    DisplayDataSaver store;
    TreeController tree;
    bool ok = false;
};

class TestTree : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString foldersFile;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QApplication::setStyle(QStringLiteral("Fusion"));
        QVERIFY(dir.isValid());
        foldersFile = dir.filePath(QStringLiteral("user-folders.file"));
        DisplayDataSaver store(foldersFile);
        bool added = false;
        QVERIFY(store.LoadFolders(added));
        QVERIFY(added);
        {
            QWriteLockerExt2 token(&store.lock);
            QVERIFY(store.AddFolder(makeFolder(CategoryFolder, QStringLiteral("Science")), token));
            QVERIFY(store.AddFolder(makeFolder(FilterFolder, QStringLiteral("Cheap")), token));
            QVERIFY(store.AddFolder(makeFolder(77, QStringLiteral("Odd")), token));
            QVERIFY(store.SaveLocked(token));
        }
        QCOMPARE(store.folders.size(), 7);
    }

    void itemsIconsAndIds()
    {
        Loaded loaded(foldersFile);
        QVERIFY(loaded.ok);
        DisplayDataSaver &store = loaded.store;
        TreeController &tree = loaded.tree;
        QVERIFY(!tree.treeView->dragEnabled());
        QCOMPARE(tree.model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Folders"));
        QCOMPARE(tree.model->rowCount(), store.folders.size());

        for (int row = 0; row < tree.model->rowCount(); ++row) {
            const DisplayFolder *folder = store.folders.at(row);
            QStandardItem *item = tree.model->item(row, 0);
            QCOMPARE(item->text(), folder->calcCaption);
            QCOMPARE(item->data(257).userType(), int(QMetaType::QUuid));
            QCOMPARE(item->data(257).toUuid(), folder->uid);
            QCOMPARE(item->flags() & (Qt::ItemIsDropEnabled | Qt::ItemIsDragEnabled), Qt::ItemIsDragEnabled);
            const QIcon expected = folder->type == FilterFolder ? tree.filterIcon
                : folder->type == SearchResult                  ? tree.searchIcon
                : (folder->type == NewArrivals || folder->type == BestBooks) ? tree.starIcon
                                                                              : tree.folderIcon;
            QCOMPARE(item->icon().cacheKey(), expected.cacheKey());
            QCOMPARE(tree.FindFolderIndex(folder->uid), tree.model->index(row, 0));
        }
        QCOMPARE(QSet<qint64>({tree.folderIcon.cacheKey(), tree.filterIcon.cacheKey(), tree.searchIcon.cacheKey(),
                               tree.starIcon.cacheKey()}).size(), 4);
        QVERIFY(!tree.FindFolderIndex(QUuid::createUuid()).isValid() && tree.GetItemFolderId(QModelIndex()).isNull());
        QCOMPARE(tree.ReadFolderOrder(), storeOrder(store));

        // Updating in place keeps the row count; a row that does not exist is left alone.
        DisplayFolder *second = store.folders.at(1);
        second->calcCaption = QStringLiteral("Renamed (5)");
        {
            QReadLockerExt2 token(0, &store.lock);
            tree.CreateFolderItem(second, 1, token);
            tree.CreateFolderItem(second, 99, token);
            tree.CreateFolderItem(nullptr, -1, token);
        }
        QCOMPARE(tree.model->rowCount(), store.folders.size());
        QCOMPARE(tree.model->item(1, 0)->text(), QStringLiteral("Renamed (5)"));

        // Selecting reports the folder's id; clearing reports nothing selected.
        QSignalSpy spy(&tree, &TreeController::on_action_treeview_item_selected);
        tree.treeView->setCurrentIndex(tree.model->index(2, 0));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.last(), QVariantList({1, QVariant(store.folders.at(2)->uid)}));
        tree.treeView->clearSelection();
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.last(), QVariantList({0, 0}));
    }

    void dragReordersWithoutDuplicates()
    {
        QList<QUuid> saved;
        {
            Loaded loaded(foldersFile);
            DisplayDataSaver &store = loaded.store;
            TreeController &tree = loaded.tree;
            tree.resize(400, 600);
            tree.show();
            QVERIFY(QTest::qWaitForWindowExposed(&tree));
            // What the re-order command switches on.
            tree.treeView->setDragEnabled(true);
            tree.treeView->setAcceptDrops(true);
            tree.treeView->viewport()->setAcceptDrops(true);
            tree.treeView->setDropIndicatorShown(true);

            const QList<QUuid> before = tree.ReadFolderOrder();
            tree.treeView->setCurrentIndex(tree.model->index(2, 0));
            QSignalSpy selected(&tree, &TreeController::on_action_treeview_item_selected);
            QList<QList<QUuid>> reported;
            connect(&tree, &TreeController::on_action_treeview_item_sorted, this, [&]() {
                const QList<QUuid> order = tree.ReadFolderOrder();
                reported << order;
                QVERIFY(store.ApplyNewOrder(order));
            });

            // Row 2 dropped on the upper half of row 0.
            const QRect first = tree.treeView->visualRect(tree.model->index(0, 0));
            QScopedPointer<Drop> drop(dropRow(tree, 2, first.topLeft() + QPoint(4, 2)));
            QVERIFY(drop->event->isAccepted());
            QCOMPARE(drop->event->dropAction(), Qt::IgnoreAction); // the source removes nothing
            QCOMPARE(reported.size(), 1);
            QList<QUuid> expected = before;
            expected.move(2, 0);
            QCOMPARE(reported.first(), expected); // each folder once
            QCOMPARE(tree.model->rowCount(), before.size());
            QCOMPARE(tree.treeView->currentIndex().row(), 0);
            QVERIFY(tree.treeView->selectionModel()->isRowSelected(0, QModelIndex()));
            QCOMPARE(selected.count(), 0); // the same folder stays selected

            // Below the last row: to the end.
            const QRect last = tree.treeView->visualRect(tree.model->index(tree.model->rowCount() - 1, 0));
            QScopedPointer<Drop> toEnd(dropRow(tree, 1, QPoint(4, last.bottom() + 40)));
            QCOMPARE(reported.size(), 2);
            expected.move(1, expected.size() - 1);
            QCOMPARE(reported.last(), expected);
            QCOMPARE(storeOrder(store), expected);
            saved = expected;

            // Dropped where it already is: nothing to report.
            const QRect third = tree.treeView->visualRect(tree.model->index(3, 0));
            QScopedPointer<Drop> same(dropRow(tree, 3, third.topLeft() + QPoint(4, 2)));
            QCOMPARE(reported.size(), 2);

            // Data that names no folder of the tree is refused.
            QMimeData foreign;
            foreign.setText(QStringLiteral("x"));
            QDropEvent stray(first.center(), Qt::MoveAction, &foreign, Qt::LeftButton, Qt::NoModifier);
            tree.treeView->dropEvent(&stray);
            QVERIFY(!stray.isAccepted());
            QCOMPARE(reported.size(), 2);
            QCOMPARE(tree.model->rowCount(), before.size());
        }
        // The next start reads the new order back.
        Loaded reloaded(foldersFile);
        QVERIFY(reloaded.ok);
        QCOMPARE(storeOrder(reloaded.store), saved);
    }
};

QTEST_MAIN(TestTree)
#include "test_tree.moc"
