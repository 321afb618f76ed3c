#include "dialogs/DlgAddCategoryCreator.h"

#include "views/FlowLayout.h"
#include "catalogue/ItemCategory.h"
#include "catalogue/ItemDataSaver.h"
#include "threads/QReadLockerExt2.h"

#include <QCheckBox>

void AddCategoryCreator::BuildCategoryCheckBoxes()
{
    if (!flowLayout || !catalogue)
        return;
    flowLayout->setContentsMargins(4, 4, 4, 4);
    QReadLockerExt2 token(0, &catalogue->lock);
    for (const auto &entry : qAsConst(*catalogue->bigCategories)) {
        const ItemCategory *category = catalogue->categories->value(entry.first, nullptr);
        if (!category)
            continue;
        auto *box = new QCheckBox(category->displayCaption);
        const QString color = ColorForBookCount(category->bookCount);
        if (!color.isEmpty())
            box->setStyleSheet(QStringLiteral("background-color:%1;").arg(color));
        if (categoryIds.contains(entry.first)) {
            box->setChecked(true);
            if (!allowUncheckExisting)
                box->setEnabled(false);
        }
        boxIds.insert(box, entry.first);
        flowLayout->addWidget(box);
    }
}

QList<qint64> *AddCategoryCreator::GetCheckedIds()
{
    categoryIds.clear();
    if (!flowLayout)
        return &categoryIds;
    for (int i = 0; i < flowLayout->count(); ++i) {
        QLayoutItem *item = flowLayout->itemAt(i);
        auto *box = item ? qobject_cast<QCheckBox *>(item->widget()) : nullptr;
        // Only a box disabled on its own counts as preselected; a disabled ancestor does not.
        if (!box || box->testAttribute(Qt::WA_ForceDisabled) || !box->isChecked())
            continue;
        categoryIds.append(boxIds.value(box));
    }
    return &categoryIds;
}

QString AddCategoryCreator::ColorForBookCount(qint64 bookCount)
{
    if (bookCount >= 1001)
        return QStringLiteral("#FFFF33");
    if (bookCount >= 501)
        return QStringLiteral("#F0BBFF");
    if (bookCount >= 201)
        return QStringLiteral("#66CCFF");
    if (bookCount >= 101)
        return QStringLiteral("#99FF99");
    return QString();
}
