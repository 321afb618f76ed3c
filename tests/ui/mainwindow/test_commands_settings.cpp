// Commands of the main window that change how it works: settings, About and the folder re-order
// mode with its drop.
#include "test_mainwindow_fixture.h"
#include "test_modal_script.h"

#include "dialogs/DlgAbout.h"
#include "dialogs/DlgNativeSettings.h"
#include "ui_DlgNativeSettings.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDialogButtonBox>
#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>

#include <functional>

using namespace MainWindowTest;

namespace {

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

QByteArray FileHash(const QString &path)
{
    return QCryptographicHash::hash(FileBytes(path), QCryptographicHash::Sha256);
}

} // namespace

class TestCommandsSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { window.reset(); }
    void acceptedSettingsReapplyTheDatabaseTimer();
    void defaultViewChangeSwitchesViewAndReloadsFirstPage();
    void pageCountChangeReloadsInTheSameView();
    void unchangedListSettingsKeepThePage();
    void cancelledSettingsChangeAndWriteNothing();
    void aboutOpensAndCloses();
    void reorderModeTogglesDragAndDrop();
    void dropInReorderModeSavesTheNewOrder();

private:
    Ui_MainWindow *Form() const { return window->form(); }
    QString SettingsFile() const { return window->settings().filePath; }
    QString FoldersFile() const { return window->folders().userFoldersPath; }
    int CurrentPage() { return window->page().GetCurrentPage(); }
    // Details view, ten books a page, the database check off; the list on its second page.
    void OpenOnSecondPage();
    QList<QUuid> TreeOrder() const { return window->tree().ReadFolderOrder(); }
    QList<QUuid> StoreOrder()
    {
        QReadLockerExt2 token(0, &window->folders().lock);
        QList<QUuid> ids;
        for (const DisplayFolder *folder : qAsConst(window->folders().folders))
            ids << folder->uid;
        return ids;
    }

    QTemporaryDir dir;
    QString cataloguePath;
    std::unique_ptr<MainWindow> window;
};

void TestCommandsSettings::initTestCase()
{
    // Nothing may leave the machine: the catalogue service is a closed local port.
    Const::SetServiceRootsForTesting(QStringLiteral("http://127.0.0.1:1"), QStringLiteral("http://127.0.0.1:1"),
                                     QString());
    QVERIFY(dir.isValid());
    cataloguePath = dir.filePath(QStringLiteral("settings.rfile"));
    QVERIFY(MakeCatalogue(cataloguePath, 23));
}

void TestCommandsSettings::init()
{
    QFile::remove(Helper::GetLocalFilePath(QStringLiteral("user-folders.file"), Helper::FolderBase));
    window = std::make_unique<MainWindow>(nullptr, false);
    QVERIFY(!window->IsConstructionFailed());
    QVERIFY(LoadCatalogue(*window, cataloguePath));
    OpenOnSecondPage();
}

void TestCommandsSettings::OpenOnSecondPage()
{
    SetPageSizes(*window, 10, 10);
    {
        QWriteLocker locker(&window->settings().lock);
        window->settings().currentSettings.Display_DefaultView = View_Details;
        window->settings().currentSettings.Check_NewVersion = true;
        window->settings().currentSettings.Check_NewDatabase = false;
        window->settings().currentSettings.Check_NewDatabase_Minutes = 120;
    }
    window->OnRecheckAutoInvokeEvents();
    window->OnCallRefreshListView(false, false);
    window->SetRefreshServiceIsStarting(false);
    window->OnLoadDisplayFolders();
    SelectFolder(*window, FolderOfType(*window, AllBooks));
    Form()->action_ShowInfo_Page_Next->trigger();
    QCOMPARE(CurrentPage(), 2);
    QVERIFY(!window->views().IsImageView());
    QCOMPARE(window->views().GetCount(), 10);
}

void TestCommandsSettings::acceptedSettingsReapplyTheDatabaseTimer()
{
    QVERIFY(!window->timerDatabase()->isActive());
    ModalScript({Settings([](DlgNativeSettings *dialog) {
        QVERIFY(!dialog->ui->Check_NewDatabase_Minutes->isEnabled());
        dialog->ui->Check_NewDatabase->click();
        Choose(dialog->ui->Check_NewDatabase_Minutes, QStringLiteral("168"));
        Press(dialog, QDialogButtonBox::Ok);
    })}).Run(Form()->action_Settings);

    QVERIFY(window->timerDatabase()->isActive());
    QCOMPARE(window->timerDatabase()->interval(), 10080 * 60000);
    NativeConfigLoader reread(SettingsFile());
    QVERIFY(reread.Load());
    QCOMPARE(reread.currentSettings.Check_NewDatabase, true);
    QCOMPARE(reread.currentSettings.Check_NewDatabase_Minutes, 10080);

    QVERIFY(window->timerVersion()->isActive());

    // The tool-bar command is the same command: switching the checks off stops the timers.
    ModalScript({Settings([](DlgNativeSettings *dialog) {
        QCOMPARE(dialog->ui->Check_NewDatabase_Minutes->currentText(), QStringLiteral("168"));
        dialog->ui->Check_NewDatabase->click();
        dialog->ui->Check_NewVersion->click();
        Press(dialog, QDialogButtonBox::Ok);
    })}).Run(Form()->action_Tool_Settings);
    QVERIFY(!window->timerDatabase()->isActive());
    QVERIFY(!window->timerVersion()->isActive());
    QCOMPARE(window->settings().GetCurrentSettings().Check_NewDatabase, false);
}

void TestCommandsSettings::defaultViewChangeSwitchesViewAndReloadsFirstPage()
{
    ModalScript({Settings([](DlgNativeSettings *dialog) {
        Choose(dialog->ui->Display_DefaultView, QStringLiteral("Covers View"));
        Press(dialog, QDialogButtonBox::Ok);
    })}).Run(Form()->action_Settings);

    QVERIFY(window->views().IsImageView());
    QVERIFY(Form()->action_ShowInfo_View_Covers->isChecked());
    QVERIFY(!Form()->action_ShowInfo_View_Details->isChecked());
    QCOMPARE(CurrentPage(), 1);
    QCOMPARE(window->views().GetCount(), 10);
    QCOMPARE(window->pageCombo()->currentIndex(), 0);

    // And back: the details view again, from its first page.
    Form()->action_ShowInfo_Page_Next->trigger();
    QCOMPARE(CurrentPage(), 2);
    ModalScript({Settings([](DlgNativeSettings *dialog) {
        Choose(dialog->ui->Display_DefaultView, QStringLiteral("Details View"));
        Press(dialog, QDialogButtonBox::Ok);
    })}).Run(Form()->action_Settings);
    QVERIFY(!window->views().IsImageView());
    QVERIFY(Form()->action_ShowInfo_View_Details->isChecked());
    QCOMPARE(CurrentPage(), 1);
}

void TestCommandsSettings::pageCountChangeReloadsInTheSameView()
{
    ModalScript({Settings([](DlgNativeSettings *dialog) {
        Choose(dialog->ui->Display_DetailsView_PageCount, QStringLiteral("20"));
        Press(dialog, QDialogButtonBox::Ok);
    })}).Run(Form()->action_Settings);

    QVERIFY(!window->views().IsImageView());
    QCOMPARE(CurrentPage(), 1);
    QCOMPARE(window->views().GetCount(), 20);
    QCOMPARE(window->totalsLabel()->text(), QStringLiteral(" Total: 23 items (20 items per page) "));
}

void TestCommandsSettings::unchangedListSettingsKeepThePage()
{
    // Nothing of the list changed: only the timers are re-applied, the page stays.
    ModalScript({Settings([](DlgNativeSettings *dialog) { Press(dialog, QDialogButtonBox::Ok); })})
        .Run(Form()->action_Settings);
    QCOMPARE(CurrentPage(), 2);
    QCOMPARE(window->views().GetCount(), 10);
    QVERIFY(QFile::exists(SettingsFile()));
}

void TestCommandsSettings::cancelledSettingsChangeAndWriteNothing()
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
    QVERIFY(!window->timerDatabase()->isActive());
    QVERIFY(!window->views().IsImageView());
    QCOMPARE(CurrentPage(), 2);
    QCOMPARE(window->views().GetCount(), 10);
}

void TestCommandsSettings::aboutOpensAndCloses()
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

void TestCommandsSettings::reorderModeTogglesDragAndDrop()
{
    TreeControllerImpls *view = window->tree().treeView;
    QAction *sort = Form()->action_ShowCategory_Option_ResortCategory;
    QVERIFY(sort->isCheckable());
    QVERIFY(!sort->isChecked());
    QVERIFY(!view->dragEnabled());
    QVERIFY(!view->viewport()->acceptDrops());

    for (int round = 0; round < 2; ++round) {
        // Switching on always tells the user first.
        ModalScript({[](QWidget *widget) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), QStringLiteral("Info"));
            QCOMPARE(box->text(), QStringLiteral("Now you can drag and drop the Tree View."));
            box->button(QMessageBox::Ok)->click();
        }}).Run(sort);
        QVERIFY(sort->isChecked());
        QVERIFY(view->dragEnabled());
        QVERIFY(view->acceptDrops());
        QVERIFY(view->viewport()->acceptDrops());
        QVERIFY(view->showDropIndicator());
        QCOMPARE(view->dragDropMode(), QAbstractItemView::InternalMove);

        // Switching off says nothing.
        ModalScript().Run(sort);
        QVERIFY(!sort->isChecked());
        QVERIFY(!view->dragEnabled());
        QVERIFY(!view->acceptDrops());
        QVERIFY(!view->viewport()->acceptDrops());
        QVERIFY(!view->showDropIndicator());
        QCOMPARE(view->dragDropMode(), QAbstractItemView::NoDragDrop);
    }
}

void TestCommandsSettings::dropInReorderModeSavesTheNewOrder()
{
    const QUuid extra = AddFixedFolder(*window, QStringLiteral("Mine"), {3, 5});
    window->OnLoadDisplayFolders();
    ModalScript({[](QWidget *widget) { qobject_cast<QMessageBox *>(widget)->button(QMessageBox::Ok)->click(); }})
        .Run(Form()->action_ShowCategory_Option_ResortCategory);

    TreeControllerImpls *view = window->tree().treeView;
    QStandardItemModel *model = window->tree().model;
    const QList<QUuid> before = TreeOrder();
    QCOMPARE(before.size(), model->rowCount());
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

TESSALY_MAINWINDOW_TEST_MAIN(TestCommandsSettings)
#include "test_commands_settings.moc"
