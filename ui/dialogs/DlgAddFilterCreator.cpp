#include "dialogs/DlgAddFilterCreator.h"

#include "folders/DisplayFolder.h"
#include "views/FlowLayout.h"
#include "folders/FilterRangeCode.h"
#include "dialogs/QCheckBoxWithTag.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QScrollArea>

const QList<qint64> AddFilterCreator::RatingCodes = {1000, 1002, 1003, 1004, 1005};
const QList<qint64> AddFilterCreator::PriceCodes = {2000, 2002, 2003, 2004, 2005, 2006, 2001};
const QList<qint64> AddFilterCreator::PagesCodes = {3000, 3002, 3003, 3004, 3005, 3006, 3007, 3001};
const QList<qint64> AddFilterCreator::SizeCodes = {4000, 4002, 4003, 4004, 4005, 4001};

FlowLayout *AddFilterCreator::MakeRangeRow(const QList<qint64> &codes)
{
    auto *row = new FlowLayout(-1, -1, -1);
    for (qint64 code : codes)
        row->addWidget(new QCheckBoxWithTag(QVariant(int(code)), FilterRangeCode::Label(code)));
    return row;
}

void AddFilterCreator::CreateForm(FilterFolderType mode, ItemDataSaver *store, QFormLayout *form,
                                  DisplayFolder *folder)
{
    folderType = mode;
    if (!form)
        return;
    const bool named = mode == AddFilter || mode == EditFilter;
    const bool search = mode == SearchBooks;
    if (named) {
        nameEdit = new QLineEdit();
        form->addRow(QStringLiteral("Folder Name:"), nameEdit);
    }
    bookNameEdit = new QLineEdit();
    form->addRow(QStringLiteral("Keywords of book name:"), bookNameEdit);
    authorEdit = new QLineEdit();
    form->addRow(QStringLiteral("Keywords of author name:"), authorEdit);
    categoryNameEdit = new QLineEdit();
    form->addRow(QStringLiteral("Keywords of category:"), categoryNameEdit);
    if (search) {
        descriptionEdit = new QLineEdit();
        form->addRow(QStringLiteral("Keywords of description:"), descriptionEdit);
    }
    ratingRow = MakeRangeRow(RatingCodes);
    form->addRow(QStringLiteral("User Rating:"), ratingRow);
    priceRow = MakeRangeRow(PriceCodes);
    form->addRow(QStringLiteral("Original Price:"), priceRow);
    pagesRow = MakeRangeRow(PagesCodes);
    form->addRow(QStringLiteral("Book Pages:"), pagesRow);
    sizeRow = MakeRangeRow(SizeCodes);
    form->addRow(QStringLiteral("Book Size:"), sizeRow);

    categoryArea = new QScrollArea();
    categoryArea->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    categoryArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    categoryArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    categoryArea->setWidgetResizable(true);
    auto *categoryWidget = new QWidget();
    auto *categoryLayout = new FlowLayout(categoryWidget, -1, -1, -1);
    categoryLayout->setContentsMargins(4, 4, 4, 4);
    categoryArea->setWidget(categoryWidget);
    form->addRow(QStringLiteral("Book Categories:"), categoryArea);

    if (folder)
        categoryIds = folder->search.findCategoryList;
    flowLayout = categoryLayout;
    catalogue = store;
    allowUncheckExisting = true;
    BuildCategoryCheckBoxes();

    if (folder) {
        const DisplayFolderSearch &criteria = folder->search;
        if (nameEdit)
            nameEdit->setText(folder->caption);
        bookNameEdit->setText(criteria.findName.value(0));
        authorEdit->setText(criteria.findAuthor.value(0));
        categoryNameEdit->setText(criteria.findCategoryName.value(0));
        CheckTags(ratingRow, criteria.findUserRating);
        CheckTags(priceRow, criteria.findOrgPrice);
        CheckTags(pagesRow, criteria.findBookPages);
        CheckTags(sizeRow, criteria.findBookSize);
    }
    if (nameEdit)
        nameEdit->setFocus();
    else
        bookNameEdit->setFocus();
}

void AddFilterCreator::CheckTags(FlowLayout *row, const QList<qint64> &codes)
{
    for (qint64 code : codes) {
        // Codes without a box (such as 1001) are dropped on the next save.
        if (QCheckBoxWithTag *box = FindTagBox(row, QVariant(code)))
            box->setChecked(true);
    }
}

void AddFilterCreator::SetDefaultName()
{
    if (!nameEdit)
        return;
    const quint32 number = 1000 + QRandomGenerator::global()->bounded(10000u);
    nameEdit->setText(QStringLiteral("New Folder ") + QString::number(number));
}

DisplayFolder *AddFilterCreator::ApplyToFolder(QWidget *parent, DisplayFolder *folder)
{
    if (!folder)
        return nullptr;
    if (folderType == AddFilter || folderType == EditFilter) {
        const QString name = nameEdit ? nameEdit->text() : QString();
        if (name.isEmpty()) {
            QMessageBox::warning(parent, QCoreApplication::translate("Const", "Info"),
                                 QCoreApplication::translate("QWidget", "Please enter folder name"),
                                 QMessageBox::Ok);
            if (nameEdit)
                nameEdit->setFocus();
            return nullptr;
        }
        folder->caption = name;
    }
    CollectFilter(&folder->search);
    return folder;
}

DisplayFolderSearch *AddFilterCreator::CollectFilter(DisplayFolderSearch *search)
{
    ReadKeywords(bookNameEdit, search->findName);
    ReadKeywords(authorEdit, search->findAuthor);
    ReadKeywords(categoryNameEdit, search->findCategoryName);
    ReadKeywords(descriptionEdit, search->findDescription);
    ReadCheckedTags(ratingRow, search->findUserRating);
    ReadCheckedTags(priceRow, search->findOrgPrice);
    ReadCheckedTags(pagesRow, search->findBookPages);
    ReadCheckedTags(sizeRow, search->findBookSize);
    search->findCategoryList = *GetCheckedIds();
    return search;
}

QCheckBoxWithTag *AddFilterCreator::FindTagBox(FlowLayout *row, const QVariant &code)
{
    if (!row || !code.isValid())
        return nullptr;
    const qint64 wanted = code.toLongLong();
    for (int i = 0; i < row->count(); ++i) {
        QLayoutItem *item = row->itemAt(i);
        auto *box = item ? qobject_cast<QCheckBoxWithTag *>(item->widget()) : nullptr;
        if (!box)
            continue;
        const QVariant tag = box->GetTag();
        if (tag.isValid() && tag.toLongLong() == wanted)
            return box;
    }
    return nullptr;
}

void AddFilterCreator::ReadKeywords(QLineEdit *edit, QStringList &list)
{
    list.clear();
    if (edit && !edit->text().isEmpty())
        list.append(edit->text());
}

void AddFilterCreator::ReadCheckedTags(FlowLayout *row, QList<qint64> &list)
{
    if (!row)
        return;
    list.clear();
    for (int i = 0; i < row->count(); ++i) {
        QLayoutItem *item = row->itemAt(i);
        auto *box = item ? qobject_cast<QCheckBoxWithTag *>(item->widget()) : nullptr;
        if (!box || !box->isChecked())
            continue;
        const qint64 code = box->GetTag().toLongLong();
        if (code > 0)
            list.append(code);
    }
}
