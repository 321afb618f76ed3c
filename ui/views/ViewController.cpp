#include "views/ViewController.h"

#include "views/ExtendCoverView.h"
#include "views/ExtendTreeView.h"
#include "catalogue/ItemBook.h"
#include "threads/QReadLockerExt2.h"
#include "threads/QWriteLockerExt2.h"

#include <QHBoxLayout>

// Declared before the lock token of a section, so that it ends after the token has released
// the lock: the outermost section then passes on the signals that were held back.
class ViewController::SignalHold
{
public:
    explicit SignalHold(ViewController *controller) : owner(controller) { ++owner->holdDepth; }
    ~SignalHold()
    {
        if (--owner->holdDepth == 0)
            owner->FlushHeldSignals();
    }
    SignalHold(const SignalHold &) = delete;
    SignalHold &operator=(const SignalHold &) = delete;

private:
    ViewController *owner;
};

ViewController::ViewController(QWidget *parent) : QWidget(parent) {}

ViewController::~ViewController() = default;

QHBoxLayout *ViewController::EnsureLayout()
{
    if (!layout) {
        layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }
    return layout;
}

void ViewController::AttachToLayout(QLayout *parent)
{
    SignalHold hold(this);
    QWriteLockerExt2 token(&lock);
    EnsureLayout();
    if (parent)
        parent->addWidget(this);
}

template <class View>
BaseView *ViewController::ShowView(View *&view)
{
    if (view) {
        view->show();
        return view;
    }
    view = new View(this);
    view->InitView();
    connect(view, &View::on_action_item_selected, this, &ViewController::run_action_listview_item_selected);
    connect(view, &View::on_action_item_contextmenu, this, &ViewController::run_action_listview_item_contextmenu);
    EnsureLayout()->addWidget(view);
    return view;
}

BaseView *ViewController::ShowCoverView(const QWriteLockerExt2 &token)
{
    token.CheckLock(&lock);
    return ShowView(coverView);
}

BaseView *ViewController::ShowDetailsView(const QWriteLockerExt2 &token)
{
    token.CheckLock(&lock);
    return ShowView(detailsView);
}

void ViewController::ApplyViewType(int type)
{
    SignalHold hold(this);
    QWriteLockerExt2 token(&lock);
    viewType = type;
    if (activeView) {
        activeView->HideView();
        activeView = nullptr;
    }
    activeView = type == 0 ? ShowDetailsView(token) : ShowCoverView(token);
}

void ViewController::run_action_listview_item_selected(int count, QVariant item)
{
    if (holdDepth > 0) {
        heldSignals.append([this, count, item]() { emit on_action_item_selected(count, item); });
        return;
    }
    emit on_action_item_selected(count, item);
}

void ViewController::run_action_listview_item_contextmenu(bool isSelected, QPoint point)
{
    if (holdDepth > 0) {
        heldSignals.append([this, isSelected, point]() { emit on_action_item_contextmenu(isSelected, point); });
        return;
    }
    emit on_action_item_contextmenu(isSelected, point);
}

void ViewController::FlushHeldSignals()
{
    while (!heldSignals.isEmpty() && holdDepth == 0) {
        const std::function<void()> next = heldSignals.takeFirst();
        next();
    }
}

QVariant ViewController::GetCurrentItem()
{
    SignalHold hold(this);
    QReadLockerExt2 token(0, &lock);
    return activeView ? activeView->GetCurrentItem() : QVariant();
}

bool ViewController::SelectPrevious()
{
    SignalHold hold(this);
    QReadLockerExt2 token(0, &lock);
    return activeView && activeView->SelectPrevious();
}

bool ViewController::SelectNext()
{
    SignalHold hold(this);
    QReadLockerExt2 token(0, &lock);
    return activeView && activeView->SelectNext();
}

void ViewController::ClearItems()
{
    SignalHold hold(this);
    QWriteLockerExt2 token(&lock);
    pendingCovers.clear();
    if (activeView)
        activeView->ClearItems();
}

void ViewController::AddItem(const QString &rowText, const ItemBook *book, const CoverImageState &state)
{
    SignalHold hold(this);
    QWriteLockerExt2 token(&lock);
    if (!activeView || !book)
        return;
    activeView->AddItem(rowText, book, state);
    // Ask the view itself: our own IsImageView would take the lock again.
    if (activeView->IsImageView() && state.loading)
        pendingCovers.append(book->comparePart);
}

void ViewController::SelectEdge(bool last)
{
    SignalHold hold(this);
    QReadLockerExt2 token(0, &lock);
    if (activeView)
        activeView->SelectEdge(last);
}

bool ViewController::IsImageView()
{
    QReadLockerExt2 token(0, &lock);
    return activeView && activeView->IsImageView();
}

void ViewController::UpdateItemImage(const ItemComparePart &key, const CoverImageState &state)
{
    SignalHold hold(this);
    QWriteLockerExt2 token(&lock);
    if (activeView)
        activeView->UpdateItemImage(key, state);
    // Settled: later decodes of this cover are the details pane's, not the tile's.
    if (!state.loading)
        pendingCovers.removeAll(key);
}

int ViewController::GetCurrentIndex()
{
    QReadLockerExt2 token(0, &lock);
    return activeView ? activeView->GetCurrentIndex() : -1;
}

int ViewController::GetCount()
{
    QReadLockerExt2 token(0, &lock);
    return activeView ? activeView->GetCount() : 0;
}

void ViewController::InitView() {}

void ViewController::HideView()
{
    hide();
}

bool ViewController::HasPrevious(DisplayPageState *state)
{
    QReadLockerExt2 token(0, &lock);
    return activeView && activeView->HasPrevious(state);
}

bool ViewController::HasNext(DisplayPageState *state)
{
    QReadLockerExt2 token(0, &lock);
    return activeView && activeView->HasNext(state);
}
