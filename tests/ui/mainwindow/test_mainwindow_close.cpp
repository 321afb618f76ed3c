// Life cycle of the main window: hidden start, tray, minimise and close to the tray, and the one
// close path. The last test lets the close worker set the program-wide closing flag, so this
// executable holds nothing that must run after it.
#include "test_mainwindow_fixture.h"
#include "test_modal_script.h"
#include "ui_mainwindow.h"

#include "dialogs/DlgAbout.h"
#include "dialogs/DlgAddCategory.h"
#include "dialogs/DlgAddFilter.h"
#include "dialogs/DlgNativeSettings.h"
#include "threads/NativeHelper.h"
#include "platform/ObjectiveC.h"

#include <QDialog>
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

// The desktop's log-out request. QSessionManager cannot be made outside Qt; the slots never
// touch it, so storage of the right size stands in for it.
void EmitSessionRequest()
{
    alignas(QSessionManager) static unsigned char storage[sizeof(QSessionManager)] = {};
    emit qApp->commitDataRequest(*reinterpret_cast<QSessionManager *>(storage));
}

QList<QAction *> LoadCommands(Ui_MainWindow *ui)
{
    return {ui->action_Add_Category, ui->action_Add_Filter, ui->action_StartSearch,
            ui->action_Settings, ui->action_Check_For_Updates, ui->action_Reresh_All_Data};
}

} // namespace

class TestMainWindowClose : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void quietConstructionAndShow();
    void startHiddenOnlyFromBackground();
    void unusableImageCacheFolderStopsConstruction();
    void trayActivationReasons();
    void minimiseToTray();
    void oneTrayClickAlwaysRestores_data();
    void oneTrayClickAlwaysRestores();
    void closeToTray();
    void quitDuringModalDialogOnlyShowsTheWindow();
    // Must stay last: it closes the program for good.
    void closeActsOnceAndLateResultsEnableNothing();

private:
    std::unique_ptr<MainWindow> NewWindow(const QList<QByteArray> &words = {});

    std::unique_ptr<MainWindow> window;
};

std::unique_ptr<MainWindow> TestMainWindowClose::NewWindow(const QList<QByteArray> &words)
{
    SetArguments(words);
    auto made = std::make_unique<MainWindow>(nullptr, false);
    ObjectiveC::SetMainWindow(made.get());
    SetArguments({});
    return made;
}

void TestMainWindowClose::init()
{
    // Every test starts with the application not hidden.
    ObjectiveC::ShowWindow();
}

void TestMainWindowClose::cleanup()
{
    window.reset();
    ObjectiveC::SetMainWindow(nullptr);
}

namespace {

QStringList &CapturedMessages()
{
    static QStringList messages;
    return messages;
}

// Debug output, and warnings about slots that found no object to connect to.
void CaptureMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg || text.contains(QStringLiteral("connectSlotsByName")))
        CapturedMessages() << text;
}

} // namespace

// Building the forms and showing the window print nothing: every slot named after an object has
// that object, and diagnostics stay quiet unless asked for.
void TestMainWindowClose::quietConstructionAndShow()
{
    CapturedMessages().clear();
    const QtMessageHandler previous = qInstallMessageHandler(CaptureMessage);
    window = NewWindow();
    {
        DlgAbout about(window.get());
        DlgAddCategory category(window.get());
        DlgAddFilter filter(window.get());
        DlgNativeSettings settings(window.get());
    }
    ObjectiveC::HideWindow();
    window->on_action_on_show_Window_triggered();
    qInstallMessageHandler(previous);
    QCOMPARE(CapturedMessages(), QStringList());
}

void TestMainWindowClose::startHiddenOnlyFromBackground()
{
    window = NewWindow({"/BACKGROUND"});
    QVERIFY(window->IsStartHidden());
    // Maximising waits for the first show.
    QVERIFY(!window->isVisible());
    window->on_action_on_show_Window_triggered();
    QVERIFY(window->isVisible());
    QVERIFY(window->isMaximized());
    // Later shows only restore.
    window->showNormal();
    ObjectiveC::HideWindow();
    QVERIFY(!window->isVisible());
    window->on_action_on_show_Window_triggered();
    QVERIFY(window->isVisible());
    QVERIFY(!window->isMaximized());
    QVERIFY(!ObjectiveC::IsHidden());

    window = NewWindow({"/background", "/Restart"});
    QVERIFY(!window->IsStartHidden());
    QVERIFY(window->isVisible());
    QVERIFY(window->isMaximized());

    window = NewWindow({"background", "-background"});
    QVERIFY(!window->IsStartHidden());

    // An application hidden by the desktop starts hidden whatever the words.
    window.reset();
    ObjectiveC::HideWindow();
    window = NewWindow({"/restart"});
    QVERIFY(window->IsStartHidden());
    QVERIFY(!window->isVisible());
    QCOMPARE(window->QueryCurrentWindowText(), Const::AppName);
    QCOMPARE(window->windowTitle(), Const::AppName + QStringLiteral(" - Version: ") + Const::FullVersion
                                        + QStringLiteral(" (") + Const::WebsiteUrl + QStringLiteral(")"));
}

void TestMainWindowClose::unusableImageCacheFolderStopsConstruction()
{
    // A regular file where the image cache folder belongs.
    const QString cache = Helper::GetLocalFolder(Helper::FolderImageCache);
    QVERIFY(QDir(cache).removeRecursively());
    QFile file(cache);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString text = QStringLiteral(
        "The current software cannot access the image cache folder, do you want to get more information?");
    ModalScript({Answer(QMessageBox::Cancel, QStringLiteral("Info"), text)}).Run([this]() { window = NewWindow(); });
    QVERIFY(window->IsConstructionFailed());
    window.reset();
    QVERIFY(QFile::remove(cache));
    window = NewWindow();
    QVERIFY(!window->IsConstructionFailed());
}

void TestMainWindowClose::trayActivationReasons()
{
    window = NewWindow();
    auto *tray = window->findChild<QSystemTrayIcon *>();
    QVERIFY(tray);
    QVERIFY(tray->isVisible());
    QCOMPARE(tray->toolTip(), Const::AppName);
    QVERIFY(!tray->contextMenu());

    for (auto reason : {QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown}) {
        ObjectiveC::HideWindow();
        window->on_activatedSysTrayIcon(reason);
        QVERIFY(!window->isVisible());
        QVERIFY(!VisibleMenuWith(window->form()->action_File_Exit));
    }
    for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}) {
        ObjectiveC::HideWindow();
        window->on_activatedSysTrayIcon(reason);
        QVERIFY(window->isVisible());
        QVERIFY(!ObjectiveC::IsHidden());
    }
    // A second start raises the window; other messages do nothing.
    ObjectiveC::HideWindow();
    window->run_action_single_instance_ask(QStringLiteral("something else"));
    QVERIFY(!window->isVisible());
    window->run_action_single_instance_ask(Const::MsgRaiseWindow);
    QVERIFY(window->isVisible());

    window->on_activatedSysTrayIcon(QSystemTrayIcon::Context);
    QMenu *menu = VisibleMenuWith(window->form()->action_File_Exit);
    QVERIFY(menu);
    const QList<QAction *> entries = menu->actions();
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries.at(0), window->form()->action_on_show_Window);
    QVERIFY(entries.at(1)->isSeparator());
    menu->hide();
    QVERIFY(!window->isCloseStarted());
}

void TestMainWindowClose::minimiseToTray()
{
    window = NewWindow();
    window->showNormal();
    SetTraySettings(*window, false, false);
    window->showMinimized();
    QVERIFY(window->isMinimized());
    QVERIFY(window->isVisible());
    QVERIFY(!ObjectiveC::IsHidden());

    window->showNormal();
    SetTraySettings(*window, false, true);
    // As the desktop minimises it (showMinimized() would show the window again afterwards).
    window->setWindowState(window->windowState() | Qt::WindowMinimized);
    QVERIFY(!window->isVisible());
    QVERIFY(ObjectiveC::IsHidden());

    // The tray brings it back restored.
    window->on_activatedSysTrayIcon(QSystemTrayIcon::Trigger);
    QVERIFY(window->isVisible());
    QVERIFY(!window->isMinimized());
    QVERIFY(!window->isCloseStarted());
}

void TestMainWindowClose::oneTrayClickAlwaysRestores_data()
{
    QTest::addColumn<int>("away");
    QTest::newRow("closed to the tray") << 0;
    QTest::newRow("minimised to the tray") << 1;
    QTest::newRow("minimised") << 2;
    QTest::newRow("behind another window") << 3;
}

void TestMainWindowClose::oneTrayClickAlwaysRestores()
{
    QFETCH(int, away);
    window = NewWindow();
    auto *tray = window->findChild<QSystemTrayIcon *>();
    QWidget other;
    for (int round = 0; round < 3; ++round) {
        // Another window has the focus when the window goes away, as on a desktop.
        other.show();
        other.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &other);
        SetTraySettings(*window, away == 0, away == 1);
        switch (away) {
        case 0:
            window->close();
            break;
        case 1:
            window->setWindowState(window->windowState() | Qt::WindowMinimized);
            break;
        case 2:
            window->showMinimized();
            break;
        default:
            break;
        }
        emit tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(window->isVisible());
        QVERIFY(!window->isMinimized());
        QVERIFY(!ObjectiveC::IsHidden());
        QTRY_COMPARE(QApplication::activeWindow(), window.get());
    }
    QVERIFY(!window->isCloseStarted());
}

void TestMainWindowClose::closeToTray()
{
    window = NewWindow();
    SetTraySettings(*window, true, false);
    QVERIFY(window->isVisible());
    QVERIFY(!window->close());
    QVERIFY(!window->isVisible());
    QVERIFY(ObjectiveC::IsHidden());
    QVERIFY(!window->isCloseStarted());
    window->on_action_on_show_Window_triggered();
    QVERIFY(window->isVisible());
    QVERIFY(!window->close());
    QVERIFY(!window->isCloseStarted());
    QVERIFY(!NativeHelper::IsClosing());
}

void TestMainWindowClose::quitDuringModalDialogOnlyShowsTheWindow()
{
    window = NewWindow();
    SetTraySettings(*window, false, false);
    QDialog dialog;
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    QCOMPARE(QApplication::activeModalWidget(), &dialog);

    const QList<std::function<void()>> requests = {
        [this] { window->run_action_on_stop_window(); },
        [this] { window->close(); },
        [this] { window->form()->action_File_Exit->trigger(); },
        [this] { window->form()->action_on_primary_quit->trigger(); },
        [] { EmitSessionRequest(); },
    };
    for (int i = 0; i < requests.size(); ++i) {
        ObjectiveC::HideWindow();
        QVERIFY(!window->isVisible());
        requests.at(i)();
        QVERIFY2(window->isVisible(), qPrintable(QString::number(i)));
        QVERIFY(!window->isCloseStarted());
        QVERIFY(dialog.isVisible());
    }
    dialog.close();
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(!NativeHelper::IsClosing());
}

void TestMainWindowClose::closeActsOnceAndLateResultsEnableNothing()
{
    window = NewWindow();
    Ui_MainWindow *ui = window->form();
    SetTraySettings(*window, false, false);
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
    QVERIFY(QMetaObject::invokeMethod(window.get(), "run_action_userDataRefreshed", Qt::QueuedConnection,
                                      Q_ARG(bool, true), Q_ARG(bool, false)));
    QVERIFY(QMetaObject::invokeMethod(window.get(), "run_action_userDataLoaded", Qt::QueuedConnection,
                                      Q_ARG(bool, true), Q_ARG(bool, false)));
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
        for (QAction *action : LoadCommands(ui)) {
            if (action->isEnabled())
                return false;
        }
        return !ui->MainContainer->isEnabled() && !ui->menuTools_Bar->isEnabled();
    };
    QVERIFY(nothingEnabled());
    QVERIFY(!window->refresher().IsRunning());
    QVERIFY(!window->images().IsRunning());
    QVERIFY(!window->timerCount()->isActive());
    QVERIFY(!window->timerDatabase()->isActive());

    // Every later request, of whatever kind, is ignored.
    title->setText(QStringLiteral("marker"));
    window->run_action_on_stop_window();
    window->close();
    ui->action_on_primary_quit->trigger();
    EmitSessionRequest();
    window->OnPeekStartClose();
    QCOMPARE(title->text(), QStringLiteral("marker"));

    // Results that arrive after the flag is set change nothing either.
    window->run_action_userDataRefreshed(true, true);
    window->run_action_userDataLoaded(false, false);
    window->SetRefreshServiceIsStarting(false);
    window->run_action_start_check_retry();
    window->run_action_show_new_version(QStringLiteral("9.9"));
    QVERIFY(nothingEnabled());
    QVERIFY(window->versionLabel()->isHidden());
    QVERIFY(window->informationBar()->isHidden());
    QVERIFY(!window->refresher().IsRunning());
    window.reset();
}

TESSALY_MAINWINDOW_TEST_MAIN(TestMainWindowClose)
#include "test_mainwindow_close.moc"
