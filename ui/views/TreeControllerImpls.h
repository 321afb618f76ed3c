#pragma once

#include <QTreeView>

class QStandardItemModel;

// The folder tree view. Re-ordering by drag is done here in one step, so that the model never
// holds the dragged folder twice.
class TreeControllerImpls : public QTreeView
{
    Q_OBJECT

public:
    explicit TreeControllerImpls(QWidget *parent = nullptr);

    // Moves the dragged folder to the drop position, then reports the new order.
    void dropEvent(QDropEvent *event) override;

signals:
    void onItemSortChanged();

private:
    int DraggedRow(const QMimeData *data, QStandardItemModel *itemModel) const;
    int DropRow(const QPoint &pos, QStandardItemModel *itemModel) const;
};
