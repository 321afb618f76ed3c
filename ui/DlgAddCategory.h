#pragma once

#include "DisplayFolderRefresher.h"
#include "DlgAddCategoryCreator.h"
#include "LoadingController.h"

#include <QDialog>
#include <QList>

class DisplayDataSaver;
class DisplayFolder;
class FlowLayout;
class Ui_DlgAddCategory;

// Offers one check box per large category and makes a category folder for every newly
// checked one; computes their books before it accepts.
//
// From the moment the "Computing..." panel shows until the refresher's run has ended, the
// dialog cannot be closed, escaped or rejected. Folders it made are freed with the dialog
// unless the caller took them (TakeNewFolders) after acceptance.
class DlgAddCategory : public QDialog
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
    bool IsComputing() const;

    Ui_DlgAddCategory *ui = nullptr;
    DisplayDataSaver *folderStore = nullptr;
    FlowLayout *checkLayout = nullptr;
    QList<DisplayFolder *> newFolders;
    AddCategoryCreator creator;
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
