// Book list of the main window: folder selection, paging, order and view.
#include "test_mainwindow_fixture.h"
#include "ui_mainwindow.h"

#include "views/ExtendTreeView.h"
#include "catalogue/ItemBook.h"

#include <QHeaderView>
#include <QSemaphore>
#include <QStandardItemModel>
#include <QThread>

#include <limits>

using namespace MainWindowTest;

// A column's expected sort value; a named type, since Qt wants meta-type names in normal form.
using SortValueOf = std::function<QVariant(const ItemBook &, const QString &rowText)>;
Q_DECLARE_METATYPE(SortValueOf)

namespace {

const QString kDown = QStringLiteral(" \u2193");
const QString kUp = QStringLiteral(" \u2191");

} // namespace

class TestMainWindowList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        cataloguePath = dir.filePath(QStringLiteral("list.rfile"));
        QVERIFY(MakeCatalogue(cataloguePath, 23));
    }

    void init()
    {
        window = std::make_unique<MainWindow>(nullptr, false);
        QVERIFY(!window->IsConstructionFailed() && LoadCatalogue(*window, cataloguePath));
        all = FolderOfType(*window, AllBooks);
        QVERIFY(!all.isNull());
        QCOMPARE(FolderBooks(*window, all).size(), 23);
    }

    void cleanup() { window.reset(); }

    void pagesOfTwentyThreeBooks()
    {
        ShowList(*window, 0, 10);
        Ui_MainWindow *ui = window->form();
        QComboBox *combo = window->pageCombo();
        const QList<qint64> ids = FolderBooks(*window, all);

        QCOMPARE(window->totalsLabel()->text(), QStringLiteral(" Total: 23 items (10 items per page) "));
        QCOMPARE(ComboTexts(combo), QStringList({QStringLiteral(" 1 / 3"), QStringLiteral(" 2 / 3"), QStringLiteral(" 3 / 3")}));
        QVERIFY(combo->isEnabled() && combo->currentIndex() == 0);
        QCOMPARE(PageCommands(), QList<bool>({false, false, true, true}));
        QCOMPARE(RowIds(), ids.mid(0, 10));
        QVERIFY(!ui->widChildBookInfo->isHidden());
        // The built-in folder of all books can be neither removed nor edited.
        QVERIFY(!ui->action_ShowCategory_Option_RemoveFolder->isEnabled() && !ui->action_ShowCategory_Option_EditFolder->isEnabled());

        ui->action_ShowInfo_Page_Last->trigger();
        QCOMPARE(CurrentPage(), 3);
        QCOMPARE(RowTexts(), QStringList({QStringLiteral("21"), QStringLiteral("22"), QStringLiteral("23")}));
        QCOMPARE(RowIds(), ids.mid(20));
        QCOMPARE(combo->currentIndex(), 2);
        QCOMPARE(PageCommands(), QList<bool>({true, true, false, false}));
        // Nothing beyond the last page.
        ui->action_ShowInfo_Page_Next->trigger();
        ui->action_ShowInfo_Page_Next_ContextMenu->trigger();
        QCOMPARE(CurrentPage(), 3);

        // The combo moves pages; filling it never does.
        PickFromPopup(combo, 1);
        QCOMPARE(CurrentPage(), 2);
        QCOMPARE(RowIds(), ids.mid(10, 10));
        QCOMPARE(PageCommands(), QList<bool>({true, true, true, true}));

        // Choosing the current page again reloads it: its first book becomes current again.
        window->views().SelectEdge(true);
        QCOMPARE(window->views().GetCurrentIndex(), 9);
        PickFromPopup(combo, 1);
        QCOMPARE(CurrentPage(), 2);
        QCOMPARE(window->views().GetCurrentIndex(), 0);

        ui->action_ShowInfo_Page_Prev_ContextMenu->trigger();
        QCOMPARE(CurrentPage(), 1);
        ui->action_ShowInfo_Page_Prev->trigger();
        ui->action_ShowInfo_Page_First->trigger();
        window->run_action_UserChangedTheCurrentPage(7);
        window->run_action_UserChangedTheCurrentPage(-1);
        QCOMPARE(CurrentPage(), 1);
        ui->action_ShowInfo_Page_Next->trigger();
        ui->action_ShowInfo_Page_First->trigger();
        QCOMPARE(CurrentPage(), 1);
        QCOMPARE(combo->currentIndex(), 0);
    }

    void pageSizeIsClamped()
    {
        ShowList(*window, 0, 3);
        QCOMPARE(window->totalsLabel()->text(), QStringLiteral(" Total: 23 items (5 items per page) "));
        QCOMPARE(window->pageCombo()->itemText(4), QStringLiteral(" 5 / 5"));
        QCOMPARE(window->views().GetCount(), 5);

        SetPageSizes(*window, 1000, 1000);
        window->form()->action_ShowInfo_View_Refresh->trigger();
        QCOMPARE(window->totalsLabel()->text(), QStringLiteral(" Total: 23 items (210 items per page) "));
        QCOMPARE(ComboTexts(window->pageCombo()), QStringList({QStringLiteral(" 1 / 1")}));
        QCOMPARE(window->views().GetCount(), 23);
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
        QCOMPARE(orders.size(), 8);
        QAction *action = window->findChild<QAction *>(QStringLiteral("action_ShowInfo_OrderBy_") + order);
        Ui_MainWindow *ui = window->form();
        QAction *other = ui->action_ShowInfo_OrderBy_Random == action ? ui->action_ShowInfo_OrderBy_BookSize
                                                                       : ui->action_ShowInfo_OrderBy_Random;
        // Exactly one order is checked, and only it carries its arrow.
        const auto shows = [&](QAction *chosen, bool up) {
            for (QAction *each : orders) {
                const QString text = each->text();
                QCOMPARE(each->isChecked(), each == chosen);
                if (each == chosen)
                    QCOMPARE(text, each->data().toString() + (up ? kUp : kDown));
                else
                    QVERIFY2(!text.endsWith(kUp) && !text.endsWith(kDown), qPrintable(text));
            }
            QReadLocker locker(&window->page().lock);
            QCOMPARE(window->page().ascending, up);
        };
        for (int round = 0; round < 2; ++round) {
            other->trigger();
            action->trigger();
            QCOMPARE(action->data().toString(), caption);
            shows(action, ascending);
            action->trigger();
            shows(action, flips != ascending);
            action->trigger();
            shows(action, ascending);
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
        QFETCH(bool, enabled);
        QFETCH(int, endPage);
        QFETCH(int, endBook);
        ShowList(*window, 0, 10);
        Ui_MainWindow *ui = window->form();
        const QList<qint64> ids = FolderBooks(*window, all);
        for (int p = 1; p < page; ++p)
            ui->action_ShowInfo_Page_Next->trigger();
        window->views().SelectEdge(fromLast);
        QAction *move = forward ? ui->action_ShowInfo_View_Next : ui->action_ShowInfo_View_Prev;
        QCOMPARE(move->isEnabled(), enabled);
        move->trigger();
        QCOMPARE(CurrentPage(), endPage);
        QCOMPARE(window->views().GetCurrentItem().toLongLong(), ids.at(endBook));
        QCOMPARE(ui->lblShowBookName->text(), Book(ids.at(endBook)).name);
    }

    void viewSwitchKeepsThePage()
    {
        ShowList(*window, 0, 10);
        SetPageSizes(*window, 5, 10);
        Ui_MainWindow *ui = window->form();
        QVERIFY(ui->action_ShowInfo_View_Details->isChecked() && !window->views().IsImageView());
        ui->action_ShowInfo_Page_Next->trigger();

        ui->action_ShowInfo_View_Covers->trigger();
        QVERIFY(window->views().IsImageView() && ui->action_ShowInfo_View_Covers->isChecked());
        QVERIFY(!ui->action_ShowInfo_View_Details->isChecked());
        QCOMPARE(CurrentPage(), 2);
        QCOMPARE(window->views().GetCount(), 10);
        // A re-sort takes the covers view's page size.
        ui->action_ShowInfo_View_Refresh->trigger();
        QCOMPARE(CurrentPage(), 1);
        QCOMPARE(window->views().GetCount(), 5);
        QCOMPARE(window->totalsLabel()->text(), QStringLiteral(" Total: 23 items (5 items per page) "));
        // Triggering the checked view keeps it checked.
        ui->action_ShowInfo_View_Covers->trigger();
        QVERIFY(ui->action_ShowInfo_View_Covers->isChecked());
    }

    void detailsColumnsSortByValue_data()
    {
        // The value each column must sort by, read from the book of the row.
        using Value = SortValueOf;
        const auto time = [](const QDateTime &when) { return when.isValid() ? when.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min(); };
        QTest::addColumn<int>("column");
        QTest::addColumn<Value>("value");
        QTest::newRow("No.") << 0 << Value([](const ItemBook &, const QString &row) { return row.toInt(); });
        QTest::newRow("event start") << 1 << Value([=](const ItemBook &b, const QString &) { return time(b.firstPubTime); });
        QTest::newRow("price") << 2 << Value([](const ItemBook &b, const QString &) { return double(b.orgPrice); });
        QTest::newRow("rating") << 3 << Value([](const ItemBook &b, const QString &) { return double(b.stars); });
        QTest::newRow("name") << 6 << Value([](const ItemBook &b, const QString &) { return b.name; });
        QTest::newRow("publication") << 7 << Value([=](const ItemBook &b, const QString &) { return time(b.bookDate); });
        QTest::newRow("pages") << 8 << Value([](const ItemBook &b, const QString &) { return b.pages; });
        QTest::newRow("size") << 9 << Value([](const ItemBook &b, const QString &) { return b.size; });
    }

    void detailsColumnsSortByValue()
    {
        using Value = SortValueOf;
        QFETCH(int, column);
        QFETCH(Value, value);
        ShowList(*window, 0, 10);
        // The list in sight, as after the first load.
        window->form()->MainContainer->show();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->form()->action_ShowInfo_Page_Next->trigger();
        const QList<qint64> page = RowIds();
        QHeaderView *header = window->views().detailsView->header();
        for (int click = 0; click < 2; ++click) {
            const QPoint centre(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, 5);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
            QCOMPARE(header->sortIndicatorSection(), column);
            // Only the rows of the page take part.
            QList<qint64> ids = RowIds();
            const QStringList texts = RowTexts();
            QCOMPARE(QSet<qint64>(ids.cbegin(), ids.cend()), QSet<qint64>(page.cbegin(), page.cend()));
            const bool ascending = header->sortIndicatorOrder() == Qt::AscendingOrder;
            for (int row = 1; row < ids.size(); ++row) {
                QVariant before = value(Book(ids.at(row - 1)), texts.at(row - 1));
                QVariant after = value(Book(ids.at(row)), texts.at(row));
                if (!ascending)
                    std::swap(before, after);
                const bool ordered = before.type() == QVariant::String ? before.toString() <= after.toString()
                                                                        : before.toDouble() <= after.toDouble();
                QVERIFY2(ordered, qPrintable(texts.at(row - 1) + QStringLiteral(" / ") + texts.at(row)));
            }
        }
    }

    void addedFolderIsSelectedWhileTheCallerHoldsTheStore()
    {
        ShowList(*window, 0, 10);
        auto *folder = new DisplayFolder();
        folder->uid = QUuid::createUuid();
        folder->type = FilterFolder;
        folder->caption = QStringLiteral("Added");
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
        QVERIFY(window->form()->action_ShowCategory_Option_EditFolder->isEnabled());

        // Added again while current, with reload: shown again from its first book.
        folder->bookIds = {6};
        {
            QReadLockerExt2 token(0, &window->folders().lock);
            const int row = window->tree().FindFolderIndex(folder->uid).row();
            window->Add_AddItemToTreeView(folder, row, token, true, true);
        }
        QTRY_COMPARE(RowIds(), QList<qint64>({6}));
        QCOMPARE(window->totalsLabel()->text(), QStringLiteral(" Total: 1 item (10 items per page) "));
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
        QThread *reader = QThread::create([lock, &holding, &released] {
            QReadLockerExt2 token(0, lock);
            holding.release();
            QThread::msleep(1000);
            released.storeRelease(1);
        });
        reader->start();
        holding.acquire();
        window->form()->action_ShowInfo_OrderBy_BookPages->trigger();
        QCOMPARE(released.loadAcquire(), 0);
        QVERIFY(reader->wait(5000));
        delete reader;
        QCOMPARE(RowIds().size(), 10);
    }

private:
    // Row texts and book ids of the details view.
    QStringList RowTexts() const
    {
        QStringList texts;
        QStandardItemModel *model = window->views().detailsView->itemModel();
        for (int row = 0; row < model->rowCount(); ++row)
            texts << model->item(row, 0)->text();
        return texts;
    }

    QList<qint64> RowIds() const
    {
        QList<qint64> ids;
        QStandardItemModel *model = window->views().detailsView->itemModel();
        for (int row = 0; row < model->rowCount(); ++row)
            ids << model->item(row, 0)->data(ExtendTreeView::IdRole).toLongLong();
        return ids;
    }

    int CurrentPage() { return window->page().GetCurrentPage(); }
    QList<bool> PageCommands() const
    {
        Ui_MainWindow *ui = window->form();
        return {ui->action_ShowInfo_Page_First->isEnabled(), ui->action_ShowInfo_Page_Prev->isEnabled(),
                ui->action_ShowInfo_Page_Next->isEnabled(), ui->action_ShowInfo_Page_Last->isEnabled()};
    }

    ItemBook Book(qint64 id)
    {
        QWriteLockerExt2 token(&window->folders().items->lock);
        ItemBook *book = window->folders().items->GetBook(id, token);
        return book ? *book : ItemBook();
    }

    QTemporaryDir dir;
    QString cataloguePath;
    std::unique_ptr<MainWindow> window;
    QUuid all;
};

TESSALY_MAINWINDOW_TEST_MAIN(TestMainWindowList)
#include "test_mainwindow_list.moc"
