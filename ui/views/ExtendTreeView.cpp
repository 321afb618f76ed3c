#include "views/ExtendTreeView.h"

#include "catalogue/ItemBook.h"

#include <QHeaderView>
#include <QStandardItemModel>

#include <limits>

ExtendTreeView::ExtendTreeView(QWidget *parent) : QTreeView(parent) {}

void ExtendTreeView::InitView()
{
    if (model)
        return;
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->setStretchLastSection(false);
    // A header click sorts the rows of the page by value (SortRole), not by the shown text.
    setSortingEnabled(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setRootIsDecorated(false);
    setUniformRowHeights(true);

    struct Column
    {
        const char *title;
        int width;
    };
    static const Column columns[] = {
        {"No.", 60},         {"Event Start Date", 140}, {"Original Price", 100}, {"User Rating", 80},
        {"Categories", 240}, {"Book Author", 120},      {"Book Name", 400},      {"Publication Date", 120},
        {"Book Pages", 80},  {"File Size", 80},
    };
    model = new QStandardItemModel(0, 10, this);
    model->setSortRole(SortRole);
    for (int i = 0; i < 10; ++i)
        model->setHorizontalHeaderItem(i, new QStandardItem(QString::fromLatin1(columns[i].title)));
    setModel(model);
    for (int i = 0; i < 10; ++i) {
        setColumnWidth(i, columns[i].width);
        header()->setSectionResizeMode(i, i == 0   ? QHeaderView::Fixed
                                          : i == 6 ? QHeaderView::Stretch
                                                   : QHeaderView::Interactive);
    }

    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &ExtendTreeView::onViewList_contextMenuSet);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ExtendTreeView::onViewList_SelectionChanged);
}

void ExtendTreeView::AddItem(const QString &rowText, const ItemBook *book, const CoverImageState &)
{
    if (!book || !model)
        return;
    // Each cell shows its text and sorts by the value behind it; a missing date sorts first.
    const auto cell = [](const QString &text, const QVariant &value) {
        auto *item = new QStandardItem(text);
        item->setData(value, SortRole);
        return item;
    };
    const auto time = [](const QDateTime &when) {
        return QVariant::fromValue<qint64>(when.isValid() ? when.toMSecsSinceEpoch()
                                                          : std::numeric_limits<qint64>::min());
    };
    QStandardItem *first = cell(rowText, rowText.toLongLong());
    first->setData(QVariant::fromValue<qint64>(book->uid), IdRole);
    const QList<QStandardItem *> row = {
        first,
        cell(book->firstPubText, time(book->firstPubTime)),
        cell(book->orgPriceText, double(book->orgPrice)),
        cell(book->starsText, double(book->stars)),
        cell(book->catalogNames, book->catalogNames),
        cell(book->author, book->author),
        cell(book->name, book->name),
        cell(book->bookDateText, time(book->bookDate)),
        cell(book->pagesText, book->pages),
        cell(book->sizeText, book->size),
    };
    model->appendRow(row);
}

QVariant ExtendTreeView::GetCurrentItem()
{
    const QModelIndex current = currentIndex();
    if (!current.isValid() || !model)
        return QVariant();
    return model->index(current.row(), 0).data(IdRole);
}

int ExtendTreeView::GetCurrentIndex()
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

int ExtendTreeView::GetCount()
{
    return model ? model->rowCount() : 0;
}

void ExtendTreeView::ClearItems()
{
    if (!model)
        return;
    model->removeRows(0, model->rowCount());
    // New rows come in the folder's order: a header sort arrow left standing would claim another.
    header()->setSortIndicator(-1, Qt::AscendingOrder);
}

void ExtendTreeView::SelectRow(int row)
{
    setCurrentIndex(model->index(row, 0));
    setFocus(Qt::OtherFocusReason);
}

bool ExtendTreeView::SelectNext()
{
    if (!model || !HasNext(nullptr))
        return false;
    SelectRow(GetCurrentIndex() + 1);
    return true;
}

bool ExtendTreeView::SelectPrevious()
{
    if (!model || !HasPrevious(nullptr))
        return false;
    SelectRow(GetCurrentIndex() - 1);
    return true;
}

void ExtendTreeView::SelectEdge(bool last)
{
    const int count = GetCount();
    if (count > 0)
        setCurrentIndex(model->index(last ? count - 1 : 0, 0));
}

bool ExtendTreeView::IsImageView()
{
    return false;
}

void ExtendTreeView::UpdateItemImage(const ItemComparePart &, const CoverImageState &) {}

void ExtendTreeView::HideView()
{
    hide();
}

void ExtendTreeView::onViewList_SelectionChanged(const QItemSelection &selected, const QItemSelection &)
{
    const int count = selected.size();
    const QVariant item = count == 0 ? QVariant() : GetCurrentItem();
    emit on_action_item_selected(count, item);
}

void ExtendTreeView::onViewList_contextMenuSet(const QPoint &pos)
{
    // Only over a row: empty space below the rows has no menu.
    if (indexAt(pos).isValid())
        emit on_action_item_contextmenu(true, viewport()->mapToGlobal(pos));
}
