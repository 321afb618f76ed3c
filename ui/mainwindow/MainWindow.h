#pragma once

#include "folders/DisplayDataSaver.h"
#include "folders/DisplayPageState.h"
#include "dialogs/FilterFolderType.h"
#include "catalogue/ItemComparePart.h"
#include "LoadingController.h"
#include "MainWindowCloseThread.h"
#include "settings/NativeConfigLoader.h"
#include "views/TreeController.h"
#include "UserDataRefresher.h"
#include "UserImageRefresher.h"
#include "UserVersionLoader.h"
#include "views/ViewController.h"

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QMenu>
#include <QMutex>
#include <QSystemTrayIcon>

class LabelTextFitter;
class QComboBox;
class QFrame;
class QLabel;
class QMovie;
class QPixmap;
class QSessionManager;
class QStatusBar;
class QTimer;
class QToolBar;
class Ui_MainWindow;

// The one top-level window. Its behaviour is spread over several files by concern:
// MainWindow.cpp (construction, tray, close path), MainWindowList.cpp (folders, paging, order),
// MainWindowStatus.cpp (worker results, status texts, timers), MainWindowDetails.cpp (details pane,
// book context menu) and MainWindowCommands.cpp (menu and tool-bar commands).
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // startWorkers false builds the window without starting the first load (tests only).
    explicit MainWindow(QWidget *parent = nullptr, bool startWorkers = true);
    ~MainWindow() override;

    QString QueryCurrentWindowText() const;
    // True when construction stopped because the image cache folder is unusable.
    bool IsConstructionFailed() const { return gaveUp; }
    bool IsStartHidden() const { return startHidden; }

public slots:
    // Construction, tray and close
    void SetRefreshServiceIsStarting(bool isStart);
    void OnPeekStartClose();
    void OnCallHideCurrentWindow();
    void on_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason);
    void OnShowTrayMenu(const QPoint &point);
    void on_action_on_show_Window_triggered();
    void run_action_on_submit_data_request(QSessionManager &manager);
    void on_action_File_Exit_triggered();
    void on_action_on_primary_quit_triggered();

    // Folders, paging and order
    void run_action_treeview_item_selected(int count, const QVariant &id);
    void run_action_treeview_item_sorted();
    void on_action_ShowInfo_View_Refresh_triggered();
    void on_action_ShowInfo_Page_First_triggered();
    void on_action_ShowInfo_Page_Prev_triggered();
    void on_action_ShowInfo_Page_Next_triggered();
    void on_action_ShowInfo_Page_Last_triggered();
    void on_action_ShowInfo_Page_Prev_ContextMenu_triggered();
    void on_action_ShowInfo_Page_Next_ContextMenu_triggered();
    void on_action_ShowInfo_View_Prev_triggered();
    void on_action_ShowInfo_View_Next_triggered();

    // Worker results, status texts and timers
    void run_action_cover_decoded(const QVariant &uid, const QVariant &compare);
    void run_action_show_new_version(const QString &newVersion);
    void run_action_show_loaditems_count();
    void run_action_start_check_version();
    void run_action_start_check_database();
    void run_action_start_check_retry();

    // Details pane and book context menu
    void run_action_listview_item_selected(int count, const QVariant &id);
    void run_action_listview_item_contextmenu(bool isSelected, const QPoint &point);

    // Commands
    void on_action_Add_Category_triggered();
    void on_action_Add_Filter_triggered();
    void on_action_StartSearch_triggered();
    void on_action_Settings_triggered();
    void on_action_Tool_Settings_triggered();
    void on_action_Check_For_Updates_triggered();
    void on_action_Reresh_All_Data_triggered();
    void on_action_Help_About_triggered();
    void on_action_ShowCategory_Option_EditFolder_triggered();
    void on_action_ShowCategory_Option_RemoveFolder_triggered();
    void on_action_ShowCategory_Option_ResortCategory_triggered();
    void on_action_ShowInfo_Option_GoLink_triggered();
    void on_action_ShowInfo_Option_GoLink_ContextMenu_triggered();
    void on_action_Tool_ClearAllCache_triggered();
    void on_action_Tool_ClearAllImageCache_triggered();
    void on_action_go_website_triggered();
    void on_action_go_software_website_with_icon_triggered();

public:
    // Reactions to the application, the views, the workers and the information bar, connected by
    // pointer. Not slots: the form's connection by name would find no object and signal for these
    // names and warn about each.
    void on_action_single_instance_ask(const QString &str);
    void on_action_on_stop_window();
    void on_action_UserChangedTheCurrentPage(int index);
    void on_action_ChangeBookShowOrder();
    void on_action_ChangeBookShowView();
    void on_action_userDataLoading(const QString &text);
    void on_action_userDataLoaded(bool isSucc, bool isrecalc);
    void on_action_userDataRefreshing(const QString &text);
    void on_action_userDataRefreshed(bool isSucc, bool isrecalc);
    void on_action_refresh_image_downloaded(bool isSucc, const QVariant &uid, const QVariant &compare);
    void on_action_hide_main_informationbar();

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

    // ---- list display (MainWindowList.cpp)
public:
    void OnLoadDisplayFolders();
    void OnLoadListViewData(const QVariant &folderId, bool resort, bool selectLast);
    void OnCallRefreshListView(bool reload, bool selectLast);
    void Add_AddItemToTreeView(DisplayFolder *folder, int row, const QReadLockerExt2 &token, bool select,
                               bool reload);
    void ChangeBookShowOrder(QAction *action, bool reload);
    void ChangeBookShowView(QAction *action, bool reload, bool resort);
    void OnMovePrevPage(bool selectLast);
    QString FormatListTotalText();
    static void FillPageComboBox(QComboBox *combo, int pageCount, int currentPage);
    void QueuePageCovers(UserImageRefresher *worker, const QList<ItemComparePart> &pageKeys);
    QVariant CurrentFolderId() const;

    // ---- status (MainWindowStatus.cpp)
    void OnShowDBLoadResult(bool ok, UserDataLoader *loader, bool showBar, bool &retry);
    void OnRecheckAutoInvokeEvents();
    void OnSetSubShowText(const QString &text, const QString &link, bool withTime, bool noIcon, bool asRed);
    void SetMainInformationText(const QString &text, const QString &link);
    void SetEnabledLocalRetry(bool enabled);
    void SetGlobalEditWindowEnabled(bool enabled);
    // A catalogue is open and the folders file was read: the folder commands may save.
    bool HasLoadedData();
    static QString FormatCurrentDateTime(bool leadingBlank);
    static void InitLinkLabel(QLabel *label, const QString &text, const QString &link, bool red);
    // Closing flag or a close already under way: worker slots then do nothing.
    bool IsClosingOrCloseStarted() const;
    QString CatalogueStatusText();
    bool PendingCoverShown(const ItemComparePart &key);
    // Settles a covers-view tile still waiting for its cover: the decoded cover when it is cached,
    // "no cover" when it is not (a failed download). A cover still decoding changes nothing.
    void UpdatePendingTile(const ItemComparePart &key, bool cached);

    // ---- details pane (MainWindowDetails.cpp)
    void SetSingleInfoBookCover(const ItemComparePart &key);
    void OnShowSingleBookInfoRightMenu(bool show, bool isSelected, const QPoint &point);

    // ---- tests read these
    Ui_MainWindow *form() const { return ui; }
    DisplayDataSaver &folders() { return folderStore; }
    NativeConfigLoader &settings() { return config; }
    DisplayPageState &page() { return pageState; }
    ViewController &views() { return viewController; }
    TreeController &tree() { return treeController; }
    UserDataLoader &loader() { return dataLoader; }
    UserDataRefresher &refresher() { return dataRefresher; }
    UserImageRefresher &images() { return imageRefresher; }
    QTimer *timerRetry() const { return retryTimer; }
    QTimer *timerVersion() const { return versionTimer; }
    QTimer *timerDatabase() const { return databaseTimer; }
    QTimer *timerCount() const { return countTimer; }
    QStatusBar *informationBar() const { return infoBar; }
    QLabel *statusText() const { return statusTextLabel; }
    QLabel *infoText() const { return infoTextLabel; }
    QLabel *versionLabel() const { return newVersionLabel; }
    QLabel *totalsLabel() const { return totalLabel; }
    QComboBox *pageCombo() const { return pageComboBox; }
    bool isCloseStarted() const { return closeStarted; }

private:
    void BuildToolBars();
    void BuildStatusAndInfoBars();
    void ConnectWorkers(bool startWorkers);
    void ShowImageCacheFolderError();
    // The order in which the close path stops the workers.
    QList<QThreadExtend *> WorkersInStopOrder();
    void StopWorkersNow();

    Ui_MainWindow *ui;
    bool closeStarted = false;
    ViewController viewController;
    TreeController treeController;
    QMutex mainMutex;
    QMenu trayMenu;
    QMenu bookMenu;
    QMutex contextMenuMutex;
    UserDataLoader dataLoader;
    UserDataRefresher dataRefresher;
    UserImageRefresher imageRefresher;
    UserVersionLoader versionLoader;
    MainWindowCloseThread closeThread;
    QList<QLabel *> starLabels;
    LabelTextFitter *nameFitter = nullptr;
    LabelTextFitter *categoryFitter = nullptr;
    QHash<int, QAction *> viewActions;
    QHash<QAction *, int> viewActionsReverse;
    QHash<int, QAction *> sortActions;
    QHash<QAction *, int> sortActionsReverse;
    QSystemTrayIcon *trayIcon = nullptr;
    QLabel *newVersionLabel = nullptr;
    QLabel *statusIconLabel = nullptr;
    QLabel *statusTextLabel = nullptr;
    QLabel *infoLinkLabel = nullptr;
    QLabel *totalLabel = nullptr;
    QLabel *queueCountLabel = nullptr;
    QTimer *versionTimer = nullptr;
    QTimer *databaseTimer = nullptr;
    QTimer *retryTimer = nullptr;
    QTimer *countTimer = nullptr;
    QComboBox *pageComboBox = nullptr;
    LoadingController loadingController;
    QMovie *busyMovie = nullptr;
    QStatusBar *infoBar = nullptr;
    QLabel *infoTextLabel = nullptr;
    QFrame *infoLineTop = nullptr;
    QFrame *infoLineBottom = nullptr;
    QToolBar *sortToolBar = nullptr;
    QToolBar *folderToolBar = nullptr;
    QToolBar *pageToolBar = nullptr;
    QPixmap *errorPixmap = nullptr;
    QPixmap *nullCoverPixmap = nullptr;
    QPixmap *loadingCoverPixmap = nullptr;
    QPixmap *goPixmap = nullptr;
    QPixmap *infoPixmap = nullptr;
    QPixmap *helpPixmap = nullptr;
    DisplayDataSaver folderStore;
    DisplayPageState pageState;
    NativeConfigLoader config;
    ItemComparePart detailsCoverKey;
    bool detailsCoverLoading = false;
    bool startHidden = false;
    bool maximizeWhenShown = false;
    bool gaveUp = false;

    // ---- commands (MainWindowCommands.cpp)
public:
    // mode is a FilterFolderType.
    void OnProcessFilterDialog(FilterFolderType mode, const QVariant &folderId, int row);
    static bool StoreFilterFolder(DisplayDataSaver *store, DisplayFolder *folder, const QVariant &oldId,
                                  const QWriteLockerExt2 &token);
    static QString GetBookGoLink(ItemDataSaver *store, const QVariant &bookId, bool direct);
    void ShowNetworkAlert();
    // The manual version check's query; tests replace it (empty: the version service).
    std::function<bool(int timeoutMs, bool &newer, QString &ownVersion, QString &latestVersion)> versionQuery;

private:
    void ShowStoredFolder(const QUuid &id, int rowHint);
    // Makes the folder's tree item current (which shows it), or shows it again when it is current
    // and reload is set. The caller holds no token on the folder store.
    void SelectFolderItem(const QUuid &uid, bool reload);
    void RedownloadCatalogue();
};
