#include "mainwindow/StartupMessages.h"

#include "Const.h"
#include "Helper.h"

#include <QMessageBox>

void StartupMessages::ShowSingleInstanceMessage()
{
    const auto answer = QMessageBox::critical(
        nullptr, Const::tr("Error"),
        Const::tr("Only a single instance of this software can run, do you want to get more information?"),
        QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer == QMessageBox::Yes) {
        QString link = Const::HelpOneInstanceUrl;
        Helper::OpenLink(link);
    }
}

void StartupMessages::ShowLocalFolderMessage()
{
    const auto answer = QMessageBox::warning(
        nullptr, Const::tr("Info"),
        Const::tr("The current software cannot access the local document folder, do you want to get more information?"),
        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::NoButton);
    if (answer == QMessageBox::Ok) {
        QString link = Const::HelpLocalDocumentsUrl;
        Helper::OpenLink(link);
    }
}
