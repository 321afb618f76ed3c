#pragma once

#include <QIcon>
#include <QItemSelection>
#include <QList>
#include <QUuid>
#include <QVariant>
#include <QWidget>

class DisplayDataSaver;
class DisplayFolder;
class QHBoxLayout;
class QReadLockerExt2;
class QStandardItemModel;
class TreeControllerImpls;

// The folder list at the left of the main window: one row per folder in the store's order.
class TreeController : public QWidget
{
    Q_OBJECT

public:
    static constexpr int FolderIdRole = Qt::UserRole + 1;

    explicit TreeController(DisplayDataSaver *store = nullptr, QWidget *parent = nullptr);

    void CreateTreeView();
    void InitFolderIcons();
    // Updates the item of row (row >= 0) or appends a new one (row < 0). The token proves
    // that the caller holds the folder store's lock.
    void CreateFolderItem(DisplayFolder *folder, int row, const QReadLockerExt2 &token);
    QVariant GetItemFolderId(const QModelIndex &index) const;
    QModelIndex FindFolderIndex(const QUuid &id) const;
    QList<QUuid> ReadFolderOrder() const;
    // Re-reads every row's caption and icon from its folder (after a recomputation); rows whose
    // folder is gone stay as they are.
    void RefreshFolderItems();
    const QIcon &IconForType(int type) const;

    QHBoxLayout *layout;
    DisplayDataSaver *folderStore;
    TreeControllerImpls *treeView = nullptr;
    QStandardItemModel *model = nullptr;
    QIcon folderIcon;
    QIcon filterIcon;
    QIcon searchIcon;
    QIcon starIcon;

signals:
    void on_action_treeview_item_selected(int count, QVariant folderId);
    void on_action_treeview_item_sorted();

public slots:
    void onTreeList_ItemSorted();
    void onTreeList_SelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);
};
