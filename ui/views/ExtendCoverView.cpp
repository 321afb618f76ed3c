#include "views/ExtendCoverView.h"

#include "views/ClickableLabel.h"
#include "views/FlowLayout.h"
#include "catalogue/ItemBook.h"
#include "StyleHelpers.h"

#include <QScrollBar>
#include <QVBoxLayout>

ExtendCoverView::ExtendCoverView(QWidget *parent) : QScrollArea(parent) {}

void ExtendCoverView::InitView()
{
    if (container)
        return;
    container = new QWidget();
    setWidget(container);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &ExtendCoverView::onSelf_contextMenutSet);
    ClearItems();
    nullCover.load(QStringLiteral(":/local/images/other/nullcover-218.png"));
    loadingCover.load(QStringLiteral(":/local/images/other/loadingcover-218.png"));

    const QColor background(240, 243, 245);
    SetWidgetBackgroundColor(this, background);
    SetWidgetBackgroundColor(viewport(), background);
    SetWidgetBackgroundColor(container, background);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidgetResizable(true);
    setFrameStyle(QFrame::StyledPanel);
}

void ExtendCoverView::ClearItems()
{
    currentItem = QVariant();
    selectedLabel = nullptr;
    currentTile = nullptr;
    if (!container)
        return;
    if (layout) {
        while (QLayoutItem *item = layout->takeAt(0)) {
            if (QWidget *tile = item->widget()) {
                // Later, not now: the clear may run from a handler of this very tile.
                tile->hide();
                tile->setParent(nullptr);
                tile->deleteLater();
            }
            delete item;
        }
        delete layout;
    }
    layout = new FlowLayout(-1, -1, -1);
    container->setLayout(layout);
    if (verticalScrollBar()->value() != 0)
        verticalScrollBar()->setValue(0);
}

void ExtendCoverView::SetCover(ClickableLabel *label, const CoverImageState &state)
{
    if (state.loading)
        label->setPixmap(loadingCover);
    else if (state.image && !state.image->isNull())
        label->setPixmap(*state.image);
    else
        label->setPixmap(nullCover);
}

void ExtendCoverView::AddItem(const QString &, const ItemBook *book, const CoverImageState &state)
{
    if (!book || !layout)
        return;
    auto *tile = new QWidget(container);
    auto *tileLayout = new QVBoxLayout(tile);
    auto *label = new ClickableLabel(book->comparePart, tile, tile);
    SetWidgetBackgroundColor(label, Qt::white);
    label->setAlignment(Qt::AlignCenter);
    label->setFixedSize(GetCoverSize());
    SetCover(label, state);
    label->setCursor(Qt::PointingHandCursor);
    connect(label, &ClickableLabel::labelClicked, this, &ExtendCoverView::onViewList_itemClicked);
    label->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(label, &QWidget::customContextMenuRequested, this, &ExtendCoverView::onViewList_contextMenuSet);

    auto *caption = new QLabel(book->name, tile);
    caption->setMaximumWidth(loadingCover.isNull() ? GetCoverSize().width() : loadingCover.width());
    caption->setWordWrap(true);
    caption->setAlignment(Qt::AlignCenter);

    tileLayout->addWidget(label);
    tileLayout->addWidget(caption);
    layout->addWidget(tile);
    // A tile added to a shown container would otherwise stay hidden.
    tile->show();
}

namespace {
// The cover label, the first widget of a tile.
ClickableLabel *CoverLabelOf(QWidget *tile)
{
    if (!tile || !tile->layout())
        return nullptr;
    QLayoutItem *first = tile->layout()->itemAt(0);
    return first ? qobject_cast<ClickableLabel *>(first->widget()) : nullptr;
}
} // namespace

ClickableLabel *ExtendCoverView::TileLabel(int index) const
{
    QLayoutItem *item = layout ? layout->itemAt(index) : nullptr;
    return CoverLabelOf(item ? item->widget() : nullptr);
}

ClickableLabel *ExtendCoverView::FindTile(const ItemComparePart &key, bool exact)
{
    const int count = GetCount();
    for (int i = 0; i < count; ++i) {
        ClickableLabel *label = TileLabel(i);
        if (label && label->key.uid == key.uid && (!exact || label->key.imageCompId == key.imageCompId))
            return label;
    }
    return nullptr;
}

void ExtendCoverView::UpdateItemImage(const ItemComparePart &key, const CoverImageState &state)
{
    if (ClickableLabel *label = FindTile(key, true))
        SetCover(label, state);
}

void ExtendCoverView::onViewList_itemClicked(ClickableLabel *pLabel)
{
    if (!pLabel)
        return;
    currentTile = pLabel->tile;
    if (selectedLabel && selectedLabel->selected) {
        selectedLabel->selected = false;
        if (selectedLabel->isVisible())
            selectedLabel->update();
    }
    selectedLabel = pLabel;
    if (!pLabel->selected) {
        pLabel->selected = true;
        if (pLabel->isVisible())
            pLabel->update();
    }
    const qint64 id = pLabel->key.uid;
    currentItem = QVariant::fromValue<qint64>(id);
    emit on_action_item_selected(id > 0 ? 1 : 0, currentItem);
}

void ExtendCoverView::ApplyLayoutNow()
{
    if (!container || !layout)
        return;
    const int width = viewport()->width();
    container->resize(width, qMax(container->heightForWidth(width), viewport()->height()));
    layout->activate();
}

void ExtendCoverView::SelectTile(QWidget *tile)
{
    ClickableLabel *label = CoverLabelOf(tile);
    if (!label)
        return;
    onViewList_itemClicked(label);
    // Tiles added since the last event loop pass have no geometry yet.
    ApplyLayoutNow();
    ensureWidgetVisible(tile, 50, 50);
}

QVariant ExtendCoverView::GetCurrentItem()
{
    return currentItem;
}

int ExtendCoverView::GetCurrentIndex()
{
    return layout && currentTile ? layout->indexOf(currentTile) : -1;
}

int ExtendCoverView::GetCount()
{
    return layout ? layout->count() : 0;
}

bool ExtendCoverView::SelectAt(int index)
{
    QLayoutItem *item = layout ? layout->itemAt(index) : nullptr;
    if (!item)
        return false;
    SelectTile(item->widget());
    return true;
}

bool ExtendCoverView::SelectNext()
{
    return HasNext(nullptr) && SelectAt(GetCurrentIndex() + 1);
}

bool ExtendCoverView::SelectPrevious()
{
    return HasPrevious(nullptr) && SelectAt(GetCurrentIndex() - 1);
}

void ExtendCoverView::SelectEdge(bool last)
{
    const int count = GetCount();
    if (count == 0)
        return;
    SelectAt(last ? count - 1 : 0);
    QScrollBar *bar = verticalScrollBar();
    const int target = last ? bar->maximum() : 0;
    if (bar->value() != target)
        bar->setValue(target);
}

bool ExtendCoverView::IsImageView()
{
    return true;
}

void ExtendCoverView::HideView()
{
    hide();
}

void ExtendCoverView::onViewList_contextMenuSet(const QPoint &pos)
{
    auto *label = qobject_cast<QWidget *>(sender());
    if (label)
        emit on_action_item_contextmenu(true, label->mapToGlobal(pos));
}

void ExtendCoverView::onSelf_contextMenutSet(const QPoint &pos)
{
    emit on_action_item_contextmenu(false, mapToGlobal(pos));
}
