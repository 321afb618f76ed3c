#include "LoadingController.h"
#include "StyleHelpers.h"

#include <QApplication>
#include <QLabel>
#include <QMovie>
#include <QPushButton>
#include <QStatusBar>
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

    void titleGivenOrDefault()
    {
        LoadingController empty;
        QString title;
        QVERIFY(empty.Create(true, title));
        QCOMPARE(title, QStringLiteral("Loading..."));
        QCOMPARE(empty.titleLabel->text(), title);
        QVERIFY(empty.messageLabel->text().isEmpty() && empty.messageLabel->wordWrap());
        QCOMPARE(empty.titleLabel->font().pointSize(), 40);
        QCOMPARE(empty.messageLabel->font().pointSize(), 16);
        QVERIFY(empty.movie->isValid());
        QCOMPARE(empty.movie->state(), QMovie::Running);

        LoadingController closing;
        QString given = QStringLiteral("Closing...");
        closing.Create(false, given);
        QCOMPARE(given, QStringLiteral("Closing..."));
        QCOMPARE(closing.titleLabel->text(), given);
        // Never added anywhere: the controller cleans the panel up itself (checked by sanitizers).
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

    void styleHelpers()
    {
        QStatusBar bar;
        SetStatusBarItemStyle(&bar);
        QCOMPARE(bar.styleSheet(), QStringLiteral("QStatusBar::item { border: none; }; "));
        QWidget tool;
        SetToolButtonStyle(&tool);
        QCOMPARE(tool.styleSheet(), QStringLiteral("QToolButton { padding-right: -8px; }"));

        QLabel label;
        SetWidgetBackgroundColor(&label, QColor(255, 255, 0));
        QVERIFY(label.autoFillBackground());
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            QCOMPARE(label.palette().color(group, QPalette::Window), QColor(255, 255, 0));
            QCOMPARE(label.palette().color(group, QPalette::Base), QColor(255, 255, 0));
        }
        // The text colour leaves the background alone.
        SetWidgetTextColor(&label, Qt::red);
        QCOMPARE(label.palette().color(QPalette::Disabled, QPalette::WindowText), QColor(Qt::red));
        QCOMPARE(label.palette().color(QPalette::Active, QPalette::Window), QColor(255, 255, 0));
    }
};

QTEST_MAIN(TestLoading)
#include "test_loading.moc"
