#include "WidgetPrompts.h"

#include "settings/NativeConfigLoader.h"

#include <QMessageBox>

void WidgetPrompts::Install()
{
    NativeConfigLoader::SetWriteDeniedPrompt(&WidgetPrompts::AskOkCancel);
}

bool WidgetPrompts::AskOkCancel(QWidget *parent, const QString &title, const QString &text)
{
    return QMessageBox::warning(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::NoButton)
        == QMessageBox::Ok;
}
