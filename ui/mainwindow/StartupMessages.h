#pragma once

#include <QMessageBox>

// The boxes that can end the start-up; each offers the matching help page.
class StartupMessages
{
public:
    StartupMessages() = delete;

    // Another process holds the instance lock file.
    static void ShowSingleInstanceMessage();
    // The base data folder is unknown, missing, not a folder or not writable.
    static void ShowLocalFolderMessage();
    // The image cache folder cannot be used.
    static void ShowImageCacheFolderMessage();

private:
    // Shows the box without parent and opens link when the answer is helpButton. A quit request
    // from the desktop answers it as Escape would, so that no start waits on a box nobody sees.
    static void AskForHelp(QMessageBox::Icon icon, const QString &title, const QString &text,
                           QMessageBox::StandardButton helpButton, QMessageBox::StandardButton defaultButton,
                           const QString &link);
};
