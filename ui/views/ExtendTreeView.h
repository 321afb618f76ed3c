#pragma once

#include "views/BaseView.h"

#include <QItemSelection>
#include <QTreeView>

class QStandardItemModel;

// Details view: one row of ten columns per book; the book id sits in column 0 under role 257.
class ExtendTreeView : public QTreeView, public BaseView
{
    Q_OBJECT

public:
    static constexpr int IdRole = Qt::UserRole + 1;
    // The value a column sorts by: numbers, prices, sizes, times and ratings as numbers.
    static constexpr int SortRole = Qt::UserRole + 2;

    explicit ExtendTreeView(QWidget *parent = nullptr);

    QVariant GetCurrentItem() override;
    bool SelectPrevious() override;
    bool SelectNext() override;
    void ClearItems() override;
    void AddItem(const QString &rowText, const ItemBook *book, const CoverImageState &state) override;
    void SelectEdge(bool last) override;
    bool IsImageView() override;
    void UpdateItemImage(const ItemComparePart &key, const CoverImageState &state) override;
    int GetCurrentIndex() override;
    int GetCount() override;
    void InitView() override;
    void HideView() override;

    QStandardItemModel *itemModel() const { return model; }

signals:
    void on_action_item_selected(int count, QVariant item);
    void on_action_item_contextmenu(bool isSelected, QPoint point);

public slots:
    void onViewList_contextMenuSet(const QPoint &pos);
    void onViewList_SelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);

private:
    void SelectRow(int row);

    QStandardItemModel *model = nullptr;
};
