// Book list views, the flow layout of the covers view and the loading panel.
#include "LoadingController.h"
#include "catalogue/ItemBook.h"
#include "folders/DisplayPageState.h"
#include "views/ClickableLabel.h"
#include "views/ExtendCoverView.h"
#include "views/FlowLayout.h"
#include "views/ViewController.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMovie>
#include <QPointer>
#include <QScrollBar>
#include <QtTest>

#include <future>
#include <memory>
#include <vector>

namespace {
// True when no thread holds the lock at all (asked from another thread).
bool lockIsFree(QReadWriteLock &lock)
{
    auto probe = std::async(std::launch::async, [&]() {
        const bool free = lock.tryLockForWrite();
        if (free)
            lock.unlock();
        return free;
    });
    return probe.get();
}

QWidget *tile(QWidget *parent, int size, QLayout *layout)
{
    auto *w = new QLabel(parent);
    w->setFixedSize(size, size);
    layout->addWidget(w);
    return w;
}
} // namespace

class TestViews : public QObject
{
    Q_OBJECT
    std::vector<std::unique_ptr<ItemBook>> books;

    void fill(BaseView *view, int count)
    {
        for (int i = 0; i < count; ++i)
            view->AddItem(QString::number(i + 1), books[i].get(), CoverImageState::NoCover());
    }

    // Shows the controller with the view of the type (0 details, 1 covers) and the first books in it.
    void showFilled(ViewController &view, int viewType, int count)
    {
        view.resize(700, 500);
        view.show();
        view.ApplyViewType(viewType);
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        fill(&view, count);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QApplication::setStyle(QStringLiteral("Fusion"));
        for (int i = 1; i <= 40; ++i) {
            books.push_back(std::make_unique<ItemBook>());
            ItemBook &book = *books.back();
            book.uid = 100 + i;
            book.imageCompId = 5000 + i;
            book.comparePart = ItemComparePart(book.uid, book.imageCompId);
            book.name = QStringLiteral("Book %1 with a title long enough to wrap").arg(i);
            book.sizeText = QStringLiteral("%1 KB").arg(i * 10);
        }
        // The longest name a record keeps, in words that wrap: the tile still lays out.
        books[1]->name = QStringLiteral("word ").repeated(ItemBook::MaxTextLength / 5) + QChar(0x2026);
    }

    void movesAtThePageEdges_data()
    {
        QTest::addColumn<int>("viewType");
        QTest::newRow("details") << 0;
        QTest::newRow("covers") << 1;
    }

    // Moves inside a page, and at its edges only when the page state has pages beyond. Receivers of the
    // selection find the lock released and may call back in, as the main window does.
    void movesAtThePageEdges()
    {
        QFETCH(int, viewType);
        ViewController view;
        showFilled(view, viewType, 20);
        view.AddItem(QStringLiteral("21"), nullptr, CoverImageState());
        QCOMPARE(view.GetCount(), 20);
        QCOMPARE(view.GetCurrentIndex(), -1);
        QScrollBar *bar = viewType ? view.coverView->verticalScrollBar() : nullptr;
        DisplayPageState pages;
        pages.Reset(60, 20);
        QList<QVariantList> selected;
        connect(&view, &ViewController::on_action_item_selected, this, [&](int count, const QVariant &item) {
            QVERIFY(lockIsFree(view.lock) && view.GetCurrentItem() == item);
            selected << QVariantList{count, item};
        });

        view.SelectEdge(false);
        QCOMPARE(view.GetCurrentIndex(), 0);
        QVERIFY(!view.HasPrevious(nullptr) && !view.HasPrevious(&pages) && !view.SelectPrevious());
        pages.SetCurrentPage(2);
        QVERIFY(view.HasPrevious(&pages) && view.SelectNext());
        QCOMPARE(view.GetCurrentItem().toLongLong(), 102LL);
        QVERIFY(view.HasPrevious(nullptr));
        QCOMPARE(selected, QList<QVariantList>({{1, 101LL}, {1, 102LL}}));

        view.SelectEdge(true);
        QCOMPARE(view.GetCurrentIndex(), 19);
        if (bar)
            QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(!view.HasNext(nullptr) && view.HasNext(&pages));
        pages.SetCurrentPage(3);
        QVERIFY(!view.HasNext(&pages) && !view.SelectNext());
        QVERIFY(view.SelectPrevious());
        QCOMPARE(view.GetCurrentIndex(), 18);
        view.SelectEdge(false);
        if (bar)
            QCOMPARE(bar->value(), 0);
        // The details view drops its selection under the write lock, and says so.
        const int before = selected.size();
        view.ClearItems();
        QCOMPARE(selected.size(), before + (viewType ? 0 : 1));
        QVERIFY(lockIsFree(view.lock) && !view.GetCurrentItem().isValid());
    }

    // Before a view is chosen, or before the covers view is set up, every call is a harmless no-op.
    void emptyAnswersWithoutAView()
    {
        ViewController view;
        view.AttachToLayout(nullptr);
        ExtendCoverView covers;
        covers.ClearItems();
        for (BaseView *empty : {static_cast<BaseView *>(&view), static_cast<BaseView *>(&covers)}) {
            fill(empty, 1);
            empty->SelectEdge(true);
            empty->UpdateItemImage(books[0]->comparePart, CoverImageState());
            QVERIFY(!empty->GetCurrentItem().isValid() && !empty->SelectPrevious() && !empty->SelectNext());
            QVERIFY(!empty->HasPrevious(nullptr) && !empty->HasNext(nullptr));
            QCOMPARE(QPoint(empty->GetCount(), empty->GetCurrentIndex()), QPoint(0, -1));
        }
        view.ClearItems();
        QVERIFY(!view.IsImageView() && !covers.TileLabel(0));
    }

    // A tile selected right after filling is scrolled into view; a tile's own menu may reload the view.
    void coverTilesScrollIntoViewAndOutliveTheirReload()
    {
        ViewController controller;
        showFilled(controller, 1, 40);
        ExtendCoverView &view = *controller.coverView;
        // No event processing between filling and selecting.
        view.SelectEdge(false);
        for (int i = 0; i < 30; ++i)
            QVERIFY(view.SelectNext());
        QWidget *current = view.currentTile;
        const QRect inViewport(current->mapTo(view.viewport(), QPoint(0, 0)), current->size());
        QVERIFY2(view.viewport()->rect().intersects(inViewport), "selected tile is off screen");
        QVERIFY(view.verticalScrollBar()->value() > 0);
        // A cover arriving for another image of the book, or for another book, finds no tile.
        const ItemComparePart key = books[0]->comparePart;
        QVERIFY(!view.FindTile(ItemComparePart(key.uid, key.imageCompId + 1), true)
                && !view.FindTile(ItemComparePart(999, key.imageCompId), true));
        // An image that failed to decode shows as no cover.
        QPixmap broken;
        view.UpdateItemImage(key, CoverImageState(&broken, false));
        QVERIFY(!view.FindTile(key, true)->pixmap(Qt::ReturnByValue).isNull());

        QPointer<ClickableLabel> label = view.TileLabel(2);
        QPointer<QWidget> tile = label->tile;
        int reloads = 0;
        connect(&controller, &ViewController::on_action_item_contextmenu, this, [&](bool isSelected, QPoint) {
            QVERIFY(isSelected);
            ++reloads;
            controller.ClearItems();
            fill(&controller, 6);
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

    void wrapsTilesTwoPerLine()
    {
        QWidget host;
        auto *flow = new FlowLayout(-1, -1, -1);
        host.setLayout(flow);
        const QMargins m = flow->contentsMargins();
        QCOMPARE(flow->heightForWidth(500), m.top() + m.bottom());
        QList<QWidget *> tiles;
        for (int i = 0; i < 5; ++i)
            tiles << tile(&host, 218, flow);
        flow->setGeometry(QRect(0, 0, 500, 1000));
        for (int i = 0; i < tiles.size(); ++i)
            QCOMPARE(tiles[i]->geometry(), QRect(m.left() + i % 2 * (218 + 6), m.top() + i / 2 * (218 + 6), 218, 218));

        // The height it asks for is exactly what it used.
        QCOMPARE(flow->heightForWidth(500), tiles[4]->geometry().bottom() + 1 + m.bottom());
        QCOMPARE(flow->heightForWidth(2000), m.top() + 218 + m.bottom());
        QCOMPARE(flow->minimumSize(), QSize(218 - 2, 218 - 2));

        // The second tile stays on the line only with a pixel to spare: one that would end on the
        // last pixel of the area already wraps.
        for (int spare : {1, 0}) {
            const int width = m.left() + 218 + 6 + 218 + m.right() + spare;
            flow->setGeometry(QRect(0, 0, width, 1000));
            QCOMPARE(tiles[1]->y() == m.top(), spare == 1);
        }
    }

    void takeAtAndSpacers()
    {
        // Not installed on a widget: the gaps come from each item's widget style.
        QWidget host;
        FlowLayout flow(0, -1, -1);
        QWidget *first = tile(&host, 40, &flow);
        // A spacer or nested layout has no widget: it gets no gap instead of crashing.
        flow.addItem(new QSpacerItem(30, 10, QSizePolicy::Fixed, QSizePolicy::Fixed));
        auto *nested = new QVBoxLayout();
        nested->setContentsMargins(0, 0, 0, 0);
        flow.addItem(nested);
        QWidget *last = tile(&host, 40, &flow);
        flow.setGeometry(QRect(0, 0, 1000, 100));
        const int gap = first->style()->layoutSpacing(QSizePolicy::PushButton, QSizePolicy::PushButton,
                                                      Qt::Horizontal);
        QCOMPARE(last->x(), 40 + gap + 30 + nested->geometry().width());

        QVERIFY(!flow.takeAt(-1) && !flow.takeAt(flow.count()) && !flow.itemAt(-1));
    }

    // Shown twice: added once, the rest hidden, the animation runs; hidden: it stops and all return.
    void loadingPanelStandsInForTheLayout()
    {
        QWidget host;
        auto *layout = new QVBoxLayout(&host);
        auto *first = new QLabel(QStringLiteral("a"));
        auto *second = new QLabel(QStringLiteral("b"));
        layout->addWidget(first);
        layout->addSpacing(4); // an item without a widget
        layout->addWidget(second);
        host.show();
        second->hide();

        LoadingController loading;
        loading.Hide(); // before anything, and created but never shown: harmless
        loading.ShowInLayout(nullptr);
        QString title;
        QWidget *panel = loading.Create(true, title);
        loading.Hide();
        QVERIFY(first->isVisible());
        for (int round = 0; round < 2; ++round) {
            loading.ShowInLayout(layout);
            QCOMPARE(loading.movie->state(), QMovie::Running);
            QCOMPARE(layout->count(), 4);
            QCOMPARE(panel->parentWidget(), &host);
            QVERIFY(panel->isVisible() && !first->isVisible() && !second->isVisible());
            loading.Hide();
            QVERIFY(!panel->isVisible());
            QCOMPARE(loading.movie->state(), QMovie::NotRunning);
            QVERIFY(first->isVisible() && second->isVisible()); // shown although it was hidden before
        }
        // Not built yet: the layout's widgets are hidden and nothing stands in.
        LoadingController unbuilt;
        unbuilt.ShowInLayout(layout);
        QVERIFY(!first->isVisible());
    }
};

QTEST_MAIN(TestViews)
#include "test_views.moc"
