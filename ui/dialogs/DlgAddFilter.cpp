#include "dialogs/DlgAddFilter.h"

#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolder.h"
#include "ui_DlgAddFilter.h"

#include <QPushButton>

DlgAddFilter::DlgAddFilter(QWidget *parent)
    : DlgAddComputingDialog(parent)
    , ui(new Ui_DlgAddFilter)
{
    ui->setupUi(this);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &DlgAddFilter::reject);
}

DlgAddFilter::~DlgAddFilter()
{
    // The worker computes the caller's folder: it must end before the caller frees it.
    refresher.Stop();
    delete ui;
}

void DlgAddFilter::OnInitLocalData(DisplayFolder *target, FilterFolderType mode, DisplayDataSaver *store)
{
    folder = target;
    folderStore = store;
    switch (mode) {
    case AddFilter:
        setWindowTitle(tr("Add Filter"));
        break;
    case EditFilter:
        setWindowTitle(tr("Edit Filter"));
        break;
    case SearchBooks:
        setWindowTitle(tr("Search Books..."));
        if (QPushButton *ok = ui->buttonBox->button(QDialogButtonBox::Ok))
            ok->setText(tr("Search Now"));
        break;
    }
    creator.CreateForm(mode, store ? store->items : nullptr, ui->formLayout, folder);
    if (mode == AddFilter)
        creator.SetDefaultName();
    CreateLoadingPanel();
}

void DlgAddFilter::on_buttonBox_accepted()
{
    if (!CanStartComputing() || !creator.ApplyToFolder(this, folder))
        return;
    resultFolders.append(folder);
    StartComputing(ui->verticalLayout, tr("Computing..."), folderStore, resultFolders);
}
