#pragma once

class QString;
class QWidget;

// Message boxes that code without widgets asks for through hooks.
class WidgetPrompts
{
public:
    WidgetPrompts() = delete;

    // Installs the boxes into the core hooks; harmless to repeat.
    static void Install();
    // Warning box over parent with OK and Cancel; true for OK.
    static bool AskOkCancel(QWidget *parent, const QString &title, const QString &text);
    // Tells that the browser could not be opened and shows the link, selectable for copying.
    static void ShowLinkNotOpened(const QString &address);
};
