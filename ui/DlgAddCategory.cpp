#include "DlgAddCategory.h"

#include "DisplayDataSaver.h"
#include "DisplayFolder.h"
#include "FlowLayout.h"
#include "ItemCategory.h"
#include "QReadLockerExt2.h"
#include "ui_DlgAddCategory.h"

#include <QCloseEvent>
#include <QLabel>

DlgAddCategory::DlgAddCategory(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui_DlgAddCategory)
{
    ui->setupUi(this);
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowMaximizeButtonHint);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &DlgAddCategory::reject);
    connect(&refresher, &DisplayFolderRefresher::completed, this, &QDialog::accept, Qt::QueuedConnection);
}

DlgAddCategory::~DlgAddCategory()
{
    // The worker reads newFolders: it must end before they go.
    refresher.Stop();
    qDeleteAll(newFolders);
    newFolders.clear();
    delete ui;
}

void DlgAddCategory::OnInitLocalData(DisplayDataSaver *store)
{
    folderStore = store;
    if (!checkLayout)
        checkLayout = new FlowLayout(-1, -1, -1);
    creator.flowLayout = checkLayout;
    creator.catalogue = store ? store->items : nullptr;
    creator.allowUncheckExisting = false;
    creator.BuildCategoryCheckBoxes();
    if (!ui->contentForDisplay->layout())
        ui->contentForDisplay->setLayout(checkLayout);
    if (!loading.panel) {
        QString title;
        loading.Create(true, title);
    }
}

DisplayFolder *DlgAddCategory::CreateCategoryFolder(DisplayDataSaver *store, qint64 categoryId)
{
    if (!store || !store->items)
        return nullptr;
    ItemDataSaver *catalogue = store->items;
    QReadLockerExt2 token(0, &catalogue->lock);
    const ItemCategory *category = catalogue->categories->value(categoryId, nullptr);
    if (!category)
        return nullptr;
    auto *folder = new DisplayFolder();
    folder->uid = QUuid::createUuid();
    folder->type = CategoryFolder;
    folder->caption = category->caption;
    folder->categoryUid = categoryId;
    folder->calcBookCount = category->bookCount;
    folder->calcUnreadCount = 0;
    folder->UpdateCaptionWithCount();
    return folder;
}

QList<DisplayFolder *> DlgAddCategory::TakeNewFolders()
{
    QList<DisplayFolder *> taken;
    taken.swap(newFolders);
    return taken;
}

bool DlgAddCategory::IsComputing() const
{
    return computing && (!refresherStarted || refresher.IsRunning());
}

void DlgAddCategory::reject()
{
    if (IsComputing())
        return;
    QDialog::reject();
}

void DlgAddCategory::done(int result)
{
    if (ended)
        return;
    ended = true;
    QDialog::done(result);
}

void DlgAddCategory::closeEvent(QCloseEvent *event)
{
    if (IsComputing()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void DlgAddCategory::on_buttonBox_accepted()
{
    if (computing || ended)
        return;
    const QList<qint64> ids = *creator.GetCheckedIds();
    if (ids.isEmpty()) {
        accept();
        return;
    }
    for (qint64 id : ids) {
        if (DisplayFolder *folder = CreateCategoryFolder(folderStore, id))
            newFolders.append(folder);
    }

    // Computing starts before the panel's event processing, so no close slips in there.
    computing = true;
    if (loading.messageLabel)
        loading.messageLabel->hide();
    if (loading.titleLabel)
        loading.titleLabel->setText(tr("Computing..."));
    loading.ShowInLayout(ui->verticalLayout_2);

    // Only this thread starts the refresher, so the running test and the start cannot interleave.
    if (!refresher.IsRunning()) {
        refresher.SetFolders(folderStore, newFolders);
        refresher.StartIfNotRunning();
    }
    refresherStarted = true;
}
