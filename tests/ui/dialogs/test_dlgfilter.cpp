#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolder.h"
#include "dialogs/DlgAddFilter.h"
#include "views/FlowLayout.h"
#include "catalogue/ItemCategory.h"
#include "dialogs/QCheckBoxWithTag.h"
#include "ui_DlgAddFilter.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QCheckBoxWithTag *Range(FlowLayout *row, qint64 code)
{
    return AddFilterCreator::FindTagBox(row, QVariant(code));
}

} // namespace

class TestDlgFilter : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<DisplayDataSaver> store;
    DisplayFolder folder;

private slots:
    void init()
    {
        store = std::make_unique<DisplayDataSaver>(dir.filePath(QStringLiteral("user-folders.file")));
        // Two large categories straight into the catalogue store.
        QWriteLocker locker(&store->items->lock);
        for (const auto &row : {std::make_pair(11, QStringLiteral("Poetry")), std::make_pair(12, QStringLiteral("Science"))}) {
            auto *category = new ItemCategory();
            category->LoadFromRecord({{QStringLiteral("UID"), row.first},
                                      {QStringLiteral("Calc_BookCount"), 40},
                                      {QStringLiteral("Caption"), row.second}});
            store->items->categories->insert(row.first, category);
            store->items->bigCategories->append({row.first, row.second});
        }
        folder = DisplayFolder();
        folder.uid = QUuid::createUuid();
        folder.type = FilterFolder;
        folder.caption = QStringLiteral("Cheap poems");
        folder.search.findName = QStringList{QStringLiteral("rose"), QStringLiteral("ignored")};
        folder.search.findUserRating = {1001, 1004};
        folder.search.findOrgPrice = {2002};
        folder.search.findCategoryList = {11};
    }

    void cleanup() { store.reset(); }

    void editShowsTheFolderAndWritesTheFormBack()
    {
        DlgAddFilter dialog;
        dialog.OnInitLocalData(&folder, EditFilter, store.get());
        AddFilterCreator &form = dialog.creator;
        QCOMPARE(form.nameEdit->text(), QStringLiteral("Cheap poems"));
        QCOMPARE(form.bookNameEdit->text(), QStringLiteral("rose"));
        QVERIFY(Range(form.ratingRow, 1004)->isChecked());
        QVERIFY(Range(form.priceRow, 2002)->isChecked());
        QCheckBox *poetry = form.boxIds.key(11);
        QCheckBox *science = form.boxIds.key(12);
        // The folder's categories are checked and may be unchecked.
        QVERIFY(poetry->isChecked() && poetry->isEnabled());
        QVERIFY(!science->isChecked());

        poetry->setChecked(false);
        science->setChecked(true);
        Range(form.pagesRow, 3001)->setChecked(true);
        form.nameEdit->setText(QStringLiteral("   "));
        form.bookNameEdit->clear();
        form.authorEdit->setText(QStringLiteral("  John  Keats "));
        QCOMPARE(form.ApplyToFolder(&dialog, &folder), &folder);

        // Blanks are a name like any other; a keyword stays whole, blanks included.
        QCOMPARE(folder.caption, QStringLiteral("   "));
        QCOMPARE(folder.search.findName, QStringList());
        QCOMPARE(folder.search.findAuthor, QStringList{QStringLiteral("  John  Keats ")});
        // Every range list is rebuilt from the boxes: 1001 has none and is dropped.
        QCOMPARE(folder.search.findUserRating, QList<qint64>{1004});
        QCOMPARE(folder.search.findBookPages, QList<qint64>{3001});
        QCOMPARE(folder.search.findCategoryList, QList<qint64>{12});
        QCOMPARE(folder.type, int(FilterFolder));
    }
};

QTEST_MAIN(TestDlgFilter)
#include "test_dlgfilter.moc"
