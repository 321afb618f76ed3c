#include "DlgAddFilter.h"

#include "DisplayDataSaver.h"
#include "DisplayFolder.h"
#include "ui_DlgAddFilter.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

DlgAddFilter::DlgAddFilter(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui_DlgAddFilter)
{
    ui->setupUi(this);
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowMaximizeButtonHint);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &DlgAddFilter::reject);
    connect(&refresher, &DisplayFolderRefresher::completed, this, &QDialog::accept, Qt::QueuedConnection);
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
    if (!loading.panel) {
        QString title;
        loading.Create(true, title);
    }
}

bool DlgAddFilter::IsComputing() const
{
    return computing && (!refresherStarted || refresher.IsRunning());
}

void DlgAddFilter::reject()
{
    if (IsComputing())
        return;
    QDialog::reject();
}

void DlgAddFilter::done(int result)
{
    if (ended)
        return;
    ended = true;
    QDialog::done(result);
}

void DlgAddFilter::closeEvent(QCloseEvent *event)
{
    if (IsComputing()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void DlgAddFilter::on_buttonBox_accepted()
{
    if (computing || ended)
        return;
    if (!creator.ApplyToFolder(this, folder))
        return;
    resultFolders.append(folder);

    // Computing starts before the panel's event processing, so no close slips in there.
    computing = true;
    if (loading.messageLabel)
        loading.messageLabel->hide();
    if (loading.titleLabel)
        loading.titleLabel->setText(tr("Computing..."));
    loading.ShowInLayout(ui->verticalLayout);

    // Only this thread starts the refresher, so the running test and the start cannot interleave.
    if (!refresher.IsRunning()) {
        refresher.SetFolders(folderStore, resultFolders);
        refresher.StartIfNotRunning();
    }
    refresherStarted = true;
}
