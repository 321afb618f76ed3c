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
#include <QDesktopServices>
#include <QDropEvent>
#include <QMimeData>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
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

void Touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

ModalScript::Step Settings(const std::function<void(DlgNativeSettings *)> &fill)
{
    return Fill<DlgNativeSettings>(fill);
}

void Choose(QComboBox *combo, const QString &text)
{
    const int index = combo->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    combo->setCurrentIndex(index);
}

QByteArray FileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
        SelectFolder(*window, FolderOfType(*window, AllBooks));
        window->form()->action_ShowInfo_Page_Next->trigger();
        QCOMPARE(CurrentPage(), 2);
    }

    void cleanup() { window.reset(); }


    void addThenEditFilter()
    {
        const int rows = Tree()->rowCount();
        const QByteArray before = FileHash(FoldersFile());
        const QUuid id = AddFilter(QStringLiteral("Stripes"), QStringLiteral("Qzxv"));

        QCOMPARE(Stored(id)->type, int(FilterFolder));
        QCOMPARE(Sorted(Stored(id)->bookIds), QList<qint64>({4, 9}));
        // Appended to the tree, made current, its first page shown.
        QCOMPARE(Tree()->rowCount(), rows + 1);
        QCOMPARE(Tree()->item(rows)->text(), QStringLiteral("Stripes (2 Books)"));
        QCOMPARE(window->tree().treeView->currentIndex().row(), rows);
        QCOMPARE(window->views().GetCount(), 2);

        QVERIFY(FileHash(FoldersFile()) != before);
        DisplayDataSaver reread(FoldersFile());
        bool added = false;
        QVERIFY(reread.LoadFolders(added));
        QReadLockerExt2 token(0, &reread.lock);
        QCOMPARE(reread.FindFolder(id, token)->caption, QStringLiteral("Stripes"));
        token.unlock();

        // An edit works on a copy that replaces the stored record only once accepted.
        const int folders = window->folders().folders.size();
        const QByteArray addedHash = FileHash(FoldersFile());

        ModalScript({Fill<DlgAddFilter>([&](DlgAddFilter *dialog) {
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
        })}).Run(window->form()->action_ShowCategory_Option_EditFolder);

        QCOMPARE(Stored(id)->caption, QStringLiteral("Ann"));
        QCOMPARE(Stored(id)->search.findName, QStringList());
        QCOMPARE(Sorted(Stored(id)->bookIds), QList<qint64>({9, 12}));
        QCOMPARE(window->folders().folders.size(), folders);
        // Rebuilt in place and still current.
        QCOMPARE(Tree()->item(rows)->text(), QStringLiteral("Ann (2 Books)"));
        QCOMPARE(CurrentId(), id);
        QVERIFY(FileHash(FoldersFile()) != addedHash);
    }

    void nothingWrittenWhenNothingChanged()
    {
        const QUuid id = AddFilter(QStringLiteral("Stripes"), QStringLiteral("Qzxv"));
        DisplayFolder *record = Stored(id);
        const QUuid search = FolderOfType(*window, SearchResult);
        const QByteArray before = FileHash(FoldersFile());
        const QStringList tree = TreeTexts();

        const auto cancel = Fill<DlgAddFilter>([](DlgAddFilter *dialog) {
            dialog->creator.bookNameEdit->setText(QStringLiteral("Ann"));
            Press(dialog, QDialogButtonBox::Cancel);
        });
        ModalScript({cancel}).Run(window->form()->action_Add_Filter);
        ModalScript({cancel}).Run(window->form()->action_StartSearch);
        // An edit given up after a refused empty name leaves the record as it was.
        ModalScript({Fill<DlgAddFilter>([](DlgAddFilter *dialog) {
                         dialog->creator.authorEdit->setText(QStringLiteral("Changed"));
                         dialog->creator.nameEdit->clear();
                         Press(dialog, QDialogButtonBox::Ok);
                         Press(dialog, QDialogButtonBox::Cancel);
                     }),
                     Answer(QMessageBox::Ok, kInfo, QStringLiteral("Please enter folder name"))})
            .Run(window->form()->action_ShowCategory_Option_EditFolder);
        ModalScript({Answer(QMessageBox::No, kInfo, kRemove)})
            .Run(window->form()->action_ShowCategory_Option_RemoveFolder);
        ModalScript({Fill<DlgAddCategory>([](DlgAddCategory *dialog) { Press(dialog, QDialogButtonBox::Ok); })})
            .Run(window->form()->action_Add_Category);
        // Built-in folders are not edited: no dialog at all.
        SelectFolder(*window, FolderOfType(*window, AllBooks));
        ModalScript().Run([this]() { window->on_action_ShowCategory_Option_EditFolder_triggered(); });

        QCOMPARE(Stored(id), record);
        QCOMPARE(record->caption, QStringLiteral("Stripes"));
        QCOMPARE(record->search.findAuthor, QStringList());
        QCOMPARE(FolderOfType(*window, SearchResult), search);
        QVERIFY(Stored(search)->search.IsEmpty());
        QCOMPARE(CountOfType(CategoryFolder), 0);
        QCOMPARE(TreeTexts(), tree);
        QCOMPARE(FileHash(FoldersFile()), before);
    }

    void searchTwiceKeepsOneSearchFolder()
    {
        const QUuid search = FolderOfType(*window, SearchResult);
        const int row = window->tree().FindFolderIndex(search).row();
        const QList<QList<qint64>> expected = {{4, 9}, {9, 12}};
        for (int round = 0; round < 2; ++round) {
            const QByteArray before = FileHash(FoldersFile());
            ModalScript({Fill<DlgAddFilter>([round](DlgAddFilter *dialog) {
                QCOMPARE(dialog->windowTitle(), QStringLiteral("Search Books..."));
                if (round == 0)
                    dialog->creator.bookNameEdit->setText(QStringLiteral("Qzxv"));
                else
                    dialog->creator.authorEdit->setText(QStringLiteral("Ann Qzxv"));
                Press(dialog, QDialogButtonBox::Ok);
            })}).Run(window->form()->action_StartSearch);

            // Same id, same row, new books, current and shown.
            QCOMPARE(CountOfType(SearchResult), 1);
            QCOMPARE(FolderOfType(*window, SearchResult), search);
            QCOMPARE(Sorted(Stored(search)->bookIds), expected.at(round));
            QCOMPARE(Tree()->item(row)->text(), QStringLiteral("Search Result (2 Books)"));
            QCOMPARE(CurrentId(), search);
            QCOMPARE(window->views().GetCount(), 2);
            QVERIFY(FileHash(FoldersFile()) != before);
        }

        // Without a search folder a search stores and writes nothing.
        window->folders().RemoveFolder(search);
        const QByteArray before = FileHash(FoldersFile());
        ModalScript({Fill<DlgAddFilter>([](DlgAddFilter *dialog) {
            dialog->creator.bookNameEdit->setText(QStringLiteral("Qzxv"));
            Press(dialog, QDialogButtonBox::Ok);
        })}).Run(window->form()->action_StartSearch);
        QCOMPARE(CountOfType(SearchResult), 0);
        QCOMPARE(FileHash(FoldersFile()), before);
        QCOMPARE(CurrentId(), search);
    }

    void addCategoryThenRemoveIt()
    {
        const int rows = Tree()->rowCount();
        qint64 chosen = 0;
        ModalScript({Fill<DlgAddCategory>([&chosen](DlgAddCategory *dialog) {
            QVERIFY(dialog->checkLayout->count() > 0);
            auto *box = qobject_cast<QCheckBox *>(dialog->checkLayout->itemAt(0)->widget());
            chosen = dialog->creator.boxIds.value(box);
            box->setChecked(true);
            Press(dialog, QDialogButtonBox::Ok);
        })}).Run(window->form()->action_Add_Category);

        QCOMPARE(Tree()->rowCount(), rows + 1);
        const QUuid id = window->tree().GetItemFolderId(Tree()->index(rows, 0)).toUuid();
        QCOMPARE(Stored(id)->categoryUid, chosen);
        QVERIFY(Stored(id)->calcBookCount >= 10);
        QCOMPARE(Stored(id)->bookIds.size(), int(Stored(id)->calcBookCount));

        // Its box is now checked and disabled.
        ModalScript({Fill<DlgAddCategory>([](DlgAddCategory *dialog) {
            QVERIFY(!dialog->checkLayout->itemAt(0)->widget()->isEnabled());
            Press(dialog, QDialogButtonBox::Cancel);
        })}).Run(window->form()->action_Add_Category);

        SelectFolder(*window, id);
        const QByteArray before = FileHash(FoldersFile());
        ModalScript({Answer(QMessageBox::Yes, kInfo, kRemove)})
            .Run(window->form()->action_ShowCategory_Option_RemoveFolder);
        QVERIFY(!Stored(id));
        QCOMPARE(Tree()->rowCount(), rows);
        QVERIFY(!window->tree().FindFolderIndex(id).isValid() && FileHash(FoldersFile()) != before);
    }

    void storePageLinksAndBrokenLinks()
    {
        const QString slot = Helper::CombinePath(Helper::GetLocalFolder(Helper::FolderDatabase), QStringLiteral("a.rfile"));
        Touch(slot);
        QSignalSpy refreshed(&window->refresher(), &UserDataLoader::completed);
        const QUuid folder = AddFixedFolder(*window, QStringLiteral("Links"), {1, 2, 3});
        window->OnLoadDisplayFolders();
        SelectFolder(*window, folder);
        QCOMPARE(window->views().GetCurrentItem().toLongLong(), qint64(1));

        ModalScript().Run(window->form()->action_ShowInfo_Option_GoLink);
        SetDirectLinks(false);
        ModalScript().Run([this]() { window->on_action_ShowInfo_Option_GoLink_ContextMenu_triggered(); });
        QVERIFY(window->views().SelectNext());
        ModalScript().Run(window->form()->action_ShowInfo_Option_GoLink);
        QCOMPARE(links.opened, QList<QUrl>({QUrl(Const::StoreSiteUrl + QStringLiteral("book/1")),
                                            QUrl(Const::CatalogSiteUrl + QStringLiteral("go/1")),
                                            QUrl(Const::CatalogSiteUrl + QStringLiteral("go/2"))}));

        // Book 2 has no store link; book 3's leads to another site. Both are a broken catalogue.
        SetDirectLinks(true);
        const QString text = QStringLiteral("The software database is broken, do you want to re-download it?");
        ModalScript({Answer(QMessageBox::Cancel, QStringLiteral("Error"), text)}).Run(window->form()->action_ShowInfo_Option_GoLink);
        QVERIFY(QFile::exists(slot) && window->views().SelectNext());
        ModalScript({Answer(QMessageBox::Yes, QStringLiteral("Error"), text)}).Run(window->form()->action_ShowInfo_Option_GoLink);
        QVERIFY(!QFile::exists(slot));
        QTRY_COMPARE(refreshed.count(), 1);
        QCOMPARE(links.opened.size(), 3);

        ModalScript().Run(window->form()->action_go_website);
        QCOMPARE(links.opened.size(), 4);
        QVERIFY(links.opened.last().toString().startsWith(Const::SoftwareUrl));
    }

    void linkShownWhenNoBrowserOpens_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("link");
        const QString software = Helper::AddUrlKind(Const::SoftwareUrl);
        QTest::newRow("website") << QStringLiteral("action_go_website") << software;
        QTest::newRow("website tool") << QStringLiteral("action_go_software_website_with_icon") << software;
        QTest::newRow("store page") << QStringLiteral("action_ShowInfo_Option_GoLink") << Const::StoreSiteUrl + QStringLiteral("book/1");
        QTest::newRow("store page menu") << QStringLiteral("action_ShowInfo_Option_GoLink_ContextMenu")
                                         << Const::StoreSiteUrl + QStringLiteral("book/1");
    }

    void linkShownWhenNoBrowserOpens()
    {
        QFETCH(QString, command);
        QFETCH(QString, link);
        const QUuid folder = AddFixedFolder(*window, QStringLiteral("Links"), {1});
        window->OnLoadDisplayFolders();
        SelectFolder(*window, folder);
        // A handler that cannot be called: the desktop fails to open the link.
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &links, "missing");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("No such method")));
        QAction *action = window->findChild<QAction *>(command);
        QVERIFY(action);
        ModalScript({[link](QWidget *widget) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), QStringLiteral("Error"));
            QVERIFY(box->text().startsWith(QStringLiteral("The web browser could not be opened.")));
            QCOMPARE(box->informativeText(), link);
            QVERIFY(box->textInteractionFlags() & Qt::TextSelectableByMouse);
            box->button(QMessageBox::Ok)->click();
        }}).Run([action]() { action->trigger(); });
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &links, "open");
        QVERIFY(links.opened.isEmpty());
    }

    void manualVersionCheck()
    {
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
        QAction *check = window->form()->action_Check_For_Updates;
        ModalScript({Answer(QMessageBox::Ok, kInfo, QStringLiteral("An error occurred, please try again later."))})
            .Run(check);
        QCOMPARE(limit, 10000);

        answered = true;
        latest = QStringLiteral("3.3.5");
        ModalScript({Answer(QMessageBox::Ok, kInfo, QStringLiteral("Your software is up to date."))}).Run(check);

        // The server's text is shown as it is, never as markup.
        latest = QStringLiteral("<b>9.0</b>");
        for (QMessageBox::StandardButton button : {QMessageBox::No, QMessageBox::Yes}) {
            ModalScript({[button](QWidget *widget) {
                QCOMPARE(qobject_cast<QMessageBox *>(widget)->textFormat(), Qt::PlainText);
                Answer(button, kInfo,
                       QStringLiteral("Current Version: 3.3.5\nNew Version: <b>9.0</b>\n"
                                      "Do you want to download the latest version?"))(widget);
            }}).Run(check);
        }
        QCOMPARE(links.opened.size(), 1);
        QVERIFY(links.opened.at(0).toString().startsWith(Const::DownloadUrl));
    }

    void clearCaches()
    {
        const QString database = Helper::GetLocalFolder(Helper::FolderDatabase);
        const QString slot = Helper::CombinePath(database, QStringLiteral("b.rfile"));
        const QString pointer = Helper::CombinePath(database, QStringLiteral("c.prefile"));
        const QString cover = Helper::CombinePath(Helper::GetLocalFolder(Helper::FolderImageCache), QStringLiteral("d.rfile"));
        for (const QString &path : {slot, pointer, cover})
            Touch(path);
        QSignalSpy refreshed(&window->refresher(), &UserDataLoader::completed);
        const QString allText = QStringLiteral(
            "Are you sure you want to clean up all the caches? (If the information displayed on the interface is "
            "incorrect, you can use this function to re-download all the contents. In addition, this will significantly "
            "reduce the loading speed.)");
        const QString imageText = QStringLiteral(
            "Are you sure you want to delete all image caches? (If there are incorrect contents of the images displayed "
            "on the interface, you can use this function to re-download all the contents. In addition, this will "
            "significantly reduce the loading speed.)");
        QAction *all = window->form()->action_Tool_ClearAllCache;
        QAction *images = window->form()->action_Tool_ClearAllImageCache;
        ModalScript({Answer(QMessageBox::Cancel, kInfo, allText)}).Run(all);
        ModalScript({Answer(QMessageBox::Cancel, kInfo, imageText)}).Run(images);
        for (const QString &path : {slot, pointer, cover})
            QVERIFY(QFile::exists(path));
        QCOMPARE(window->page().GetCurrentPage(), 2);

        ModalScript({Answer(QMessageBox::Ok, kInfo, allText)}).Run(all);
        QVERIFY(!QFile::exists(slot) && !QFile::exists(pointer) && QFile::exists(cover));
        QTRY_COMPARE(refreshed.count(), 1);

        // The page is loaded again from its start, so that its covers are fetched anew.
        ModalScript({Answer(QMessageBox::Ok, kInfo, imageText)}).Run(images);
        QVERIFY(!QFile::exists(cover));
        QCOMPARE(window->page().GetCurrentPage(), 1);
        QCOMPARE(window->views().GetCurrentIndex(), 0);
    }

    void refreshStartsOnceWhileOneRuns()
    {
        QSignalSpy refreshed(&window->refresher(), &UserDataLoader::completed);
        {
            // The refresh waits for the folder store while the test holds it.
            QWriteLockerExt2 token(&window->folders().lock);
            window->form()->action_Reresh_All_Data->trigger();
            QVERIFY(window->refresher().IsRunning());
            window->form()->action_Reresh_All_Data->trigger();
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
        QTest::addColumn<bool>("covers");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("count");
        // A changed view switches to it from its first page; a changed page size reloads from the
        // first page; otherwise only the timers are applied again and the page stays.
        QTest::newRow("default view") << "Display_DefaultView" << "Covers View" << true << 1 << 10;
        QTest::newRow("page size") << "Display_DetailsView_PageCount" << "20" << false << 1 << 20;
        QTest::newRow("nothing of the list") << "Display_CoversView_PageCount" << QString() << false << 2 << 10;
    }

    void listSettingsReloadTheList()
    {
        QFETCH(QString, setting);
        QFETCH(QString, choice);
        QFETCH(bool, covers);
        QFETCH(int, page);
        QFETCH(int, count);
        ModalScript({Settings([&](DlgNativeSettings *dialog) {
            if (!choice.isEmpty())
                Choose(dialog->findChild<QComboBox *>(setting), choice);
            Press(dialog, QDialogButtonBox::Ok);
        })}).Run(Form()->action_Settings);
        QCOMPARE(window->views().IsImageView(), covers);
        QCOMPARE(Form()->action_ShowInfo_View_Covers->isChecked(), covers);
        QCOMPARE(Form()->action_ShowInfo_View_Details->isChecked(), !covers);
        QCOMPARE(CurrentPage(), page);
        QCOMPARE(window->pageCombo()->currentIndex(), page - 1);
        QCOMPARE(window->views().GetCount(), count);
        QCOMPARE(window->totalsLabel()->text(), QStringLiteral(" Total: 200 items (%1 items per page) ").arg(count));
        QVERIFY(QFile::exists(SettingsFile()));
    }

    void cancelledSettingsChangeAndWriteNothing()
    {
        {
            QWriteLockerExt2 token(&window->settings().lock);
            QVERIFY(window->settings().SaveToFile(token));
        }
        const QByteArray bytes = FileBytes(SettingsFile());
        QVERIFY(!bytes.isEmpty());
        const NativeConfigSettings before = window->settings().GetCurrentSettings();

        ModalScript({Settings([](DlgNativeSettings *dialog) {
            dialog->ui->Check_NewDatabase->click();
            dialog->ui->Check_NewVersion->click();
            Choose(dialog->ui->Display_DefaultView, QStringLiteral("Covers View"));
            Choose(dialog->ui->Display_DetailsView_PageCount, QStringLiteral("50"));
            Press(dialog, QDialogButtonBox::Cancel);
        })}).Run(Form()->action_Settings);

        QVERIFY(window->settings().GetCurrentSettings() == before);
        QCOMPARE(FileBytes(SettingsFile()), bytes);
        QVERIFY(!window->timerDatabase()->isActive() && !window->views().IsImageView());
        QCOMPARE(CurrentPage(), 2);
        QCOMPARE(window->views().GetCount(), 10);
    }

    void aboutOpensAndCloses()
    {
        const QByteArray folders = FileHash(FoldersFile());
        QPointer<QWidget> shown;
        ModalScript({[&](QWidget *widget) {
            auto *about = qobject_cast<DlgAbout *>(widget);
            QVERIFY(about);
            shown = about;
            QCOMPARE(about->windowTitle(), QStringLiteral("About"));
            QCOMPARE(about->parentWidget(), window.get());
            about->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        }}).Run(Form()->action_Help_About);
        // It lived on the command's stack: gone once the command ended.
        QVERIFY(shown.isNull());
        QCOMPARE(FileHash(FoldersFile()), folders);
    }

    void reorderModeAndDropSaveTheNewOrder()
    {
        const QUuid extra = AddFixedFolder(*window, QStringLiteral("Mine"), {3, 5});
        window->OnLoadDisplayFolders();
        TreeControllerImpls *view = window->tree().treeView;
        ModalScript({Answer(QMessageBox::Ok, kInfo, QStringLiteral("Now you can drag and drop the Tree View."))})
            .Run(Form()->action_ShowCategory_Option_ResortCategory);

        QStandardItemModel *model = window->tree().model;
        const QList<QUuid> before = TreeOrder();
        QVERIFY(before.size() >= 3);
        QCOMPARE(before.last(), extra);
        QCOMPARE(StoreOrder(), before);
        const QByteArray file = FileHash(FoldersFile());
        // A drag starts with a press on its row, which makes that folder the current one.
        SelectFolder(*window, extra);
        QCOMPARE(window->views().GetCount(), 2);

        // The last folder dropped onto the upper half of the first row lands first.
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const QRect first = view->visualRect(model->index(0, 0));
        QVERIFY(first.isValid());
        QScopedPointer<QMimeData> data(model->mimeData({model->index(model->rowCount() - 1, 0)}));
        QDropEvent drop(QPoint(first.center().x(), first.top() + 1), Qt::MoveAction, data.data(), Qt::LeftButton,
                        Qt::NoModifier);
        view->dropEvent(&drop);
        QVERIFY(drop.isAccepted());

        QList<QUuid> expected = before;
        expected.move(expected.size() - 1, 0);
        QCOMPARE(TreeOrder(), expected);
        QCOMPARE(StoreOrder(), expected);
        QCOMPARE(window->CurrentFolderId().toUuid(), extra);
        QCOMPARE(window->views().GetCount(), 2);
        QVERIFY(FileHash(FoldersFile()) != file);

        DisplayDataSaver reread(FoldersFile());
        bool added = false;
        QVERIFY(reread.LoadFolders(added));
        QReadLockerExt2 token(0, &reread.lock);
        QList<QUuid> saved;
        for (const DisplayFolder *folder : qAsConst(reread.folders))
            saved << folder->uid;
        QCOMPARE(saved, expected);
        window->hide();
    }

private:
    Ui_MainWindow *Form() const { return window->form(); }
    QString SettingsFile() const { return window->settings().filePath; }
    int CurrentPage() { return window->page().GetCurrentPage(); }
    QList<QUuid> TreeOrder() const { return window->tree().ReadFolderOrder(); }
    QList<QUuid> StoreOrder()
    {
        QReadLockerExt2 token(0, &window->folders().lock);
        QList<QUuid> ids;
        for (const DisplayFolder *folder : qAsConst(window->folders().folders))
            ids << folder->uid;
        return ids;
    }

    void SetDirectLinks(bool direct)
    {
        QWriteLocker locker(&window->settings().lock);
        window->settings().currentSettings.Advance_UseDirectGoLink = direct;
    }
    QUuid CurrentId() const { return window->CurrentFolderId().toUuid(); }
    QString FoldersFile() const { return window->folders().userFoldersPath; }
    QStandardItemModel *Tree() const { return window->tree().model; }
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
    int CountOfType(int type)
    {
        QReadLockerExt2 token(0, &window->folders().lock);
        return int(std::count_if(window->folders().folders.cbegin(), window->folders().folders.cend(),
                                 [type](const DisplayFolder *folder) { return folder->type == type; }));
    }
    QUuid AddFilter(const QString &name, const QString &keyword)
    {
        ModalScript({Fill<DlgAddFilter>([=](DlgAddFilter *dialog) {
            dialog->creator.nameEdit->setText(name);
            dialog->creator.bookNameEdit->setText(keyword);
            Press(dialog, QDialogButtonBox::Ok);
        })}).Run(window->form()->action_Add_Filter);
        return CurrentId();
    }

    QTemporaryDir dir;
    QString cataloguePath;
    TestLinkCatcher links;
    std::unique_ptr<MainWindow> window;
};

TESSALY_MAINWINDOW_TEST_MAIN(TestCommands)
#include "test_commands.moc"
