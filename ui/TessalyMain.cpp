// Program entry: single instance, instance lock, data-folder check, main window, event loop.
#include "Const.h"
#include "Helper.h"
#include "NativeApplication.h"
#include "ObjectiveC.h"
#include "StartupGuard.h"
#include "WidgetPrompts.h"
#include "cipher/SqlCipherDriverRegistration.h"

#include <QTextCodec>
#include <QTimer>

#if __has_include("MainWindow.h")
#include "MainWindow.h"

#include <memory>
#include <type_traits>

namespace {
// The window tells main whether to start hidden and whether it gave up while being built
// (image cache folder unusable). Either a public member or an accessor answers.
template <typename W, typename = void>
struct HasStartHiddenMember : std::false_type {};
template <typename W>
struct HasStartHiddenMember<W, std::void_t<decltype(bool(std::declval<const W &>().startHidden))>> : std::true_type {};
template <typename W, typename = void>
struct HasStartHiddenAccessor : std::false_type {};
template <typename W>
struct HasStartHiddenAccessor<W, std::void_t<decltype(bool(std::declval<const W &>().IsStartHidden()))>> : std::true_type {};
template <typename W, typename = void>
struct HasFailedMember : std::false_type {};
template <typename W>
struct HasFailedMember<W, std::void_t<decltype(bool(std::declval<const W &>().constructionFailed))>> : std::true_type {};
template <typename W, typename = void>
struct HasFailedAccessor : std::false_type {};
template <typename W>
struct HasFailedAccessor<W, std::void_t<decltype(bool(std::declval<const W &>().IsConstructionFailed()))>> : std::true_type {};

template <typename W, typename = void>
struct HasPublicHide : std::false_type {};
template <typename W>
struct HasPublicHide<W, std::void_t<decltype(std::declval<W &>().OnCallHideCurrentWindow())>> : std::true_type {};

// The delayed hide of a hidden start goes through the window's own operation.
template <typename W>
void HideLater(W *window)
{
    if constexpr (HasPublicHide<W>::value) {
        window->OnCallHideCurrentWindow();
    } else if (!QMetaObject::invokeMethod(window, "OnCallHideCurrentWindow")) {
        ObjectiveC::HideWindow();
    }
}

template <typename W>
bool StartHidden(const W &window)
{
    if constexpr (HasStartHiddenAccessor<W>::value) {
        return window.IsStartHidden();
    } else if constexpr (HasStartHiddenMember<W>::value) {
        return window.startHidden;
    } else {
        return false;
    }
}

template <typename W>
bool ConstructionFailed(const W &window)
{
    if constexpr (HasFailedAccessor<W>::value) {
        return window.IsConstructionFailed();
    } else if constexpr (HasFailedMember<W>::value) {
        return window.constructionFailed;
    } else {
        return false;
    }
}

int RunMainWindow(NativeApplication &app, StartupGuard &guard)
{
    auto window = std::make_unique<MainWindow>(nullptr);
    if (ConstructionFailed(*window)) {
        window.reset();
        guard.Release();
        return 0;
    }
    ObjectiveC::SetMainWindow(window.get());
    if (StartHidden(*window)) {
        MainWindow *hidden = window.get();
        QTimer::singleShot(100, hidden, [hidden]() { HideLater(hidden); });
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
#else
namespace {
// Until the main window is part of the build there is nothing to run.
int RunMainWindow(NativeApplication &, StartupGuard &guard)
{
    guard.Release();
    return 0;
}
} // namespace
#endif

int TessalyMain(int argc, char *argv[])
{
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
        app.sendMessage(Const::MsgRaiseWindow, 5000);
        return 0;
    }

    StartupGuard guard(Helper::GetLocalFolder(Helper::FolderBase));
    const int code = guard.Acquire();
    if (code != 0) {
        return code;
    }
    return RunMainWindow(app, guard);
}
