#include "mainwindow/MainWindow.h"

#include "Const.h"
#include "Helper.h"
#include "platform/NativeApplication.h"
#include "threads/NativeHelper.h"
#include "platform/ObjectiveC.h"
#include "mainwindow/LabelTextFitter.h"
#include "mainwindow/StartupArguments.h"
#include "mainwindow/StartupMessages.h"
#include "StyleHelpers.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDebug>
#include <QMovie>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

static QWidget *ExpandingSpacer(QWidget *parent)
{
    auto *spacer = new QWidget(parent);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return spacer;
}

MainWindow::MainWindow(QWidget *parent, bool startWorkers)
    : QMainWindow(parent), ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    const QStringList words = QCoreApplication::arguments();
    config.Load();

    setWindowTitle(QueryCurrentWindowText() + QStringLiteral(" - Version: ") + Const::FullVersion
                   + QStringLiteral(" (") + Const::WebsiteUrl + QStringLiteral(")"));

    if (!imageRefresher.PrepareCacheFolder()) {
        gaveUp = true;
        ShowImageCacheFolderError();
        return;
    }

    startHidden = StartupArguments::IsStartHiddenRequested(words) || ObjectiveC::IsHidden();

    const bool autoMaximized = config.GetCurrentSettings().Start_AutoMaximized;
    if (autoMaximized) {
        if (startHidden)
            maximizeWhenShown = true;
        else
            showMaximized();
    }

    trayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/local/images/app-icon.ico")), this);
    trayIcon->setToolTip(Const::AppName);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::on_activatedSysTrayIcon);
    trayIcon->setVisible(true);

    SetRefreshServiceIsStarting(true);

    QString loadingTitle;
    loadingController.Create(true, loadingTitle);
    loadingController.ShowInLayout(ui->layoutForM2);

    closeThread.SetThreadsToStop(WorkersInStopOrder());

    errorPixmap = new QPixmap(QStringLiteral(":/local/images/16/stop.png"));
    nullCoverPixmap = new QPixmap(QStringLiteral(":/local/images/other/nullcover-218.png"));
    loadingCoverPixmap = new QPixmap(QStringLiteral(":/local/images/other/loadingcover-218.png"));
    goPixmap = new QPixmap(QStringLiteral(":/local/images/16/go-small.png"));
    infoPixmap = new QPixmap(QStringLiteral(":/local/images/16/info-small.png"));
    helpPixmap = new QPixmap(QStringLiteral(":/local/images/16/help-small.png"));

    setContextMenuPolicy(Qt::CustomContextMenu);
    trayMenu.addAction(ui->action_on_show_Window);
    trayMenu.addSeparator();
    trayMenu.addAction(ui->action_File_Exit);

    viewActions.insert(1, ui->action_ShowInfo_View_Covers);
    viewActions.insert(0, ui->action_ShowInfo_View_Details);
    sortActions.insert(0, ui->action_ShowInfo_OrderBy_None);
    sortActions.insert(11, ui->action_ShowInfo_OrderBy_Random);
    sortActions.insert(1, ui->action_ShowInfo_OrderBy_EventStartDate);
    sortActions.insert(2, ui->action_ShowInfo_OrderBy_BookDate);
    sortActions.insert(3, ui->action_ShowInfo_OrderBy_OrgPrice);
    sortActions.insert(4, ui->action_ShowInfo_OrderBy_UserRating);
    sortActions.insert(5, ui->action_ShowInfo_OrderBy_BookPages);
    sortActions.insert(6, ui->action_ShowInfo_OrderBy_BookSize);
    for (auto it = viewActions.cbegin(); it != viewActions.cend(); ++it)
        viewActionsReverse.insert(it.value(), it.key());
    for (auto it = sortActions.cbegin(); it != sortActions.cend(); ++it)
        sortActionsReverse.insert(it.value(), it.key());

    starLabels = {ui->lblShowBookStars1, ui->lblShowBookStars2, ui->lblShowBookStars3, ui->lblShowBookStars4,
                  ui->lblShowBookStars5};
    // The pane's height is fixed: two lines each leave the dates and the description their room.
    nameFitter = new LabelTextFitter(ui->lblShowBookName, 2);
    categoryFitter = new LabelTextFitter(ui->lblShowBookCategory, 2);

    treeController.folderStore = &folderStore;
    treeController.layout->setContentsMargins(0, 0, 0, 0);
    treeController.layout->setSpacing(0);
    ui->layoutForFolderList->addWidget(&treeController);
    treeController.CreateTreeView();
    connect(&treeController, &TreeController::on_action_treeview_item_sorted, this,
            &MainWindow::run_action_treeview_item_sorted);
    connect(&treeController, &TreeController::on_action_treeview_item_selected, this,
            &MainWindow::run_action_treeview_item_selected);

    viewController.AttachToLayout(ui->layoutForShowInfo);
    connect(&viewController, &ViewController::on_action_item_selected, this,
            &MainWindow::run_action_listview_item_selected);
    connect(&viewController, &ViewController::on_action_item_contextmenu, this,
            &MainWindow::run_action_listview_item_contextmenu);

    BuildStatusAndInfoBars();
    BuildToolBars();
    ConnectWorkers(startWorkers);

    connect(qApp, &QGuiApplication::commitDataRequest, this, &MainWindow::run_action_on_submit_data_request,
            Qt::DirectConnection);
    if (auto *app = qobject_cast<NativeApplication *>(QCoreApplication::instance())) {
        connect(app, &NativeApplication::messageReceived, this, &MainWindow::on_action_single_instance_ask);
        connect(app, &NativeApplication::OnCallActivateWindow, this,
                &MainWindow::on_action_on_show_Window_triggered);
        connect(app, &NativeApplication::OnCallStopWindow, this, &MainWindow::on_action_on_stop_window);
    }
}

void MainWindow::BuildStatusAndInfoBars()
{
    busyMovie = new QMovie(QStringLiteral(":/local/images/16/loading-small.gif"), QByteArray(), this);
    statusIconLabel = new QLabel(this);
    statusIconLabel->setMovie(busyMovie);
    statusIconLabel->hide();
    ui->statusBar->addPermanentWidget(statusIconLabel);
    busyMovie->start();
    statusTextLabel = new QLabel(this);
    statusTextLabel->hide();
    statusTextLabel->setStyleSheet(QStringLiteral("QLabel {padding-right:5px;}"));
    ui->statusBar->addPermanentWidget(statusTextLabel);
    infoLinkLabel = new QLabel(this);
    infoLinkLabel->hide();
    ui->statusBar->addWidget(infoLinkLabel);
    SetStatusBarItemStyle(ui->statusBar);

    // The spacer pushes the refresh command to the right edge.
    ui->mainToolBar->addWidget(ExpandingSpacer(ui->mainToolBar));
    ui->mainToolBar->addSeparator();
    ui->mainToolBar->addAction(ui->action_Reresh_All_Data);
    bookMenu.addAction(ui->action_ShowInfo_Option_GoLink_ContextMenu);
    bookMenu.addSeparator();
    bookMenu.addAction(ui->action_ShowInfo_Page_Prev_ContextMenu);
    bookMenu.addAction(ui->action_ShowInfo_Page_Next_ContextMenu);

    SetWidgetBackgroundColor(ui->lblShowBookCover, Qt::white);
    SetSingleInfoBookCover(Const::EmptyComparePart);
    ui->widChildBookInfo->hide();
}

void MainWindow::BuildToolBars()
{
    sortToolBar = new QToolBar(this);
    sortToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    SetToolButtonStyle(sortToolBar);
    sortToolBar->addAction(ui->action_ShowInfo_View_Refresh);
    sortToolBar->addSeparator();
    sortToolBar->addAction(ui->action_ShowInfo_View_Covers);
    sortToolBar->addAction(ui->action_ShowInfo_View_Details);
    sortToolBar->addSeparator();
    sortToolBar->addWidget(new QLabel(tr(" Order:"), sortToolBar));
    const QList<QAction *> orderActions = {
        ui->action_ShowInfo_OrderBy_None,          ui->action_ShowInfo_OrderBy_Random,
        ui->action_ShowInfo_OrderBy_EventStartDate, ui->action_ShowInfo_OrderBy_BookDate,
        ui->action_ShowInfo_OrderBy_UserRating,    ui->action_ShowInfo_OrderBy_OrgPrice,
        ui->action_ShowInfo_OrderBy_BookPages,     ui->action_ShowInfo_OrderBy_BookSize};
    for (QAction *action : orderActions)
        sortToolBar->addAction(action);
    sortToolBar->addWidget(ExpandingSpacer(sortToolBar));
    sortToolBar->addSeparator();
    sortToolBar->addAction(ui->action_ShowInfo_Option_GoLink);
    ui->layoutForShowInfo->insertWidget(0, sortToolBar);
    for (QAction *action : orderActions)
        connect(action, &QAction::triggered, this, &MainWindow::on_action_ChangeBookShowOrder);
    connect(ui->action_ShowInfo_View_Covers, &QAction::triggered, this, &MainWindow::on_action_ChangeBookShowView);
    connect(ui->action_ShowInfo_View_Details, &QAction::triggered, this, &MainWindow::on_action_ChangeBookShowView);
    ChangeBookShowOrder(ui->action_ShowInfo_OrderBy_None, false);

    folderToolBar = new QToolBar(this);
    SetToolButtonStyle(folderToolBar);
    folderToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    folderToolBar->addAction(ui->action_ShowCategory_Option_ResortCategory);
    folderToolBar->addAction(ui->action_ShowCategory_Option_EditFolder);
    folderToolBar->addAction(ui->action_ShowCategory_Option_RemoveFolder);
    folderToolBar->addSeparator();
    ui->layoutForFolderList->insertWidget(1, folderToolBar);

    pageToolBar = new QToolBar(this);
    pageToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    totalLabel = new QLabel(pageToolBar);
    queueCountLabel = new QLabel(pageToolBar);
    pageToolBar->addWidget(totalLabel);
    pageToolBar->addSeparator();
    pageToolBar->addWidget(queueCountLabel);
    pageToolBar->addWidget(ExpandingSpacer(pageToolBar));
    pageToolBar->addSeparator();
    pageComboBox = new QComboBox(pageToolBar);
    pageComboBox->setEnabled(false);
    pageComboBox->setMinimumWidth(90);
    // activated, not currentIndexChanged: picking the page already shown must reload it too.
    connect(pageComboBox, QOverload<int>::of(&QComboBox::activated), this,
            &MainWindow::on_action_UserChangedTheCurrentPage);
    for (QAction *action : {ui->action_ShowInfo_Page_First, ui->action_ShowInfo_Page_Prev,
                            ui->action_ShowInfo_Page_Next, ui->action_ShowInfo_Page_Last})
        action->setText(QString());
    pageToolBar->addAction(ui->action_ShowInfo_Page_First);
    pageToolBar->addAction(ui->action_ShowInfo_Page_Prev);
    pageToolBar->addWidget(pageComboBox);
    pageToolBar->addAction(ui->action_ShowInfo_Page_Next);
    pageToolBar->addAction(ui->action_ShowInfo_Page_Last);
    pageToolBar->addSeparator();
    pageToolBar->addAction(ui->action_ShowInfo_View_Prev);
    pageToolBar->addAction(ui->action_ShowInfo_View_Next);
    pageToolBar->addSeparator();
    pageToolBar->addAction(ui->action_ShowInfo_Option_GoLink);
    ui->layoutForBookList->insertWidget(5, Helper::CreateLine());
    ui->layoutForBookList->insertWidget(6, pageToolBar);

    infoBar = new QStatusBar(this);
    SetWidgetBackgroundColor(infoBar, QColor(255, 255, 0));
    infoTextLabel = new QLabel(infoBar);
    infoTextLabel->setMargin(4);
    infoBar->addWidget(infoTextLabel);
    auto *closeButton = new QPushButton(QIcon(QStringLiteral(":/local/images/16/cross.png")), QString(), infoBar);
    infoBar->addPermanentWidget(closeButton);
    connect(closeButton, &QAbstractButton::clicked, this, &MainWindow::on_action_hide_main_informationbar);
    SetStatusBarItemStyle(infoBar);
    infoLineTop = Helper::CreateLine();
    infoLineBottom = Helper::CreateLine();
    ui->layoutForShowInfo->insertWidget(0, infoLineTop);
    ui->layoutForShowInfo->insertWidget(1, infoBar);
    ui->layoutForShowInfo->insertWidget(2, infoLineBottom);
    infoBar->hide();
    infoLineTop->hide();
    infoLineBottom->hide();
    ui->lblShowBookPriceFlag->hide();
    QFont struck = ui->lblShowBookPriceOrg->font();
    struck.setStrikeOut(true);
    ui->lblShowBookPriceOrg->setFont(struck);
    SetWidgetTextColor(ui->lblShowBookPriceOrg, Const::ColorRed);
}

void MainWindow::ConnectWorkers(bool startWorkers)
{
    const QString query = Helper::GetSoftwareInfoQuery();
    dataLoader.SetStores(&folderStore, query);
    connect(&dataLoader, &UserDataLoader::message, this, &MainWindow::on_action_userDataLoading);
    connect(&dataLoader, &UserDataLoader::completed, this, &MainWindow::on_action_userDataLoaded);
    dataRefresher.SetStores(&folderStore, query);
    connect(&dataRefresher, &UserDataRefresher::startComputing, this, &MainWindow::SetRefreshServiceIsStarting);
    connect(&dataRefresher, &UserDataLoader::message, this, &MainWindow::on_action_userDataRefreshing);
    connect(&dataRefresher, &UserDataLoader::completed, this, &MainWindow::on_action_userDataRefreshed);
    connect(&imageRefresher, &UserImageRefresher::completed, this, &MainWindow::on_action_refresh_image_downloaded);
    connect(&imageRefresher, &UserImageRefresher::decoded, this, &MainWindow::run_action_cover_decoded);

    newVersionLabel = new QLabel(this);
    newVersionLabel->hide();
    ui->statusBar->addWidget(newVersionLabel);
    connect(&versionLoader, &UserVersionLoader::onNewVersion, this, &MainWindow::run_action_show_new_version);

    countTimer = new QTimer(this);
    connect(countTimer, &QTimer::timeout, this, &MainWindow::run_action_show_loaditems_count);
    run_action_show_loaditems_count();
    versionTimer = new QTimer(this);
    connect(versionTimer, &QTimer::timeout, this, &MainWindow::run_action_start_check_version);
    databaseTimer = new QTimer(this);
    connect(databaseTimer, &QTimer::timeout, this, &MainWindow::run_action_start_check_database);
    retryTimer = new QTimer(this);
    retryTimer->setInterval(300000);
    connect(retryTimer, &QTimer::timeout, this, &MainWindow::run_action_start_check_retry);

    if (startWorkers)
        dataLoader.StartIfNotRunning();
}

MainWindow::~MainWindow()
{
    // The workers use the stores below: make sure they are stopped before anything is freed,
    // also when the close worker never ran.
    StopWorkersNow();
    delete ui;
    delete errorPixmap;
    delete nullCoverPixmap;
    delete loadingCoverPixmap;
    delete goPixmap;
    delete infoPixmap;
    delete helpPixmap;
}

QList<QThreadExtend *> MainWindow::WorkersInStopOrder()
{
    // The folders writer first: a save queued before the close began is written, not lost.
    return {&folderStore.foldersWriter, &dataRefresher, &imageRefresher, &versionLoader, &dataLoader};
}

void MainWindow::StopWorkersNow()
{
    closeThread.Stop();
    for (QThreadExtend *worker : WorkersInStopOrder())
        worker->Stop();
}

QString MainWindow::QueryCurrentWindowText() const
{
    return Const::AppName;
}

void MainWindow::SetRefreshServiceIsStarting(bool isStart)
{
    // A close under way counts as closing: a late worker result must not re-enable anything.
    const bool enabled = isStart ? false : !IsClosingOrCloseStarted();
    for (QAction *action : {ui->action_Add_Category, ui->action_Add_Filter, ui->action_StartSearch,
                            ui->action_Settings, ui->action_Check_For_Updates, ui->action_Reresh_All_Data})
        action->setEnabled(enabled);
    ui->MainContainer->setEnabled(enabled);
    ui->menuTools_Bar->setEnabled(enabled);
    // A failed load keeps the folder commands off whatever ends later: they save the folders.
    if (enabled && !HasLoadedData())
        SetGlobalEditWindowEnabled(false);
}

void MainWindow::OnCallHideCurrentWindow()
{
    ObjectiveC::HideWindow();
}

void MainWindow::on_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        on_action_on_show_Window_triggered();
        break;
    case QSystemTrayIcon::Context:
        OnShowTrayMenu(QCursor::pos());
        break;
    default:
        break;
    }
}

void MainWindow::OnShowTrayMenu(const QPoint &point)
{
    trayMenu.popup(point);
}

void MainWindow::on_action_on_show_Window_triggered()
{
    qDebug("on_action_on_show_Window_triggered Called");
    // Leave the minimised state before the window is mapped again: shown while still minimised,
    // a window manager may map it as an icon and drop the later restore.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    if (ObjectiveC::IsHidden())
        ObjectiveC::ShowWindow();
    if (maximizeWhenShown) {
        maximizeWhenShown = false;
        showMaximized();
    } else if (isHidden()) {
        show();
    }
    // Always raise and activate: a visible window behind others must come forward too, and the
    // application being active says nothing about this window. A modal dialog open over the
    // window is the one the platform bridge brings to the front.
    raise();
    activateWindow();
    ObjectiveC::ActivateWindow();
}

void MainWindow::on_action_single_instance_ask(const QString &str)
{
    if (str == Const::MsgRaiseWindow)
        on_action_on_show_Window_triggered();
}

void MainWindow::on_action_on_stop_window()
{
    OnPeekStartClose();
}

void MainWindow::run_action_on_submit_data_request(QSessionManager &)
{
    OnPeekStartClose();
}

void MainWindow::on_action_File_Exit_triggered()
{
    OnPeekStartClose();
}

void MainWindow::on_action_on_primary_quit_triggered()
{
    OnPeekStartClose();
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    auto *stateEvent = static_cast<QWindowStateChangeEvent *>(event);
    if (stateEvent->oldState() == Qt::WindowMinimized || !isMinimized())
        return;
    const bool toTray = config.GetCurrentSettings().App_Minimize_to_tray;
    if (toTray) {
        event->ignore();
        ObjectiveC::HideWindow();
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    const bool toTray = config.GetCurrentSettings().App_Close_to_tray;
    event->ignore();
    if (toTray && !QCoreApplication::closingDown() && isVisible() && !ObjectiveC::IsHidden()) {
        ObjectiveC::HideWindow();
        return;
    }
    OnPeekStartClose();
}

void MainWindow::OnPeekStartClose()
{
    {
        QMutexLocker locker(&mainMutex);
        if (closeStarted || closeThread.IsRunning() || NativeHelper::IsClosing())
            return;
        if (QApplication::activeModalWidget()) {
            on_action_on_show_Window_triggered();
            return;
        }
        closeStarted = true;
    }
    SetRefreshServiceIsStarting(true);
    if (loadingController.titleLabel)
        loadingController.titleLabel->setText(tr("Closing..."));
    if (loadingController.messageLabel)
        loadingController.messageLabel->setText(
            tr("The software is saving your configuration file data, please wait a moment."));
    loadingController.ShowInLayout(ui->layoutForM2);
    if (trayIcon)
        trayIcon->hide();
    closeThread.StartIfNotRunning();
}

void MainWindow::ShowImageCacheFolderError()
{
    StartupMessages::ShowImageCacheFolderMessage();
}
