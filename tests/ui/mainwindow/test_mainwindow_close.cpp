// Life cycle of the program: the start-up lock, hidden start, tray, minimise and close to the tray,
// and the one close path. The last test lets the close worker set the program-wide closing flag,
// so this executable holds nothing that must run after it.
#include "TestLinkCatcher.h"
#include "test_mainwindow_fixture.h"
#include "test_modal_script.h"
#include "ui_mainwindow.h"

#include "dialogs/DlgAbout.h"
#include "dialogs/DlgAddCategory.h"
#include "dialogs/DlgAddFilter.h"
#include "dialogs/DlgNativeSettings.h"
#include "mainwindow/StartupGuard.h"
#include "threads/NativeHelper.h"
#include "platform/ObjectiveC.h"

#include <QSessionManager>
#include <QSystemTrayIcon>

using namespace MainWindowTest;

namespace {

void SetTraySettings(MainWindow &window, bool closeToTray, bool minimizeToTray)
{
    QWriteLocker locker(&window.settings().lock);
    window.settings().currentSettings.App_Close_to_tray = closeToTray;
    window.settings().currentSettings.App_Minimize_to_tray = minimizeToTray;
}

QList<QAction *> LoadCommands(Ui_MainWindow *ui)
{
    return {ui->action_Add_Category, ui->action_Add_Filter, ui->action_StartSearch,
            ui->action_Settings, ui->action_Check_For_Updates, ui->action_Reresh_All_Data};
}

QStringList captured;

// Debug output, and warnings about slots that found no object to connect to.
void CaptureMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg || text.contains(QStringLiteral("connectSlotsByName")))
        captured << text;
}

} // namespace

class TestMainWindowClose : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { links.Install(); }

    void init()
    {
        ObjectiveC::ShowWindow();
        links.opened.clear();
    }

    void cleanup()
    {
        window.reset();
        ObjectiveC::SetMainWindow(nullptr);
    }

    void quietStartHiddenOnlyFromBackground_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<bool>("desktopHidden");
        QTest::addColumn<bool>("startHidden");
        QTest::newRow("background") << "/BACKGROUND" << false << true;
        QTest::newRow("restart") << "/background /Restart" << false << false;
        QTest::newRow("not a switch") << "background -background" << false << false;
        QTest::newRow("hidden by the desktop") << "/restart" << true << true;
    }

    // Building the forms prints nothing (every slot named after an object has that object); each
    // show request writes its one debug line.
    void quietStartHiddenOnlyFromBackground()
    {
        QFETCH(QString, words);
        QFETCH(bool, desktopHidden);
        QFETCH(bool, startHidden);
        captured.clear();
        const QtMessageHandler previous = qInstallMessageHandler(CaptureMessage);
        if (desktopHidden)
            ObjectiveC::HideWindow();
        window = NewWindow(words.toUtf8().split(' '));
        {
            DlgAbout about(window.get());
            DlgAddCategory category(window.get());
            DlgAddFilter filter(window.get());
            DlgNativeSettings settings(window.get());
        }
        QCOMPARE(window->IsStartHidden(), startHidden);
        QCOMPARE(window->isVisible() && window->isMaximized(), !startHidden);
        QCOMPARE(window->QueryCurrentWindowText(), QStringLiteral("Tessaly"));
        // Maximising waits for the first show; later shows only restore.
        window->on_action_on_show_Window_triggered();
        QVERIFY(window->isVisible() && window->isMaximized());
        window->showNormal();
        ObjectiveC::HideWindow();
        QVERIFY(!window->isVisible());
        window->on_action_on_show_Window_triggered();
        QVERIFY(window->isVisible() && !window->isMaximized() && !ObjectiveC::IsHidden());
        qInstallMessageHandler(previous);
        // Connected by pointer under these names; the other seven are called by name elsewhere.
        Q_UNUSED(std::make_tuple(&MainWindow::on_action_ChangeBookShowOrder, &MainWindow::on_action_ChangeBookShowView,
                                 &MainWindow::on_action_userDataLoading, &MainWindow::on_action_userDataRefreshing))
        const QString shown = QStringLiteral("on_action_on_show_Window_triggered Called");
        QCOMPARE(captured, QStringList({shown, shown}));
    }

    void unusableImageCacheFolderStopsConstruction()
    {
        // A regular file where the image cache folder belongs.
        const QString cache = Helper::GetLocalFolder(Helper::FolderImageCache);
        QVERIFY(QDir(cache).removeRecursively());
        QVERIFY(TestSandbox::WriteBytes(cache, QByteArray()));
        const QString text = QStringLiteral(
            "The current software cannot access the image cache folder, do you want to get more information?");
        QVERIFY(ModalScript({Answer(QMessageBox::Ok, QStringLiteral("Info"), text)}).Run([this]() { window = NewWindow(); }));
        QVERIFY(window->IsConstructionFailed());
        window.reset();
        QVERIFY(QFile::remove(cache));
        window = NewWindow();
        QVERIFY(!window->IsConstructionFailed());
        // Ok leads to the help page on the image cache folder.
        QVERIFY(links.opened.size() == 1 && links.opened.first().toString().startsWith(Const::HelpImageCacheFolderUrl));
    }

    void trayActivationReasons()
    {
        window = NewWindow();
        auto *tray = window->findChild<QSystemTrayIcon *>();
        QVERIFY(tray && tray->isVisible() && !tray->contextMenu());

        for (auto reason : {QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown, QSystemTrayIcon::Trigger,
                            QSystemTrayIcon::DoubleClick}) {
            ObjectiveC::HideWindow();
            window->on_activatedSysTrayIcon(reason);
            const bool shows = reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick;
            QCOMPARE(window->isVisible(), shows);
            QCOMPARE(ObjectiveC::IsHidden(), !shows);
            QVERIFY(!VisibleMenuWith(window->form()->action_File_Exit));
        }
        // A second start raises the window; other messages do nothing.
        ObjectiveC::HideWindow();
        window->on_action_single_instance_ask(QStringLiteral("something else"));
        QVERIFY(!window->isVisible());
        window->on_action_single_instance_ask(Const::MsgRaiseWindow);
        QVERIFY(window->isVisible());

        window->on_activatedSysTrayIcon(QSystemTrayIcon::Context);
        QMenu *menu = VisibleMenuWith(window->form()->action_File_Exit);
        QVERIFY(menu);
        const QList<QAction *> entries = menu->actions();
        QVERIFY(entries.size() == 3 && entries.at(0) == window->form()->action_on_show_Window
                && entries.at(1)->isSeparator());
        menu->hide();
        QVERIFY(!window->isCloseStarted());
    }

    void oneTrayClickAlwaysRestores_data()
    {
        QTest::addColumn<int>("away");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("closed to the tray") << 0 << true;
        QTest::newRow("minimised to the tray") << 1 << true;
        QTest::newRow("minimised") << 2 << false;
        QTest::newRow("behind another window") << 3 << false;
    }

    void oneTrayClickAlwaysRestores()
    {
        QFETCH(int, away);
        QFETCH(bool, hidden);
        window = NewWindow();
        auto *tray = window->findChild<QSystemTrayIcon *>();
        QWidget other;
        for (int round = 0; round < 3; ++round) {
            // Another window has the focus when the window goes away, as on a desktop.
            other.show();
            other.activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), &other);
            SetTraySettings(*window, away == 0, away == 1);
            // Minimised to the tray as the desktop does it (showMinimized() would show it again afterwards).
            if (away == 0)
                QVERIFY(!window->close());
            else if (away == 1)
                window->setWindowState(window->windowState() | Qt::WindowMinimized);
            else if (away == 2)
                window->showMinimized();
            QCOMPARE(window->isMinimized(), away == 1 || away == 2);
            QCOMPARE(window->isVisible(), !hidden);
            QCOMPARE(ObjectiveC::IsHidden(), hidden);
            emit tray->activated(QSystemTrayIcon::Trigger);
            QVERIFY(window->isVisible() && !window->isMinimized() && !ObjectiveC::IsHidden());
            QTRY_COMPARE(QApplication::activeWindow(), window.get());
        }
        QVERIFY(!window->isCloseStarted() && !NativeHelper::IsClosing());
    }

    void unknownFolderFailsBeforeAnyLock()
    {
        StartupGuard guard{QString()};
        const QString text = QStringLiteral(
            "The current software cannot access the local document folder, do you want to get more information?");
        QVERIFY(ModalScript({Answer(QMessageBox::Ok, QStringLiteral("Info"), text)}).Run([&] {
            QCOMPARE(guard.Acquire(), StartupGuard::ExitDataFolderUnusable);
        }));
        QVERIFY(!guard.IsHeld() && guard.lockFilePath().isEmpty());
        // Ok leads to the help page on the local folder.
        QCOMPARE(links.opened.size(), 1);
        QVERIFY(links.opened.first().toString().startsWith(Const::HelpLocalDocumentsUrl));
    }

    void unreadableLockIsTakenOver_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: a folder stands there
        QTest::newRow("empty file") << QByteArray("");
        QTest::newRow("folder") << QByteArray();
    }

    void unreadableLockIsTakenOver()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir base;
        const QString lock = base.filePath(QStringLiteral("single-instance.file"));
        QVERIFY(content.isNull() ? QDir().mkdir(lock) : TestSandbox::WriteBytes(lock, content));
        StartupGuard guard(base.path());
        QVERIFY(ModalScript().Run([&] { QCOMPARE(guard.Acquire(), 0); }));
        QVERIFY(QFileInfo(lock).isFile());
    }

    // Must stay last: it closes the program for good.
    void closeActsOnceOutsideModalsAndLateResultsEnableNothing()
    {
        window = NewWindow();
        Ui_MainWindow *ui = window->form();
        SetTraySettings(*window, false, false);
        // While a modal dialog is open, every request to quit only shows the window.
        {
            QDialog dialog;
            dialog.setWindowModality(Qt::ApplicationModal);
            dialog.show();
            QCOMPARE(QApplication::activeModalWidget(), &dialog);
            for (const auto &request : QuitRequests()) {
                ObjectiveC::HideWindow();
                request();
                QVERIFY(window->isVisible() && !window->isCloseStarted() && dialog.isVisible());
            }
        }
        QVERIFY(!QApplication::activeModalWidget() && !NativeHelper::IsClosing());
        // As after the first load.
        QTemporaryDir data;
        QVERIFY(MakeCatalogue(data.filePath(QStringLiteral("close.rfile")), 3));
        QVERIFY(LoadCatalogue(*window, data.filePath(QStringLiteral("close.rfile"))));
        window->SetRefreshServiceIsStarting(false);
        for (QAction *action : LoadCommands(ui))
            QVERIFY(action->isEnabled());
        auto *tray = window->findChild<QSystemTrayIcon *>();
        QVERIFY(tray && tray->isVisible());

        // Results queued before the close arrive while the "Closing..." panel processes events,
        // before the close worker has set the closing flag.
        QVERIFY(QMetaObject::invokeMethod(window.get(), "SetRefreshServiceIsStarting", Qt::QueuedConnection,
                                          Q_ARG(bool, false)));
        MainWindow *w = window.get();
        QVERIFY(QMetaObject::invokeMethod(w, [w]() { w->on_action_userDataRefreshed(true, false); },
                                          Qt::QueuedConnection));
        QVERIFY(QMetaObject::invokeMethod(w, [w]() { w->on_action_userDataLoaded(true, false); },
                                          Qt::QueuedConnection));
        QVERIFY(QMetaObject::invokeMethod(window.get(), "run_action_start_check_database", Qt::QueuedConnection));
        QVERIFY(QMetaObject::invokeMethod(window.get(), "run_action_start_check_version", Qt::QueuedConnection));

        ui->action_File_Exit->trigger();
        QVERIFY(window->isCloseStarted());
        QLabel *title = FindLabelWithText(window.get(), QStringLiteral("Closing..."));
        QVERIFY(title);
        QVERIFY(FindLabelWithText(window.get(), QStringLiteral(
                                                    "The software is saving your configuration file data, please wait a moment.")));
        QVERIFY(!tray->isVisible());
        QTRY_VERIFY(NativeHelper::IsClosing());
        QTest::qWait(50);

        auto nothingEnabled = [&] {
            const QList<QAction *> commands = LoadCommands(ui);
            return std::none_of(commands.cbegin(), commands.cend(), [](QAction *action) { return action->isEnabled(); })
                   && !ui->MainContainer->isEnabled() && !ui->menuTools_Bar->isEnabled();
        };
        QVERIFY(nothingEnabled() && !window->refresher().IsRunning() && !window->images().IsRunning());
        QVERIFY(!window->timerCount()->isActive() && !window->timerDatabase()->isActive());

        // Every later request, of whatever kind, is ignored.
        title->setText(QStringLiteral("marker"));
        for (const auto &request : QuitRequests())
            request();
        window->OnPeekStartClose();
        QCOMPARE(title->text(), QStringLiteral("marker"));

        // Results that arrive after the flag is set change nothing either.
        window->on_action_userDataRefreshed(true, true);
        window->on_action_userDataLoaded(false, false);
        window->SetRefreshServiceIsStarting(false);
        window->run_action_start_check_retry();
        window->run_action_show_new_version(QStringLiteral("9.9"));
        QVERIFY(nothingEnabled() && window->versionLabel()->isHidden() && window->informationBar()->isHidden());
        QVERIFY(!window->refresher().IsRunning());
        window.reset();
    }

private:
    // Every way the program is asked to quit. The desktop's log-out request: QSessionManager cannot
    // be made outside Qt; the slots never touch it, so storage of the right size stands in for it.
    QList<std::function<void()>> QuitRequests()
    {
        alignas(QSessionManager) static unsigned char session[sizeof(QSessionManager)] = {};
        return {[this] { window->on_action_on_stop_window(); },
                [this] { window->close(); },
                [this] { window->form()->action_File_Exit->trigger(); },
                [this] { window->form()->action_on_primary_quit->trigger(); },
                [] { emit qApp->commitDataRequest(*reinterpret_cast<QSessionManager *>(session)); }};
    }

    std::unique_ptr<MainWindow> NewWindow(const QList<QByteArray> &words = {})
    {
        SetArguments(words);
        auto made = std::make_unique<MainWindow>(nullptr, false);
        ObjectiveC::SetMainWindow(made.get());
        SetArguments({});
        return made;
    }

    TestLinkCatcher links;
    std::unique_ptr<MainWindow> window;
};

TESSALY_MAINWINDOW_TEST_MAIN(TestMainWindowClose)
#include "test_mainwindow_close.moc"
