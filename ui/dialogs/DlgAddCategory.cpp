#include "dialogs/DlgAddCategory.h"

#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolder.h"
#include "views/FlowLayout.h"
#include "catalogue/ItemCategory.h"
#include "threads/QReadLockerExt2.h"
#include "ui_DlgAddCategory.h"

DlgAddCategory::DlgAddCategory(QWidget *parent)
    : DlgAddComputingDialog(parent)
    , ui(new Ui_DlgAddCategory)
{
    ui->setupUi(this);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &DlgAddCategory::reject);
}

DlgAddCategory::~DlgAddCategory()
{
    // The worker reads newFolders: it must end before they go.
    refresher.Stop();
    qDeleteAll(newFolders);
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
    CreateLoadingPanel();
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

void DlgAddCategory::on_buttonBox_accepted()
{
    if (!CanStartComputing())
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
    StartComputing(ui->verticalLayout_2, tr("Computing..."), folderStore, newFolders);
}
