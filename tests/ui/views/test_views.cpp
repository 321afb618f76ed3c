#include "views/ClickableLabel.h"
#include "folders/DisplayPageState.h"
#include "views/ExtendCoverView.h"
#include "views/ExtendTreeView.h"
#include "catalogue/ItemBook.h"
#include "views/ViewController.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QPointer>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QVBoxLayout>
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

QImage image(const QPixmap &pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
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
} // namespace

class TestViews : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QApplication::setStyle(QStringLiteral("Fusion"));
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
        QVERIFY(!view.HasPrevious(nullptr));
        QVERIFY(!view.HasPrevious(&pages));
        QVERIFY(!view.SelectPrevious());
        QCOMPARE(view.GetCurrentIndex(), 0);
        pages.SetCurrentPage(2);
        QVERIFY(view.HasPrevious(&pages));
        QVERIFY(view.SelectNext());
        QCOMPARE(view.GetCurrentItem().toLongLong(), 102LL);
        QVERIFY(view.HasPrevious(nullptr));
        QCOMPARE(selected.last().at(0).toInt(), 1);
        QCOMPARE(selected.last().at(1).toLongLong(), 102LL);

        view.SelectEdge(true);
        QCOMPARE(view.GetCurrentIndex(), 19);
        if (bar)
            QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(!view.HasNext(nullptr));
        QVERIFY(view.HasNext(&pages));
        pages.SetCurrentPage(3);
        QVERIFY(!view.HasNext(&pages));
        QVERIFY(!view.SelectNext());
        QCOMPARE(view.GetCurrentIndex(), 19);
        QVERIFY(view.SelectPrevious());
        QCOMPARE(view.GetCurrentIndex(), 18);
        view.SelectEdge(false);
        if (bar)
            QCOMPARE(bar->value(), 0);
    }

    void detailsRowsSortAndMenu()
    {
        ExtendTreeView view;
        view.InitView();
        view.resize(900, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const auto books = makeBooks(12);
        fill(&view, books);
        QStandardItemModel *model = view.itemModel();
        QCOMPARE(model->horizontalHeaderItem(6)->text(), QStringLiteral("Book Name"));
        QCOMPARE(model->item(3, 6)->text(), books[3]->name);
        QCOMPARE(model->item(3, 9)->text(), QStringLiteral("40 KB"));

        // Numbers, not texts: "12" comes before "9"; ids travel with their rows.
        view.sortByColumn(0, Qt::DescendingOrder);
        QCOMPARE(model->item(0, 0)->text(), QStringLiteral("12"));
        QCOMPARE(model->item(3, 0)->text(), QStringLiteral("9"));
        QCOMPARE(model->item(3, 0)->data(257).toLongLong(), 109LL);

        // Context menu over a row only.
        QSignalSpy selected(&view, &ExtendTreeView::on_action_item_selected);
        QSignalSpy menu(&view, &ExtendTreeView::on_action_item_contextmenu);
        view.SelectEdge(false);
        view.onViewList_contextMenuSet(view.visualRect(model->index(2, 0)).center());
        QCOMPARE(menu.count(), 1);
        QCOMPARE(menu.last().at(0).toBool(), true);
        view.onViewList_contextMenuSet(QPoint(10, view.viewport()->height() + 400));
        view.ClearItems();
        view.onViewList_contextMenuSet(QPoint(10, 10));
        QCOMPARE(menu.count(), 1);

        // Clearing drops the selection: the receiver hears "nothing selected".
        QCOMPARE(view.GetCount(), 0);
        QCOMPARE(selected.last().at(0).toInt(), 0);
        QVERIFY(!selected.last().at(1).isValid());
    }

    void coverClicksImagesAndMenus()
    {
        ExtendCoverView view;
        view.InitView();
        view.resize(700, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const auto books = makeBooks(4);
        view.AddItem(QStringLiteral("1"), books[0].get(), CoverImageState::NoCover());
        view.AddItem(QStringLiteral("2"), books[1].get(), CoverImageState::Loading());
        QPixmap own(218, 218);
        own.fill(Qt::green);
        view.AddItem(QStringLiteral("3"), books[2].get(), CoverImageState(&own, false));
        view.AddItem(QStringLiteral("4"), books[3].get(), CoverImageState::NoCover());
        QVERIFY(view.IsImageView());
        QCoreApplication::processEvents();
        const auto shown = [&](int tile) { return image(view.TileLabel(tile)->pixmap(Qt::ReturnByValue)); };
        QVERIFY(!view.nullCover.isNull() && !view.loadingCover.isNull());
        QCOMPARE(shown(0), image(view.nullCover));
        QCOMPARE(shown(1), image(view.loadingCover));
        QCOMPARE(shown(2), image(own));

        // Any button selects; the selected tile has a red border, the others a grey one.
        QSignalSpy selected(&view, &ExtendCoverView::on_action_item_selected);
        ClickableLabel *last = view.TileLabel(3);
        QTest::mouseClick(last, Qt::LeftButton);
        QTest::mouseClick(last, Qt::LeftButton);
        QCOMPARE(selected.count(), 2);
        QCOMPARE(selected.last().at(1).toLongLong(), 104LL);
        QCOMPARE(last->grab().toImage().pixelColor(1, 1), QColor(Qt::red));
        QTest::mouseClick(view.TileLabel(1), Qt::RightButton);
        QVERIFY(view.TileLabel(1)->selected && !last->selected);
        QCOMPARE(last->grab().toImage().pixelColor(0, 0), QColor(105, 105, 105));
        QCOMPARE(view.GetCurrentIndex(), 1);

        // Only a key equal in both ids replaces a cover.
        QPixmap arrived(218, 218);
        arrived.fill(Qt::blue);
        const ItemComparePart key = books[1]->comparePart;
        view.UpdateItemImage(ItemComparePart(key.uid, key.imageCompId + 1), CoverImageState(&arrived, false));
        view.UpdateItemImage(ItemComparePart(999, key.imageCompId), CoverImageState(&arrived, false));
        QCOMPARE(shown(1), image(view.loadingCover));
        view.UpdateItemImage(key, CoverImageState(&arrived, false));
        QCOMPARE(shown(1), image(arrived));
        view.UpdateItemImage(key, CoverImageState::NoCover());
        QCOMPARE(shown(1), image(view.nullCover));
        QCOMPARE(view.FindTile(ItemComparePart(books[2]->uid, 1), false), view.TileLabel(2));

        QSignalSpy menu(&view, &ExtendCoverView::on_action_item_contextmenu);
        view.onSelf_contextMenutSet(QPoint(5, 480));
        QCOMPARE(menu.count(), 1);
        QCOMPARE(menu.last().at(0).toBool(), false);
        QContextMenuEvent onTile(QContextMenuEvent::Mouse, QPoint(3, 3));
        QApplication::sendEvent(view.TileLabel(0), &onTile);
        QCOMPARE(menu.count(), 2);
        QCOMPARE(menu.last().at(0).toBool(), true);
        QCOMPARE(menu.last().at(1).toPoint(), view.TileLabel(0)->mapToGlobal(QPoint(3, 3)));
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
    }

    void controllerReusesViewsAndTracksLoadingCovers()
    {
        QWidget host;
        auto *hostLayout = new QVBoxLayout(&host);
        ViewController controller;
        QVERIFY(!controller.SelectNext() && !controller.IsImageView() && controller.GetCount() == 0);
        controller.AttachToLayout(hostLayout);
        QCOMPARE(controller.parentWidget(), &host);

        controller.ApplyViewType(1);
        ExtendCoverView *covers = controller.coverView;
        const auto books = makeBooks(4);
        controller.AddItem(QStringLiteral("1"), books[0].get(), CoverImageState::Loading());
        controller.AddItem(QStringLiteral("2"), books[1].get(), CoverImageState::NoCover());
        controller.AddItem(QStringLiteral("3"), books[2].get(), CoverImageState::Loading());
        QCOMPARE(controller.pendingCovers, QList<ItemComparePart>({books[0]->comparePart, books[2]->comparePart}));

        controller.ApplyViewType(0);
        QVERIFY(covers->isHidden());
        ExtendTreeView *details = controller.detailsView;
        controller.ClearItems();
        QVERIFY(controller.pendingCovers.isEmpty());
        controller.AddItem(QStringLiteral("1"), books[3].get(), CoverImageState::Loading());
        QVERIFY(controller.pendingCovers.isEmpty()); // the details view loads no covers

        controller.ApplyViewType(1);
        QCOMPARE(controller.coverView, covers);
        QVERIFY(!covers->isHidden() && details->isHidden());
        controller.ApplyViewType(0);
        QCOMPARE(controller.detailsView, details);
        QCOMPARE(controller.layout->count(), 2);
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
        QVERIFY(!seen.isValid());
        QVERIFY(lockIsFree(controller.lock));
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
};

QTEST_MAIN(TestViews)
#include "test_views.moc"
