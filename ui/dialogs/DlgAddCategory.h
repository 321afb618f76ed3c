#pragma once

#include "dialogs/DlgAddCategoryCreator.h"
#include "dialogs/DlgAddComputingDialog.h"

#include <QList>

class DisplayDataSaver;
class DisplayFolder;
class FlowLayout;
class Ui_DlgAddCategory;

// Offers one check box per large category and makes a category folder for every newly
// checked one; computes their books before it accepts. Folders it made are freed with the
// dialog unless the caller took them (TakeNewFolders) after acceptance.
class DlgAddCategory : public DlgAddComputingDialog
{
    Q_OBJECT

public:
    explicit DlgAddCategory(QWidget *parent = nullptr);
    ~DlgAddCategory() override;

    // The caller fills creator.categoryIds with the ids of the existing category folders first.
    void OnInitLocalData(DisplayDataSaver *store);
    // A new category folder for the id, or null when the catalogue does not know it.
    static DisplayFolder *CreateCategoryFolder(DisplayDataSaver *store, qint64 categoryId);
    // Hands newFolders over to the caller, who then owns them.
    QList<DisplayFolder *> TakeNewFolders();

    Ui_DlgAddCategory *ui = nullptr;
    DisplayDataSaver *folderStore = nullptr;
    FlowLayout *checkLayout = nullptr;
    QList<DisplayFolder *> newFolders;
    AddCategoryCreator creator;

private slots:
    void on_buttonBox_accepted();
};
