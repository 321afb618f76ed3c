// Book list views, the folder tree and the flow layout of the covers view.
#include "catalogue/ItemBook.h"
#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolder.h"
#include "folders/DisplayFolderType.h"
#include "folders/DisplayPageState.h"
#include "threads/QReadLockerExt2.h"
#include "threads/QWriteLockerExt2.h"
#include "views/ClickableLabel.h"
#include "views/ExtendCoverView.h"
#include "views/ExtendTreeView.h"
#include "views/FlowLayout.h"
#include "views/TreeController.h"
#include "views/TreeControllerImpls.h"
#include "views/ViewController.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <thread>
#include <vector>

namespace {
std::vector<std::unique_ptr<ItemBook>> makeBooks(int count)
{
    std::vector<std::unique_ptr<ItemBook>> books;
    for (int i = 1; i <= count; ++i) {
        auto book = std::make_unique<ItemBook>();
        book->uid = 100 + i;
        book->imageCompId = 5000 + i;
        book->comparePart = ItemComparePart(book->uid, book->imageCompId);
        book->name = QStringLiteral("Book %1 with a title long enough to wrap").arg(i);
        book->sizeText = QStringLiteral("%1 KB").arg(i * 10);
        books.push_back(std::move(book));
    }
    return books;
}

void fill(BaseView *view, const std::vector<std::unique_ptr<ItemBook>> &books,
          const CoverImageState &state = CoverImageState::NoCover())
{
    for (size_t i = 0; i < books.size(); ++i)
        view->AddItem(QString::number(i + 1), books[i].get(), state);
}

// True when no thread holds the lock at all (asked from another thread).
bool lockIsFree(QReadWriteLock &lock)
{
    bool free = false;
    std::thread probe([&]() {
        free = lock.tryLockForWrite();
        if (free)
            lock.unlock();
    });
    probe.join();
    return free;
}

QWidget *tile(QWidget *parent, int width, int height = 218)
{
    auto *w = new QLabel(parent);
    w->setFixedSize(width, height);
    return w;
}

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

class TestViews : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QApplication::setStyle(QStringLiteral("Fusion"));
        // The folders file the tree tests read: the built-in folders and three more.
        QVERIFY(dir.isValid());
        foldersFile = dir.filePath(QStringLiteral("user-folders.file"));
        DisplayDataSaver store(foldersFile);
        bool added = false;
        QVERIFY(store.LoadFolders(added) && added);
        {
            QWriteLockerExt2 token(&store.lock);
            QVERIFY(store.AddFolder(makeFolder(CategoryFolder, QStringLiteral("Science")), token));
            QVERIFY(store.AddFolder(makeFolder(FilterFolder, QStringLiteral("Cheap")), token));
            QVERIFY(store.AddFolder(makeFolder(77, QStringLiteral("Odd")), token) && store.SaveLocked(token));
        }
        QCOMPARE(store.folders.size(), 7);
    }

    void movesAtThePageEdges_data()
    {
        QTest::addColumn<int>("viewType");
        QTest::newRow("details") << 0;
        QTest::newRow("covers") << 1;
    }

    // Moves inside a page, and at its edges only when the page state has pages beyond.
    void movesAtThePageEdges()
    {
        QFETCH(int, viewType);
        ViewController view;
        view.resize(700, 500);
        view.show();
        view.ApplyViewType(viewType);
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const auto books = makeBooks(20);
        fill(&view, books);
        view.AddItem(QStringLiteral("21"), nullptr, CoverImageState());
        QCOMPARE(view.GetCount(), 20);
        QCOMPARE(view.GetCurrentIndex(), -1);
        QVERIFY(!view.GetCurrentItem().isValid());
        QScrollBar *bar = viewType ? view.coverView->verticalScrollBar() : nullptr;
        DisplayPageState pages;
        pages.Reset(60, 20);

        QSignalSpy selected(&view, &ViewController::on_action_item_selected);
        view.SelectEdge(false);
        QCOMPARE(view.GetCurrentIndex(), 0);
        QVERIFY(!view.HasPrevious(nullptr) && !view.HasPrevious(&pages) && !view.SelectPrevious());
        QCOMPARE(view.GetCurrentIndex(), 0);
        pages.SetCurrentPage(2);
        QVERIFY(view.HasPrevious(&pages) && view.SelectNext());
        QCOMPARE(view.GetCurrentItem().toLongLong(), 102LL);
        QVERIFY(view.HasPrevious(nullptr));
        QCOMPARE(selected.last().at(0).toInt(), 1);
        QCOMPARE(selected.last().at(1).toLongLong(), 102LL);

        view.SelectEdge(true);
        QCOMPARE(view.GetCurrentIndex(), 19);
        if (bar)
            QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(!view.HasNext(nullptr) && view.HasNext(&pages));
        pages.SetCurrentPage(3);
        QVERIFY(!view.HasNext(&pages) && !view.SelectNext());
        QCOMPARE(view.GetCurrentIndex(), 19);
        QVERIFY(view.SelectPrevious());
        QCOMPARE(view.GetCurrentIndex(), 18);
        view.SelectEdge(false);
        if (bar)
            QCOMPARE(bar->value(), 0);
    }

    void selectedTileScrolledIntoViewBeforeEventLoop()
    {
        ExtendCoverView view;
        view.InitView();
        view.resize(500, 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const auto books = makeBooks(40);
        fill(&view, books);
        // No event processing between filling and selecting.
        view.SelectEdge(false);
        for (int i = 0; i < 30; ++i)
            QVERIFY(view.SelectNext());
        QWidget *tile = view.currentTile;
        const QRect inViewport(tile->mapTo(view.viewport(), QPoint(0, 0)), tile->size());
        QVERIFY2(view.viewport()->rect().intersects(inViewport), "selected tile is off screen");
        QVERIFY(view.verticalScrollBar()->value() > 0);
        // A cover arriving for another image of the book, or for another book, finds no tile.
        const ItemComparePart key = books[0]->comparePart;
        QVERIFY(!view.FindTile(ItemComparePart(key.uid, key.imageCompId + 1), true)
                && !view.FindTile(ItemComparePart(999, key.imageCompId), true));
    }

    void controllerSignalsArriveWithLockReleased()
    {
        ViewController controller;
        controller.resize(800, 400);
        controller.show();
        controller.ApplyViewType(0);
        const auto books = makeBooks(5);
        fill(&controller, books);

        QList<bool> lockFree;
        QVariant seen;
        connect(&controller, &ViewController::on_action_item_selected, this, [&](int, const QVariant &) {
            lockFree << lockIsFree(controller.lock);
            // Receivers call back in, as the main window does.
            seen = controller.GetCurrentItem();
        });
        controller.SelectEdge(false);
        QVERIFY(controller.SelectNext());
        controller.ClearItems(); // drops the selection under the write lock
        QCOMPARE(lockFree, QList<bool>({true, true, true}));
        QVERIFY(!seen.isValid() && lockIsFree(controller.lock));
    }

    void reloadFromTilesOwnMenuKeepsTileAlive()
    {
        ViewController controller;
        controller.resize(800, 600);
        controller.show();
        controller.ApplyViewType(1);
        const auto books = makeBooks(6);
        fill(&controller, books);
        QPointer<ClickableLabel> label = controller.coverView->TileLabel(2);
        QPointer<QWidget> tile = label->tile;

        int reloads = 0;
        connect(&controller, &ViewController::on_action_item_contextmenu, this, [&](bool isSelected, QPoint) {
            QVERIFY(isSelected);
            ++reloads;
            controller.ClearItems();
            fill(&controller, books);
        });
        QTest::mouseClick(label, Qt::RightButton);
        QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(4, 4));
        QApplication::sendEvent(label, &menu);
        QCOMPARE(reloads, 1);
        QVERIFY(label && tile); // still alive after its own handler returned
        QCOMPARE(controller.GetCount(), 6);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!tile);
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

    void wrapsTilesTwoPerLine()
    {
        QWidget host;
        auto *flow = new FlowLayout(-1, -1, -1);
        host.setLayout(flow);
        QCOMPARE(flow->horizontalSpacing(), 6); // Fusion's layout spacing
        const QMargins m = flow->contentsMargins();
        // Empty: only the margins.
        QCOMPARE(flow->heightForWidth(500), m.top() + m.bottom());
        QCOMPARE(flow->minimumSize(), QSize(m.left() + m.right(), m.top() + m.bottom()));
        QVERIFY(!flow->itemAt(0));
        QCOMPARE(flow->expandingDirections(), Qt::Orientations());
        QList<QWidget *> tiles;
        for (int i = 0; i < 5; ++i) {
            tiles << tile(&host, 218);
            flow->addWidget(tiles.last());
        }
        flow->setGeometry(QRect(0, 0, 500, 1000));

        QCOMPARE(tiles[0]->geometry(), QRect(m.left(), m.top(), 218, 218));
        QCOMPARE(tiles[1]->geometry().topLeft(), QPoint(m.left() + 218 + 6, m.top()));
        QCOMPARE(tiles[2]->geometry().topLeft(), QPoint(m.left(), m.top() + 218 + 6));
        QCOMPARE(tiles[3]->y(), tiles[2]->y());
        QCOMPARE(tiles[4]->x(), m.left());
        QCOMPARE(tiles[4]->y(), m.top() + 2 * (218 + 6));

        // The height it asks for is exactly what it used.
        QCOMPARE(flow->heightForWidth(500), tiles[4]->geometry().bottom() + 1 + m.bottom());
        QCOMPARE(flow->heightForWidth(2000), m.top() + 218 + m.bottom());
        QCOMPARE(flow->minimumSize(), QSize(218 + m.left() + m.right(), 218 + m.top() + m.bottom()));

        // Two tiles that exactly fill the line stay on it; one pixel less and the second wraps.
        for (int spare : {0, -1}) {
            const int width = m.left() + 218 + 6 + 218 + m.right() + spare;
            flow->setGeometry(QRect(0, 0, width, 1000));
            QCOMPARE(tiles[1]->y() == m.top(), spare == 0);
        }
    }

    void takeAtAndSpacers()
    {
        // Not installed on a widget: the gaps come from each item's widget style.
        QWidget host;
        FlowLayout flow(0, -1, -1);
        QCOMPARE(flow.horizontalSpacing(), -1);
        QWidget *first = tile(&host, 40, 40);
        flow.addWidget(first);
        // A spacer or nested layout has no widget: it gets no gap instead of crashing.
        flow.addItem(new QSpacerItem(30, 10, QSizePolicy::Fixed, QSizePolicy::Fixed));
        auto *nested = new QVBoxLayout();
        nested->setContentsMargins(0, 0, 0, 0);
        flow.addItem(nested);
        QWidget *last = tile(&host, 40, 40);
        flow.addWidget(last);
        flow.setGeometry(QRect(0, 0, 1000, 100));
        const int gap = first->style()->layoutSpacing(QSizePolicy::PushButton, QSizePolicy::PushButton,
                                                      Qt::Horizontal);
        QCOMPARE(last->x(), 40 + gap + 30 + nested->geometry().width());

        QVERIFY(!flow.takeAt(-1) && !flow.takeAt(flow.count()));
        QCOMPARE(flow.count(), 4);

        QLayoutItem *spacer = flow.takeAt(1);
        QVERIFY(spacer && spacer->spacerItem());
        delete spacer;
        QCOMPARE(flow.count(), 3);
        QCOMPARE(flow.itemAt(2)->widget(), last);
        QVERIFY(!flow.itemAt(3));

        // Widgets belong to their parent, not to the layout.
        auto *owned = new FlowLayout(&host, 2, 3, 3);
        QPointer<QWidget> child = tile(&host, 10, 10);
        owned->addWidget(child);
        QCOMPARE(owned->contentsMargins(), QMargins(2, 2, 2, 2));
        delete owned;
        QVERIFY(child);
    }

private:
    QTemporaryDir dir;
    QString foldersFile;
};

QTEST_MAIN(TestViews)
#include "test_views.moc"
