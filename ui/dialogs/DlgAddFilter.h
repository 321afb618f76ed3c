#pragma once

#include "dialogs/DlgAddComputingDialog.h"
#include "dialogs/DlgAddFilterCreator.h"
#include "dialogs/FilterFolderType.h"

class DisplayDataSaver;
class DisplayFolder;
class Ui_DlgAddFilter;

// Edits the criteria of a filter folder (new or existing) or of a search, then computes the
// folder's books before it accepts. The folder belongs to the caller: for an edit the caller
// passes a copy and swaps it into the store after acceptance, so nothing else ever sees a
// half-written record.
class DlgAddFilter : public DlgAddComputingDialog
{
    Q_OBJECT

public:
    explicit DlgAddFilter(QWidget *parent = nullptr);
    ~DlgAddFilter() override;

    void OnInitLocalData(DisplayFolder *target, FilterFolderType mode, DisplayDataSaver *store);

    Ui_DlgAddFilter *ui = nullptr;
    DisplayFolder *folder = nullptr;
    DisplayDataSaver *folderStore = nullptr;
    // The folders handed to the computation on OK.
    QList<DisplayFolder *> resultFolders;
    AddFilterCreator creator;

private slots:
    void on_buttonBox_accepted();
};
