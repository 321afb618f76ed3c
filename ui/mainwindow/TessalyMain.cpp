// Program entry: single instance, instance lock, data-folder check, main window, event loop.
#include "Const.h"
#include "Helper.h"
#include "mainwindow/MainWindow.h"
#include "platform/NativeApplication.h"
#include "platform/ObjectiveC.h"
#include "mainwindow/StartupGuard.h"
#include "mainwindow/StartupMessages.h"
#include "WidgetPrompts.h"
#include "cipher/SqlCipherDriverRegistration.h"

#include <QTextCodec>
#include <QTimer>

#include <memory>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {
int RunMainWindow(NativeApplication &app, StartupGuard &guard)
{
    auto window = std::make_unique<MainWindow>(nullptr);
    // The image cache folder was unusable; the window has told the user already.
    if (window->IsConstructionFailed()) {
        window.reset();
        guard.Release();
        return 0;
    }
    ObjectiveC::SetMainWindow(window.get());
    if (window->IsStartHidden()) {
        QTimer::singleShot(100, window.get(), &MainWindow::OnCallHideCurrentWindow);
    } else {
        window->show();
    }
    app.setActivationWindow(window.get(), true);
    app.exec();
    ObjectiveC::SetMainWindow(nullptr);
    window.reset();
    guard.Release();
    return 0;
}
} // namespace

int TessalyMain(int argc, char *argv[])
{
#ifdef __GLIBC__
    // Each thread could get a malloc arena of its own, and each arena reserves 64 MiB of address
    // space: with the download threads that is gigabytes reserved and never used, which a limit
    // on the address space (ulimit -v) turns into failed allocations.
    mallopt(M_ARENA_MAX, 4);
#endif
    // Every data folder derives from these names, whatever the executable is called.
    QCoreApplication::setOrganizationName(Const::CompanyName);
    QCoreApplication::setApplicationName(Const::AppName);
    // A log-out goes through our close path; Qt must not close the windows itself.
    QGuiApplication::setFallbackSessionManagementEnabled(false);
    RegisterSqlCipherDriver();

    NativeApplication app(argc, argv);
    // Closing a box over a hidden window must not end the loop behind the close path.
    app.setQuitOnLastWindowClosed(false);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF8"));
    WidgetPrompts::Install();

    if (app.isRunning()) {
        if (app.sendMessage(Const::MsgRaiseWindow, 5000))
            return 0;
        // Neither the running instance answered nor could the lock be had: never end silently.
        StartupMessages::ShowSingleInstanceMessage();
        return StartupGuard::ExitLockBusy;
    }

    StartupGuard guard(Helper::GetLocalFolder(Helper::FolderBase));
    const int code = guard.Acquire();
    if (code != 0) {
        return code;
    }
    return RunMainWindow(app, guard);
}
