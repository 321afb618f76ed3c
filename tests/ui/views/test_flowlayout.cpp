#include "views/FlowLayout.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <QtTest>

namespace {
QWidget *tile(QWidget *parent, int width, int height = 218)
{
    auto *w = new QLabel(parent);
    w->setFixedSize(width, height);
    return w;
}
} // namespace

class TestFlowLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QApplication::setStyle(QStringLiteral("Fusion"));
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

    void overWideItemStandsAlone()
    {
        QWidget host;
        auto *flow = new FlowLayout(-1, 4, 4);
        host.setLayout(flow);
        QWidget *small = tile(&host, 100, 50);
        QWidget *wide = tile(&host, 900, 30);
        QWidget *after = tile(&host, 100, 50);
        flow->addWidget(small);
        flow->addWidget(wide);
        flow->addWidget(after);
        const QMargins m = flow->contentsMargins();
        flow->setGeometry(QRect(0, 0, 500, 500));

        QCOMPARE(wide->geometry(), QRect(m.left(), m.top() + 50 + 4, 900, 30));
        QCOMPARE(after->pos(), QPoint(m.left(), wide->y() + 30 + 4));
        QCOMPARE(flow->heightForWidth(500), after->geometry().bottom() + 1 + m.bottom());
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

        QVERIFY(!flow.takeAt(-1));
        QVERIFY(!flow.takeAt(flow.count()));
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
};

QTEST_MAIN(TestFlowLayout)
#include "test_flowlayout.moc"
