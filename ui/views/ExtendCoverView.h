#pragma once

#include "views/BaseView.h"

#include <QPixmap>
#include <QScrollArea>

class ClickableLabel;
class FlowLayout;

// Covers view: one tile (cover and name) per book, wrapping like text in a scrolling area.
class ExtendCoverView : public QScrollArea, public BaseView
{
    Q_OBJECT

public:
    explicit ExtendCoverView(QWidget *parent = nullptr);

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

    // Makes the tile current and scrolls it into view.
    void SelectTile(QWidget *tile);
    // Selects the tile at index; false when there is none.
    bool SelectAt(int index);
    // The cover label of the tile whose key matches (both ids when exact, else the book id).
    ClickableLabel *FindTile(const ItemComparePart &key, bool exact);
    ClickableLabel *TileLabel(int index) const;

    QVariant currentItem;
    QWidget *container = nullptr;
    FlowLayout *layout = nullptr;
    ClickableLabel *selectedLabel = nullptr;
    QWidget *currentTile = nullptr;
    QPixmap nullCover;
    QPixmap loadingCover;

signals:
    void on_action_item_selected(int count, QVariant item);
    void on_action_item_contextmenu(bool isSelected, QPoint point);

public slots:
    void onViewList_contextMenuSet(const QPoint &pos);
    void onSelf_contextMenutSet(const QPoint &pos);
    void onViewList_itemClicked(ClickableLabel *pLabel);

private:
    void SetCover(ClickableLabel *label, const CoverImageState &state);
    // Sizes the tile container for the current tiles now rather than at the next event loop
    // pass, so that tile geometries are final before scrolling to one.
    void ApplyLayoutNow();
};
