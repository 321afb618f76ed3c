// Menu and tool-bar commands of the main window.
#include "mainwindow/MainWindow.h"

#include "CacheFolderClearing.h"
#include "Const.h"
#include "folders/DisplayFolder.h"
#include "dialogs/DlgAbout.h"
#include "dialogs/DlgAddCategory.h"
#include "dialogs/DlgAddFilter.h"
#include "dialogs/DlgNativeSettings.h"
#include "dialogs/FilterFolderType.h"
#include "Helper.h"
#include "catalogue/ItemBook.h"
#include "views/TreeControllerImpls.h"
#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QStandardItemModel>

#include <memory>

namespace {

QString InfoTitle()
{
    return QCoreApplication::translate("Const", "Info");
}

// Time limit of the version check the user asks for; the window waits for it.
constexpr int ManualVersionCheckMs = 10000;

} // namespace

void MainWindow::on_action_Reresh_All_Data_triggered()
{
    dataRefresher.StartIfNotRunning();
}

void MainWindow::on_action_Check_For_Updates_triggered()
{
    bool newer = false;
    QString own;
    QString latest;
    const bool answered = versionQuery
        ? versionQuery(ManualVersionCheckMs, newer, own, latest)
        : UserVersionLoader::QueryLatestVersion(nullptr, ManualVersionCheckMs, newer, own, latest);
    if (!answered) {
        ShowNetworkAlert();
        return;
    }
    if (!newer) {
        QMessageBox::information(this, InfoTitle(), tr("Your software is up to date."), QMessageBox::Ok);
        return;
    }
    // The answer is the server's text: plain text, so no markup of it is ever rendered.
    QMessageBox box(QMessageBox::Question, InfoTitle(),
                    tr("Current Version: %2%1New Version: %3%1Do you want to download the latest version?")
                        .arg(QStringLiteral("\n"), own, latest),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    if (box.exec() == QMessageBox::Yes) {
        QString link = Const::DownloadUrlWithInfo;
        Helper::OpenLink(link);
    }
}

void MainWindow::ShowNetworkAlert()
{
    QMessageBox::warning(this, InfoTitle(),
                         QCoreApplication::translate("Const", "An error occurred, please try again later."),
                         QMessageBox::Ok);
}

void MainWindow::on_action_Help_About_triggered()
{
    DlgAbout dialog(this);
    dialog.exec();
}

void MainWindow::on_action_Add_Category_triggered()
{
    QList<DisplayFolder *> made;
    {
        DlgAddCategory dialog(this);
        folderStore.CollectCategoryIds(&dialog.creator.categoryIds);
        dialog.OnInitLocalData(&folderStore);
        if (dialog.exec() != QDialog::Accepted)
            return;
        made = dialog.TakeNewFolders();
    }
    if (made.isEmpty())
        return;
    QWriteLockerExt2 token(&folderStore.lock);
    for (DisplayFolder *folder : qAsConst(made)) {
        if (folderStore.AddFolder(folder, token))
            treeController.CreateFolderItem(folder, -1, token);
        else
            delete folder;
    }
    folderStore.QueueSave(token);
}

void MainWindow::on_action_Add_Filter_triggered()
{
    OnProcessFilterDialog(AddFilter, QVariant(), -1);
}

void MainWindow::on_action_ShowCategory_Option_EditFolder_triggered()
{
    const QVariant id = CurrentFolderId();
    if (!id.isValid() || folderStore.GetFolderType(id.toUuid()) != FilterFolder)
        return;
    OnProcessFilterDialog(EditFilter, id, treeController.treeView->currentIndex().row());
}

void MainWindow::on_action_StartSearch_triggered()
{
    OnProcessFilterDialog(SearchBooks, QVariant(), -1);
}

void MainWindow::OnProcessFilterDialog(FilterFolderType mode, const QVariant &folderId, int row)
{
    QWriteLockerExt2 token(&folderStore.lock);
    // The dialog always works on a folder of this command's own: a new one, or for an edit a
    // copy that replaces the stored record only after acceptance. Nothing else ever sees a
    // half-edited record, and a cancelled edit leaves the stored one untouched.
    std::unique_ptr<DisplayFolder> folder;
    switch (mode) {
    case AddFilter:
        folder.reset(new DisplayFolder());
        folder->type = FilterFolder;
        break;
    case EditFilter:
        if (const DisplayFolder *stored = folderStore.FindFolder(folderId.toUuid(), token))
            folder.reset(new DisplayFolder(*stored));
        break;
    case SearchBooks:
        folder.reset(DisplayFolder::CreateSearchFolder());
        break;
    default:
        break;
    }
    if (!folder)
        return;

    bool accepted = false;
    {
        DlgAddFilter dialog(this);
        dialog.OnInitLocalData(folder.get(), mode, &folderStore);
        // The dialog's computation takes the store's lock itself.
        token.unlock();
        accepted = dialog.exec() == QDialog::Accepted;
    }
    // The dialog, and with it its computation, has ended before the folder may go.
    if (!accepted)
        return;

    token.relock();
    switch (mode) {
    case AddFilter:
        if (!folderStore.AddFolder(folder.get(), token))
            return;
        break;
    case EditFilter:
        if (!StoreFilterFolder(&folderStore, folder.get(), folderId, token))
            return;
        break;
    case SearchBooks: {
        // Only ever one search folder: the new one takes the old one's place and id.
        const QUuid existing = folderStore.FindFirstFolderOfType(SearchResult, token);
        if (existing.isNull() || !StoreFilterFolder(&folderStore, folder.get(), QVariant::fromValue(existing), token))
            return;
        break;
    }
    }
    const QUuid id = folder.release()->uid;

    // The list display takes the store's lock itself.
    token.unlock();
    if (mode == SearchBooks) {
        const QModelIndex index = treeController.FindFolderIndex(id);
        if (index.isValid())
            ShowStoredFolder(id, index.row());
    } else {
        ShowStoredFolder(id, row);
    }
    token.relock();
    folderStore.QueueSave(token);
}

// Rebuilds (rowHint >= 0) or appends the folder's tree item, then makes it current and shows it.
void MainWindow::ShowStoredFolder(const QUuid &id, int rowHint)
{
    int row = -1;
    if (rowHint >= 0) {
        // The tree may have been rebuilt while the dialog ran: the row is found by the id.
        const QModelIndex index = treeController.FindFolderIndex(id);
        row = index.isValid() ? index.row() : -1;
    }
    {
        QReadLockerExt2 readToken(0, &folderStore.lock);
        DisplayFolder *folder = folderStore.FindFolder(id, readToken);
        if (!folder)
            return;
        Add_AddItemToTreeView(folder, row, readToken, false, false);
    }
    // Selecting reloads the list, which locks the store again: never with the token held.
    SelectFolderItem(id, true);
}

bool MainWindow::StoreFilterFolder(DisplayDataSaver *store, DisplayFolder *folder, const QVariant &oldId,
                                   const QWriteLockerExt2 &token)
{
    return store && store->ReplaceFolder(oldId.toUuid(), folder, token);
}

void MainWindow::on_action_ShowCategory_Option_RemoveFolder_triggered()
{
    const QVariant id = CurrentFolderId();
    if (!id.isValid())
        return;
    if (QMessageBox::question(this, InfoTitle(), QStringLiteral("Are you sure you want to remove this folder?"),
                              QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    // The store frees the record it takes out.
    folderStore.RemoveFolder(id.toUuid());
    {
        QWriteLockerExt2 token(&folderStore.lock);
        folderStore.QueueSave(token);
    }
    // The row is looked up again: the tree may have changed while the question was open.
    const QModelIndex index = treeController.FindFolderIndex(id.toUuid());
    if (index.isValid())
        treeController.model->removeRow(index.row());
}

void MainWindow::on_action_ShowCategory_Option_ResortCategory_triggered()
{
    const bool on = ui->action_ShowCategory_Option_ResortCategory->isChecked();
    if (on)
        QMessageBox::information(this, InfoTitle(), tr("Now you can drag and drop the Tree View."), QMessageBox::Ok);
    TreeControllerImpls *view = treeController.treeView;
    if (!view)
        return;
    view->setDragEnabled(on);
    view->setAcceptDrops(on);
    view->viewport()->setAcceptDrops(on);
    view->setDropIndicatorShown(on);
}

void MainWindow::on_action_Settings_triggered()
{
    DlgNativeSettings dialog(this);
    dialog.OnInitLocalData(&config);
    if (dialog.exec() != QDialog::Accepted)
        return;
    OnRecheckAutoInvokeEvents();
    if (dialog.viewChanged)
        OnCallRefreshListView(true, false);
    else if (dialog.pageCountChanged)
        OnLoadListViewData(CurrentFolderId(), true, false);
}

void MainWindow::on_action_Tool_Settings_triggered()
{
    on_action_Settings_triggered();
}

void MainWindow::on_action_Tool_ClearAllImageCache_triggered()
{
    if (QMessageBox::warning(this, InfoTitle(),
                             tr("Are you sure you want to delete all image caches? (If there are incorrect contents of "
                                "the images displayed on the interface, you can use this function to re-download all "
                                "the contents. In addition, this will significantly reduce the loading speed.)"),
                             QMessageBox::Ok | QMessageBox::Cancel)
        != QMessageBox::Ok)
        return;
    ClearImageCacheFolder(&Const::FileAccessMutex);
    OnLoadListViewData(CurrentFolderId(), true, false);
}

void MainWindow::on_action_Tool_ClearAllCache_triggered()
{
    if (QMessageBox::warning(this, InfoTitle(),
                             tr("Are you sure you want to clean up all the caches? (If the information displayed on "
                                "the interface is incorrect, you can use this function to re-download all the "
                                "contents. In addition, this will significantly reduce the loading speed.)"),
                             QMessageBox::Ok | QMessageBox::Cancel)
        != QMessageBox::Ok)
        return;
    RedownloadCatalogue();
}

void MainWindow::RedownloadCatalogue()
{
    // A running refresh writes the catalogue files: it ends before they are cleared.
    dataRefresher.Stop();
    ClearDatabaseCacheFolder(&Const::FileAccessMutex);
    dataRefresher.StartIfNotRunning();
}

void MainWindow::on_action_ShowInfo_Option_GoLink_triggered()
{
    if (!ui->action_ShowInfo_Option_GoLink->isEnabled())
        return;
    bool direct = true;
    {
        QReadLocker locker(&config.lock);
        direct = config.currentSettings.Advance_UseDirectGoLink;
    }
    const QString link = GetBookGoLink(folderStore.items, viewController.GetCurrentItem(), direct);
    QString allowed = Helper::GetAllowedLink(link);
    if (!allowed.isEmpty()) {
        Helper::OpenLink(allowed);
        return;
    }
    if (QMessageBox::critical(this, QCoreApplication::translate("Const", "Error"),
                              tr("The software database is broken, do you want to re-download it?"),
                              QMessageBox::Yes | QMessageBox::Cancel)
        == QMessageBox::Yes)
        RedownloadCatalogue();
}

void MainWindow::on_action_ShowInfo_Option_GoLink_ContextMenu_triggered()
{
    on_action_ShowInfo_Option_GoLink_triggered();
}

QString MainWindow::GetBookGoLink(ItemDataSaver *store, const QVariant &bookId, bool direct)
{
    if (!store || !bookId.isValid())
        return QString();
    // Fetching a book may put it into the store's cache (which has a lock of its own).
    QReadLockerExt2 token(0, &store->lock);
    const ItemBook *book = store->GetBook(bookId.toLongLong(), token);
    if (!book)
        return QString();
    return direct ? book->goLink : book->transLink;
}

void MainWindow::on_action_go_website_triggered()
{
    QString link = Const::SoftwareUrlWithKind;
    Helper::OpenLink(link);
}

void MainWindow::on_action_go_software_website_with_icon_triggered()
{
    on_action_go_website_triggered();
}
