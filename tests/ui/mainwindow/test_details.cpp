// Details pane of the current book: its text functions, its contents and the book context menu.
#include "mainwindow/BookDetailsText.h"
#include "test_mainwindow_fixture.h"
#include "ui_mainwindow.h"

#include <limits>

using namespace MainWindowTest;

class TestDetails : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        nowSecs = QDateTime::currentSecsSinceEpoch();
        const QString path = dir.filePath(QStringLiteral("details.rfile"));
        const QStringList sql = {
            QStringLiteral("update published_bookinfo set OrgPrice = 0, BookStars = 1.9, _CheckTimeGMT = %1 where UID = 1")
                .arg(nowSecs - 2 * 86400 - 23 * 3600),
            QStringLiteral("update published_bookinfo set OrgPrice = 9.99, BookStars = 4.7, _CheckTimeGMT = %1 where UID = 2")
                .arg(nowSecs - 4 * 86400),
            QStringLiteral("update published_bookinfo set BookName = '<b>Bold</b> & Co', BookCatalog = '<i>x</i>', "
                           "BookStars = 4.71, _CheckTimeGMT = %1, BookPages = 37, BookSize = 2097152 where UID = 3")
                .arg(nowSecs + 2 * 86400),
            QStringLiteral("update published_bookinfo set BookStars = 3.99, _CheckTimeGMT = 0, BookPages = 0, "
                           "BookSize = 0 where UID = 4"),
        };
        QVERIFY(MakeCatalogue(path, 8, sql));
        window = std::make_unique<MainWindow>(nullptr, false);
        QVERIFY(!window->IsConstructionFailed());
        QVERIFY(LoadCatalogue(*window, path));
        window->OnCallRefreshListView(false, false);
        window->OnLoadDisplayFolders();
    }

    void cleanupTestCase() { window.reset(); }

    void sizeText()
    {
        QCOMPARE(FormatBookSizeText(37, 2097152, true), QStringLiteral("(37 Pages / 2.00 MB)"));
        QCOMPARE(FormatBookSizeText(37, 2097152, false), QStringLiteral("37 Pages / 2.00 MB"));
        QCOMPARE(FormatBookSizeText(0, 512000, true), QStringLiteral("(500 KB)"));
        QCOMPARE(FormatBookSizeText(12, 0, true), QStringLiteral("(12 Pages)"));
        QCOMPARE(FormatBookSizeText(0, 0, true), QString());
        QCOMPARE(FormatBookSizeText(-3, -1, true), QString());
    }

    void relativeDates()
    {
        const QDate today(2026, 12, 5);
        const QLocale locale = QLocale::system();
        const QDateTime at1405(today, QTime(14, 5));
        QCOMPARE(FormatRelativeDateTime(at1405, today),
                 QStringLiteral("Today (%1)").arg(locale.toString(QTime(14, 5), QLocale::LongFormat)));
        const QDateTime lastNight(today.addDays(-1), QTime(23, 59, 59));
        QCOMPARE(FormatRelativeDateTime(lastNight, today),
                 QStringLiteral("Yesterday (%1)").arg(locale.toString(QTime(23, 59, 59), QLocale::LongFormat)));
        const QDateTime older(today.addDays(-2), QTime(0, 0));
        QCOMPARE(FormatRelativeDateTime(older, today), locale.toString(older, QLocale::ShortFormat));
        // Tomorrow is neither today nor yesterday.
        const QDateTime tomorrow(today.addDays(1), QTime(8, 0));
        QCOMPARE(FormatRelativeDateTime(tomorrow, today), locale.toString(tomorrow, QLocale::ShortFormat));
        QCOMPARE(FormatRelativeDateTime(QDateTime(), today), QString());
    }

    void starCount_data()
    {
        QTest::addColumn<float>("stars");
        QTest::addColumn<int>("shown");
        QTest::newRow("1.9 hides") << 1.9f << 0;
        QTest::newRow("2.0") << 2.0f << 2;
        QTest::newRow("3.99") << 3.99f << 3;
        QTest::newRow("4.7 as float") << 4.7f << 4;
        QTest::newRow("4.71") << 4.71f << 5;
        QTest::newRow("5") << 5.0f << 5;
        QTest::newRow("negative") << -1.0f << 0;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 0;
    }

    void starCount()
    {
        QFETCH(float, stars);
        QFETCH(int, shown);
        QCOMPARE(VisibleStarCount(stars), shown);
    }

    void checkAgeIcon_data()
    {
        const QDateTime now(QDate(2026, 12, 5), QTime(12, 0), Qt::UTC);
        QTest::addColumn<QDateTime>("checked");
        QTest::addColumn<int>("icon");
        QTest::newRow("just now") << now << 0;
        QTest::newRow("2 days 23 hours") << now.addSecs(-(2 * 86400 + 23 * 3600)) << 0;
        QTest::newRow("3 days") << now.addDays(-3) << 1;
        QTest::newRow("7 days 23 hours") << now.addSecs(-(7 * 86400 + 23 * 3600)) << 1;
        QTest::newRow("8 days") << now.addDays(-8) << 2;
        QTest::newRow("never") << QDateTime() << 2;
        QTest::newRow("23 hours ahead") << now.addSecs(23 * 3600) << 0;
        QTest::newRow("1 day ahead") << now.addDays(1) << 2;
    }

    void checkAgeIcon()
    {
        QFETCH(QDateTime, checked);
        QFETCH(int, icon);
        QCOMPARE(CheckAgeIconIndex(checked, QDateTime(QDate(2026, 12, 5), QTime(12, 0), Qt::UTC)), icon);
    }

    void paneShowsTheBook_data()
    {
        QTest::addColumn<qint64>("id");
        QTest::addColumn<QString>("orgPrice");
        QTest::addColumn<QString>("price");
        QTest::addColumn<QString>("size");
        QTest::addColumn<int>("stars"); // -1: the row of stars hidden
        QTest::addColumn<QString>("icon");
        // Rows run in order on one window: a book with stars after one without shows the row again.
        // A null text is not checked (the generated value).
        const QString go = QStringLiteral(":/local/images/16/go-small.png");
        const QString info = QStringLiteral(":/local/images/16/info-small.png");
        const QString help = QStringLiteral(":/local/images/16/help-small.png");
        QTest::newRow("free, 1.9 stars, checked 2 days 23 hours ago")
            << qint64(1) << "" << "Free " << QString() << -1 << go;
        QTest::newRow("priced, 4.7 stars, checked 4 days ago") << qint64(2) << "$9.99" << " Free " << QString() << 4 << info;
        QTest::newRow("4.71 stars, checked two days ahead")
            << qint64(3) << QString() << QString() << "(37 Pages / 2.00 MB)" << 5 << help;
        QTest::newRow("3.99 stars, check time 0, no size") << qint64(4) << QString() << QString() << "" << 3 << help;
        QTest::newRow("hidden stars again") << qint64(1) << "" << "Free " << QString() << -1 << go;
        QTest::newRow("shown again") << qint64(2) << "$9.99" << " Free " << QString() << 4 << info;
    }

    void paneShowsTheBook()
    {
        QFETCH(qint64, id);
        QFETCH(QString, orgPrice);
        QFETCH(QString, price);
        QFETCH(QString, size);
        QFETCH(int, stars);
        QFETCH(QString, icon);
        Ui_MainWindow *ui = window->form();
        Select(id);
        QVERIFY(!ui->widChildBookInfo->isHidden());
        QVERIFY(ui->action_ShowInfo_Option_GoLink->isEnabled());
        if (!price.isNull()) {
            QCOMPARE(ui->lblShowBookPriceOrg->text(), orgPrice);
            QCOMPARE(ui->lblShowBookPriceCurrent->text(), price);
        }
        if (!size.isNull())
            QCOMPARE(ui->lblShowBookSize->text(), size);
        QVERIFY(ui->lblShowBookDate->text().contains(QStringLiteral("Last Check Time: ")));
        QCOMPARE(ui->lblShowBookStarsAll->isHidden(), stars < 0);
        int shown = 0;
        for (QLabel *star : {ui->lblShowBookStars1, ui->lblShowBookStars2, ui->lblShowBookStars3, ui->lblShowBookStars4,
                             ui->lblShowBookStars5})
            shown += star->isHidden() ? 0 : 1;
        if (stars >= 0)
            QCOMPARE(shown, stars);
        QVERIFY(!QPixmap(icon).isNull());
        QCOMPARE(ImageOf(ui->lblShowBookStateIcon->pixmap(Qt::ReturnByValue)), ImageOf(QPixmap(icon)));
        // Catalogue texts are shown as they are, never read as markup.
        QCOMPARE(ui->lblShowBookName->textFormat(), Qt::PlainText);
        QCOMPARE(ui->lblShowBookCategory->textFormat(), Qt::PlainText);
        if (id == 3)
            QCOMPARE(ui->lblShowBookName->text(), QStringLiteral("<b>Bold</b> & Co"));
    }

    void unknownBookHidesThePane()
    {
        Ui_MainWindow *ui = window->form();
        const QImage nullCover = ImageOf(QPixmap(QStringLiteral(":/local/images/other/nullcover-218.png")));
        for (const QVariant &id : {QVariant(qint64(99999)), QVariant(0), QVariant(-5), QVariant()}) {
            Select(2);
            QVERIFY(!ui->widChildBookInfo->isHidden());
            window->run_action_listview_item_selected(1, id);
            QVERIFY2(ui->widChildBookInfo->isHidden(), qPrintable(id.toString()));
            QVERIFY(!ui->action_ShowInfo_View_Prev->isEnabled());
            QVERIFY(!ui->action_ShowInfo_View_Next->isEnabled());
            QVERIFY(!ui->action_ShowInfo_Option_GoLink->isEnabled());
            QCOMPARE(ImageOf(ui->lblShowBookCover->pixmap(Qt::ReturnByValue)), nullCover);
        }
    }

    void contextMenuEntries()
    {
        Ui_MainWindow *ui = window->form();
        QAction *goLink = ui->action_ShowInfo_Option_GoLink_ContextMenu;
        QAction *prev = ui->action_ShowInfo_Page_Prev_ContextMenu;
        QAction *next = ui->action_ShowInfo_Page_Next_ContextMenu;

        struct Case
        {
            bool linkEnabled, selected, prevEnabled, nextEnabled;
        };
        const QList<Case> cases = {{true, true, false, true},
                                   {true, false, true, false},
                                   {false, true, true, true},
                                   {false, false, false, false}};
        for (const Case &c : cases) {
            ui->action_ShowInfo_Option_GoLink->setEnabled(c.linkEnabled);
            ui->action_ShowInfo_Page_Prev->setEnabled(c.prevEnabled);
            ui->action_ShowInfo_Page_Next->setEnabled(c.nextEnabled);
            window->OnShowSingleBookInfoRightMenu(false, c.selected, QPoint());
            QCOMPARE(goLink->isEnabled(), c.linkEnabled && c.selected);
            QCOMPARE(prev->isEnabled(), c.prevEnabled);
            QCOMPARE(next->isEnabled(), c.nextEnabled);
        }
        QVERIFY(!VisibleMenuWith(goLink));

        // The view's request pops the menu up; a refresh updating the entries while it is open
        // must not block on the menu's lock.
        ui->action_ShowInfo_Option_GoLink->setEnabled(true);
        window->run_action_listview_item_contextmenu(true, QPoint(40, 40));
        QMenu *menu = VisibleMenuWith(goLink);
        QVERIFY(menu);
        QVERIFY(goLink->isEnabled());
        window->OnShowSingleBookInfoRightMenu(false, false, QPoint());
        QVERIFY(!goLink->isEnabled());
        menu->hide();
    }

private:
    void Select(qint64 id) { window->run_action_listview_item_selected(1, QVariant(id)); }

    QTemporaryDir dir;
    qint64 nowSecs = 0;
    std::unique_ptr<MainWindow> window;
};

TESSALY_MAINWINDOW_TEST_MAIN(TestDetails)
#include "test_details.moc"
