// Commands of the main window: folder dialogs, removal, store page links, caches, the manual
// version check, settings, About and the folder re-order mode with its drop.
#include "TestLinkCatcher.h"
#include "test_mainwindow_fixture.h"
#include "test_modal_script.h"

#include "dialogs/DlgAbout.h"
#include "dialogs/DlgAddCategory.h"
#include "dialogs/DlgAddFilter.h"
#include "dialogs/DlgNativeSettings.h"
#include "views/FlowLayout.h"
#include "UserDataRefresher.h"
#include "WidgetPrompts.h"
#include "ui_DlgAddCategory.h"
#include "ui_DlgAddFilter.h"
#include "ui_DlgNativeSettings.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QStandardItemModel>

using namespace MainWindowTest;

namespace {

QList<qint64> Sorted(QList<qint64> ids)
{
    std::sort(ids.begin(), ids.end());
    return ids;
}

const QString kInfo = QStringLiteral("Info");
const QString kRemove = QStringLiteral("Are you sure you want to remove this folder?");

// An empty file in one of the program's folders; returns its path.
QString Touch(int folder, const QString &name)
{
    const QString path = Helper::CombinePath(Helper::GetLocalFolder(folder), name);
    QFile(path).open(QIODevice::WriteOnly);
    return path;
}

QList<QUuid> Order(DisplayDataSaver &store)
{
    QReadLockerExt2 token(0, &store.lock);
    QList<QUuid> ids;
    for (const DisplayFolder *folder : qAsConst(store.folders))
        ids << folder->uid;
    return ids;
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        KeepServicesLocal();
        links.Install();
        WidgetPrompts::Install();
        cataloguePath = dir.filePath(QStringLiteral("commands.rfile"));
        QVERIFY(MakeCatalogue(
            cataloguePath, 200,
            {QStringLiteral("update published_bookinfo set BookName = 'Qzxv stripes' where UID in (4, 9)"),
             QStringLiteral("update published_bookinfo set BookAuthor = 'Ann Qzxv' where UID in (9, 12)"),
             QStringLiteral("update published_bookinfo set GoLink = '%1book/1', _TransLink = '%2go/1' where UID = 1")
                 .arg(Const::StoreSiteUrl, Const::CatalogSiteUrl),
             QStringLiteral("update published_bookinfo set GoLink = '', _TransLink = '%1go/2' where UID = 2")
                 .arg(Const::CatalogSiteUrl),
             QStringLiteral("update published_bookinfo set GoLink = 'https://elsewhere.example/3' where UID = 3")}));
    }

    void init()
    {
        links.opened.clear();
        QFile::remove(Helper::GetLocalFilePath(QStringLiteral("user-folders.file"), Helper::FolderBase));
        window = std::make_unique<MainWindow>(nullptr, false);
        QVERIFY(LoadCatalogue(*window, cataloguePath));
        // Details view, ten books a page, the database check off; the list on its second page.
        {
            QWriteLocker locker(&window->settings().lock);
            window->settings().currentSettings.Check_NewVersion = true;
            window->settings().currentSettings.Check_NewDatabase = false;
        }
        window->OnRecheckAutoInvokeEvents();
        ShowList(*window, View_Details, 10);
        QVERIFY(QFile::exists(FoldersFile()));
        QVERIFY(SelectFolder(*window, FolderOfType(*window, AllBooks)));
        Form()->action_ShowInfo_Page_Next->trigger();
        QCOMPARE(CurrentPage(), 2);
    }

    void cleanup() { window.reset(); }

    void filterAddedKeptThenEdited()
    {
        const int rows = Tree()->rowCount();
        QVERIFY(ModalScript({Fill<DlgAddFilter>([](DlgAddFilter *dialog) {
            dialog->creator.nameEdit->setText(QStringLiteral("Stripes"));
            dialog->creator.bookNameEdit->setText(QStringLiteral("Qzxv"));
            Press(dialog, QDialogButtonBox::Ok);
        })}).Run(Form()->action_Add_Filter));
        const QUuid id = CurrentId();
        DisplayFolder *record = Stored(id);
        QVERIFY(record);
        QCOMPARE(record->type, int(FilterFolder));
        QCOMPARE(Books(id), QList<qint64>({4, 9}));
        QCOMPARE(TreeTexts().mid(rows), QStringList{QStringLiteral("Stripes (2 Books)")});
        QCOMPARE(window->tree().treeView->currentIndex().row(), rows);
        QCOMPARE(window->views().GetCount(), 2);
        QVERIFY(SavedOrder().contains(id));

        // Commands given up or with nothing to do change no folder and write nothing.
        const QUuid search = FolderOfType(*window, SearchResult);
        const QByteArray before = FileHash(FoldersFile());
        const QStringList tree = TreeTexts();
        const auto cancel = Fill<DlgAddFilter>([](DlgAddFilter *dialog) {
            dialog->creator.bookNameEdit->setText(QStringLiteral("Ann"));
            Press(dialog, QDialogButtonBox::Cancel);
        });
        QVERIFY(ModalScript({cancel}).Run(Form()->action_Add_Filter));
        QVERIFY(ModalScript({cancel}).Run(Form()->action_StartSearch));
        // An edit given up after a refused empty name leaves the record as it was.
        QVERIFY(ModalScript({Fill<DlgAddFilter>([](DlgAddFilter *dialog) {
                         dialog->creator.authorEdit->setText(QStringLiteral("Changed"));
                         dialog->creator.nameEdit->clear();
                         Press(dialog, QDialogButtonBox::Ok);
                         Press(dialog, QDialogButtonBox::Cancel);
                     }),
                     Answer(QMessageBox::Ok, kInfo, QStringLiteral("Please enter folder name"))})
            .Run(Form()->action_ShowCategory_Option_EditFolder));
        QVERIFY(ModalScript({Answer(QMessageBox::No, kInfo, kRemove)}).Run(Form()->action_ShowCategory_Option_RemoveFolder));
        QVERIFY(ModalScript({Fill<DlgAddCategory>([](DlgAddCategory *dialog) { Press(dialog, QDialogButtonBox::Ok); })})
            .Run(Form()->action_Add_Category));
        // Built-in folders are not edited: no dialog at all.
        QVERIFY(SelectFolder(*window, FolderOfType(*window, AllBooks)));
        QVERIFY(ModalScript().Run([this]() { window->on_action_ShowCategory_Option_EditFolder_triggered(); }));
        QCOMPARE(Stored(id), record);
        QCOMPARE(record->caption, QStringLiteral("Stripes"));
        QCOMPARE(record->search.findAuthor, QStringList());
        QCOMPARE(FolderOfType(*window, SearchResult), search);
        QVERIFY(Stored(search)->search.IsEmpty());
        QCOMPARE(TreeTexts(), tree);
        QCOMPARE(FileHash(FoldersFile()), before);

        // An edit works on a copy that replaces the stored record only once accepted.
        QVERIFY(SelectFolder(*window, id));
        const int folders = window->folders().folders.size();
        QVERIFY(ModalScript({Fill<DlgAddFilter>([&](DlgAddFilter *dialog) {
            QCOMPARE(dialog->creator.nameEdit->text(), QStringLiteral("Stripes"));
            QVERIFY(dialog->folder != Stored(id));
            dialog->creator.nameEdit->setText(QStringLiteral("Ann"));
            dialog->creator.bookNameEdit->clear();
            dialog->creator.authorEdit->setText(QStringLiteral("Ann Qzxv"));
            // While the computation waits for the store, the stored record is still the old one.
            QWriteLockerExt2 token(&window->folders().lock);
            Press(dialog, QDialogButtonBox::Ok);
            QVERIFY(dialog->IsComputing());
            const DisplayFolder *stored = window->folders().FindFolder(id, token);
            QCOMPARE(stored->caption, QStringLiteral("Stripes"));
            QCOMPARE(stored->search.findName, QStringList{QStringLiteral("Qzxv")});
            QCOMPARE(Sorted(stored->bookIds), QList<qint64>({4, 9}));
        })}).Run(Form()->action_ShowCategory_Option_EditFolder));
        QCOMPARE(Stored(id)->caption, QStringLiteral("Ann"));
        QCOMPARE(Stored(id)->search.findName, QStringList());
        QCOMPARE(Books(id), QList<qint64>({9, 12}));
        QCOMPARE(window->folders().folders.size(), folders);
        QCOMPARE(Tree()->item(rows)->text(), QStringLiteral("Ann (2 Books)"));
        QCOMPARE(CurrentId(), id);
        QVERIFY(FileHash(FoldersFile()) != before);
    }

    void searchTwiceKeepsOneSearchFolder()
    {
        const QUuid search = FolderOfType(*window, SearchResult);
        const int row = window->tree().FindFolderIndex(search).row();
        const int folders = window->folders().folders.size();
        const QList<QList<qint64>> expected = {{4, 9}, {9, 12}};
        // The file keeps neither a search's conditions nor its books, so it is not compared here.
        for (int round = 0; round < 2; ++round) {
            QVERIFY(ModalScript({Fill<DlgAddFilter>([round](DlgAddFilter *dialog) {
                QCOMPARE(dialog->windowTitle(), QStringLiteral("Search Books..."));
                if (round == 0)
                    dialog->creator.bookNameEdit->setText(QStringLiteral("Qzxv"));
                else
                    dialog->creator.authorEdit->setText(QStringLiteral("Ann Qzxv"));
                Press(dialog, QDialogButtonBox::Ok);
            })}).Run(Form()->action_StartSearch));
            QCOMPARE(FolderOfType(*window, SearchResult), search);
            QCOMPARE(window->folders().folders.size(), folders);
            QCOMPARE(Books(search), expected.at(round));
            QCOMPARE(Tree()->item(row)->text(), QStringLiteral("Search Result (2 Books)"));
            QCOMPARE(CurrentId(), search);
            QCOMPARE(window->views().GetCount(), 2);
        }

        // Without a search folder a search stores and writes nothing.
        window->folders().RemoveFolder(search);
        const QByteArray before = FileHash(FoldersFile());
        QVERIFY(ModalScript({Fill<DlgAddFilter>([](DlgAddFilter *dialog) {
            dialog->creator.bookNameEdit->setText(QStringLiteral("Qzxv"));
            Press(dialog, QDialogButtonBox::Ok);
        })}).Run(Form()->action_StartSearch));
        QVERIFY(FolderOfType(*window, SearchResult).isNull());
        QCOMPARE(FileHash(FoldersFile()), before);
        QCOMPARE(CurrentId(), search);
    }

    void addCategoryThenRemoveIt()
    {
        const int rows = Tree()->rowCount();
        qint64 chosen = 0;
        QVERIFY(ModalScript({Fill<DlgAddCategory>([&chosen](DlgAddCategory *dialog) {
            QVERIFY(dialog->checkLayout->count() > 0);
            auto *box = qobject_cast<QCheckBox *>(dialog->checkLayout->itemAt(0)->widget());
            chosen = dialog->creator.boxIds.value(box);
            box->setChecked(true);
            Press(dialog, QDialogButtonBox::Ok);
        })}).Run(Form()->action_Add_Category));
        QCOMPARE(Tree()->rowCount(), rows + 1);
        const QUuid id = window->tree().GetItemFolderId(Tree()->index(rows, 0)).toUuid();
        QVERIFY(Stored(id));
        QCOMPARE(Stored(id)->categoryUid, chosen);
        QVERIFY(Stored(id)->calcBookCount >= 10);
        QCOMPARE(Stored(id)->bookIds.size(), int(Stored(id)->calcBookCount));

        QVERIFY(ModalScript({Fill<DlgAddCategory>([](DlgAddCategory *dialog) {
            QVERIFY(!dialog->checkLayout->itemAt(0)->widget()->isEnabled());
            Press(dialog, QDialogButtonBox::Cancel);
        })}).Run(Form()->action_Add_Category));

        QVERIFY(SelectFolder(*window, id));
        const QByteArray before = FileHash(FoldersFile());
        QVERIFY(ModalScript({Answer(QMessageBox::Yes, kInfo, kRemove)}).Run(Form()->action_ShowCategory_Option_RemoveFolder));
        QVERIFY(!Stored(id) && !window->tree().FindFolderIndex(id).isValid());
        QCOMPARE(Tree()->rowCount(), rows);
        QVERIFY(FileHash(FoldersFile()) != before);
    }

    void storePageLinksAndBrokenLinks()
    {
        const QString slot = Touch(Helper::FolderDatabase, QStringLiteral("a.rfile"));
        QSignalSpy refreshed(&window->refresher(), &UserDataLoader::completed);
        QVERIFY(!ShowFixedFolder({1, 2, 3}).isNull());

        // A link the desktop cannot open (here its handler cannot be called) is shown for copying.
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &links, "missing");
        const QString store = Const::StoreSiteUrl + QStringLiteral("book/1");
        const QString software = Helper::AddUrlKind(Const::SoftwareUrl);
        const QList<QPair<QAction *, QString>> failing = {{Form()->action_go_website, software},
                                                          {Form()->action_go_software_website_with_icon, software},
                                                          {Form()->action_ShowInfo_Option_GoLink, store},
                                                          {Form()->action_ShowInfo_Option_GoLink_ContextMenu, store}};
        for (const auto &[action, link] : failing) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("No such method")));
            QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("go link: ") + link));
            QVERIFY(ModalScript({[link = link](QWidget *widget) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                QVERIFY(box);
                QCOMPARE(box->windowTitle(), QStringLiteral("Error"));
                QCOMPARE(box->text(), QStringLiteral("The web browser could not be opened. You can copy the link and open it yourself:"));
                QCOMPARE(box->informativeText(), link);
                QLabel *address = FindLabelWithText(box, link);
                QVERIFY(address && address->selectedText() == link);
                const Qt::TextInteractionFlags selectable = Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard;
                QCOMPARE(address->textInteractionFlags() & selectable, selectable);
                QGuiApplication::clipboard()->clear();
                QTest::keyClick(address, Qt::Key_C, Qt::ControlModifier);
                QCOMPARE(QGuiApplication::clipboard()->text(), link);
                box->button(QMessageBox::Ok)->click();
            }}).Run([action = action]() { action->trigger(); }));
        }
        links.Install();

        QVERIFY(ModalScript().Run(Form()->action_ShowInfo_Option_GoLink));
        SetDirectLinks(false);
        QVERIFY(ModalScript().Run([this]() { window->on_action_ShowInfo_Option_GoLink_ContextMenu_triggered(); }));
        QVERIFY(window->views().SelectNext());
        QVERIFY(ModalScript().Run(Form()->action_ShowInfo_Option_GoLink));
        QCOMPARE(links.opened, QList<QUrl>({QUrl(store),
                                            QUrl(Const::CatalogSiteUrl + QStringLiteral("go/1")),
                                            QUrl(Const::CatalogSiteUrl + QStringLiteral("go/2"))}));

        // Book 2 has no store link; book 3's leads to another site. Both are a broken catalogue.
        SetDirectLinks(true);
        const QString text = QStringLiteral("The software database is broken, do you want to re-download it?");
        QVERIFY(ModalScript({Answer(QMessageBox::Cancel, QStringLiteral("Error"), text)}).Run(Form()->action_ShowInfo_Option_GoLink));
        QVERIFY(QFile::exists(slot) && window->views().SelectNext());
        QVERIFY(ModalScript({Answer(QMessageBox::Yes, QStringLiteral("Error"), text)}).Run(Form()->action_ShowInfo_Option_GoLink));
        QVERIFY(!QFile::exists(slot));
        QTRY_COMPARE(refreshed.count(), 1);
        QCOMPARE(links.opened.size(), 3);
    }

    void aboutAndManualVersionCheck()
    {
        QPointer<QWidget> about;
        QVERIFY(ModalScript({[&](QWidget *widget) {
            about = widget;
            QVERIFY(qobject_cast<DlgAbout *>(widget) && widget->parentWidget() == window.get());
            widget->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        }}).Run(Form()->action_Help_About));
        QVERIFY(about.isNull()); // it lived on the command's stack

        bool answered = false;
        QString latest;
        int limit = 0;
        window->versionQuery = [&](int timeoutMs, bool &newer, QString &own, QString &answer) {
            limit = timeoutMs;
            own = QStringLiteral("3.3.5");
            answer = latest;
            newer = answered && latest != own;
            return answered;
        };
        QAction *check = Form()->action_Check_For_Updates;
        QVERIFY(ModalScript({Answer(QMessageBox::Ok, kInfo, QStringLiteral("An error occurred, please try again later."))})
            .Run(check));
        QCOMPARE(limit, 10000);

        answered = true;
        latest = QStringLiteral("3.3.5");
        QVERIFY(ModalScript({Answer(QMessageBox::Ok, kInfo, QStringLiteral("Your software is up to date."))}).Run(check));

        // The server's text is shown as it is, never as markup.
        latest = QStringLiteral("<b>9.0</b>");
        for (QMessageBox::StandardButton button : {QMessageBox::No, QMessageBox::Yes}) {
            QVERIFY(ModalScript({[button](QWidget *widget) {
                QCOMPARE(qobject_cast<QMessageBox *>(widget)->textFormat(), Qt::PlainText);
                Answer(button, kInfo,
                       QStringLiteral("Current Version: 3.3.5\nNew Version: <b>9.0</b>\n"
                                      "Do you want to download the latest version?"))(widget);
            }}).Run(check));
        }
        QCOMPARE(links.opened.size(), 1);
        QVERIFY(links.opened.at(0).toString().startsWith(Const::DownloadUrl));
    }

    void clearCaches()
    {
        const QString slot = Touch(Helper::FolderDatabase, QStringLiteral("b.rfile"));
        const QString pointer = Touch(Helper::FolderDatabase, QStringLiteral("c.prefile"));
        const QString cover = Touch(Helper::FolderImageCache, QStringLiteral("d.rfile"));
        QSignalSpy refreshed(&window->refresher(), &UserDataLoader::completed);
        const QString allText = QStringLiteral(
            "Are you sure you want to clean up all the caches? (If the information displayed on the interface is "
            "incorrect, you can use this function to re-download all the contents. In addition, this will significantly "
            "reduce the loading speed.)");
        const QString imageText = QStringLiteral(
            "Are you sure you want to delete all image caches? (If there are incorrect contents of the images displayed "
            "on the interface, you can use this function to re-download all the contents. In addition, this will "
            "significantly reduce the loading speed.)");
        QAction *all = Form()->action_Tool_ClearAllCache;
        QAction *images = Form()->action_Tool_ClearAllImageCache;
        QVERIFY(ModalScript({Answer(QMessageBox::Cancel, kInfo, allText)}).Run(all));
        QVERIFY(ModalScript({Answer(QMessageBox::Cancel, kInfo, imageText)}).Run(images));
        QVERIFY(QFile::exists(slot) && QFile::exists(pointer) && QFile::exists(cover));
        QCOMPARE(CurrentPage(), 2);

        QVERIFY(ModalScript({Answer(QMessageBox::Ok, kInfo, allText)}).Run(all));
        QVERIFY(!QFile::exists(slot) && !QFile::exists(pointer) && QFile::exists(cover));
        QTRY_COMPARE(refreshed.count(), 1);

        // The page is loaded again from its start, so that its covers are fetched anew.
        QVERIFY(ModalScript({Answer(QMessageBox::Ok, kInfo, imageText)}).Run(images));
        QVERIFY(!QFile::exists(cover));
        QCOMPARE(CurrentPage(), 1);
        QCOMPARE(window->views().GetCurrentIndex(), 0);
    }

    void refreshStartsOnceWhileOneRuns()
    {
        QSignalSpy refreshed(&window->refresher(), &UserDataLoader::completed);
        {
            // The refresh waits for the folder store while the test holds it.
            QWriteLockerExt2 token(&window->folders().lock);
            Form()->action_Reresh_All_Data->trigger();
            QVERIFY(window->refresher().IsRunning());
            Form()->action_Reresh_All_Data->trigger();
        }
        QTRY_COMPARE(refreshed.count(), 1);
        QTRY_VERIFY(!window->refresher().IsRunning());
        QTest::qWait(100);
        QCOMPARE(refreshed.count(), 1);
    }

    void listSettingsReloadTheList_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("covers");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("count");
        // A changed view switches to it from its first page; a changed page size reloads from the
        // first page; otherwise only the timers are applied again and the page stays.
        QTest::newRow("default view") << "Display_DefaultView" << "Covers View" << true << true << 1 << 10;
        QTest::newRow("page size") << "Display_DetailsView_PageCount" << "20" << true << false << 1 << 20;
        QTest::newRow("nothing of the list") << "Check_NewVersion" << QString() << true << false << 2 << 10;
        // Given up: nothing changes and nothing is written.
        QTest::newRow("cancelled") << "Display_DefaultView" << "Covers View" << false << false << 2 << 10;
    }

    void listSettingsReloadTheList()
    {
        QFETCH(QString, setting);
        QFETCH(QString, choice);
        QFETCH(bool, accepted);
        QFETCH(bool, covers);
        QFETCH(int, page);
        QFETCH(int, count);
        QFile::remove(window->settings().filePath);
        const NativeConfigSettings before = window->settings().GetCurrentSettings();
        QVERIFY(ModalScript({Fill<DlgNativeSettings>([&](DlgNativeSettings *dialog) {
            auto *button = dialog->findChild<QAbstractButton *>(setting);
            auto *combo = dialog->findChild<QComboBox *>(setting);
            QVERIFY(choice.isEmpty() ? button != nullptr : combo && combo->findText(choice) >= 0);
            choice.isEmpty() ? button->click() : combo->setCurrentIndex(combo->findText(choice));
            if (!accepted)
                dialog->ui->Check_NewDatabase->click();
            Press(dialog, accepted ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
        })}).Run(Form()->action_Settings));
        QCOMPARE(window->views().IsImageView(), covers);
        QVERIFY(Form()->action_ShowInfo_View_Covers->isChecked() == covers
                && Form()->action_ShowInfo_View_Details->isChecked() != covers);
        QCOMPARE(CurrentPage(), page);
        QCOMPARE(window->pageCombo()->currentIndex(), page - 1);
        QCOMPARE(window->views().GetCount(), count);
        QCOMPARE(QFile::exists(window->settings().filePath), accepted);
        QCOMPARE(window->settings().GetCurrentSettings() == before, !accepted);
        QVERIFY(!window->timerDatabase()->isActive());
    }

    void reorderModeAndDropSaveTheNewOrder()
    {
        const QUuid extra = ShowFixedFolder({3, 5});
        QVERIFY(!extra.isNull());
        QVERIFY(ModalScript({Answer(QMessageBox::Ok, kInfo, QStringLiteral("Now you can drag and drop the Tree View."))})
            .Run(Form()->action_ShowCategory_Option_ResortCategory));
        QList<QUuid> expected = window->tree().ReadFolderOrder();
        const int rows = expected.size();
        QCOMPARE(expected.last(), extra);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QSignalSpy sorted(&window->tree(), &TreeController::on_action_treeview_item_sorted);
        QSignalSpy selected(&window->tree(), &TreeController::on_action_treeview_item_selected);

        // A drag starts with a press on its row, which made that folder the current one. The last
        // folder dropped onto the upper half of the first row lands first; the source removes nothing.
        const QRect first = window->tree().treeView->visualRect(Tree()->index(0, 0));
        QCOMPARE(Drop(RowData(rows - 1), QPoint(first.center().x(), first.top() + 1)), int(Qt::IgnoreAction));
        expected.move(rows - 1, 0);
        QCOMPARE(Order(window->folders()), expected);
        QCOMPARE(window->tree().treeView->currentIndex().row(), 0);
        QCOMPARE(CurrentId(), extra);
        QCOMPARE(selected.count(), 0);
        QCOMPARE(window->views().GetCount(), 2);

        // Below the last row: to the end. Where it already is, or data that names no folder: no change.
        const QRect last = window->tree().treeView->visualRect(Tree()->index(rows - 1, 0));
        Drop(RowData(1), QPoint(4, last.bottom() + 40));
        expected.move(1, rows - 1);
        Drop(RowData(3), window->tree().treeView->visualRect(Tree()->index(3, 0)).topLeft() + QPoint(4, 2));
        auto *foreign = new QMimeData;
        foreign->setText(QStringLiteral("x"));
        QCOMPARE(Drop(foreign, first.center()), -1);
        QCOMPARE(sorted.count(), 2);
        QCOMPARE(window->tree().ReadFolderOrder(), expected);
        QCOMPARE(Order(window->folders()), expected);
        QCOMPARE(SavedOrder(), expected);
        window->hide();
    }

private:
    Ui_MainWindow *Form() const { return window->form(); }
    int CurrentPage() { return window->page().GetCurrentPage(); }
    QUuid CurrentId() const { return window->CurrentFolderId().toUuid(); }
    // The file once the saves queued so far are written.
    QString FoldersFile() const
    {
        if (!QTest::qWaitFor([this] { return window->folders().foldersWriter.IsIdle(); }, 10000))
            qWarning("the folders file is still being written");
        return window->folders().userFoldersPath;
    }
    QStandardItemModel *Tree() const { return window->tree().model; }
    QList<qint64> Books(const QUuid &id) { return Sorted(FolderBooks(*window, id)); }

    void SetDirectLinks(bool direct)
    {
        QWriteLocker locker(&window->settings().lock);
        window->settings().currentSettings.Advance_UseDirectGoLink = direct;
    }
    // A new folder of these books, shown; null when it could not be selected.
    QUuid ShowFixedFolder(const QList<qint64> &ids)
    {
        const QUuid folder = AddFixedFolder(*window, QStringLiteral("Mine"), ids);
        window->OnLoadDisplayFolders();
        return SelectFolder(*window, folder) ? folder : QUuid();
    }
    QStringList TreeTexts() const
    {
        QStringList texts;
        for (int row = 0; row < Tree()->rowCount(); ++row)
            texts << Tree()->item(row)->text();
        return texts;
    }
    DisplayFolder *Stored(const QUuid &id)
    {
        QReadLockerExt2 token(0, &window->folders().lock);
        return window->folders().FindFolder(id, token);
    }
    QMimeData *RowData(int row) const { return Tree()->mimeData({Tree()->index(row, 0)}); }
    // Drops the data (taken over) as a finished drag does: the drop action, or -1 when refused.
    // (A synthetic drag cannot pass the drag manager.)
    int Drop(QMimeData *data, const QPoint &pos)
    {
        QScopedPointer<QMimeData> owned(data);
        QDropEvent event(pos, Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        window->tree().treeView->dropEvent(&event);
        return event.isAccepted() ? event.dropAction() : -1;
    }
    QList<QUuid> SavedOrder() const
    {
        DisplayDataSaver saved(FoldersFile());
        bool added = false;
        return saved.LoadFolders(added) ? Order(saved) : QList<QUuid>();
    }

    QTemporaryDir dir;
    QString cataloguePath;
    TestLinkCatcher links;
    std::unique_ptr<MainWindow> window;
};

TESSALY_MAINWINDOW_TEST_MAIN(TestCommands)
#include "test_commands.moc"
