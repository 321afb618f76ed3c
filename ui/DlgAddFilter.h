#pragma once

#include "DisplayFolderRefresher.h"
#include "DlgAddFilterCreator.h"
#include "FilterFolderType.h"
#include "LoadingController.h"

#include <QDialog>
#include <QList>

class DisplayDataSaver;
class DisplayFolder;
class Ui_DlgAddFilter;

// Edits the criteria of a filter folder (new or existing) or of a search, then computes the
// folder's books before it accepts. The folder belongs to the caller: for an edit the caller
// passes a copy and swaps it into the store after acceptance, so nothing else ever sees a
// half-written record.
//
// From the moment the "Computing..." panel shows until the refresher's run has ended, the
// dialog cannot be closed, escaped or rejected.
class DlgAddFilter : public QDialog
{
    Q_OBJECT

public:
    explicit DlgAddFilter(QWidget *parent = nullptr);
    ~DlgAddFilter() override;

    void OnInitLocalData(DisplayFolder *target, FilterFolderType mode, DisplayDataSaver *store);
    bool IsComputing() const;

    Ui_DlgAddFilter *ui = nullptr;
    DisplayFolder *folder = nullptr;
    DisplayDataSaver *folderStore = nullptr;
    QList<DisplayFolder *> resultFolders;
    AddFilterCreator creator;
    LoadingController loading;
    DisplayFolderRefresher refresher;

public slots:
    void reject() override;
    // Ends the dialog once; a completion that arrives after a rejection changes nothing.
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_buttonBox_accepted();

private:
    bool computing = false;
    bool refresherStarted = false;
    bool ended = false;
};
