#include "DatabaseHolder.h"
#include "DisplayDataSaver.h"
#include "DisplayFolder.h"
#include "DlgAddFilter.h"
#include "FlowLayout.h"
#include "ItemDataSaver.h"
#include "QCheckBoxWithTag.h"
#include "QWriteLockerExt2.h"
#include "ui_DlgAddFilter.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// Answers every message box that becomes the active modal widget and records it.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QMessageBox::StandardButton reply)
        : reply(reply)
    {
        connect(&timer, &QTimer::timeout, this, [this]() {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen << box->windowTitle() + QLatin1Char('|') + box->text();
            box->button(this->reply)->click();
        });
        timer.start(10);
    }

    QStringList seen;

private:
    QMessageBox::StandardButton reply;
    QTimer timer;
};

void LoadCategories(DisplayDataSaver &store)
{
    DatabaseHolder holder;
    {
        QWriteLocker locker(&holder.lock);
        holder.Register(QStringLiteral("QSQLITE"));
        holder.db.setDatabaseName(QStringLiteral(":memory:"));
        QVERIFY(holder.db.open());
        QSqlQuery query(holder.db);
        QVERIFY(query.exec(QStringLiteral("create table runtime_cataloginfo(UID, LID, Calc_BookCount, Caption)")));
        QVERIFY(query.exec(QStringLiteral("insert into runtime_cataloginfo values(11, 11, 40, 'Poetry')")));
        QVERIFY(query.exec(QStringLiteral("insert into runtime_cataloginfo values(12, 12, 2000, 'History')")));
        QVERIFY(query.exec(QStringLiteral("insert into runtime_cataloginfo values(13, 13, 15, 'Science')")));
    }
    QWriteLocker locker(&store.items->lock);
    ItemDataSaver::LoadCategories(&holder, *store.items->categories, *store.items->bigCategories);
}

QStringList RowLabels(QFormLayout *form)
{
    QStringList labels;
    for (int row = 0; row < form->rowCount(); ++row) {
        auto *label = qobject_cast<QLabel *>(form->itemAt(row, QFormLayout::LabelRole)->widget());
        labels << (label ? label->text() : QString());
    }
    return labels;
}

QStringList BoxTexts(FlowLayout *row)
{
    QStringList texts;
    for (int i = 0; i < row->count(); ++i) {
        auto *box = qobject_cast<QCheckBoxWithTag *>(row->itemAt(i)->widget());
        texts << QString::number(box->GetTag().toInt()) + QLatin1Char(' ') + box->text();
    }
    return texts;
}

QCheckBox *CategoryBox(DlgAddFilter &dialog, qint64 id)
{
    for (auto it = dialog.creator.boxIds.cbegin(); it != dialog.creator.boxIds.cend(); ++it) {
        if (it.value() == id)
            return it.key();
    }
    return nullptr;
}

void PressOk(DlgAddFilter &dialog)
{
    dialog.ui->buttonBox->button(QDialogButtonBox::Ok)->click();
}

DisplayFolder *FilterWithCriteria()
{
    auto *folder = new DisplayFolder();
    folder->uid = QUuid::createUuid();
    folder->type = FilterFolder;
    folder->caption = QStringLiteral("Cheap poems");
    folder->search.findName = QStringList{QStringLiteral("rose"), QStringLiteral("ignored")};
    folder->search.findAuthor = QStringList{QStringLiteral("Keats")};
    folder->search.findUserRating = {1001, 1004};
    folder->search.findOrgPrice = {2002};
    folder->search.findBookSize = {4001};
    folder->search.findCategoryList = {11};
    return folder;
}

} // namespace

class TestDlgFilter : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;
    DisplayDataSaver *store = nullptr;

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        store = new DisplayDataSaver(folder.filePath(QStringLiteral("user-folders.file")));
        LoadCategories(*store);
    }

    void cleanup()
    {
        delete store;
        store = nullptr;
    }

    void modesTitlesAndRows()
    {
        const QStringList ranges = {QStringLiteral("User Rating:"), QStringLiteral("Original Price:"),
                                    QStringLiteral("Book Pages:"), QStringLiteral("Book Size:"),
                                    QStringLiteral("Book Categories:")};
        const QStringList keywords = {QStringLiteral("Keywords of book name:"), QStringLiteral("Keywords of author name:"),
                                      QStringLiteral("Keywords of category:")};
        DisplayFolder target;
        {
            DlgAddFilter dialog;
            dialog.OnInitLocalData(&target, AddFilter, store);
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Add Filter"));
            QCOMPARE(dialog.ui->buttonBox->button(QDialogButtonBox::Ok)->text(), QStringLiteral("OK"));
            QCOMPARE(RowLabels(dialog.ui->formLayout), QStringList{QStringLiteral("Folder Name:")} + keywords + ranges);
            QVERIFY(!dialog.creator.descriptionEdit);
            QCOMPARE(dialog.focusWidget(), dialog.creator.nameEdit);
            QVERIFY(dialog.creator.nameEdit->text().contains(QRegularExpression(QStringLiteral("^New Folder \\d+$"))));
            const int number = dialog.creator.nameEdit->text().mid(11).toInt();
            QVERIFY(number >= 1000 && number <= 10999);
        }
        {
            DlgAddFilter dialog;
            dialog.OnInitLocalData(&target, EditFilter, store);
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Edit Filter"));
            QCOMPARE(RowLabels(dialog.ui->formLayout), QStringList{QStringLiteral("Folder Name:")} + keywords + ranges);
            // An edit shows the folder's own name, not a proposal.
            QCOMPARE(dialog.creator.nameEdit->text(), QString());
        }
        {
            DlgAddFilter dialog;
            dialog.OnInitLocalData(&target, SearchBooks, store);
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Search Books..."));
            QCOMPARE(dialog.ui->buttonBox->button(QDialogButtonBox::Ok)->text(), QStringLiteral("Search Now"));
            QCOMPARE(RowLabels(dialog.ui->formLayout),
                     keywords + QStringList{QStringLiteral("Keywords of description:")} + ranges);
            QVERIFY(!dialog.creator.nameEdit);
            QCOMPARE(dialog.focusWidget(), dialog.creator.bookNameEdit);

            QCOMPARE(BoxTexts(dialog.creator.ratingRow),
                     QStringList({QStringLiteral("1000 unknown value"), QStringLiteral("1002 2 - 3 Stars"),
                                  QStringLiteral("1003 3 - 4 Stars"), QStringLiteral("1004 4 - 5 Stars"),
                                  QStringLiteral("1005 5 Stars")}));
            QCOMPARE(BoxTexts(dialog.creator.priceRow),
                     QStringList({QStringLiteral("2000 unknown value"), QStringLiteral("2002 $0"),
                                  QStringLiteral("2003 $0 - $10"), QStringLiteral("2004 $10 - $20"),
                                  QStringLiteral("2005 $20 - $30"), QStringLiteral("2006 $30 - $50"),
                                  QStringLiteral("2001 More than $50")}));
            QCOMPARE(BoxTexts(dialog.creator.pagesRow),
                     QStringList({QStringLiteral("3000 unknown value"), QStringLiteral("3002 1 - 10"),
                                  QStringLiteral("3003 11 - 30"), QStringLiteral("3004 31 - 50"),
                                  QStringLiteral("3005 51 - 100"), QStringLiteral("3006 101 - 200"),
                                  QStringLiteral("3007 201 - 400"), QStringLiteral("3001 More than 400")}));
            QCOMPARE(BoxTexts(dialog.creator.sizeRow),
                     QStringList({QStringLiteral("4000 unknown value"), QStringLiteral("4002 < 500KB"),
                                  QStringLiteral("4003 500KB - 1MB"), QStringLiteral("4004 1MB - 10MB"),
                                  QStringLiteral("4005 10MB - 50MB"), QStringLiteral("4001 More than 50MB")}));
        }
    }

    void editShowsCriteriaAndWritesThemBack()
    {
        QScopedPointer<DisplayFolder> target(FilterWithCriteria());
        const QUuid id = target->uid;
        DlgAddFilter dialog;
        dialog.OnInitLocalData(target.data(), EditFilter, store);
        AddFilterCreator &form = dialog.creator;
        QCOMPARE(form.nameEdit->text(), QStringLiteral("Cheap poems"));
        QCOMPARE(form.bookNameEdit->text(), QStringLiteral("rose"));
        QCOMPARE(form.authorEdit->text(), QStringLiteral("Keats"));
        QCOMPARE(form.categoryNameEdit->text(), QString());
        QVERIFY(AddFilterCreator::FindTagBox(form.ratingRow, QVariant(qint64(1004)))->isChecked());
        QVERIFY(!AddFilterCreator::FindTagBox(form.ratingRow, QVariant(qint64(1001))));
        QVERIFY(AddFilterCreator::FindTagBox(form.priceRow, QVariant(qint64(2002)))->isChecked());
        QVERIFY(AddFilterCreator::FindTagBox(form.sizeRow, QVariant(qint64(4001)))->isChecked());
        // The folder's categories are checked and can be unchecked.
        QCheckBox *poetry = CategoryBox(dialog, 11);
        QVERIFY(poetry->isChecked());
        QVERIFY(poetry->isEnabled());
        QCOMPARE(CategoryBox(dialog, 12)->styleSheet(), QStringLiteral("background-color:#FFFF33;"));

        poetry->setChecked(false);
        CategoryBox(dialog, 13)->setChecked(true);
        AddFilterCreator::FindTagBox(form.pagesRow, QVariant(qint64(3001)))->setChecked(true);
        form.nameEdit->setText(QStringLiteral("   "));
        form.bookNameEdit->clear();
        form.authorEdit->setText(QStringLiteral("  John  Keats "));

        QVERIFY(form.ApplyToFolder(&dialog, target.data()));
        const DisplayFolderSearch &search = target->search;
        // Blanks are a name like any other; keywords stay whole, blanks included.
        QCOMPARE(target->caption, QStringLiteral("   "));
        QCOMPARE(search.findName, QStringList());
        QCOMPARE(search.findAuthor, QStringList{QStringLiteral("  John  Keats ")});
        QCOMPARE(search.findDescription, QStringList());
        // 1001 has no box, so it is dropped.
        QCOMPARE(search.findUserRating, QList<qint64>{1004});
        QCOMPARE(search.findOrgPrice, QList<qint64>{2002});
        QCOMPARE(search.findBookPages, QList<qint64>{3001});
        QCOMPARE(search.findBookSize, QList<qint64>{4001});
        QCOMPARE(search.findCategoryList, QList<qint64>{13});
        QCOMPARE(target->uid, id);
        QCOMPARE(target->type, int(FilterFolder));
    }

    void emptyNameRefusedWithFocusOnName()
    {
        QScopedPointer<DisplayFolder> target(FilterWithCriteria());
        DlgAddFilter dialog;
        dialog.OnInitLocalData(target.data(), EditFilter, store);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.creator.nameEdit->clear();
        dialog.creator.bookNameEdit->setText(QStringLiteral("changed"));
        dialog.creator.authorEdit->setFocus();

        BoxAnswerer answerer(QMessageBox::Ok);
        PressOk(dialog);
        QCOMPARE(answerer.seen, QStringList{QStringLiteral("Info|Please enter folder name")});
        QVERIFY(dialog.isVisible());
        QVERIFY(!dialog.IsComputing());
        QVERIFY(dialog.resultFolders.isEmpty());
        QTRY_COMPARE(dialog.focusWidget(), dialog.creator.nameEdit);
        // The folder is left as it was.
        QCOMPARE(target->caption, QStringLiteral("Cheap poems"));
        QCOMPARE(target->search.findName.value(0), QStringLiteral("rose"));
    }

    void searchComputesAndRefusesCloseUntilDone()
    {
        QScopedPointer<DisplayFolder> search(DisplayFolder::CreateSearchFolder());
        DlgAddFilter dialog;
        dialog.OnInitLocalData(search.data(), SearchBooks, store);
        dialog.creator.descriptionEdit->setText(QStringLiteral("dark night"));
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        dialog.show();
        {
            QWriteLockerExt2 token(&store->lock);
            PressOk(dialog);
            QTRY_VERIFY(dialog.refresher.IsRunning());
            QVERIFY(dialog.loading.panel->isVisible());
            QCOMPARE(dialog.loading.titleLabel->text(), QStringLiteral("Computing..."));
            QVERIFY(!dialog.ui->buttonBox->isVisible());
            QVERIFY(!dialog.close());
            QTest::keyClick(&dialog, Qt::Key_Escape);
            dialog.reject();
            QCoreApplication::processEvents();
            QVERIFY(dialog.isVisible());
            QCOMPARE(rejected.count(), 0);
            QCOMPARE(accepted.count(), 0);
        }
        QTRY_COMPARE(accepted.count(), 1);
        QCOMPARE(dialog.resultFolders, QList<DisplayFolder *>{search.data()});
        QCOMPARE(search->search.findDescription, QStringList{QStringLiteral("dark night")});
        QCOMPARE(search->caption, QStringLiteral("Search Result"));
        QCOMPARE(search->calcCaption, QStringLiteral("Search Result (0 Books)"));
    }
};

QTEST_MAIN(TestDlgFilter)
#include "test_dlgfilter.moc"
