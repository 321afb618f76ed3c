// Worker results, status texts, the information bar and the periodic checks of the main window.
#include "mainwindow/MainWindow.h"

#include "Const.h"
#include "CoverImageState.h"
#include "Helper.h"
#include "threads/NativeHelper.h"
#include "VersionNumberHelper.h"
#include "ui_mainwindow.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QMovie>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

QString MainWindow::CatalogueStatusText()
{
    QReadLocker locker(&folderStore.items->lock);
    return folderStore.items->statusText;
}

bool MainWindow::HasLoadedData()
{
    if (!folderStore.HoldsFoldersFile())
        return false;
    // A catalogue without a guid in its summary is a loaded catalogue all the same.
    QReadLocker locker(&folderStore.items->lock);
    return !folderStore.items->currentFilePath.isEmpty();
}

bool MainWindow::PendingCoverShown(const ItemComparePart &key)
{
    QReadLocker locker(&viewController.lock);
    return viewController.pendingCovers.contains(key);
}

void MainWindow::UpdatePendingTile(const ItemComparePart &key, bool cached)
{
    if (!viewController.IsImageView() || !PendingCoverShown(key))
        return;
    // The state points into pixmap: it must outlive the update.
    QPixmap pixmap;
    const CoverImageState state =
        cached ? imageRefresher.GetCoverPixmap(key, pixmap, true, viewController.GetCoverSize())
               : CoverImageState::NoCover();
    // Still loading: the tile shows the loading picture already and its decode reports later.
    if (!state.loading)
        viewController.UpdateItemImage(key, state);
}

bool MainWindow::IsClosingOrCloseStarted() const
{
    return closeStarted || NativeHelper::IsClosing();
}

QString MainWindow::FormatCurrentDateTime(bool leadingBlank)
{
    const QString text = QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    return leadingBlank ? QStringLiteral(" ") + text : text;
}

void MainWindow::InitLinkLabel(QLabel *label, const QString &text, const QString &link, bool red)
{
    if (!label)
        return;
    if (link.isEmpty()) {
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
        return;
    }
    label->setTextFormat(Qt::RichText);
    label->setOpenExternalLinks(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse
                                   | Qt::LinksAccessibleByKeyboard);
    label->setMargin(4);
    // The text is ours or comes from the network: never let it be read as markup.
    label->setText(Helper::MakeHtmlLink(text.toHtmlEscaped(), link, red));
}

void MainWindow::OnSetSubShowText(const QString &text, const QString &link, bool withTime, bool noIcon, bool asRed)
{
    if (text.isEmpty()) {
        statusIconLabel->hide();
        statusTextLabel->hide();
        return;
    }
    const QString shown = withTime ? text + QStringLiteral(" (") + FormatCurrentDateTime(false) + QStringLiteral(")")
                                   : text;
    InitLinkLabel(statusTextLabel, shown, link, asRed);
    statusTextLabel->show();
    if (!withTime) {
        if (!statusIconLabel->movie())
            statusIconLabel->setMovie(busyMovie);
        statusIconLabel->show();
    } else if (noIcon) {
        statusIconLabel->hide();
    } else {
        statusIconLabel->setMovie(nullptr);
        statusIconLabel->setPixmap(*errorPixmap);
        statusIconLabel->show();
    }
}

void MainWindow::SetMainInformationText(const QString &text, const QString &link)
{
    if (text.isEmpty()) {
        infoBar->hide();
        infoLineTop->hide();
        infoLineBottom->hide();
        return;
    }
    InitLinkLabel(infoTextLabel, text + QStringLiteral(" (") + FormatCurrentDateTime(false) + QStringLiteral(")"),
                  link, false);
    infoBar->show();
    infoLineTop->show();
    infoLineBottom->show();
}

void MainWindow::SetEnabledLocalRetry(bool enabled)
{
    QMutexLocker locker(&mainMutex);
    if (enabled)
        retryTimer->start();
    else
        retryTimer->stop();
}

void MainWindow::SetGlobalEditWindowEnabled(bool enabled)
{
    ui->action_Add_Category->setEnabled(enabled);
    ui->action_Add_Filter->setEnabled(enabled);
    ui->action_StartSearch->setEnabled(enabled);
    folderToolBar->setEnabled(enabled);
}

void MainWindow::OnShowDBLoadResult(bool ok, UserDataLoader *loader, bool showBar, bool &retry)
{
    retry = false;
    if (ok && showBar) {
        SetMainInformationText(QString(), QString());
        return;
    }
    if (ok) {
        // Not isVisible(): a bar shown while the window is hidden in the tray must go too.
        if (!infoBar->isHidden())
            SetMainInformationText(QString(), QString());
        OnSetSubShowText(CatalogueStatusText(), QString(), true, true, false);
        return;
    }

    int lastError = 0, serverAnswer = 0;
    {
        QReadLocker locker(&loader->dataLock);
        lastError = loader->lastError;
        if (lastError == 3)
            serverAnswer = loader->serverAnswer;
    }
    QString message, link;
    bool reloadSentence = true;
    switch (lastError) {
    case 1:
        message = tr("Failed to read user profiles. Perhaps it is in use or locked by other programs.");
        break;
    case 3:
        if (serverAnswer == 3) {
            message = tr("New database files no longer support your current software version. Click here to "
                         "upgrade the software.");
            link = Const::DownloadUrlWithInfo;
            reloadSentence = false;
        } else {
            message = tr("Failed to load the latest free ebooks database.");
        }
        break;
    case 4:
    case 5:
        message = tr("Failed to write configuration files...");
        reloadSentence = false;
        break;
    case 101:
        message = tr("The software cannot access the database file because it is being used by another program.");
        break;
    default:
        message = QStringLiteral("Failed to refresh the database.");
        break;
    }
    if (reloadSentence) {
        const bool recheck = config.GetCurrentSettings().Check_NewDatabase;
        if (recheck) {
            retry = true;
            message += tr(" The software will reload it after several minutes.");
        } else {
            message += tr(" Click [refresh database] button to reload it.");
        }
    }
    const QString text = tr("Error: ") + message;
    if (showBar)
        SetMainInformationText(text, link);
    else
        OnSetSubShowText(text, link, true, false, true);
}

void MainWindow::on_action_userDataLoading(const QString &text)
{
    if (IsClosingOrCloseStarted())
        return;
    if (loadingController.messageLabel)
        loadingController.messageLabel->setText(text);
}

void MainWindow::on_action_userDataLoaded(bool isSucc, bool)
{
    if (IsClosingOrCloseStarted())
        return;
    infoLinkLabel->hide();
    OnCallRefreshListView(false, false);
    bool retry = false;
    OnShowDBLoadResult(isSucc, &dataLoader, true, retry);
    SetEnabledLocalRetry(retry);
    loadingController.Hide();
    SetRefreshServiceIsStarting(false);
    OnRecheckAutoInvokeEvents();
    OnLoadDisplayFolders();
    if (!isSucc)
        SetGlobalEditWindowEnabled(false);
    imageRefresher.StartIfNotRunning();
    versionLoader.StartIfNotRunning();
    dataRefresher.StartIfNotRunning();
    countTimer->start(3000);
}

void MainWindow::on_action_userDataRefreshing(const QString &text)
{
    if (IsClosingOrCloseStarted())
        return;
    OnSetSubShowText(text, QString(), false, true, false);
}

void MainWindow::on_action_userDataRefreshed(bool isSucc, bool isrecalc)
{
    if (IsClosingOrCloseStarted())
        return;
    SetRefreshServiceIsStarting(false);
    bool retry = false;
    OnShowDBLoadResult(isSucc, &dataRefresher, false, retry);
    SetEnabledLocalRetry(retry);
    if (isSucc && HasLoadedData())
        SetGlobalEditWindowEnabled(true);
    if (isrecalc) {
        treeController.RefreshFolderItems();
        OnLoadListViewData(CurrentFolderId(), true, false);
        OnShowSingleBookInfoRightMenu(false, false, QPoint());
    }
}

void MainWindow::on_action_refresh_image_downloaded(bool isSucc, const QVariant &uid, const QVariant &compare)
{
    if (IsClosingOrCloseStarted())
        return;
    QMutexLocker locker(&mainMutex);
    const ItemComparePart key(uid.toLongLong(), compare.toLongLong());
    UpdatePendingTile(key, isSucc);
    if (key == detailsCoverKey)
        SetSingleInfoBookCover(isSucc ? key : Const::EmptyComparePart);
}

void MainWindow::run_action_cover_decoded(const QVariant &uid, const QVariant &compare)
{
    if (IsClosingOrCloseStarted())
        return;
    QMutexLocker locker(&mainMutex);
    const ItemComparePart key(uid.toLongLong(), compare.toLongLong());
    UpdatePendingTile(key, true);
    if (key == detailsCoverKey && detailsCoverLoading)
        SetSingleInfoBookCover(key);
}

void MainWindow::run_action_show_new_version(const QString &newVersion)
{
    if (IsClosingOrCloseStarted())
        return;
    if (!newVersionLabel || newVersionLabel->isVisible())
        return;
    // The version text comes from the network: bounded here, and escaped by InitLinkLabel.
    InitLinkLabel(newVersionLabel, tr("New Update Available: %1").arg(BoundedVersionText(newVersion)),
                  Const::DownloadUrlWithInfo, true);
    newVersionLabel->show();
}

void MainWindow::run_action_show_loaditems_count()
{
    if (IsClosingOrCloseStarted())
        return;
    const int pending = imageRefresher.GetWaitingCount();
    queueCountLabel->setText(QStringLiteral(" Images Queue: ") + QString::number(pending) + QStringLiteral(" "));
}

void MainWindow::run_action_start_check_version()
{
    // The closing flag is set only once the close worker runs; a close under way is enough.
    if (closeStarted)
        return;
    versionLoader.StartIfNotRunning();
}

void MainWindow::run_action_start_check_database()
{
    if (closeStarted)
        return;
    dataRefresher.StartIfNotRunning();
}

void MainWindow::run_action_start_check_retry()
{
    if (closeStarted)
        return;
    dataRefresher.StartIfNotRunning();
}

void MainWindow::on_action_hide_main_informationbar()
{
    SetMainInformationText(QString(), QString());
}

void MainWindow::OnRecheckAutoInvokeEvents()
{
    QMutexLocker locker(&mainMutex);
    const NativeConfigSettings settings = config.GetCurrentSettings();
    const bool checkVersion = settings.Check_NewVersion;
    const bool checkDatabase = settings.Check_NewDatabase;
    const int minutes = settings.Check_NewDatabase_Minutes;
    if (checkVersion) {
        versionTimer->setInterval(7200000);
        if (!versionTimer->isActive())
            versionTimer->start();
    } else {
        versionTimer->stop();
    }
    if (checkDatabase) {
        databaseTimer->setInterval(qBound(10, minutes, 10080) * 60000);
        if (!databaseTimer->isActive())
            databaseTimer->start();
    } else {
        databaseTimer->stop();
    }
}
