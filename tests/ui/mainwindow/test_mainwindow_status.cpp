// One window through the tests: worker results (load results, status texts, the information bar,
// covers that arrive, the new-version link, the timers) and the details pane of the current book.
#include "mainwindow/BookDetailsText.h"
#include "test_mainwindow_fixture.h"
#include "ui_mainwindow.h"

#include "views/ClickableLabel.h"
#include "catalogue/ItemBook.h"
#include "UserImageRefresher.h"

#include <QFile>
#include <QMovie>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTimer>

#include <limits>

using namespace MainWindowTest;

namespace {

const QString kReloadLater = QStringLiteral(" The software will reload it after several minutes.");
const QString kReloadByHand = QStringLiteral(" Click [refresh database] button to reload it.");

// "text (time)" with the current short date and time.
bool IsTextWithTime(const QString &shown, const QString &text)
{
    if (!shown.startsWith(text + QStringLiteral(" (")) || !shown.endsWith(QLatin1Char(')')))
        return false;
    const QString time = shown.mid(text.size() + 2, shown.size() - text.size() - 3);
    return QLocale::system().toDateTime(time, QLocale::ShortFormat).isValid();
}

} // namespace

class TestMainWindowStatus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        KeepServicesLocal();
        QVERIFY(dir.isValid());
        path = dir.filePath(QStringLiteral("status.rfile"));
        const QStringList sql = {QStringLiteral(
            "update published_bookinfo set BookName = '<b>Bold</b> & Co', BookCatalog = '<i>x</i>' where UID = 3")};
        QVERIFY(MakeCatalogue(path, 30, sql));
        window = std::make_unique<MainWindow>(nullptr, false);
        QVERIFY(!window->IsConstructionFailed() && LoadCatalogue(*window, path));
        // The busy animation's label is the status icon.
        for (QLabel *label : window->form()->statusBar->findChildren<QLabel *>()) {
            if (label->movie())
                statusIcon = label;
        }
        QVERIFY(statusIcon && window->informationBar()->isHidden() && window->statusText()->isHidden());
        QVERIFY(!window->timerRetry()->isActive());
        QCOMPARE(window->timerRetry()->interval(), 300000);
        // A hand-edited interval below the floor must not refresh in a loop.
        SetChecks(true, true, -4);
        window->OnRecheckAutoInvokeEvents();
        QCOMPARE(window->timerDatabase()->interval(), 600000);
    }

    void cleanupTestCase() { window.reset(); }

    void loadErrorTable_data()
    {
        QTest::addColumn<int>("lastError");
        QTest::addColumn<int>("serverAnswer");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("withLink");
        QTest::addColumn<bool>("reloadSentence");

        const QString write = QStringLiteral("Failed to write configuration files...");
        const QString refresh = QStringLiteral("Failed to refresh the database.");
        QTest::newRow("profiles") << 1 << 3
            << QStringLiteral("Failed to read user profiles. Perhaps it is in use or locked by other programs.") << false << true;
        QTest::newRow("upgrade") << 3 << 3 << QStringLiteral("New database files no longer support your current software "
                                                             "version. Click here to upgrade the software.") << true << false;
        QTest::newRow("download") << 3 << 1 << QStringLiteral("Failed to load the latest free ebooks database.") << false << true;
        QTest::newRow("pointer") << 4 << 0 << write << false << false;
        QTest::newRow("compute") << 5 << 3 << write << false << false;
        QTest::newRow("in use") << 101 << 0 << QStringLiteral("The software cannot access the database file because it is "
                                                              "being used by another program.") << false << true;
        QTest::newRow("none") << 0 << 0 << refresh << false << true;
        QTest::newRow("unknown") << 77 << 0 << refresh << false << true;
    }

    void loadErrorTable()
    {
        QFETCH(int, lastError);
        QFETCH(int, serverAnswer);
        QFETCH(QString, message);
        QFETCH(bool, withLink);
        QFETCH(bool, reloadSentence);

        for (UserDataLoader *loader : {&window->loader(), static_cast<UserDataLoader *>(&window->refresher())}) {
            QWriteLocker locker(&loader->dataLock);
            loader->lastError = lastError;
            loader->serverAnswer = serverAnswer;
        }

        for (bool check : {true, false}) {
            SetChecks(true, check, 120);
            const bool retryExpected = reloadSentence && check;
            const QString text = QStringLiteral("Error: ") + message
                                 + (reloadSentence ? (check ? kReloadLater : kReloadByHand) : QString());

            // A first load reports into the yellow bar, where links are never red.
            window->SetEnabledLocalRetry(!retryExpected);
            bool retry = !retryExpected;
            window->OnShowDBLoadResult(false, &window->loader(), true, retry);
            QCOMPARE(retry, retryExpected);
            QVERIFY(!window->informationBar()->isHidden());
            QLabel *info = window->infoText();
            QCOMPARE(info->textFormat(), withLink ? Qt::RichText : Qt::PlainText);
            if (withLink)
                QVERIFY(info->text().contains(QStringLiteral("href='%1'").arg(Const::DownloadUrlWithInfo))
                        && !info->text().contains(QStringLiteral("color:red")) && info->openExternalLinks());
            else
                QVERIFY2(IsTextWithTime(info->text(), text), qPrintable(info->text()));
            window->run_action_hide_main_informationbar();
            QVERIFY(window->informationBar()->isHidden());

            // A refresh reports into the status bar, red and with the stop icon, and arms the retry.
            window->SetEnabledLocalRetry(!retryExpected);
            window->run_action_userDataRefreshed(false, false);
            QCOMPARE(window->timerRetry()->isActive(), retryExpected);
            QLabel *status = window->statusText();
            QVERIFY(!status->isHidden() && window->informationBar()->isHidden());
            QCOMPARE(status->textFormat(), withLink ? Qt::RichText : Qt::PlainText);
            if (withLink)
                QVERIFY(status->text().contains(QStringLiteral("color:red")) && status->text().contains(QStringLiteral("Error: ")));
            else
                QVERIFY2(IsTextWithTime(status->text(), text), qPrintable(status->text()));
            QVERIFY(!statusIcon->isHidden() && !statusIcon->movie());
            QCOMPARE(ImageOf(statusIcon->pixmap(Qt::ReturnByValue)),
                     ImageOf(QPixmap(QStringLiteral(":/local/images/16/stop.png"))));
        }
        window->SetEnabledLocalRetry(false);
    }

    void newVersionIsEscapedAndShownOnce()
    {
        QLabel *label = window->versionLabel();
        QVERIFY(label->isHidden());
        window->run_action_show_new_version(QStringLiteral("<img src=x>9.9&amp;"));
        QVERIFY(!label->isHidden());
        QCOMPARE(label->textFormat(), Qt::RichText);
        const QString html = label->text();
        QVERIFY2(html.contains(QStringLiteral("New Update Available: &lt;img src=x&gt;9.9&amp;amp;")), qPrintable(html));
        QVERIFY(!html.contains(QStringLiteral("<img")));
        QVERIFY(html.contains(QStringLiteral("href='%1'").arg(Const::DownloadUrlWithInfo)));
        QVERIFY(html.contains(QStringLiteral("color:red")));

        window->run_action_show_new_version(QStringLiteral("10.0"));
        QCOMPARE(label->text(), html);

        // A long text from the network is cut short.
        MainWindow other(nullptr, false);
        other.run_action_show_new_version(QString(5000, QLatin1Char('9')));
        QVERIFY(other.versionLabel()->text().size() < 500);
    }

    void recomputedFoldersReloadTheList()
    {
        ShowList(*window, 0, 10);
        Ui_MainWindow *ui = window->form();
        ui->action_ShowInfo_Page_Next->trigger();
        QCOMPARE(window->page().GetCurrentPage(), 2);
        window->OnShowSingleBookInfoRightMenu(false, true, QPoint());
        QVERIFY(ui->action_ShowInfo_Page_Prev_ContextMenu->isEnabled());

        // A refresh recomputed the folder of all books behind the window's back.
        const QUuid all = FolderOfType(*window, AllBooks);
        const QList<qint64> ids = {12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
        QString caption;
        {
            QWriteLockerExt2 token(&window->folders().lock);
            DisplayFolder *folder = window->folders().FindFolder(all, token);
            QVERIFY(folder);
            folder->bookIds = ids;
            folder->calcBookCount = ids.size();
            folder->UpdateCaptionWithCount();
            caption = folder->calcCaption;
        }
        window->SetMainInformationText(QStringLiteral("Error"), QString());
        window->run_action_userDataRefreshed(true, true);
        QVERIFY(window->informationBar()->isHidden());
        const QModelIndex row = window->tree().FindFolderIndex(all);
        QCOMPARE(window->tree().model->itemFromIndex(row)->text(), caption);
        QCOMPARE(window->page().GetCurrentPage(), 1);
        QCOMPARE(window->totalsLabel()->text(), QStringLiteral(" Total: 12 items (10 items per page) "));
        QCOMPARE(window->views().GetCurrentItem().toLongLong(), 12LL);
        QVERIFY(!ui->action_ShowInfo_Page_Prev_ContextMenu->isEnabled());
        QVERIFY(ui->action_ShowInfo_Page_Next_ContextMenu->isEnabled());
    }

    void arrivingCovers()
    {
        ShowList(*window, 1, 5);
        QVERIFY(window->views().IsImageView());
        QList<ItemComparePart> pending;
        {
            QReadLocker locker(&window->views().lock);
            pending = window->views().pendingCovers;
        }
        QVERIFY(pending.size() >= 3);
        // Other covers push the page's ones out of the queue, as if their downloads had ended.
        for (int i = 0; i < UserImageRefresher::MaxQueuedCovers; ++i)
            window->images().QueueImage(ItemComparePart(800000 + i, 1), false);
        QVERIFY(!window->images().IsImagePending(pending.at(0)));

        auto tileOf = [this](const ItemComparePart &key) -> ClickableLabel * {
            for (ClickableLabel *label : window->findChildren<ClickableLabel *>()) {
                if (label->key == key)
                    return label;
            }
            return nullptr;
        };
        const QImage loading = ImageOf(QPixmap(QStringLiteral(":/local/images/other/loadingcover-218.png")));
        const QImage nullCover = ImageOf(QPixmap(QStringLiteral(":/local/images/other/nullcover-218.png")));

        // A downloaded cover replaces the loading picture of its tile once it is decoded, which
        // happens off the GUI thread.
        QImage cover(120, 160, QImage::Format_ARGB32);
        cover.fill(QColor(10, 200, 30));
        const ItemComparePart key = pending.at(0);
        QVERIFY(cover.save(window->images().GetImageFilePath(key), "PNG"));
        QCOMPARE(ImageOf(tileOf(key)->pixmap(Qt::ReturnByValue)), loading);
        window->run_action_refresh_image_downloaded(true, QVariant(key.uid), QVariant(key.imageCompId));
        QCOMPARE(ImageOf(tileOf(key)->pixmap(Qt::ReturnByValue)), loading);
        QTRY_COMPARE(ImageOf(tileOf(key)->pixmap(Qt::ReturnByValue)).size(), cover.size());
        const QImage shown = ImageOf(tileOf(key)->pixmap(Qt::ReturnByValue));
        QCOMPARE(shown.pixelColor(60, 80), QColor(10, 200, 30));

        // A cover shown both in its tile and in the details pane (both 218 px) reaches both, and
        // then the decoder rests: one taker must not starve the other into decoding it forever.
        const ItemComparePart both = pending.at(2);
        QVERIFY(cover.save(window->images().GetImageFilePath(both), "PNG"));
        window->SetSingleInfoBookCover(both);
        window->run_action_refresh_image_downloaded(true, QVariant(both.uid), QVariant(both.imageCompId));
        QTRY_COMPARE(ImageOf(tileOf(both)->pixmap(Qt::ReturnByValue)).size(), cover.size());
        QTRY_COMPARE(ImageOf(window->form()->lblShowBookCover->pixmap(Qt::ReturnByValue)).size(), cover.size());
        QSignalSpy decodes(&window->images(), &UserImageRefresher::decoded);
        QTest::qWait(300);
        for (const QList<QVariant> &decode : qAsConst(decodes))
            QVERIFY(decode.at(0).toLongLong() != both.uid);

        // A failed download shows "no cover" there, and in the details pane when it shows that book.
        const ItemComparePart failed = pending.at(1);
        window->SetSingleInfoBookCover(failed);
        QCOMPARE(ImageOf(window->form()->lblShowBookCover->pixmap(Qt::ReturnByValue)), loading);
        window->run_action_refresh_image_downloaded(false, QVariant(failed.uid), QVariant(failed.imageCompId));
        QCOMPARE(ImageOf(tileOf(failed)->pixmap(Qt::ReturnByValue)), nullCover);
        QCOMPARE(ImageOf(window->form()->lblShowBookCover->pixmap(Qt::ReturnByValue)), nullCover);

        // A cover of a book no longer shown changes nothing but the details pane.
        const ItemComparePart gone(777777, 3);
        window->SetSingleInfoBookCover(gone);
        for (int i = 0; i < UserImageRefresher::MaxQueuedCovers; ++i)
            window->images().QueueImage(ItemComparePart(700000 + i, 1), false);
        QVERIFY(cover.save(window->images().GetImageFilePath(gone), "PNG"));
        const int tiles = window->findChildren<ClickableLabel *>().size();
        window->run_action_refresh_image_downloaded(true, QVariant(gone.uid), QVariant(gone.imageCompId));
        QCOMPARE(window->findChildren<ClickableLabel *>().size(), tiles);
        // The pane's cover is decoded at the pane's own size.
        QTRY_COMPARE(ImageOf(window->form()->lblShowBookCover->pixmap(Qt::ReturnByValue)).pixelColor(60, 80),
                     QColor(10, 200, 30));
    }

    void firstLoadStartsTheWorkers_data()
    {
        QTest::addColumn<bool>("succeeded");
        QTest::newRow("loaded") << true;
        QTest::newRow("failed") << false;
    }

    void firstLoadStartsTheWorkers()
    {
        QFETCH(bool, succeeded);
        MainWindow fresh(nullptr, false);
        QVERIFY(LoadCatalogue(fresh, path));
        QSignalSpy refreshed(&fresh.refresher(), &UserDataLoader::completed);
        Ui_MainWindow *ui = fresh.form();
        fresh.run_action_userDataLoaded(succeeded, false);
        // The folders are shown and the workers run, whatever the result.
        QCOMPARE(fresh.tree().model->rowCount(), fresh.folders().folders.size());
        QVERIFY(fresh.views().GetCount() > 0 && fresh.images().IsRunning() && fresh.timerCount()->isActive());
        QCOMPARE(fresh.timerCount()->interval(), 3000);
        QVERIFY(fresh.timerVersion()->isActive());
        QCOMPARE(fresh.informationBar()->isHidden(), succeeded);
        QCOMPARE(ui->action_Add_Filter->isEnabled(), succeeded);
        QCOMPARE(ui->action_StartSearch->isEnabled(), succeeded);
        QVERIFY(ui->action_Settings->isEnabled() && ui->action_Reresh_All_Data->isEnabled());
        // The refresh runs (and fails at the closed port).
        QTRY_COMPARE(refreshed.count(), 1);
    }

    void folderCommandsWaitForALoad()
    {
        // Nothing loaded (as after a failed first load): a failed refresh must not turn on the
        // commands that save the folders file, a successful one without folders neither.
        MainWindow fresh(nullptr, false);
        Ui_MainWindow *ui = fresh.form();
        for (bool refreshed : {false, true}) {
            fresh.run_action_userDataRefreshed(refreshed, false);
            for (QAction *action : {ui->action_Add_Category, ui->action_Add_Filter, ui->action_StartSearch})
                QVERIFY2(!action->isEnabled(), qPrintable(action->objectName()));
            QVERIFY(ui->action_Reresh_All_Data->isEnabled());
        }
    }

    void sizeText()
    {
        QCOMPARE(FormatBookSizeText(37, 2097152, true), QStringLiteral("(37 Pages / 2.00 MB)"));
        QCOMPARE(FormatBookSizeText(37, 2097152, false), QStringLiteral("37 Pages / 2.00 MB"));
        QCOMPARE(FormatBookSizeText(0, 512000, true), QStringLiteral("(500 KB)"));
        QCOMPARE(FormatBookSizeText(12, 0, true), QStringLiteral("(12 Pages)"));
        QCOMPARE(FormatBookSizeText(0, 0, true), QString());
        QCOMPARE(FormatBookSizeText(-3, -1, true), QString());
        QCOMPARE(VisibleStarCount(4.7f), 4); // 4.7f lies a little above 4.7
        QCOMPARE(VisibleStarCount(std::numeric_limits<float>::quiet_NaN()), 0);
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
        QCOMPARE(CheckAgeIconIndex(at1405.addSecs(-(2 * 86400 + 23 * 3600)), at1405), 0);
        QCOMPARE(CheckAgeIconIndex(at1405.addDays(1), at1405), 2);
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
            QVERIFY(!ui->action_ShowInfo_View_Prev->isEnabled() && !ui->action_ShowInfo_View_Next->isEnabled());
            QVERIFY(!ui->action_ShowInfo_Option_GoLink->isEnabled());
            QCOMPARE(ImageOf(ui->lblShowBookCover->pixmap(Qt::ReturnByValue)), nullCover);
        }
        // Catalogue texts are shown as they are, never read as markup.
        Select(3);
        QVERIFY(ui->lblShowBookName->textFormat() == Qt::PlainText && ui->lblShowBookCategory->textFormat() == Qt::PlainText);
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
        QVERIFY(menu && goLink->isEnabled());
        window->OnShowSingleBookInfoRightMenu(false, false, QPoint());
        QVERIFY(!goLink->isEnabled());
        menu->hide();
    }

private:
    void Select(qint64 id) { window->run_action_listview_item_selected(1, QVariant(id)); }
    void SetChecks(bool version, bool database, int minutes)
    {
        QWriteLocker locker(&window->settings().lock);
        window->settings().currentSettings.Check_NewVersion = version;
        window->settings().currentSettings.Check_NewDatabase = database;
        window->settings().currentSettings.Check_NewDatabase_Minutes = minutes;
    }



    QTemporaryDir dir;
    QString path;
    std::unique_ptr<MainWindow> window;
    QLabel *statusIcon = nullptr;
};

TESSALY_MAINWINDOW_TEST_MAIN(TestMainWindowStatus)
#include "test_mainwindow_status.moc"

