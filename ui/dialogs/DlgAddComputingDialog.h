#pragma once

#include "folders/DisplayFolderRefresher.h"
#include "LoadingController.h"

#include <QDialog>
#include <QList>

class DisplayDataSaver;
class DisplayFolder;
class QLayout;

// Base of the folder dialogs: on OK they compute their folders on a worker and accept when it
// completes. From the moment the "Computing..." panel shows until the worker's run has ended,
// closing, Escape and reject() do nothing; a completion that arrives after the dialog ended
// changes nothing. Each dialog serves one exec().
class DlgAddComputingDialog : public QDialog
{
    Q_OBJECT

public:
    ~DlgAddComputingDialog() override;

    bool IsComputing() const;

    LoadingController loading;
    DisplayFolderRefresher refresher;

public slots:
    void reject() override;
    void done(int result) override;

protected:
    explicit DlgAddComputingDialog(QWidget *parent);
    void closeEvent(QCloseEvent *event) override;

    // Builds the (still hidden) loading panel.
    void CreateLoadingPanel();
    bool CanStartComputing() const { return !computing && !ended; }
    // Shows the panel with title in place of the layout's widgets and computes the folders.
    void StartComputing(QLayout *layout, const QString &title, DisplayDataSaver *store,
                        const QList<DisplayFolder *> &folders);

private:
    bool computing = false;
    bool refresherStarted = false;
    bool ended = false;
};
