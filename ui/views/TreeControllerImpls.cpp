#include "views/TreeControllerImpls.h"

#include "views/TreeController.h"

#include <QDataStream>
#include <QDropEvent>
#include <QMimeData>
#include <QStandardItemModel>

TreeControllerImpls::TreeControllerImpls(QWidget *parent) : QTreeView(parent) {}

// The row of the dragged folder: found by the folder id carried in the drag data, so that a
// stale row number can never move the wrong folder.
int TreeControllerImpls::DraggedRow(const QMimeData *data, QStandardItemModel *itemModel) const
{
    const QString format = QStringLiteral("application/x-qabstractitemmodeldatalist");
    if (!data || !data->hasFormat(format))
        return -1;
    QByteArray encoded = data->data(format);
    QDataStream stream(&encoded, QIODevice::ReadOnly);
    int row = -1;
    int column = -1;
    QMap<int, QVariant> roles;
    stream >> row >> column >> roles;
    if (stream.status() != QDataStream::Ok)
        return -1;
    const QVariant id = roles.value(TreeController::FolderIdRole);
    if (!id.isValid())
        return -1;
    for (int i = 0; i < itemModel->rowCount(); ++i) {
        QStandardItem *item = itemModel->item(i, 0);
        if (item && item->data(TreeController::FolderIdRole) == id)
            return i;
    }
    return -1;
}

// Drops land between rows: above the middle of a row means before it, below means after it,
// and below the last row means at the end.
int TreeControllerImpls::DropRow(const QPoint &pos, QStandardItemModel *itemModel) const
{
    const QModelIndex target = indexAt(pos);
    if (!target.isValid())
        return itemModel->rowCount();
    const QRect rect = visualRect(target);
    return pos.y() < rect.center().y() ? target.row() : target.row() + 1;
}

void TreeControllerImpls::dropEvent(QDropEvent *event)
{
    auto *itemModel = qobject_cast<QStandardItemModel *>(model());
    const int from = itemModel ? DraggedRow(event->mimeData(), itemModel) : -1;
    if (from < 0) {
        event->ignore();
        return;
    }
    int to = DropRow(event->pos(), itemModel);
    if (to > from)
        --to; // the row leaves its old place first

    // Qt's own drop would insert a copy and leave the removal to the drag source; that is
    // what let the order be read with the folder in it twice. Move it here instead and tell
    // the source that nothing is left to remove.
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    // What Qt's own drop would do to end the drag state and hide the indicator.
    stopAutoScroll();
    setState(NoState);
    viewport()->update();
    if (to == from)
        return;

    // The moved folder stays the selected one: no selection signals for the interim states.
    QItemSelectionModel *selection = selectionModel();
    const bool blocked = selection->blockSignals(true);
    const QList<QStandardItem *> items = itemModel->takeRow(from);
    itemModel->insertRow(to, items);
    selection->setCurrentIndex(itemModel->index(to, 0),
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selection->blockSignals(blocked);
    viewport()->update();
    emit onItemSortChanged();
}
