#pragma once

#include "dialogs/DlgAddCategoryCreator.h"
#include "dialogs/FilterFolderType.h"

#include <QCoreApplication>
#include <QList>
#include <QStringList>
#include <QVariant>

class DisplayFolder;
class DisplayFolderSearch;
class QCheckBoxWithTag;
class QFormLayout;
class QLineEdit;
class QScrollArea;
class QWidget;

// Builds the filter form, fills it from a folder and writes it back. Starts with the
// category check list, whose boxes of the folder's categories stay enabled.
struct AddFilterCreator : public AddCategoryCreator
{
    Q_DECLARE_TR_FUNCTIONS(AddFilterCreator)

public:
    FilterFolderType folderType = AddFilter;
    QLineEdit *nameEdit = nullptr;
    QLineEdit *bookNameEdit = nullptr;
    QLineEdit *authorEdit = nullptr;
    QLineEdit *categoryNameEdit = nullptr;
    QLineEdit *descriptionEdit = nullptr;
    FlowLayout *ratingRow = nullptr;
    FlowLayout *priceRow = nullptr;
    FlowLayout *pagesRow = nullptr;
    FlowLayout *sizeRow = nullptr;
    QScrollArea *categoryArea = nullptr;

    // Adds the rows of the mode to form; with a folder, shows its name and criteria.
    void CreateForm(FilterFolderType mode, ItemDataSaver *store, QFormLayout *form, DisplayFolder *folder);
    // Proposes "New Folder " and a number from 1000 to 10999.
    void SetDefaultName();
    // Writes the form into folder; null (folder untouched) when the name is missing.
    DisplayFolder *ApplyToFolder(QWidget *parent, DisplayFolder *folder);
    // Rebuilds every criteria list from the form.
    DisplayFolderSearch *CollectFilter(DisplayFolderSearch *search);

    static QCheckBoxWithTag *FindTagBox(FlowLayout *row, const QVariant &code);
    // The whole text, untrimmed and unsplit, as the only entry; empty text gives none.
    static void ReadKeywords(QLineEdit *edit, QStringList &list);
    static void ReadCheckedTags(FlowLayout *row, QList<qint64> &list);
    static void CheckTags(FlowLayout *row, const QList<qint64> &codes);

    // The range codes of each row, in the order the boxes appear.
    static const QList<qint64> RatingCodes;
    static const QList<qint64> PriceCodes;
    static const QList<qint64> PagesCodes;
    static const QList<qint64> SizeCodes;

private:
    static FlowLayout *MakeRangeRow(const QList<qint64> &codes);
};
