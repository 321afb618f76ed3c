#include "WidgetPrompts.h"

#include "Const.h"
#include "Helper.h"
#include "settings/NativeConfigLoader.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>

void WidgetPrompts::Install()
{
    NativeConfigLoader::SetWriteDeniedPrompt(&WidgetPrompts::AskOkCancel);
    Helper::SetLinkNotOpenedNotice(&WidgetPrompts::ShowLinkNotOpened);
}

bool WidgetPrompts::AskOkCancel(QWidget *parent, const QString &title, const QString &text)
{
    return QMessageBox::warning(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::NoButton)
        == QMessageBox::Ok;
}

void WidgetPrompts::ShowLinkNotOpened(const QString &address)
{
    QWidget *parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Warning, QCoreApplication::translate("Const", "Error"),
                    QCoreApplication::translate("Const", "The web browser could not be opened. "
                                                         "You can copy the link and open it yourself:"),
                    QMessageBox::Ok, parent);
    box.setInformativeText(address);
    // The box's own flags reach only the sentence. The address is what the user copies: it opens
    // selected and focused, so Ctrl+C copies it at once, and mouse and keyboard can select it.
    for (QLabel *label : box.findChildren<QLabel *>()) {
        if (label->text() != address)
            continue;
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        label->setSelection(0, address.size());
        label->setFocus(Qt::OtherFocusReason);
    }
    box.exec();
}
