#pragma once

#include "views/BaseView.h"

#include <QList>
#include <QPoint>
#include <QReadWriteLock>
#include <QWidget>

#include <functional>

class ExtendCoverView;
class ExtendTreeView;
class QHBoxLayout;
class QLayout;
class QWriteLockerExt2;

// Holds the details and covers views, shows one of them and forwards every BaseView call to
// it under its own lock. Signals of the views raised while that lock is held are passed on
// only after it is released, so their receivers may call back into the controller.
class ViewController : public QWidget, public BaseView
{
    Q_OBJECT

public:
    explicit ViewController(QWidget *parent = nullptr);
    ~ViewController() override;

    void AttachToLayout(QLayout *parent);
    BaseView *ShowCoverView(const QWriteLockerExt2 &token);
    BaseView *ShowDetailsView(const QWriteLockerExt2 &token);
    // 0 shows the details view, any other type the covers view.
    void ApplyViewType(int type);

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
    bool HasPrevious(DisplayPageState *state) override;
    bool HasNext(DisplayPageState *state) override;

    // Guards activeView, viewType and pendingCovers. Recursive: GUI thread only.
    QReadWriteLock lock{QReadWriteLock::Recursive};
    // Covers of the shown page that were added as loading to the covers view and still wait.
    QList<ItemComparePart> pendingCovers;
    int viewType = 1;
    QHBoxLayout *layout = nullptr;
    ExtendTreeView *detailsView = nullptr;
    ExtendCoverView *coverView = nullptr;
    BaseView *activeView = nullptr;

signals:
    void on_action_item_selected(int count, QVariant item);
    void on_action_item_contextmenu(bool isSelected, QPoint point);

public slots:
    void run_action_listview_item_selected(int count, QVariant item);
    void run_action_listview_item_contextmenu(bool isSelected, QPoint point);

private:
    class SignalHold;
    QHBoxLayout *EnsureLayout();
    // Shows the view, creating and connecting it on first use.
    template <class View>
    BaseView *ShowView(View *&view);
    void FlushHeldSignals();

    int holdDepth = 0;
    QList<std::function<void()>> heldSignals;
};
