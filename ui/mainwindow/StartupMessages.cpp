#include "mainwindow/StartupMessages.h"

#include "Const.h"
#include "Helper.h"
#include "platform/NativeApplication.h"

#include <QCoreApplication>

void StartupMessages::AskForHelp(QMessageBox::Icon icon, const QString &title, const QString &text,
                                 QMessageBox::StandardButton helpButton, QMessageBox::StandardButton defaultButton,
                                 const QString &link)
{
    QMessageBox box(icon, title, text, helpButton | QMessageBox::Cancel);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    if (auto *app = qobject_cast<NativeApplication *>(QCoreApplication::instance()))
        QObject::connect(app, &NativeApplication::OnCallStopWindow, &box, &QMessageBox::reject);
    box.exec();
    if (box.standardButton(box.clickedButton()) == helpButton) {
        QString target = link;
        Helper::OpenLink(target);
    }
}

void StartupMessages::ShowSingleInstanceMessage()
{
    AskForHelp(QMessageBox::Critical, Const::tr("Error"),
               Const::tr("Only a single instance of this software can run, do you want to get more information?"),
               QMessageBox::Yes, QMessageBox::Cancel, Const::HelpOneInstanceUrl);
}

void StartupMessages::ShowLocalFolderMessage()
{
    AskForHelp(QMessageBox::Warning, Const::tr("Info"),
               Const::tr("The current software cannot access the local document folder, do you want to get more "
                         "information?"),
               QMessageBox::Ok, QMessageBox::NoButton, Const::HelpLocalDocumentsUrl);
}

void StartupMessages::ShowImageCacheFolderMessage()
{
    AskForHelp(QMessageBox::Warning, Const::tr("Info"),
               Const::tr("The current software cannot access the image cache folder, do you want to get more "
                         "information?"),
               QMessageBox::Ok, QMessageBox::NoButton, Const::HelpImageCacheFolderUrl);
}
