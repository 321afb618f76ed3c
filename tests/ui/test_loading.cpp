#include "LoadingController.h"

#include <QApplication>
#include <QLabel>
#include <QMovie>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtTest>

class TestLoading : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QApplication::setStyle(QStringLiteral("Fusion"));
    }

    void showHideCycle()
    {
        QWidget host;
        auto *layout = new QVBoxLayout(&host);
        auto *first = new QPushButton(QStringLiteral("a"));
        auto *second = new QLabel(QStringLiteral("b"));
        layout->addWidget(first);
        layout->addWidget(second);
        host.show();
        second->hide();

        LoadingController loading;
        loading.Hide(); // before anything, and created but never shown: harmless
        QString title;
        QWidget *panel = loading.Create(true, title);
        loading.Hide();
        QVERIFY(first->isVisible());

        // Shown twice: added once, the rest hidden, the animation runs; hidden: it stops and all return.
        for (int round = 0; round < 2; ++round) {
            loading.ShowInLayout(layout);
            QCOMPARE(loading.movie->state(), QMovie::Running);
            QVERIFY(loading.added);
            QCOMPARE(layout->count(), 3);
            QCOMPARE(panel->parentWidget(), &host);
            QVERIFY(panel->isVisible());
            QVERIFY(!first->isVisible() && !second->isVisible());
            loading.Hide();
            QVERIFY(!panel->isVisible());
            QCOMPARE(loading.movie->state(), QMovie::NotRunning);
            QVERIFY(first->isVisible());
            QVERIFY(second->isVisible()); // shown although it was hidden before
        }
    }
};

QTEST_MAIN(TestLoading)
#include "test_loading.moc"
