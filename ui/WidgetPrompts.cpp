#include "WidgetPrompts.h"

#include "Const.h"
#include "Helper.h"
#include "settings/NativeConfigLoader.h"

#include <QApplication>
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
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}
