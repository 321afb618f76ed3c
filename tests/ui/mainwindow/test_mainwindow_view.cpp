// What the main window shows: the book list (paging, order, view), the details pane of the current
// book, and worker results (load results, status texts, the information bar, arriving covers, the
// new-version link, the timers). Every test gets a new window with the catalogue loaded.
#include "mainwindow/BookDetailsText.h"
#include "mainwindow/LabelTextFitter.h"
#include "test_mainwindow_fixture.h"

#include "catalogue/ItemBook.h"
#include "views/ClickableLabel.h"
#include "views/ExtendTreeView.h"
#include "UserImageRefresher.h"

#include <QHeaderView>
#include <QMovie>
#include <QSemaphore>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QThread>

#include <limits>

using namespace MainWindowTest;

// A column's expected sort value; a named type, since Qt wants meta-type names in normal form.
using SortValueOf = std::function<QVariant(const ItemBook &, const QString &rowText)>;
Q_DECLARE_METATYPE(SortValueOf)

namespace {

const QString kDown = QStringLiteral(" \u2193");
const QString kUp = QStringLiteral(" \u2191");
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

class TestMainWindowView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        KeepServicesLocal();
        QVERIFY(dir.isValid());
        path = dir.filePath(QStringLiteral("view.rfile"));
        const QStringList sql = {
            QStringLiteral("update published_bookinfo set OrgPrice = 0, BookPages = 37, BookSize = 2097152, "
                           "BookStars = 4.8, _CheckTimeGMT = strftime('%s', 'now') where UID = 2"),
            QStringLiteral("update published_bookinfo set BookName = '<b>Bold</b> & Co', BookCatalog = '<i>x</i>', "
                           "OrgPrice = 12.5, BookPages = 0, BookSize = 512000, BookStars = 1.5, "
                           "_CheckTimeGMT = strftime('%s', 'now') - 5 * 86400 where UID = 3")};
        QVERIFY(MakeCatalogue(path, 23, sql));
    }

    void init()
    {
        window = std::make_unique<MainWindow>(nullptr, false);
        QVERIFY(!window->IsConstructionFailed() && LoadCatalogue(*window, path));
        ui = window->form();
        all = FolderOfType(*window, AllBooks);
        ids = FolderBooks(*window, all);
    }

    void cleanup() { window.reset(); }

    void pagesOfTwentyThreeBooks()
    {
        ShowList(*window, 0, 10);
        QComboBox *combo = window->pageCombo();
        QCOMPARE(window->totalsLabel()->text(), QStringLiteral(" Total: 23 items (10 items per page) "));
        QVERIFY(combo->isEnabled() && combo->count() == 3 && combo->itemText(2) == QStringLiteral(" 3 / 3"));
        QVERIFY(ShowsPage(1) && !ui->widChildBookInfo->isHidden());
        // The built-in folder of all books can be neither removed nor edited.
        QVERIFY(!ui->action_ShowCategory_Option_RemoveFolder->isEnabled() && !ui->action_ShowCategory_Option_EditFolder->isEnabled());

        // The combo moves pages; filling it never does.
        PickFromPopup(combo, 1);
        QVERIFY(ShowsPage(2));
        // Choosing the current page again reloads it: its first book becomes current again.
        window->views().SelectEdge(true);
        QCOMPARE(window->views().GetCurrentIndex(), 9);
        PickFromPopup(combo, 1);
        QVERIFY(ShowsPage(2) && window->views().GetCurrentIndex() == 0);

        // The page after each command in turn: nothing goes before the first page or beyond the last.
        const QList<QPair<QAction *, int>> moves = {{ui->action_ShowInfo_Page_Prev_ContextMenu, 1},
            {ui->action_ShowInfo_Page_Prev, 1}, {ui->action_ShowInfo_Page_First, 1}, {ui->action_ShowInfo_Page_Next, 2},
            {ui->action_ShowInfo_Page_First, 1}, {ui->action_ShowInfo_Page_Last, 3}, {ui->action_ShowInfo_Page_Next, 3},
            {ui->action_ShowInfo_Page_Next_ContextMenu, 3}};
        for (const auto &move : moves) {
            move.first->trigger();
            QVERIFY2(ShowsPage(move.second), qPrintable(move.first->objectName()));
        }
        window->on_action_UserChangedTheCurrentPage(7);
        window->on_action_UserChangedTheCurrentPage(-1);
        QVERIFY(ShowsPage(3));
        QCOMPARE(Rows(), QList<QString>({QStringLiteral("21"), QStringLiteral("22"), QStringLiteral("23")}));
    }

    void orderDirections_data()
    {
        QTest::addColumn<QString>("order");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("ascending"); // when newly chosen
        QTest::addColumn<bool>("flips");     // when chosen again
        QTest::newRow("normal") << "None" << "Normal" << false << false;
        QTest::newRow("random") << "Random" << "Random" << false << true;
        QTest::newRow("event start") << "EventStartDate" << "Event Start Date" << false << false;
        QTest::newRow("publication") << "BookDate" << "Publication Date" << false << true;
        QTest::newRow("price") << "OrgPrice" << "Original Price" << false << true;
        QTest::newRow("rating") << "UserRating" << "User Rating" << false << true;
        QTest::newRow("pages") << "BookPages" << "Book Pages" << true << true;
        QTest::newRow("size") << "BookSize" << "File Size" << true << true;
    }

    void orderDirections()
    {
        QFETCH(QString, order);
        QFETCH(QString, caption);
        QFETCH(bool, ascending);
        QFETCH(bool, flips);
        ShowList(*window, 0, 10);
        const QList<QAction *> orders =
            window->findChildren<QAction *>(QRegularExpression(QStringLiteral("^action_ShowInfo_OrderBy_")));
        QAction *action = window->findChild<QAction *>(QStringLiteral("action_ShowInfo_OrderBy_") + order);
        QAction *other = ui->action_ShowInfo_OrderBy_Random == action ? ui->action_ShowInfo_OrderBy_BookSize
                                                                       : ui->action_ShowInfo_OrderBy_Random;
        // Newly chosen, chosen again twice, newly chosen after another: exactly one order is checked,
        // and only it carries its arrow.
        const QList<QPair<bool, bool>> steps = {{true, ascending}, {false, flips != ascending}, {false, ascending},
                                                {true, ascending}};
        for (const auto &[newlyChosen, up] : steps) {
            if (newlyChosen)
                other->trigger();
            action->trigger();
            for (QAction *each : orders) {
                const QString text = each->text();
                QCOMPARE(each->isChecked(), each == action);
                if (each == action)
                    QCOMPARE(text, caption + (up ? kUp : kDown));
                else
                    QVERIFY2(!text.endsWith(kUp) && !text.endsWith(kDown), qPrintable(text));
            }
            QReadLocker locker(&window->page().lock);
            QCOMPARE(window->page().ascending, up);
        }
    }

    void bookMovesCrossPages_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("fromLast"); // the move starts at the page's last book, else its first
        QTest::addColumn<bool>("forward");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("endPage");
        QTest::addColumn<int>("endBook"); // index in the folder
        QTest::newRow("next page") << 2 << true << true << true << 3 << 20;
        QTest::newRow("previous page") << 3 << false << false << true << 2 << 19;
        QTest::newRow("inside a page") << 3 << true << false << true << 3 << 21;
        QTest::newRow("before the first") << 1 << false << false << false << 1 << 0;
        QTest::newRow("after the last") << 3 << true << true << false << 3 << 22;
    }

    void bookMovesCrossPages()
    {
        QFETCH(int, page);
        QFETCH(bool, fromLast);
        QFETCH(bool, forward);
        QFETCH(int, endBook);
        ShowList(*window, 0, 10);
        window->on_action_UserChangedTheCurrentPage(page - 1);
        window->views().SelectEdge(fromLast);
        QAction *move = forward ? ui->action_ShowInfo_View_Next : ui->action_ShowInfo_View_Prev;
        QTEST(move->isEnabled(), "enabled");
        move->trigger();
        QTEST(window->page().GetCurrentPage(), "endPage");
        QCOMPARE(window->views().GetCurrentItem().toLongLong(), ids.at(endBook));
        QCOMPARE(ui->lblShowBookName->text(), Book(ids.at(endBook)).name);
    }

    void viewSwitchKeepsThePage()
    {
        ShowList(*window, 0, 10);
        // Page sizes out of range are clamped when the list is sorted again.
        SetPageSizes(*window, 3, 1000);
        ui->action_ShowInfo_Page_Next->trigger();

        ui->action_ShowInfo_View_Covers->trigger();
        QVERIFY(window->views().IsImageView() && ui->action_ShowInfo_View_Covers->isChecked()
                && !ui->action_ShowInfo_View_Details->isChecked());
        QCOMPARE(window->page().GetCurrentPage(), 2);
        QCOMPARE(window->views().GetCount(), 10);
        // A re-sort takes the covers view's page size.
        ui->action_ShowInfo_View_Refresh->trigger();
        QCOMPARE(window->page().GetCurrentPage(), 1);
        QVERIFY(window->views().GetCount() == 5 && window->pageCombo()->itemText(4) == QStringLiteral(" 5 / 5"));
        QCOMPARE(window->totalsLabel()->text(), QStringLiteral(" Total: 23 items (5 items per page) "));
        // Triggering the checked view keeps it checked.
        ui->action_ShowInfo_View_Covers->trigger();
        QVERIFY(ui->action_ShowInfo_View_Covers->isChecked());

        ui->action_ShowInfo_View_Details->trigger();
        ui->action_ShowInfo_View_Refresh->trigger();
        QCOMPARE(window->totalsLabel()->text(), QStringLiteral(" Total: 23 items (210 items per page) "));
        QVERIFY(window->views().GetCount() == 23 && window->pageCombo()->count() == 1);
    }

    void detailsColumnsSortByValue_data()
    {
        // The value each column must sort by, read from the book of the row.
        using Value = SortValueOf;
        const auto time = [](const QDateTime &when) { return when.isValid() ? when.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min(); };
        QTest::addColumn<int>("column");
        QTest::addColumn<Value>("value");
        QTest::addColumn<int>("reload"); // then: 0 the page picked again, 1 an order button, 2 Refresh
        QTest::newRow("No.") << 0 << Value([](const ItemBook &, const QString &row) { return row.toInt(); }) << 0;
        QTest::newRow("event start") << 1 << Value([=](const ItemBook &b, const QString &) { return time(b.firstPubTime); }) << 1;
        QTest::newRow("price") << 2 << Value([](const ItemBook &b, const QString &) { return double(b.orgPrice); }) << 2;
        QTest::newRow("rating") << 3 << Value([](const ItemBook &b, const QString &) { return double(b.stars); }) << 0;
        QTest::newRow("name") << 6 << Value([](const ItemBook &b, const QString &) { return b.name; }) << 1;
        QTest::newRow("publication") << 7 << Value([=](const ItemBook &b, const QString &) { return time(b.bookDate); }) << 2;
        QTest::newRow("pages") << 8 << Value([](const ItemBook &b, const QString &) { return b.pages; }) << 0;
        QTest::newRow("size") << 9 << Value([](const ItemBook &b, const QString &) { return b.size; }) << 1;
    }

    void detailsColumnsSortByValue()
    {
        QFETCH(int, column);
        QFETCH(SortValueOf, value);
        QFETCH(int, reload);
        ShowList(*window, 0, 10);
        // The list in sight, as after the first load. Page 1, where row 10 sorts apart from its text.
        ui->MainContainer->show();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const QList<qint64> page = RowIds();
        QHeaderView *header = window->views().detailsView->header();
        for (int click = 0; click < 2; ++click) {
            const QPoint centre(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, 5);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
            QCOMPARE(header->sortIndicatorSection(), column);
            // Only the rows of the page take part.
            const QList<qint64> rows = RowIds();
            const QList<QString> texts = Rows();
            QCOMPARE(QSet<qint64>(rows.cbegin(), rows.cend()), QSet<qint64>(page.cbegin(), page.cend()));
            const bool ascending = header->sortIndicatorOrder() == Qt::AscendingOrder;
            for (int row = 1; row < rows.size(); ++row) {
                QVariant before = value(Book(rows.at(row - 1)), texts.at(row - 1));
                QVariant after = value(Book(rows.at(row)), texts.at(row));
                if (!ascending)
                    std::swap(before, after);
                const bool ordered = before.type() == QVariant::String ? before.toString() <= after.toString()
                                                                        : before.toDouble() <= after.toDouble();
                QVERIFY2(ordered, qPrintable(texts.at(row - 1) + QStringLiteral(" / ") + texts.at(row)));
            }
        }
        // Reloaded, the rows are in the folder's order again and no arrow claims otherwise.
        const std::function<void()> reloads[] = {[&] { window->on_action_UserChangedTheCurrentPage(0); },
                                                 [&] { ui->action_ShowInfo_OrderBy_None->trigger(); },
                                                 [&] { ui->action_ShowInfo_View_Refresh->trigger(); }};
        reloads[reload]();
        QCOMPARE(RowIds(), page);
        QCOMPARE(header->sortIndicatorSection(), -1);
    }

    void addedFolderIsSelectedWhileTheCallerHoldsTheStore()
    {
        ShowList(*window, 0, 10);
        DisplayFolder *folder = DisplayFolder::CreateBuiltinFolder(FilterFolder, QStringLiteral("Added"));
        folder->bookIds = {3, 4, 5};
        {
            // A command adds the folder under its write token and asks for it to be shown; showing
            // it reads the store, so it waits until the command has let the token go.
            QWriteLockerExt2 token(&window->folders().lock);
            QVERIFY(window->folders().AddFolder(folder, token));
            window->Add_AddItemToTreeView(folder, -1, token, true, true);
            QVERIFY(!window->folders().lock.tryLockForRead() && window->CurrentFolderId().toUuid() != folder->uid);
        }
        QTRY_COMPARE(window->CurrentFolderId().toUuid(), folder->uid);
        QCOMPARE(RowIds(), QList<qint64>({3, 4, 5}));
        QVERIFY(ui->action_ShowCategory_Option_EditFolder->isEnabled());

        // Added again while current, with reload: shown again from its first book.
        for (const QList<qint64> &books : {QList<qint64>({6}), QList<qint64>()}) {
            folder->bookIds = books;
            {
                QReadLockerExt2 token(0, &window->folders().lock);
                const int row = window->tree().FindFolderIndex(folder->uid).row();
                window->Add_AddItemToTreeView(folder, row, token, true, true);
            }
            QTRY_COMPARE(RowIds(), books);
            QCOMPARE(window->totalsLabel()->text(),
                     QStringLiteral(" Total: %1 (10 items per page) ").arg(books.isEmpty() ? "0 items" : "1 item"));
        }
        QCOMPARE(window->tree().model->rowCount(), window->folders().folders.size());
    }

    void pageLoadNeverWaitsForStoreReaders_data()
    {
        QTest::addColumn<bool>("catalogue");
        QTest::newRow("folder store (a save)") << false;
        QTest::newRow("catalogue store (a computation)") << true;
    }

    void pageLoadNeverWaitsForStoreReaders()
    {
        QFETCH(bool, catalogue);
        ShowList(*window, 0, 10);
        // A long reader of a store (saving the folders file, computing folders) must not hold up
        // a re-sort of the list.
        QReadWriteLock *lock = catalogue ? &window->folders().items->lock : &window->folders().lock;
        QSemaphore holding;
        QAtomicInt released;
        std::unique_ptr<QThread> reader(QThread::create([lock, &holding, &released] {
            QReadLockerExt2 token(0, lock);
            holding.release();
            QThread::msleep(1000);
            released.storeRelease(1);
        }));
        reader->start();
        holding.acquire();
        ui->action_ShowInfo_OrderBy_BookPages->trigger();
        QCOMPARE(released.loadAcquire(), 0);
        QVERIFY(reader->wait(5000));
        QCOMPARE(RowIds().size(), 10);
    }

    void loadErrorTable_data()
    {
        QTest::addColumn<int>("lastError");
        QTest::addColumn<int>("serverAnswer");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("withLink");
        QTest::addColumn<bool>("reloadSentence");

        const QString write = QStringLiteral("Failed to write configuration files...");
        QTest::newRow("profiles") << 1 << 3
            << QStringLiteral("Failed to read user profiles. Perhaps it is in use or locked by other programs.") << false << true;
        QTest::newRow("upgrade") << 3 << 3 << QStringLiteral("New database files no longer support your current software "
                                                             "version. Click here to upgrade the software.") << true << false;
        QTest::newRow("download") << 3 << 1 << QStringLiteral("Failed to load the latest free ebooks database.") << false << true;
        QTest::newRow("pointer") << 4 << 0 << write << false << false;
        QTest::newRow("compute") << 5 << 3 << write << false << false;
        QTest::newRow("in use") << 101 << 0 << QStringLiteral("The software cannot access the database file because it is "
                                                              "being used by another program.") << false << true;
        QTest::newRow("unknown") << 77 << 0 << QStringLiteral("Failed to refresh the database.") << false << true;
    }

    void loadErrorTable()
    {
        QFETCH(int, lastError);
        QFETCH(int, serverAnswer);
        QFETCH(QString, message);
        QFETCH(bool, withLink);
        QFETCH(bool, reloadSentence);
        QLabel *icon = StatusIcon();
        for (UserDataLoader *loader : {&window->loader(), static_cast<UserDataLoader *>(&window->refresher())}) {
            QWriteLocker locker(&loader->dataLock);
            loader->lastError = lastError;
            loader->serverAnswer = serverAnswer;
        }
        for (bool check : {true, false}) {
            SetChecks(check, 120);
            const bool retryExpected = reloadSentence && check;
            const QString text = QStringLiteral("Error: ") + message
                                 + (reloadSentence ? (check ? kReloadLater : kReloadByHand) : QString());
            // A link is red in the status bar only; a message without one tells its time.
            const auto shows = [&](QLabel *label, bool red) {
                const QString shown = label->text();
                QCOMPARE(label->textFormat(), withLink ? Qt::RichText : Qt::PlainText);
                QVERIFY2(withLink ? shown.contains(QStringLiteral("href='%1'").arg(Const::DownloadUrlWithInfo))
                                        && shown.contains(text.toHtmlEscaped()) && label->openExternalLinks()
                                        && shown.contains(QStringLiteral("color:red")) == red
                                  : IsTextWithTime(shown, text), qPrintable(shown));
            };

            // A first load reports into the yellow bar.
            bool retry = !retryExpected;
            window->OnShowDBLoadResult(false, &window->loader(), true, retry);
            QVERIFY(retry == retryExpected && !window->informationBar()->isHidden());
            shows(window->infoText(), false);
            window->on_action_hide_main_informationbar();
            QVERIFY(window->informationBar()->isHidden());

            // A refresh reports into the status bar, with the stop icon, and arms the retry.
            window->SetEnabledLocalRetry(!retryExpected);
            window->on_action_userDataRefreshed(false, false);
            QCOMPARE(window->timerRetry()->isActive(), retryExpected);
            QVERIFY(!window->statusText()->isHidden() && window->informationBar()->isHidden());
            shows(window->statusText(), true);
            QVERIFY(!icon->isHidden() && !icon->movie());
            QCOMPARE(ImageOf(icon->pixmap(Qt::ReturnByValue)), ImageOf(QPixmap(QStringLiteral(":/local/images/16/stop.png"))));
        }
    }

    void newVersionIsEscapedAndShownOnce()
    {
        QLabel *label = window->versionLabel();
        QVERIFY(label->isHidden());
        window->run_action_show_new_version(QStringLiteral("<img src=x>9.9&amp;"));
        const QString html = label->text();
        QVERIFY(!label->isHidden() && label->textFormat() == Qt::RichText);
        QVERIFY2(html.contains(QStringLiteral("New Update Available: &lt;img src=x&gt;9.9&amp;amp;"))
                     && !html.contains(QStringLiteral("<img")) && html.contains(QStringLiteral("color:red"))
                     && html.contains(QStringLiteral("href='%1'").arg(Const::DownloadUrlWithInfo)), qPrintable(html));
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
        ui->action_ShowInfo_Page_Next->trigger();
        window->OnShowSingleBookInfoRightMenu(false, true, QPoint());
        QVERIFY(window->page().GetCurrentPage() == 2 && ui->action_ShowInfo_Page_Prev_ContextMenu->isEnabled());

        // A refresh recomputed the folder of all books behind the window's back.
        {
            QWriteLockerExt2 token(&window->folders().lock);
            DisplayFolder *folder = window->folders().FindFolder(all, token);
            QVERIFY(folder);
            folder->bookIds = {12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
            folder->calcBookCount = folder->bookIds.size();
            folder->UpdateCaptionWithCount();
        }
        window->SetMainInformationText(QStringLiteral("Error"), QString());
        window->on_action_userDataRefreshed(true, true);
        QVERIFY(window->informationBar()->isHidden());
        QCOMPARE(window->tree().model->itemFromIndex(window->tree().FindFolderIndex(all))->text(),
                 QStringLiteral("All Tessaly (12 Books)"));
        QCOMPARE(window->page().GetCurrentPage(), 1);
        QCOMPARE(window->totalsLabel()->text(), QStringLiteral(" Total: 12 items (10 items per page) "));
        QCOMPARE(window->views().GetCurrentItem().toLongLong(), 12LL);
        QVERIFY(!ui->action_ShowInfo_Page_Prev_ContextMenu->isEnabled());
        QVERIFY(ui->action_ShowInfo_Page_Next_ContextMenu->isEnabled());
    }

    void arrivingCovers()
    {
        ShowList(*window, 1, 5);
        QList<ItemComparePart> pending;
        {
            QReadLocker locker(&window->views().lock);
            pending = window->views().pendingCovers;
        }
        QVERIFY(window->views().IsImageView() && pending.size() >= 3);
        // Other covers push the page's ones out of the queue, as if their downloads had ended.
        for (int i = 0; i < UserImageRefresher::MaxQueuedCovers; ++i)
            window->images().QueueImage(ItemComparePart(800000 + i, 1), false);
        QVERIFY(!window->images().IsImagePending(pending.at(0)));

        const auto tile = [this](const ItemComparePart &key) {
            const QList<ClickableLabel *> tiles = window->findChildren<ClickableLabel *>();
            const auto it = std::find_if(tiles.cbegin(), tiles.cend(), [&](ClickableLabel *label) { return label->key == key; });
            return it == tiles.cend() ? QImage() : ImageOf((*it)->pixmap(Qt::ReturnByValue));
        };
        const auto pane = [this] { return ImageOf(ui->lblShowBookCover->pixmap(Qt::ReturnByValue)); };
        const QImage loading = ImageOf(QPixmap(QStringLiteral(":/local/images/other/loadingcover-218.png")));
        const QImage nullCover = ImageOf(QPixmap(QStringLiteral(":/local/images/other/nullcover-218.png")));

        // A downloaded cover replaces the loading picture of its tile once it is decoded, which
        // happens off the GUI thread.
        QImage cover(120, 160, QImage::Format_ARGB32);
        cover.fill(QColor(10, 200, 30));
        const ItemComparePart key = pending.at(0);
        QVERIFY(cover.save(window->images().GetImageFilePath(key), "PNG"));
        QCOMPARE(tile(key), loading);
        window->on_action_refresh_image_downloaded(true, QVariant(key.uid), QVariant(key.imageCompId));
        QCOMPARE(tile(key), loading);
        QTRY_COMPARE(tile(key).size(), cover.size());
        QCOMPARE(tile(key).pixelColor(60, 80), QColor(10, 200, 30));

        // A cover shown both in its tile and in the details pane (both 218 px) reaches both, and
        // then the decoder rests: one taker must not starve the other into decoding it forever.
        const ItemComparePart both = pending.at(2);
        QVERIFY(cover.save(window->images().GetImageFilePath(both), "PNG"));
        window->SetSingleInfoBookCover(both);
        window->on_action_refresh_image_downloaded(true, QVariant(both.uid), QVariant(both.imageCompId));
        QTRY_COMPARE(tile(both).size(), cover.size());
        QTRY_COMPARE(pane().size(), cover.size());
        QSignalSpy decodes(&window->images(), &UserImageRefresher::decoded);
        QTest::qWait(300);
        for (const QList<QVariant> &decode : qAsConst(decodes))
            QVERIFY(decode.at(0).toLongLong() != both.uid);

        // A failed download shows "no cover" there, and in the details pane when it shows that book.
        const ItemComparePart failed = pending.at(1);
        window->SetSingleInfoBookCover(failed);
        QCOMPARE(pane(), loading);
        window->on_action_refresh_image_downloaded(false, QVariant(failed.uid), QVariant(failed.imageCompId));
        QVERIFY(tile(failed) == nullCover && pane() == nullCover);

        // A cover of a book no longer shown changes nothing but the details pane.
        const ItemComparePart gone(777777, 3);
        window->SetSingleInfoBookCover(gone);
        for (int i = 0; i < UserImageRefresher::MaxQueuedCovers; ++i)
            window->images().QueueImage(ItemComparePart(700000 + i, 1), false);
        QVERIFY(cover.save(window->images().GetImageFilePath(gone), "PNG"));
        const int tiles = window->findChildren<ClickableLabel *>().size();
        window->on_action_refresh_image_downloaded(true, QVariant(gone.uid), QVariant(gone.imageCompId));
        QCOMPARE(window->findChildren<ClickableLabel *>().size(), tiles);
        // The pane's cover is decoded at the pane's own size.
        QTRY_COMPARE(pane().pixelColor(60, 80), QColor(10, 200, 30));
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
        QVERIFY(StatusIcon() && window->informationBar()->isHidden() && window->statusText()->isHidden());
        QVERIFY(!window->timerRetry()->isActive() && window->timerRetry()->interval() == 300000);
        QSignalSpy refreshed(&window->refresher(), &UserDataLoader::completed);
        window->on_action_userDataLoaded(succeeded, false);
        // The folders are shown and the workers run, whatever the result.
        QCOMPARE(window->tree().model->rowCount(), window->folders().folders.size());
        QVERIFY(window->views().GetCount() > 0 && window->images().IsRunning() && window->timerVersion()->isActive());
        QVERIFY(window->timerCount()->isActive() && window->timerCount()->interval() == 3000);
        QVERIFY(window->informationBar()->isHidden() == succeeded && ui->action_Add_Filter->isEnabled() == succeeded);
        QCOMPARE(ui->action_StartSearch->isEnabled(), succeeded);
        QVERIFY(ui->action_Settings->isEnabled() && ui->action_Reresh_All_Data->isEnabled());
        // The refresh runs (and fails at the closed port).
        QTRY_COMPARE(refreshed.count(), 1);
        QCOMPARE(window->timerVersion()->interval(), 2 * 3600 * 1000);
        // Hand-edited intervals are kept between ten minutes and a week: none refreshes in a loop.
        const QList<QPair<int, int>> intervals = {{-4, 10}, {9, 10}, {11, 11}, {10079, 10079}, {10081, 10080}};
        for (const auto &[minutes, applied] : intervals) {
            SetChecks(true, minutes);
            window->OnRecheckAutoInvokeEvents();
            QCOMPARE(window->timerDatabase()->interval(), applied * 60000);
        }
    }

    void folderCommandsWaitForALoad()
    {
        // Nothing loaded (as after a failed first load): a failed refresh must not turn on the
        // commands that save the folders file, a successful one without folders neither.
        MainWindow fresh(nullptr, false);
        Ui_MainWindow *form = fresh.form();
        for (bool refreshed : {false, true}) {
            fresh.on_action_userDataRefreshed(refreshed, false);
            for (QAction *action : {form->action_Add_Category, form->action_Add_Filter, form->action_StartSearch})
                QVERIFY2(!action->isEnabled(), qPrintable(action->objectName()));
            QVERIFY(form->action_Reresh_All_Data->isEnabled());
        }
    }

    void detailsTexts()
    {
        QCOMPARE(FormatBookSizeText(37, 2097152, true), QStringLiteral("(37 Pages / 2.00 MB)"));
        QCOMPARE(FormatBookSizeText(37, 2097152, false), QStringLiteral("37 Pages / 2.00 MB"));
        QCOMPARE(FormatBookSizeText(0, 512000, true), QStringLiteral("(500 KB)"));
        QCOMPARE(FormatBookSizeText(12, 0, true), QStringLiteral("(12 Pages)"));
        QCOMPARE(FormatBookSizeText(0, 0, true), QString());
        QCOMPARE(FormatBookSizeText(-3, -1, true), QString());
        // Stars shown: none below two, whole stars, five above 4.7 (4.7f lies a little below 4.7).
        const QList<QPair<float, int>> stars = {{1.99f, 0}, {2.0f, 2}, {4.7f, 4}, {4.71f, 5},
                                                {std::numeric_limits<float>::quiet_NaN(), 0}};
        for (const auto &[rating, shown] : stars)
            QCOMPARE(VisibleStarCount(rating), shown);

        const QDate today(2026, 12, 5);
        const QDateTime at1405(today, QTime(14, 5));
        QCOMPARE(FormatRelativeDateTime(at1405, today), QStringLiteral("Today (14:05:00 UTC)"));
        QCOMPARE(FormatRelativeDateTime(QDateTime(today.addDays(-1), QTime(23, 59, 59)), today),
                 QStringLiteral("Yesterday (23:59:59 UTC)"));
        // Tomorrow is neither today nor yesterday.
        QCOMPARE(FormatRelativeDateTime(QDateTime(today.addDays(1), QTime(8, 0)), today), QStringLiteral("6 Dec 2026 08:00:00"));
        QCOMPARE(FormatRelativeDateTime(QDateTime(), today), QString());
        // The check-age icon by whole days ago: up to 2, from 3 to 7, beyond (or in the future).
        const QList<QPair<qint64, int>> ages = {{2 * 86400 + 86399, 0}, {3 * 86400, 1}, {8 * 86400 - 1, 1},
                                                {8 * 86400, 2}, {-86400, 2}};
        for (const auto &[secondsAgo, icon] : ages)
            QVERIFY2(CheckAgeIconIndex(at1405.addSecs(-secondsAgo), at1405) == icon, qPrintable(QString::number(secondsAgo)));

        // Two lines of 100 px: a text that fits is kept, others are broken inside words and cut with "…".
        const QFont font;
        QCOMPARE(LabelTextFitter::Fitted(QStringLiteral("A B\nC"), font, 100, 2), QStringLiteral("A B\nC"));
        for (const QString &text : {QString(70000, QLatin1Char('x')), QStringLiteral("a\nb\nc"), QStringLiteral("w ").repeated(200)}) {
            const QStringList lines = LabelTextFitter::Fitted(text, font, 100, 2).split(QLatin1Char('\n'));
            QVERIFY2(lines.size() == 2 && lines.last().endsWith(QChar(0x2026)), qPrintable(lines.join('|')));
            for (const QString &line : lines)
                QVERIFY(QFontMetrics(font).horizontalAdvance(line) <= 100);
        }
    }

    void detailsPane_data()
    {
        QTest::addColumn<QVariant>("id");
        QTest::addColumn<QStringList>("texts"); // original price, price, size; none: the pane is hidden
        QTest::addColumn<int>("stars");
        QTest::addColumn<QString>("icon"); // by the age of the book's last check
        QTest::newRow("free, checked today") << QVariant(2) << QStringList{"", "Free ", "(37 Pages / 2.00 MB)"} << 5 << "go";
        QTest::newRow("priced, checked 5 days ago") << QVariant(3) << QStringList{"$12.50", " Free ", "(500 KB)"} << 0 << "info";
        for (const QVariant &id : {QVariant(qint64(99999)), QVariant(0), QVariant(-5), QVariant()})
            QTest::newRow(qPrintable("unknown " + id.toString())) << id << QStringList() << 0 << "";
    }

    void detailsPane()
    {
        QFETCH(QVariant, id);
        QFETCH(QStringList, texts);
        QFETCH(int, stars);
        QFETCH(QString, icon);
        Select(1);
        QVERIFY(!ui->widChildBookInfo->isHidden());
        window->run_action_listview_item_selected(1, id);
        QCOMPARE(ui->widChildBookInfo->isHidden(), texts.isEmpty());
        if (texts.isEmpty()) {
            QVERIFY(!ui->action_ShowInfo_View_Prev->isEnabled() && !ui->action_ShowInfo_View_Next->isEnabled()
                    && !ui->action_ShowInfo_Option_GoLink->isEnabled());
            QCOMPARE(ImageOf(ui->lblShowBookCover->pixmap(Qt::ReturnByValue)),
                     ImageOf(QPixmap(QStringLiteral(":/local/images/other/nullcover-218.png"))));
            return;
        }
        QCOMPARE(QStringList({ui->lblShowBookPriceOrg->text(), ui->lblShowBookPriceCurrent->text(), ui->lblShowBookSize->text()}), texts);
        int shown = 0;
        for (QLabel *star : {ui->lblShowBookStars1, ui->lblShowBookStars2, ui->lblShowBookStars3, ui->lblShowBookStars4, ui->lblShowBookStars5})
            shown += ui->lblShowBookStarsAll->isHidden() ? 0 : !star->isHidden();
        QCOMPARE(shown, stars);
        QCOMPARE(ImageOf(ui->lblShowBookStateIcon->pixmap(Qt::ReturnByValue)),
                 ImageOf(QPixmap(QStringLiteral(":/local/images/16/%1-small.png").arg(icon))));
        // Catalogue texts are shown as they are, never read as markup.
        QVERIFY(ui->lblShowBookName->textFormat() == Qt::PlainText && ui->lblShowBookCategory->textFormat() == Qt::PlainText);
    }

    void detailsPaneLongTexts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("categories");
        QTest::addColumn<QString>("description");
        // Near the store's cut of a text field; a run without spaces has no place to wrap.
        const QString run(65000, QLatin1Char('x'));
        const QString words = QStringLiteral("word ").repeated(13000);
        QTest::newRow("name without spaces") << run << QStringLiteral("Fiction") << QStringLiteral("Short.");
        QTest::newRow("categories without spaces") << QStringLiteral("Short") << run << QStringLiteral("Short.");
        QTest::newRow("all long") << words << run << run;
    }

    void detailsPaneLongTexts()
    {
        QFETCH(QString, name);
        QFETCH(QString, categories);
        QFETCH(QString, description);
        ShowList(*window, 0, 10);
        ui->MainContainer->show();
        window->resize(1400, 710);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        Select(3);
        QTest::qWait(20);
        // Shown in full while they fit.
        QCOMPARE(ui->lblShowBookName->text(), Book(3).name);
        QCOMPARE(ui->lblShowBookCategory->text(), Book(3).catalogNames);
        const QSize size = window->size();
        const QRect cover = ui->lblShowBookCover->geometry();
        {
            QWriteLockerExt2 token(&window->folders().items->lock);
            ItemBook *book = window->folders().items->GetBook(2, token);
            QVERIFY(book);
            book->name = name;
            book->catalogNames = categories;
            book->introLong = description;
        }
        // Also while the window is hidden, as in the tray, and shown again.
        for (bool hidden : {false, true}) {
            window->setVisible(!hidden);
            Select(2);
            window->show();
            QTest::qWait(20);
            QCOMPARE(window->size(), size);
            QCOMPARE(ui->lblShowBookCover->geometry(), cover);
            // Every row within the pane and shown whole, the description with room for two lines.
            const QRect pane = ui->widChildBookInfo->rect();
            QVERIFY(QRect(QPoint(), size).contains(QRect(ui->widChildBookInfo->mapTo(window.get(), QPoint()), pane.size())));
            for (QLabel *label : {ui->lblShowBookName, ui->lblShowBookCategory, ui->lblShowBookDate, ui->lblShowBookSize})
                QVERIFY2(label->isVisible() && pane.contains(label->geometry())
                             && label->height() >= label->heightForWidth(label->width()),
                         qPrintable(label->objectName()));
            QVERIFY(ui->lblShowBookStarsAll->isVisible() && pane.contains(ui->lblShowBookStarsAll->geometry()));
            QVERIFY(pane.contains(ui->lblShowBookIntroLong->geometry())
                    && ui->lblShowBookIntroLong->height() >= 2 * ui->lblShowBookIntroLong->fontMetrics().lineSpacing());
        }
    }

    void contextMenuEntries()
    {
        QAction *goLink = ui->action_ShowInfo_Option_GoLink_ContextMenu;
        QAction *prev = ui->action_ShowInfo_Page_Prev_ContextMenu;
        QAction *next = ui->action_ShowInfo_Page_Next_ContextMenu;
        // The link entry, the selection, the previous and the next page entries.
        const QList<std::array<bool, 4>> cases = {{true, true, false, true}, {true, false, true, false},
                                                  {false, true, true, true}, {false, false, false, false}};
        for (const auto &[linkEnabled, selected, prevEnabled, nextEnabled] : cases) {
            ui->action_ShowInfo_Option_GoLink->setEnabled(linkEnabled);
            ui->action_ShowInfo_Page_Prev->setEnabled(prevEnabled);
            ui->action_ShowInfo_Page_Next->setEnabled(nextEnabled);
            window->OnShowSingleBookInfoRightMenu(false, selected, QPoint());
            QCOMPARE(goLink->isEnabled(), linkEnabled && selected);
            QVERIFY(prev->isEnabled() == prevEnabled && next->isEnabled() == nextEnabled);
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
    // Page, the combo's choice, the first/previous/next/last commands and the rows: 23 books, 10 a page.
    bool ShowsPage(int page) const
    {
        const QList<bool> commands = {ui->action_ShowInfo_Page_First->isEnabled(), ui->action_ShowInfo_Page_Prev->isEnabled(),
                                      ui->action_ShowInfo_Page_Next->isEnabled(), ui->action_ShowInfo_Page_Last->isEnabled()};
        return window->page().GetCurrentPage() == page && window->pageCombo()->currentIndex() == page - 1
               && commands == QList<bool>({page > 1, page > 1, page < 3, page < 3})
               && RowIds() == ids.mid(10 * (page - 1), 10);
    }

    // The first column of the details view's rows: its texts, or its book ids.
    template <typename T = QString>
    QList<T> Rows(int role = Qt::DisplayRole) const
    {
        QList<T> values;
        QStandardItemModel *model = window->views().detailsView->itemModel();
        for (int row = 0; row < model->rowCount(); ++row)
            values << model->item(row, 0)->data(role).value<T>();
        return values;
    }
    QList<qint64> RowIds() const { return Rows<qint64>(ExtendTreeView::IdRole); }

    ItemBook Book(qint64 id)
    {
        QWriteLockerExt2 token(&window->folders().items->lock);
        ItemBook *book = window->folders().items->GetBook(id, token);
        return book ? *book : ItemBook();
    }

    // The busy animation's label is the status icon.
    QLabel *StatusIcon() const
    {
        const QList<QLabel *> labels = ui->statusBar->findChildren<QLabel *>();
        const auto it = std::find_if(labels.cbegin(), labels.cend(), [](QLabel *label) { return label->movie(); });
        return it == labels.cend() ? nullptr : *it;
    }

    void Select(qint64 id) { window->run_action_listview_item_selected(1, QVariant(id)); }
    void SetChecks(bool database, int minutes)
    {
        QWriteLocker locker(&window->settings().lock);
        window->settings().currentSettings.Check_NewDatabase = database;
        window->settings().currentSettings.Check_NewDatabase_Minutes = minutes;
    }

    QTemporaryDir dir;
    QString path;
    std::unique_ptr<MainWindow> window;
    Ui_MainWindow *ui = nullptr;
    QUuid all;
    QList<qint64> ids;
};

TESSALY_MAINWINDOW_TEST_MAIN(TestMainWindowView)
#include "test_mainwindow_view.moc"
