// Folder selection, paging and the book order of the main window.
#include "mainwindow/MainWindow.h"

#include "CoverImageState.h"
#include "catalogue/ItemBook.h"
#include "views/TreeControllerImpls.h"
#include "ui_mainwindow.h"

#include <QStandardItemModel>

#include <QComboBox>
#include <QLabel>
#include <QPixmap>
#include <QThread>

namespace {

bool IsPositiveId(const QVariant &id)
{
    if (!id.isValid() || id.isNull())
        return false;
    if (id.canConvert<QUuid>() && id.userType() == qMetaTypeId<QUuid>())
        return !id.toUuid().isNull();
    return id.toLongLong() > 0;
}

} // namespace

QVariant MainWindow::CurrentFolderId() const
{
    return treeController.treeView ? treeController.GetItemFolderId(treeController.treeView->currentIndex()) : QVariant();
}

void MainWindow::OnLoadDisplayFolders()
{
    QModelIndex target;
    {
        QReadLockerExt2 token(0, &folderStore.lock);
        treeController.model->removeRows(0, treeController.model->rowCount());
        for (DisplayFolder *folder : qAsConst(folderStore.folders))
            treeController.CreateFolderItem(folder, -1, token);
        const QUuid all = folderStore.FindFirstFolderOfType(401, token);
        if (!all.isNull())
            target = treeController.FindFolderIndex(all);
        if (!target.isValid() && treeController.model->rowCount() > 0)
            target = treeController.model->index(0, 0);
    }
    // Making a row current re-enters the selection slot, which takes the folder-store lock itself.
    if (target.isValid())
        treeController.treeView->setCurrentIndex(target);
}

void MainWindow::run_action_treeview_item_selected(int, const QVariant &id)
{
    if (!IsPositiveId(id)) {
        ui->action_ShowCategory_Option_RemoveFolder->setEnabled(folderStore.CanRemoveFolder(QVariant()));
        ui->action_ShowCategory_Option_EditFolder->setEnabled(folderStore.CanEditFolder(QVariant()));
        viewController.ClearItems();
        return;
    }
    ui->action_ShowCategory_Option_RemoveFolder->setEnabled(folderStore.CanRemoveFolder(id));
    ui->action_ShowCategory_Option_EditFolder->setEnabled(folderStore.CanEditFolder(id));

    int sortType = 0;
    {
        QReadLocker locker(&pageState.lock);
        sortType = pageState.sortType;
    }
    if (sortType != 0)
        ChangeBookShowOrder(ui->action_ShowInfo_OrderBy_None, false);
    {
        QMutexLocker mutexLocker(&pageState.mutex);
        QWriteLocker locker(&pageState.lock);
        pageState.totalCount = 0;
        pageState.pageCount = 0;
        pageState.currentPage = 0;
        pageState.pageSize = 0;
    }
    OnLoadListViewData(id, true, false);
}

void MainWindow::run_action_treeview_item_sorted()
{
    folderStore.ApplyNewOrder(treeController.ReadFolderOrder());
}

void MainWindow::OnLoadListViewData(const QVariant &folderId, bool resort, bool selectLast)
{
    Q_ASSERT(QThread::currentThread() == thread());
    viewController.ClearItems();
    if (!IsPositiveId(folderId))
        return;

    const bool imageView = viewController.IsImageView();
    const NativeConfigSettings settings = config.GetCurrentSettings();
    const int pageSize = imageView ? settings.Display_CoversView_PageCount : settings.Display_DetailsView_PageCount;

    // The page holds copies of the records: a catalogue swap meanwhile cannot free them, and
    // no store lock is held while the view is filled. A read token: the page never waits for
    // a save or a computation reading the store.
    QList<ItemBook> page;
    {
        QReadLockerExt2 token(0, &folderStore.lock);
        if (DisplayFolder *folder = folderStore.FindFolder(folderId.toUuid(), token))
            folderStore.LoadFolderPage(folder, &pageState, resort, pageSize, &page, token);
    }

    int currentPage = 0, pageCount = 0, size = 0;
    {
        QReadLocker locker(&pageState.lock);
        currentPage = pageState.currentPage;
        pageCount = pageState.pageCount;
        size = pageState.pageSize;
    }
    ui->action_ShowInfo_Page_First->setEnabled(currentPage > 1);
    ui->action_ShowInfo_Page_Prev->setEnabled(currentPage > 1);
    ui->action_ShowInfo_Page_Next->setEnabled(currentPage < pageCount);
    ui->action_ShowInfo_Page_Last->setEnabled(currentPage < pageCount);
    ui->action_ShowInfo_Page_Prev_ContextMenu->setEnabled(currentPage > 1);
    ui->action_ShowInfo_Page_Next_ContextMenu->setEnabled(currentPage < pageCount);
    pageComboBox->setEnabled(pageCount > 0);
    totalLabel->setText(FormatListTotalText());
    FillPageComboBox(pageComboBox, pageCount, currentPage);

    if (page.isEmpty()) {
        run_action_listview_item_selected(0, QVariant(0));
        return;
    }
    const int firstRow = qMax(0, (currentPage - 1) * size);
    QList<ItemComparePart> keys;
    keys.reserve(page.size());
    for (const ItemBook &book : qAsConst(page))
        keys.append(book.comparePart);
    QueuePageCovers(&imageRefresher, keys);

    QPixmap pixmap;
    const QSize coverSize = viewController.GetCoverSize();
    for (int i = 0; i < page.size(); ++i) {
        const ItemBook &book = page.at(i);
        const CoverImageState state =
            imageRefresher.GetCoverPixmap(book.comparePart, pixmap, imageView, coverSize);
        viewController.AddItem(QString::number(firstRow + i + 1), &book, state);
    }
    viewController.SelectEdge(selectLast);
}

void MainWindow::OnCallRefreshListView(bool reload, bool selectLast)
{
    const int viewType = config.GetCurrentSettings().Display_DefaultView;
    ChangeBookShowView(viewActions.value(viewType == 0 ? 0 : 1), false, true);
    if (reload)
        OnLoadListViewData(CurrentFolderId(), true, selectLast);
}

void MainWindow::Add_AddItemToTreeView(DisplayFolder *folder, int row, const QReadLockerExt2 &token, bool select,
                                       bool reload)
{
    if (!folder)
        return;
    treeController.CreateFolderItem(folder, row, token);
    if (!select)
        return;
    // Showing the folder locks the store again: it waits until the caller has let its token go.
    const QUuid uid = folder->uid;
    QMetaObject::invokeMethod(
        this, [this, uid, reload]() { SelectFolderItem(uid, reload); }, Qt::QueuedConnection);
}

void MainWindow::SelectFolderItem(const QUuid &uid, bool reload)
{
    const QVariant current = CurrentFolderId();
    if (current.isValid() && current.toUuid() == uid) {
        if (reload)
            run_action_treeview_item_selected(1, QVariant::fromValue(uid));
        return;
    }
    const QModelIndex index = treeController.FindFolderIndex(uid);
    if (index.isValid())
        treeController.treeView->setCurrentIndex(index);
}

QString MainWindow::FormatListTotalText()
{
    QReadLocker locker(&pageState.lock);
    return QStringLiteral(" Total: %1 item%2 (%3 items per page) ")
        .arg(QString::number(pageState.totalCount),
             pageState.totalCount == 1 ? QString() : QStringLiteral("s"), QString::number(pageState.pageSize));
}

void MainWindow::FillPageComboBox(QComboBox *combo, int pageCount, int currentPage)
{
    if (!combo)
        return;
    const bool blocked = combo->blockSignals(true);
    // The items depend on the page count only: a page move in a large folder (ten thousand
    // pages) keeps them and just moves the current one.
    const QString last = QStringLiteral(" %1 / %1").arg(pageCount);
    if (combo->count() != pageCount || (pageCount > 0 && combo->itemText(pageCount - 1) != last)) {
        combo->clear();
        QStringList items;
        items.reserve(pageCount);
        for (int i = 1; i <= pageCount; ++i)
            items.append(QStringLiteral(" %1 / %2").arg(i).arg(pageCount));
        combo->addItems(items);
    }
    if (currentPage > 0 && currentPage <= pageCount)
        combo->setCurrentIndex(currentPage - 1);
    else if (pageCount > 0)
        combo->setCurrentIndex(0); // as after refilling
    combo->blockSignals(blocked);
}

void MainWindow::QueuePageCovers(UserImageRefresher *worker, const QList<ItemComparePart> &pageKeys)
{
    QList<ItemComparePart> missing;
    for (const ItemComparePart &key : pageKeys) {
        if (!worker->IsImageCached(key))
            missing.prepend(key);
    }
    for (const ItemComparePart &key : qAsConst(missing))
        worker->QueueImage(key, false);
}

namespace {

// One step on the page state; returns whether the page moved.
template <typename Decide>
bool MovePage(DisplayPageState &state, Decide decide)
{
    QMutexLocker mutexLocker(&state.mutex);
    int current = 0, count = 0;
    {
        QReadLocker locker(&state.lock);
        current = state.currentPage;
        count = state.pageCount;
    }
    const int next = decide(current, count);
    if (next < 0)
        return false;
    QWriteLocker locker(&state.lock);
    state.currentPage = next;
    return true;
}

} // namespace

void MainWindow::on_action_ShowInfo_Page_First_triggered()
{
    if (MovePage(pageState, [](int c, int) { return c >= 2 ? 1 : -1; }))
        OnLoadListViewData(CurrentFolderId(), false, false);
}

void MainWindow::on_action_ShowInfo_Page_Prev_triggered()
{
    OnMovePrevPage(false);
}

void MainWindow::on_action_ShowInfo_Page_Next_triggered()
{
    if (MovePage(pageState, [](int c, int n) { return c < n ? c + 1 : -1; }))
        OnLoadListViewData(CurrentFolderId(), false, false);
}

void MainWindow::on_action_ShowInfo_Page_Last_triggered()
{
    if (MovePage(pageState, [](int c, int n) { return c < n ? n : -1; }))
        OnLoadListViewData(CurrentFolderId(), false, false);
}

void MainWindow::on_action_UserChangedTheCurrentPage(int index)
{
    if (MovePage(pageState, [index](int, int n) { return (index + 1 >= 1 && index + 1 <= n) ? index + 1 : -1; }))
        OnLoadListViewData(CurrentFolderId(), false, false);
}

void MainWindow::on_action_ShowInfo_Page_Prev_ContextMenu_triggered()
{
    on_action_ShowInfo_Page_Prev_triggered();
}

void MainWindow::on_action_ShowInfo_Page_Next_ContextMenu_triggered()
{
    on_action_ShowInfo_Page_Next_triggered();
}

void MainWindow::OnMovePrevPage(bool selectLast)
{
    if (MovePage(pageState, [](int c, int) { return c >= 2 ? c - 1 : -1; }))
        OnLoadListViewData(CurrentFolderId(), false, selectLast);
}

void MainWindow::on_action_ShowInfo_View_Next_triggered()
{
    if (viewController.SelectNext())
        return;
    bool more = false;
    {
        QReadLocker locker(&pageState.lock);
        more = pageState.currentPage < pageState.pageCount;
    }
    if (more)
        on_action_ShowInfo_Page_Next_triggered();
}

void MainWindow::on_action_ShowInfo_View_Prev_triggered()
{
    if (viewController.SelectPrevious())
        return;
    bool more = false;
    {
        QReadLocker locker(&pageState.lock);
        more = pageState.currentPage >= 2;
    }
    if (more)
        OnMovePrevPage(true);
}

void MainWindow::on_action_ChangeBookShowOrder()
{
    if (auto *action = qobject_cast<QAction *>(sender()))
        ChangeBookShowOrder(action, true);
}

void MainWindow::ChangeBookShowOrder(QAction *action, bool reload)
{
    if (!action || !sortActionsReverse.contains(action))
        return;
    const int type = sortActionsReverse.value(action);
    bool ascending = false;
    {
        QReadLocker locker(&pageState.lock);
        const auto sortType = static_cast<ItemBookSortType>(type);
        if (sortType == pageState.sortType)
            ascending = ItemBookSortTypeFlipsOnRepeat(sortType) ? !pageState.ascending : pageState.ascending;
        else
            ascending = ItemBookSortTypeInitialAscending(sortType);
    }
    QString caption = action->data().toString();
    if (caption.isEmpty()) {
        caption = action->text();
        action->setData(caption);
    }
    action->setText(caption + (ascending ? QStringLiteral(" \u2191") : QStringLiteral(" \u2193")));
    for (QAction *other : qAsConst(sortActions)) {
        if (other == action || !other->isChecked())
            continue;
        other->setChecked(false);
        const QString otherCaption = other->data().toString();
        if (!otherCaption.isEmpty())
            other->setText(otherCaption);
    }
    if (!action->isChecked())
        action->setChecked(true);
    {
        QWriteLocker locker(&pageState.lock);
        pageState.sortType = static_cast<decltype(pageState.sortType)>(type);
        pageState.ascending = ascending;
    }
    if (reload)
        OnLoadListViewData(CurrentFolderId(), true, false);
}

void MainWindow::on_action_ChangeBookShowView()
{
    if (auto *action = qobject_cast<QAction *>(sender()))
        ChangeBookShowView(action, true, false);
}

void MainWindow::ChangeBookShowView(QAction *action, bool reload, bool resort)
{
    if (!action || !viewActionsReverse.contains(action))
        return;
    const int viewType = viewActionsReverse.value(action);
    for (auto it = viewActions.cbegin(); it != viewActions.cend(); ++it)
        it.value()->setChecked(it.key() == viewType);
    viewController.ApplyViewType(viewType);
    if (reload)
        OnLoadListViewData(CurrentFolderId(), resort, false);
}

void MainWindow::on_action_ShowInfo_View_Refresh_triggered()
{
    OnLoadListViewData(CurrentFolderId(), true, false);
}
