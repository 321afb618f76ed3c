#include "views/TreeController.h"

#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolder.h"
#include "folders/DisplayFolderType.h"
#include "threads/QReadLockerExt2.h"
#include "views/TreeControllerImpls.h"

#include <QHBoxLayout>
#include <QStandardItemModel>

TreeController::TreeController(DisplayDataSaver *store, QWidget *parent)
    : QWidget(parent), layout(new QHBoxLayout(this)), folderStore(store)
{
}

void TreeController::CreateTreeView()
{
    if (treeView)
        return;
    treeView = new TreeControllerImpls(this);
    treeView->setSelectionMode(QAbstractItemView::SingleSelection);
    treeView->setSelectionBehavior(QAbstractItemView::SelectRows);
    treeView->setDefaultDropAction(Qt::MoveAction);
    treeView->setDragDropMode(QAbstractItemView::InternalMove);
    // Re-ordering stays off until the re-order command switches it on.
    treeView->setDragEnabled(false);
    treeView->setAcceptDrops(false);
    treeView->viewport()->setAcceptDrops(false);
    treeView->setDropIndicatorShown(false);

    layout->addWidget(treeView);
    InitFolderIcons();
    setMinimumWidth(300);
    setMaximumWidth(500);

    treeView->setEditTriggers(QAbstractItemView::NoEditTriggers);

    model = new QStandardItemModel(this);
    model->setHorizontalHeaderLabels({QStringLiteral("Folders")});
    treeView->setModel(model);
    treeView->setIconSize(QSize(32, 32));

    connect(treeView, &TreeControllerImpls::onItemSortChanged, this, &TreeController::onTreeList_ItemSorted);
    connect(treeView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TreeController::onTreeList_SelectionChanged);
}

void TreeController::InitFolderIcons()
{
    folderIcon = QIcon(QStringLiteral(":/local/images/32/folder.png"));
    filterIcon = QIcon(QStringLiteral(":/local/images/32/folder_brick.png"));
    searchIcon = QIcon(QStringLiteral(":/local/images/32/folder_search.png"));
    starIcon = QIcon(QStringLiteral(":/local/images/32/folder_star.png"));
}

const QIcon &TreeController::IconForType(int type) const
{
    switch (type) {
    case FilterFolder:
        return filterIcon;
    case SearchResult:
        return searchIcon;
    case NewArrivals:
    case BestBooks:
        return starIcon;
    default:
        return folderIcon;
    }
}

void TreeController::CreateFolderItem(DisplayFolder *folder, int row, const QReadLockerExt2 &token)
{
    if (!folder || !model)
        return;
    if (folderStore)
        token.CheckLock(&folderStore->lock);
    QStandardItem *item = nullptr;
    if (row >= 0) {
        item = model->item(row, 0);
        if (!item)
            return;
    } else {
        item = new QStandardItem();
    }
    item->setText(folder->calcCaption);
    item->setIcon(IconForType(folder->type));
    item->setData(QVariant::fromValue(folder->uid), FolderIdRole);
    // Nothing may be dropped onto a folder, so folders never nest.
    item->setFlags(item->flags() & ~Qt::ItemIsDropEnabled);
    if (row < 0)
        model->appendRow(item);
}

QVariant TreeController::GetItemFolderId(const QModelIndex &index) const
{
    if (!model || !index.isValid() || index.row() < 0 || index.column() < 0 || index.row() >= model->rowCount())
        return QVariant();
    QStandardItem *item = model->item(index.row(), 0);
    return item ? item->data(FolderIdRole) : QVariant();
}

QModelIndex TreeController::FindFolderIndex(const QUuid &id) const
{
    if (!model)
        return QModelIndex();
    const QVariant wanted = QVariant::fromValue(id);
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row, 0);
        if (GetItemFolderId(index) == wanted)
            return index;
    }
    return QModelIndex();
}

void TreeController::RefreshFolderItems()
{
    if (!folderStore || !model)
        return;
    QReadLockerExt2 token(0, &folderStore->lock);
    for (int row = 0; row < model->rowCount(); ++row) {
        const QVariant id = GetItemFolderId(model->index(row, 0));
        if (DisplayFolder *folder = folderStore->FindFolder(id.toUuid(), token))
            CreateFolderItem(folder, row, token);
    }
}

QList<QUuid> TreeController::ReadFolderOrder() const
{
    QList<QUuid> order;
    if (!model)
        return order;
    for (int row = 0; row < model->rowCount(); ++row) {
        QStandardItem *item = model->item(row, 0);
        const QUuid id = item ? item->data(FolderIdRole).toUuid() : QUuid();
        if (!id.isNull())
            order.append(id);
    }
    return order;
}

void TreeController::onTreeList_ItemSorted()
{
    emit on_action_treeview_item_sorted();
}

void TreeController::onTreeList_SelectionChanged(const QItemSelection &selected, const QItemSelection &)
{
    if (selected.isEmpty()) {
        emit on_action_treeview_item_selected(0, QVariant(0));
        return;
    }
    emit on_action_treeview_item_selected(1, GetItemFolderId(selected.indexes().value(0)));
}
