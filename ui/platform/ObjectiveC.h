#pragma once

#include <QString>

class QWidget;

// Application-level window operations (hide, unhide, activate, state queries) carried out
// on the program's main window with Qt. Stateless apart from the "application hidden" mark.
class ObjectiveC
{
public:
    ObjectiveC() = delete;

    // The window the operations act on; without one, the activation window of the
    // application or else the first top-level QMainWindow is used.
    static void SetMainWindow(QWidget *window);

    // Hides the main window; open dialogs stay open and visible.
    static void HideWindow();
    static void ShowWindow();
    // Raises and activates the open modal dialog, else the main window.
    static void ActivateWindow();
    // True after HideWindow until the main window is shown again.
    static bool IsHidden();
    // True when one of the program's windows has the focus.
    static bool IsActive();
    // Start at login is kept in the settings only; nothing is registered with the desktop.
    static void setAutoStart(const QString &bundlePath, bool on);
};
