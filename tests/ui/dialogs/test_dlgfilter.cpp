#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolder.h"
#include "dialogs/DlgAddFilter.h"
#include "views/FlowLayout.h"
#include "catalogue/ItemCategory.h"
#include "dialogs/QCheckBoxWithTag.h"
#include "ui_DlgAddFilter.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

QStringList RowLabels(QFormLayout *form)
{
    QStringList labels;
    for (int row = 0; row < form->rowCount(); ++row)
        labels << qobject_cast<QLabel *>(form->itemAt(row, QFormLayout::LabelRole)->widget())->text();
    return labels;
}

// "tag text" of every box in the row, joined by "|".
QString Boxes(FlowLayout *row)
{
    QStringList boxes;
    for (int i = 0; i < row->count(); ++i) {
        auto *box = qobject_cast<QCheckBoxWithTag *>(row->itemAt(i)->widget());
        boxes << box->GetTag().toString() + QLatin1Char(' ') + box->text();
    }
    return boxes.join(QLatin1Char('|'));
}

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

    void modesTitlesRowsAndProposedName()
    {
        const QStringList keywords = {QStringLiteral("Keywords of book name:"), QStringLiteral("Keywords of author name:"),
                                      QStringLiteral("Keywords of category:")};
        const QStringList ranges = {QStringLiteral("User Rating:"), QStringLiteral("Original Price:"),
                                    QStringLiteral("Book Pages:"), QStringLiteral("Book Size:"),
                                    QStringLiteral("Book Categories:")};
        DisplayFolder blank;
        DlgAddFilter add;
        add.OnInitLocalData(&blank, AddFilter, store.get());
        QCOMPARE(add.windowTitle(), QStringLiteral("Add Filter"));
        QCOMPARE(RowLabels(add.ui->formLayout), QStringList{QStringLiteral("Folder Name:")} + keywords + ranges);
        QCOMPARE(add.focusWidget(), add.creator.nameEdit);
        const QString name = add.creator.nameEdit->text();
        QVERIFY2(name.startsWith(QStringLiteral("New Folder ")), qPrintable(name));
        const int number = name.mid(11).toInt();
        QVERIFY(number >= 1000 && number <= 10999);

        DlgAddFilter edit;
        edit.OnInitLocalData(&blank, EditFilter, store.get());
        QCOMPARE(edit.windowTitle(), QStringLiteral("Edit Filter"));
        QCOMPARE(edit.creator.nameEdit->text(), QString());

        DlgAddFilter search;
        search.OnInitLocalData(&blank, SearchBooks, store.get());
        QCOMPARE(search.windowTitle(), QStringLiteral("Search Books..."));
        QCOMPARE(search.ui->buttonBox->button(QDialogButtonBox::Ok)->text(), QStringLiteral("Search Now"));
        QCOMPARE(RowLabels(search.ui->formLayout), keywords + QStringList{QStringLiteral("Keywords of description:")} + ranges);
        QVERIFY(!search.creator.nameEdit);
        QCOMPARE(search.focusWidget(), search.creator.bookNameEdit);
        QCOMPARE(Boxes(search.creator.ratingRow),
                 QStringLiteral("1000 unknown value|1002 2 - 3 Stars|1003 3 - 4 Stars|1004 4 - 5 Stars|1005 5 Stars"));
        QCOMPARE(Boxes(search.creator.priceRow), QStringLiteral("2000 unknown value|2002 $0|2003 $0 - $10|2004 $10 - $20|"
                                                                "2005 $20 - $30|2006 $30 - $50|2001 More than $50"));
        QCOMPARE(Boxes(search.creator.pagesRow), QStringLiteral("3000 unknown value|3002 1 - 10|3003 11 - 30|3004 31 - 50|"
                                                                "3005 51 - 100|3006 101 - 200|3007 201 - 400|3001 More than 400"));
        QCOMPARE(Boxes(search.creator.sizeRow), QStringLiteral("4000 unknown value|4002 < 500KB|4003 500KB - 1MB|"
                                                               "4004 1MB - 10MB|4005 10MB - 50MB|4001 More than 50MB"));
    }

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

    void emptyNameRefusedWithFocusOnTheName()
    {
        DlgAddFilter dialog;
        dialog.OnInitLocalData(&folder, EditFilter, store.get());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.creator.nameEdit->clear();
        dialog.creator.bookNameEdit->setText(QStringLiteral("changed"));
        dialog.creator.authorEdit->setFocus();

        QString seen;
        QTimer::singleShot(0, &dialog, [&seen]() {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            seen = box->windowTitle() + QLatin1Char('|') + box->text();
            box->button(QMessageBox::Ok)->click();
        });
        dialog.ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(seen, QStringLiteral("Info|Please enter folder name"));
        QVERIFY(dialog.isVisible());
        QVERIFY(!dialog.IsComputing());
        QTRY_COMPARE(dialog.focusWidget(), dialog.creator.nameEdit);
        // The folder is left as it was.
        QCOMPARE(folder.caption, QStringLiteral("Cheap poems"));
        QCOMPARE(folder.search.findName.value(0), QStringLiteral("rose"));
    }
};

QTEST_MAIN(TestDlgFilter)
#include "test_dlgfilter.moc"
