#include "dialogs/DlgAddComputingDialog.h"

#include <QCloseEvent>
#include <QLabel>

DlgAddComputingDialog::DlgAddComputingDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowMaximizeButtonHint);
    connect(&refresher, &DisplayFolderRefresher::completed, this, &QDialog::accept, Qt::QueuedConnection);
}

DlgAddComputingDialog::~DlgAddComputingDialog()
{
    refresher.Stop();
}

bool DlgAddComputingDialog::IsComputing() const
{
    return computing && (!refresherStarted || refresher.IsRunning());
}

void DlgAddComputingDialog::reject()
{
    if (IsComputing())
        return;
    QDialog::reject();
}

void DlgAddComputingDialog::done(int result)
{
    if (ended)
        return;
    ended = true;
    QDialog::done(result);
}

void DlgAddComputingDialog::closeEvent(QCloseEvent *event)
{
    if (IsComputing()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void DlgAddComputingDialog::CreateLoadingPanel()
{
    if (loading.panel)
        return;
    QString title;
    loading.Create(true, title);
}

void DlgAddComputingDialog::StartComputing(QLayout *layout, const QString &title, DisplayDataSaver *store,
                                           const QList<DisplayFolder *> &folders)
{
    // Computing starts before the panel's event processing, so no close slips in there.
    computing = true;
    if (loading.messageLabel)
        loading.messageLabel->hide();
    if (loading.titleLabel)
        loading.titleLabel->setText(title);
    loading.ShowInLayout(layout);

    // Only this thread starts the refresher, so the running test and the start cannot interleave.
    if (!refresher.IsRunning()) {
        refresher.SetFolders(store, folders);
        refresher.StartIfNotRunning();
    }
    // From here on, the end of the thread (or a start refused because the program closes)
    // ends the computing state.
    refresherStarted = true;
}
