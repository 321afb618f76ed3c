// Commands of the main window: folder dialogs, removal, store page links, caches and the
// manual version check.
#include "test_mainwindow_fixture.h"

#include "DlgAddCategory.h"
#include "DlgAddFilter.h"
#include "FlowLayout.h"
#include "UserDataRefresher.h"
#include "ui_DlgAddCategory.h"
#include "ui_DlgAddFilter.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>

#include <functional>

using namespace MainWindowTest;

namespace {

QList<qint64> Sorted(QList<qint64> ids)
{
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Handles, in order, the modal windows that the code under test opens: each step gets one
// window. Steps run from the event loop of that window, never inside the polling timer, so a
// step may open further modal windows. A window no step is left for is rejected.
class ModalScript : public QObject
{
public:
    using Step = std::function<void(QWidget *)>;

    explicit ModalScript(QList<Step> steps)
        : steps(std::move(steps))
    {
        connect(&timer, &QTimer::timeout, this, &ModalScript::Poll);
        timer.start(10);
    }

    // Ends the script: later modal windows belong to the next one.
    void Stop() { timer.stop(); }
    void Start() { timer.start(10); }

    int handled = 0;
    QStringList unexpected;

private:
    void Poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        for (const QPointer<QWidget> &known : qAsConst(seen)) {
            if (known == modal)
                return;
        }
        seen << modal;
        if (handled >= steps.size()) {
            unexpected << modal->windowTitle();
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                QTimer::singleShot(0, dialog, &QDialog::reject);
            return;
        }
        Step step = steps.at(handled++);
        QPointer<QWidget> target = modal;
        QTimer::singleShot(0, this, [step, target]() {
            if (target)
                step(target);
        });
    }

    QList<Step> steps;
    QList<QPointer<QWidget>> seen;
    QTimer timer;
};

// A step that answers a message box, after checking its title and text.
ModalScript::Step Answer(QMessageBox::StandardButton button, const QString &title, const QString &text,
                         QStringList *log = nullptr)
{
    return [=](QWidget *widget) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        QVERIFY(box);
        if (log)
            *log << box->text();
        QCOMPARE(box->windowTitle(), title);
        QCOMPARE(box->text(), text);
        box->button(button)->click();
    };
}

template <typename Dialog>
void Press(Dialog *dialog, QDialogButtonBox::StandardButton which)
{
    dialog->ui->buttonBox->button(which)->click();
}

class LinkCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

QByteArray FileHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

void Touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x");
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void addFilterStoresComputesAndShowsIt();
    void rejectedAddAndSearchChangeNothing();
    void editSwapsInTheCopyOnlyAfterAcceptance();
    void cancelledEditAndEditOfOtherFoldersChangeNothing();
    void searchTwiceKeepsOneSearchFolder();
    void addCategoryAddsOnlyNewCategories();
    void removeAsksThenRemovesAndSaves();
    void resortTogglesDragAndDrop();
    void storePageLinkDirectOrNot();
    void brokenLinkOffersNewCatalogue();
    void manualVersionCheck();
    void clearCaches();

private:
    QStringList TreeTexts() const;
    QUuid CurrentId() const { return window->CurrentFolderId().toUuid(); }
    QString FoldersFile() const { return window->folders().userFoldersPath; }
    DisplayFolder *Stored(const QUuid &id)
    {
        QReadLockerExt2 token(0, &window->folders().lock);
        return window->folders().FindFolder(id, token);
    }
    int CountOfType(int type)
    {
        QReadLockerExt2 token(0, &window->folders().lock);
        int count = 0;
        for (const DisplayFolder *folder : qAsConst(window->folders().folders))
            count += folder->type == type ? 1 : 0;
        return count;
    }
    QUuid AddFilterNamed(const QString &name, const QString &keyword);
    void Trigger(QAction *action, ModalScript &script, int steps);

    QTemporaryDir dir;
    QString cataloguePath;
    LinkCatcher links;
    std::unique_ptr<MainWindow> window;
};

void TestCommands::initTestCase()
{
    // Nothing may leave the machine: the catalogue service is a closed local port.
    Const::SetServiceRootsForTesting(QStringLiteral("http://127.0.0.1:1"), QStringLiteral("http://127.0.0.1:1"),
                                     QString());
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &links, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &links, "open");
    QVERIFY(dir.isValid());
    cataloguePath = dir.filePath(QStringLiteral("commands.rfile"));
    const QString store = Const::StoreSiteUrl;
    const QString site = Const::CatalogSiteUrl;
    QVERIFY(MakeCatalogue(
        cataloguePath, 200,
        {QStringLiteral("update published_bookinfo set BookName = 'Qzxv stripes' where UID in (4, 9)"),
         QStringLiteral("update published_bookinfo set BookAuthor = 'Ann Qzxv' where UID in (9, 12)"),
         QStringLiteral("update published_bookinfo set GoLink = '%1book/1', _TransLink = '%2go/1' where UID = 1")
             .arg(store, site),
         QStringLiteral("update published_bookinfo set GoLink = '', _TransLink = '%1go/2' where UID = 2").arg(site),
         QStringLiteral("update published_bookinfo set GoLink = 'https://elsewhere.example/3' where UID = 3")}));
}

void TestCommands::init()
{
    links.opened.clear();
    QFile::remove(Helper::GetLocalFilePath(QStringLiteral("user-folders.file"), Helper::FolderBase));
    window = std::make_unique<MainWindow>(nullptr, false);
    QVERIFY(!window->IsConstructionFailed());
    QVERIFY(LoadCatalogue(*window, cataloguePath));
    window->OnCallRefreshListView(false, false);
    window->SetRefreshServiceIsStarting(false);
    window->OnLoadDisplayFolders();
    QVERIFY(QFile::exists(FoldersFile()));
}

void TestCommands::cleanup()
{
    window.reset();
}

QStringList TestCommands::TreeTexts() const
{
    QStringList texts;
    QStandardItemModel *model = window->tree().model;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->item(row)->text();
    return texts;
}

void TestCommands::Trigger(QAction *action, ModalScript &script, int steps)
{
    QVERIFY(action->isEnabled());
    script.Start();
    action->trigger();
    script.Stop();
    QCOMPARE(script.handled, steps);
    QCOMPARE(script.unexpected, QStringList());
}

QUuid TestCommands::AddFilterNamed(const QString &name, const QString &keyword)
{
    ModalScript script({[=](QWidget *widget) {
        auto *dialog = qobject_cast<DlgAddFilter *>(widget);
        QVERIFY(dialog);
        dialog->creator.nameEdit->setText(name);
        dialog->creator.bookNameEdit->setText(keyword);
        Press(dialog, QDialogButtonBox::Ok);
    }});
    Trigger(window->form()->action_Add_Filter, script, 1);
    return CurrentId();
}

void TestCommands::addFilterStoresComputesAndShowsIt()
{
    const int rows = window->tree().model->rowCount();
    const QByteArray before = FileHash(FoldersFile());
    const QUuid id = AddFilterNamed(QStringLiteral("Stripes"), QStringLiteral("Qzxv"));

    DisplayFolder *stored = Stored(id);
    QVERIFY(stored);
    QCOMPARE(stored->type, int(FilterFolder));
    QCOMPARE(Sorted(stored->bookIds), QList<qint64>({4, 9}));
    QCOMPARE(stored->calcCaption, QStringLiteral("Stripes (2 Books)"));
    // Appended to the tree, current, its first page shown.
    QCOMPARE(window->tree().model->rowCount(), rows + 1);
    QCOMPARE(TreeTexts().last(), QStringLiteral("Stripes (2 Books)"));
    QCOMPARE(window->tree().treeView->currentIndex().row(), rows);
    QCOMPARE(window->views().GetCount(), 2);
    QVERIFY(FileHash(FoldersFile()) != before);

    // Written to the folders file.
    DisplayDataSaver reread(FoldersFile());
    bool added = false;
    QVERIFY(reread.LoadFolders(added));
    QReadLockerExt2 token(0, &reread.lock);
    QVERIFY(reread.FindFolder(id, token));
    QCOMPARE(reread.FindFolder(id, token)->caption, QStringLiteral("Stripes"));
}

void TestCommands::rejectedAddAndSearchChangeNothing()
{
    const QStringList tree = TreeTexts();
    const int folders = window->folders().folders.size();
    const QUuid search = FolderOfType(*window, SearchResult);
    const QByteArray before = FileHash(FoldersFile());
    for (QAction *action : {window->form()->action_Add_Filter, window->form()->action_StartSearch}) {
        ModalScript script({[](QWidget *widget) {
            auto *dialog = qobject_cast<DlgAddFilter *>(widget);
            QVERIFY(dialog);
            dialog->creator.bookNameEdit->setText(QStringLiteral("Qzxv"));
            Press(dialog, QDialogButtonBox::Cancel);
        }});
        Trigger(action, script, 1);
    }
    QCOMPARE(TreeTexts(), tree);
    QCOMPARE(window->folders().folders.size(), folders);
    QCOMPARE(FolderOfType(*window, SearchResult), search);
    QVERIFY(Stored(search)->search.IsEmpty());
    QCOMPARE(FileHash(FoldersFile()), before);
}

void TestCommands::editSwapsInTheCopyOnlyAfterAcceptance()
{
    const QUuid id = AddFilterNamed(QStringLiteral("Stripes"), QStringLiteral("Qzxv"));
    const int row = window->tree().treeView->currentIndex().row();
    const int folders = window->folders().folders.size();
    const QByteArray before = FileHash(FoldersFile());

    ModalScript script({[&](QWidget *widget) {
        auto *dialog = qobject_cast<DlgAddFilter *>(widget);
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Edit Filter"));
        QCOMPARE(dialog->creator.nameEdit->text(), QStringLiteral("Stripes"));
        // The dialog never works on the stored record itself.
        QVERIFY(dialog->folder != Stored(id));
        dialog->creator.nameEdit->setText(QStringLiteral("Ann"));
        dialog->creator.bookNameEdit->clear();
        dialog->creator.authorEdit->setText(QStringLiteral("Ann Qzxv"));
        {
            // While the computation waits for the store, the stored record is still the old one.
            QWriteLockerExt2 token(&window->folders().lock);
            Press(dialog, QDialogButtonBox::Ok);
            QVERIFY(dialog->IsComputing());
            DisplayFolder *stored = window->folders().FindFolder(id, token);
            QCOMPARE(stored->caption, QStringLiteral("Stripes"));
            QCOMPARE(stored->search.findName, QStringList{QStringLiteral("Qzxv")});
            QCOMPARE(Sorted(stored->bookIds), QList<qint64>({4, 9}));
        }
    }});
    Trigger(window->form()->action_ShowCategory_Option_EditFolder, script, 1);

    DisplayFolder *stored = Stored(id);
    QCOMPARE(stored->caption, QStringLiteral("Ann"));
    QCOMPARE(stored->search.findName, QStringList());
    QCOMPARE(stored->search.findAuthor, QStringList{QStringLiteral("Ann Qzxv")});
    QCOMPARE(Sorted(stored->bookIds), QList<qint64>({9, 12}));
    QCOMPARE(window->folders().folders.size(), folders);
    // Same place in the tree, rebuilt in place and still current.
    QCOMPARE(window->tree().model->item(row)->text(), QStringLiteral("Ann (2 Books)"));
    QCOMPARE(CurrentId(), id);
    QVERIFY(FileHash(FoldersFile()) != before);
}

void TestCommands::cancelledEditAndEditOfOtherFoldersChangeNothing()
{
    const QUuid id = AddFilterNamed(QStringLiteral("Stripes"), QStringLiteral("Qzxv"));
    DisplayFolder *record = Stored(id);
    const QByteArray before = FileHash(FoldersFile());
    const QStringList tree = TreeTexts();

    ModalScript script({[](QWidget *widget) {
        auto *dialog = qobject_cast<DlgAddFilter *>(widget);
        QVERIFY(dialog);
        dialog->creator.nameEdit->setText(QStringLiteral("Changed"));
        dialog->creator.authorEdit->setText(QStringLiteral("Changed"));
        // An empty name is refused first; the form is then given up.
        dialog->creator.nameEdit->clear();
        Press(dialog, QDialogButtonBox::Ok);
        Press(dialog, QDialogButtonBox::Cancel);
    },
                        Answer(QMessageBox::Ok, QStringLiteral("Info"), QStringLiteral("Please enter folder name"))});
    Trigger(window->form()->action_ShowCategory_Option_EditFolder, script, 2);
    QCOMPARE(Stored(id), record);
    QCOMPARE(record->caption, QStringLiteral("Stripes"));
    QCOMPARE(record->search.findAuthor, QStringList());
    QCOMPARE(record->search.findName, QStringList{QStringLiteral("Qzxv")});
    QCOMPARE(TreeTexts(), tree);
    QCOMPARE(FileHash(FoldersFile()), before);

    // A built-in folder is not edited: no dialog appears.
    SelectFolder(*window, FolderOfType(*window, AllBooks));
    ModalScript none({});
    window->on_action_ShowCategory_Option_EditFolder_triggered();
    none.Stop();
    QCOMPARE(none.handled, 0);
    QCOMPARE(none.unexpected, QStringList());
    QCOMPARE(FileHash(FoldersFile()), before);
}

void TestCommands::searchTwiceKeepsOneSearchFolder()
{
    const QUuid search = FolderOfType(*window, SearchResult);
    const int row = window->tree().FindFolderIndex(search).row();
    DisplayFolder *first = Stored(search);
    QCOMPARE(CountOfType(SearchResult), 1);

    const QStringList keywords = {QStringLiteral("Qzxv"), QStringLiteral("Ann Qzxv")};
    const QList<QList<qint64>> expected = {{4, 9}, {9, 12}};
    for (int round = 0; round < 2; ++round) {
        const QByteArray before = FileHash(FoldersFile());
        ModalScript script({[&](QWidget *widget) {
            auto *dialog = qobject_cast<DlgAddFilter *>(widget);
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Search Books..."));
            (round == 0 ? dialog->creator.bookNameEdit : dialog->creator.authorEdit)->setText(keywords.at(round));
            Press(dialog, QDialogButtonBox::Ok);
        }});
        Trigger(window->form()->action_StartSearch, script, 1);

        QCOMPARE(CountOfType(SearchResult), 1);
        QCOMPARE(FolderOfType(*window, SearchResult), search);
        QCOMPARE(Sorted(Stored(search)->bookIds), expected.at(round));
        QCOMPARE(window->tree().FindFolderIndex(search).row(), row);
        QCOMPARE(window->tree().model->item(row)->text(), QStringLiteral("Search Result (2 Books)"));
        QCOMPARE(CurrentId(), search);
        QCOMPARE(window->views().GetCount(), 2);
        QVERIFY(FileHash(FoldersFile()) != before);
    }
    QVERIFY(Stored(search) != first);
}

void TestCommands::addCategoryAddsOnlyNewCategories()
{
    const int rows = window->tree().model->rowCount();
    qint64 chosen = 0;
    ModalScript script({[&](QWidget *widget) {
        auto *dialog = qobject_cast<DlgAddCategory *>(widget);
        QVERIFY(dialog);
        QVERIFY(dialog->checkLayout->count() > 0);
        QCheckBox *box = qobject_cast<QCheckBox *>(dialog->checkLayout->itemAt(0)->widget());
        chosen = dialog->creator.boxIds.value(box);
        box->setChecked(true);
        Press(dialog, QDialogButtonBox::Ok);
    }});
    QByteArray before = FileHash(FoldersFile());
    Trigger(window->form()->action_Add_Category, script, 1);
    QCOMPARE(window->tree().model->rowCount(), rows + 1);
    QCOMPARE(CountOfType(CategoryFolder), 1);
    const QUuid id = window->tree().GetItemFolderId(window->tree().model->index(rows, 0)).toUuid();
    DisplayFolder *stored = Stored(id);
    QVERIFY(stored);
    QCOMPARE(stored->categoryUid, chosen);
    QVERIFY(stored->calcBookCount >= 10);
    QCOMPARE(stored->bookIds.size(), int(stored->calcBookCount));
    QCOMPARE(TreeTexts().last(), stored->calcCaption);
    QVERIFY(FileHash(FoldersFile()) != before);

    // The category now has a folder: its box is checked and disabled; OK adds nothing, writes nothing.
    before = FileHash(FoldersFile());
    ModalScript again({[&](QWidget *widget) {
        auto *dialog = qobject_cast<DlgAddCategory *>(widget);
        QVERIFY(dialog);
        QCheckBox *box = qobject_cast<QCheckBox *>(dialog->checkLayout->itemAt(0)->widget());
        QVERIFY(box->isChecked());
        QVERIFY(!box->isEnabled());
        Press(dialog, QDialogButtonBox::Ok);
    }});
    Trigger(window->form()->action_Add_Category, again, 1);
    QCOMPARE(window->tree().model->rowCount(), rows + 1);
    QCOMPARE(CountOfType(CategoryFolder), 1);
    QCOMPARE(FileHash(FoldersFile()), before);
}

void TestCommands::removeAsksThenRemovesAndSaves()
{
    const QUuid id = AddFilterNamed(QStringLiteral("Stripes"), QStringLiteral("Qzxv"));
    const int rows = window->tree().model->rowCount();
    const QString question = QStringLiteral("Are you sure you want to remove this folder?");
    QByteArray before = FileHash(FoldersFile());

    ModalScript no({Answer(QMessageBox::No, QStringLiteral("Info"), question)});
    Trigger(window->form()->action_ShowCategory_Option_RemoveFolder, no, 1);
    QVERIFY(Stored(id));
    QCOMPARE(window->tree().model->rowCount(), rows);
    QCOMPARE(FileHash(FoldersFile()), before);

    ModalScript yes({Answer(QMessageBox::Yes, QStringLiteral("Info"), question)});
    Trigger(window->form()->action_ShowCategory_Option_RemoveFolder, yes, 1);
    QVERIFY(!Stored(id));
    QCOMPARE(window->tree().model->rowCount(), rows - 1);
    QVERIFY(!window->tree().FindFolderIndex(id).isValid());
    QVERIFY(FileHash(FoldersFile()) != before);
    DisplayDataSaver reread(FoldersFile());
    bool added = false;
    QVERIFY(reread.LoadFolders(added));
    QReadLockerExt2 token(0, &reread.lock);
    QVERIFY(!reread.FindFolder(id, token));
}

void TestCommands::resortTogglesDragAndDrop()
{
    QAction *sort = window->form()->action_ShowCategory_Option_ResortCategory;
    TreeControllerImpls *view = window->tree().treeView;
    ModalScript on({Answer(QMessageBox::Ok, QStringLiteral("Info"),
                           QStringLiteral("Now you can drag and drop the Tree View."))});
    Trigger(sort, on, 1);
    QVERIFY(sort->isChecked());
    QVERIFY(view->dragEnabled());
    QVERIFY(view->viewport()->acceptDrops());
    QVERIFY(view->showDropIndicator());

    ModalScript off({});
    Trigger(sort, off, 0);
    QVERIFY(!view->dragEnabled());
    QVERIFY(!view->acceptDrops());
    QVERIFY(!view->viewport()->acceptDrops());
}

void TestCommands::storePageLinkDirectOrNot()
{
    const QUuid folder = AddFixedFolder(*window, QStringLiteral("Links"), {1, 2});
    window->OnLoadDisplayFolders();
    SelectFolder(*window, folder);
    QCOMPARE(window->views().GetCurrentItem().toLongLong(), qint64(1));

    ModalScript none({});
    Trigger(window->form()->action_ShowInfo_Option_GoLink, none, 0);
    {
        QWriteLocker locker(&window->settings().lock);
        window->settings().currentSettings.Advance_UseDirectGoLink = false;
    }
    window->on_action_ShowInfo_Option_GoLink_ContextMenu_triggered();
    // Book 2 has no store link, but the other link is used.
    QVERIFY(window->views().SelectNext());
    Trigger(window->form()->action_ShowInfo_Option_GoLink, none, 0);
    QCOMPARE(links.opened, QList<QUrl>({QUrl(Const::StoreSiteUrl + QStringLiteral("book/1")),
                                        QUrl(Const::CatalogSiteUrl + QStringLiteral("go/1")),
                                        QUrl(Const::CatalogSiteUrl + QStringLiteral("go/2"))}));
}

void TestCommands::brokenLinkOffersNewCatalogue()
{
    const QString database = Helper::GetLocalFolder(Helper::FolderDatabase);
    const QString slot = Helper::CombinePath(database, QStringLiteral("slot-a.rfile"));
    Touch(slot);
    const QUuid folder = AddFixedFolder(*window, QStringLiteral("Broken"), {2, 3});
    window->OnLoadDisplayFolders();
    SelectFolder(*window, folder);
    const QString text = QStringLiteral("The software database is broken, do you want to re-download it?");
    QSignalSpy refreshed(&window->refresher(), &UserDataLoader::completed);

    // Book 2: empty store link. Cancel keeps everything.
    ModalScript cancel({Answer(QMessageBox::Cancel, QStringLiteral("Error"), text)});
    Trigger(window->form()->action_ShowInfo_Option_GoLink, cancel, 1);
    QVERIFY(QFile::exists(slot));
    QVERIFY(!window->refresher().IsRunning());

    // Book 3: a link to another site. Yes clears the catalogue files and refreshes at once.
    QVERIFY(window->views().SelectNext());
    ModalScript yes({Answer(QMessageBox::Yes, QStringLiteral("Error"), text)});
    Trigger(window->form()->action_ShowInfo_Option_GoLink, yes, 1);
    QVERIFY(!QFile::exists(slot));
    QTRY_COMPARE(refreshed.count(), 1);
    QVERIFY(links.opened.isEmpty());
}

void TestCommands::manualVersionCheck()
{
    bool answered = false;
    QString answer;
    int limit = 0;
    window->versionQuery = [&](int timeoutMs, bool &newer, QString &own, QString &latest) {
        limit = timeoutMs;
        own = QStringLiteral("3.3.5");
        latest = answer;
        newer = answered && answer != own;
        return answered;
    };
    ModalScript failed({Answer(QMessageBox::Ok, QStringLiteral("Info"),
                               QStringLiteral("An error occurred, please try again later."))});
    Trigger(window->form()->action_Check_For_Updates, failed, 1);
    QCOMPARE(limit, 10000);

    answered = true;
    answer = QStringLiteral("3.3.5");
    ModalScript current({Answer(QMessageBox::Ok, QStringLiteral("Info"), QStringLiteral("Your software is up to date."))});
    Trigger(window->form()->action_Check_For_Updates, current, 1);

    // The server's text is shown as it is, never as markup.
    answer = QStringLiteral("<b>9.0</b>");
    const QString question =
        QStringLiteral("Current Version: 3.3.5\nNew Version: <b>9.0</b>\nDo you want to download the latest version?");
    for (QMessageBox::StandardButton button : {QMessageBox::No, QMessageBox::Yes}) {
        ModalScript newer({[&](QWidget *widget) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            QVERIFY(box);
            QCOMPARE(box->textFormat(), Qt::PlainText);
            Answer(button, QStringLiteral("Info"), question)(widget);
        }});
        Trigger(window->form()->action_Check_For_Updates, newer, 1);
    }
    QCOMPARE(links.opened.size(), 1);
    QVERIFY(links.opened.at(0).toString().startsWith(Const::DownloadUrl));
}

void TestCommands::clearCaches()
{
    const QString database = Helper::GetLocalFolder(Helper::FolderDatabase);
    const QString images = Helper::GetLocalFolder(Helper::FolderImageCache);
    const QString slot = Helper::CombinePath(database, QStringLiteral("slot-b.rfile"));
    const QString pointer = Helper::CombinePath(database, QStringLiteral("pointer.prefile"));
    const QString cover = Helper::CombinePath(images, QStringLiteral("cover.rfile"));
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

    ModalScript cancel({Answer(QMessageBox::Cancel, QStringLiteral("Info"), allText),
                        Answer(QMessageBox::Cancel, QStringLiteral("Info"), imageText)});
    window->on_action_Tool_ClearAllCache_triggered();
    window->on_action_Tool_ClearAllImageCache_triggered();
    cancel.Stop();
    QCOMPARE(cancel.handled, 2);
    for (const QString &path : {slot, pointer, cover})
        QVERIFY(QFile::exists(path));

    ModalScript all({Answer(QMessageBox::Ok, QStringLiteral("Info"), allText)});
    Trigger(window->form()->action_Tool_ClearAllCache, all, 1);
    QVERIFY(!QFile::exists(slot));
    QVERIFY(!QFile::exists(pointer));
    QVERIFY(QFile::exists(cover));
    QTRY_COMPARE(refreshed.count(), 1);

    ModalScript image({Answer(QMessageBox::Ok, QStringLiteral("Info"), imageText)});
    Trigger(window->form()->action_Tool_ClearAllImageCache, image, 1);
    QVERIFY(!QFile::exists(cover));
}

TESSALY_MAINWINDOW_TEST_MAIN(TestCommands)
#include "test_commands.moc"
