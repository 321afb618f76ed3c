// Commands of the main window that change how it works: settings, About and the folder re-order
// mode with its drop.
#include "test_mainwindow_fixture.h"
#include "test_modal_script.h"

#include "dialogs/DlgAbout.h"
#include "dialogs/DlgNativeSettings.h"
#include "ui_DlgNativeSettings.h"
#include "ui_mainwindow.h"

#include <QDialogButtonBox>
#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QStandardItemModel>

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

} // namespace

class TestCommandsSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        KeepServicesLocal();
        QVERIFY(dir.isValid());
        cataloguePath = dir.filePath(QStringLiteral("settings.rfile"));
        QVERIFY(MakeCatalogue(cataloguePath, 23));
    }

    void init()
    {
        QFile::remove(Helper::GetLocalFilePath(QStringLiteral("user-folders.file"), Helper::FolderBase));
        window = std::make_unique<MainWindow>(nullptr, false);
        QVERIFY(!window->IsConstructionFailed());
        QVERIFY(LoadCatalogue(*window, cataloguePath));
        OpenOnSecondPage();
    }

    void cleanup() { window.reset(); }

    void acceptedSettingsReapplyTheDatabaseTimer()
    {
        QVERIFY(!window->timerDatabase()->isActive());
        ModalScript({Settings([](DlgNativeSettings *dialog) {
            QVERIFY(!dialog->ui->Check_NewDatabase_Minutes->isEnabled());
            dialog->ui->Check_NewDatabase->click();
            Choose(dialog->ui->Check_NewDatabase_Minutes, QStringLiteral("168"));
            Press(dialog, QDialogButtonBox::Ok);
        })}).Run(Form()->action_Settings);

        QVERIFY(window->timerDatabase()->isActive() && window->timerVersion()->isActive());
        QCOMPARE(window->timerDatabase()->interval(), 10080 * 60000);
        NativeConfigLoader reread(SettingsFile());
        QVERIFY(reread.Load());
        QCOMPARE(reread.currentSettings.Check_NewDatabase, true);
        QCOMPARE(reread.currentSettings.Check_NewDatabase_Minutes, 10080);

        // The tool-bar command is the same command: switching the checks off stops the timers.
        ModalScript({Settings([](DlgNativeSettings *dialog) {
            QCOMPARE(dialog->ui->Check_NewDatabase_Minutes->currentText(), QStringLiteral("168"));
            dialog->ui->Check_NewDatabase->click();
            dialog->ui->Check_NewVersion->click();
            Press(dialog, QDialogButtonBox::Ok);
        })}).Run(Form()->action_Tool_Settings);
        QVERIFY(!window->timerDatabase()->isActive() && !window->timerVersion()->isActive());
        QCOMPARE(window->settings().GetCurrentSettings().Check_NewDatabase, false);
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
        QCOMPARE(window->totalsLabel()->text(), QStringLiteral(" Total: 23 items (%1 items per page) ").arg(count));
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
        QVERIFY(!window->timerDatabase()->isActive());
        QVERIFY(!window->views().IsImageView());
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

    void reorderModeTogglesDragAndDrop()
    {
        TreeControllerImpls *view = window->tree().treeView;
        QAction *sort = Form()->action_ShowCategory_Option_ResortCategory;
        QVERIFY(sort->isCheckable() && !sort->isChecked());

        for (int round = 0; round < 4; ++round) {
            // Switching on always tells the user first; switching off says nothing.
            const bool on = round % 2 == 0;
            ModalScript(on ? QList<ModalScript::Step>{Answer(QMessageBox::Ok, QStringLiteral("Info"),
                                                             QStringLiteral("Now you can drag and drop the Tree View."))}
                           : QList<ModalScript::Step>{})
                .Run(sort);
            QCOMPARE(sort->isChecked(), on);
            QCOMPARE(view->dragEnabled(), on);
            QCOMPARE(view->acceptDrops(), on);
            QCOMPARE(view->viewport()->acceptDrops(), on);
            QCOMPARE(view->showDropIndicator(), on);
            QCOMPARE(view->dragDropMode(), on ? QAbstractItemView::InternalMove : QAbstractItemView::NoDragDrop);
        }
    }

    void dropInReorderModeSavesTheNewOrder()
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

private:
    Ui_MainWindow *Form() const { return window->form(); }
    QString SettingsFile() const { return window->settings().filePath; }
    QString FoldersFile() const { return window->folders().userFoldersPath; }
    int CurrentPage() { return window->page().GetCurrentPage(); }
    // Details view, ten books a page, the database check off; the list on its second page.
    void OpenOnSecondPage()
    {
        {
            QWriteLocker locker(&window->settings().lock);
            window->settings().currentSettings.Check_NewVersion = true;
            window->settings().currentSettings.Check_NewDatabase = false;
            window->settings().currentSettings.Check_NewDatabase_Minutes = 120;
        }
        window->OnRecheckAutoInvokeEvents();
        ShowList(*window, View_Details, 10);
        SelectFolder(*window, FolderOfType(*window, AllBooks));
        Form()->action_ShowInfo_Page_Next->trigger();
        QCOMPARE(CurrentPage(), 2);
        QVERIFY(!window->views().IsImageView());
        QCOMPARE(window->views().GetCount(), 10);
    }

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

TESSALY_MAINWINDOW_TEST_MAIN(TestCommandsSettings)
#include "test_commands_settings.moc"
