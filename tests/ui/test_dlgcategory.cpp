#include "DatabaseHolder.h"
#include "DisplayDataSaver.h"
#include "DisplayFolder.h"
#include "DlgAddCategory.h"
#include "FlowLayout.h"
#include "ItemCategory.h"
#include "ItemDataSaver.h"
#include "QWriteLockerExt2.h"
#include "ui_DlgAddCategory.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

struct Category
{
    qint64 id;
    qint64 books;
    QString caption;
};

// Loads the categories into the store's catalogue the way a catalogue file would.
void LoadCategories(DisplayDataSaver &store, const QList<Category> &list)
{
    DatabaseHolder holder;
    {
        QWriteLocker locker(&holder.lock);
        holder.Register(QStringLiteral("QSQLITE"));
        holder.db.setDatabaseName(QStringLiteral(":memory:"));
        QVERIFY(holder.db.open());
        QSqlQuery query(holder.db);
        QVERIFY(query.exec(QStringLiteral("create table runtime_cataloginfo(UID, LID, Calc_BookCount, Caption)")));
        for (const Category &category : list) {
            query.prepare(QStringLiteral("insert into runtime_cataloginfo values(?, ?, ?, ?)"));
            query.addBindValue(category.id);
            query.addBindValue(category.id);
            query.addBindValue(category.books);
            query.addBindValue(category.caption);
            QVERIFY(query.exec());
        }
    }
    QWriteLocker locker(&store.items->lock);
    ItemDataSaver::LoadCategories(&holder, *store.items->categories, *store.items->bigCategories);
}

QList<QCheckBox *> Boxes(DlgAddCategory &dialog)
{
    QList<QCheckBox *> boxes;
    for (int i = 0; i < dialog.checkLayout->count(); ++i)
        boxes << qobject_cast<QCheckBox *>(dialog.checkLayout->itemAt(i)->widget());
    return boxes;
}

QCheckBox *BoxFor(DlgAddCategory &dialog, qint64 id)
{
    for (auto it = dialog.creator.boxIds.cbegin(); it != dialog.creator.boxIds.cend(); ++it) {
        if (it.value() == id)
            return it.key();
    }
    return nullptr;
}

void PressOk(DlgAddCategory &dialog)
{
    dialog.ui->buttonBox->button(QDialogButtonBox::Ok)->click();
}

} // namespace

class TestDlgCategory : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;
    DisplayDataSaver *store = nullptr;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
    }

    void init()
    {
        store = new DisplayDataSaver(folder.filePath(QStringLiteral("user-folders.file")));
        LoadCategories(*store, {{1, 1001, QStringLiteral("A1001")}, {2, 1000, QStringLiteral("B1000")},
                                {3, 501, QStringLiteral("C501")},   {4, 500, QStringLiteral("D500")},
                                {5, 201, QStringLiteral("E201")},   {6, 200, QStringLiteral("F200")},
                                {7, 101, QStringLiteral("G101")},   {8, 100, QStringLiteral("H100")},
                                {9, 10, QStringLiteral("I10 & more")}, {10, 9, QStringLiteral("J9")}});
    }

    void cleanup()
    {
        delete store;
        store = nullptr;
    }

    void boxesColouredByBookCount()
    {
        DlgAddCategory dialog;
        dialog.OnInitLocalData(store);
        const QList<QCheckBox *> boxes = Boxes(dialog);
        // Nine boxes in caption order; the category with 9 books has none.
        QCOMPARE(boxes.size(), 9);
        const QStringList colours = {QStringLiteral("#FFFF33"), QStringLiteral("#F0BBFF"), QStringLiteral("#F0BBFF"),
                                     QStringLiteral("#66CCFF"), QStringLiteral("#66CCFF"), QStringLiteral("#99FF99"),
                                     QStringLiteral("#99FF99"), QString(),                 QString()};
        for (int i = 0; i < boxes.size(); ++i) {
            const QString sheet = colours.at(i).isEmpty() ? QString()
                                                          : QStringLiteral("background-color:%1;").arg(colours.at(i));
            QCOMPARE(boxes.at(i)->styleSheet(), sheet);
            QCOMPARE(dialog.creator.boxIds.value(boxes.at(i)), qint64(i + 1));
            QVERIFY(boxes.at(i)->isEnabled());
            QVERIFY(!boxes.at(i)->isChecked());
        }
        QCOMPARE(boxes.at(0)->text(), QStringLiteral("A1001 (1001 Books)"));
        // A "&" shows as itself, not as a shortcut marker.
        QCOMPARE(boxes.at(8)->text(), QStringLiteral("I10 && more (10 Books)"));
    }

    void existingCategoriesCheckedAndDisabled_okWithNothingNewAcceptsAtOnce()
    {
        DlgAddCategory dialog;
        dialog.creator.categoryIds = {2, 5};
        dialog.OnInitLocalData(store);
        QCheckBox *existing = BoxFor(dialog, 2);
        QVERIFY(existing->isChecked());
        QVERIFY(!existing->isEnabled());
        QVERIFY(BoxFor(dialog, 5)->isChecked());

        dialog.show();
        PressOk(dialog);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        QVERIFY(!dialog.loading.added);
        QVERIFY(dialog.newFolders.isEmpty());
        QVERIFY(!dialog.refresher.IsRunning());
    }

    void checkedCategoriesBecomeComputedFolders()
    {
        DlgAddCategory dialog;
        dialog.creator.categoryIds = {2};
        dialog.OnInitLocalData(store);
        BoxFor(dialog, 3)->setChecked(true);
        BoxFor(dialog, 1)->setChecked(true);
        // A category that disappears from the catalogue before OK gives no folder.
        BoxFor(dialog, 7)->setChecked(true);
        {
            QWriteLocker locker(&store->items->lock);
            delete store->items->categories->take(7);
        }
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        dialog.show();
        PressOk(dialog);
        QTRY_COMPARE(accepted.count(), 1);

        const QList<DisplayFolder *> folders = dialog.TakeNewFolders();
        QVERIFY(dialog.newFolders.isEmpty());
        QCOMPARE(folders.size(), 2);
        // Layout order, which is caption order.
        QCOMPARE(folders.at(0)->categoryUid, qint64(1));
        QCOMPARE(folders.at(1)->categoryUid, qint64(3));
        for (DisplayFolder *made : folders) {
            QCOMPARE(made->type, int(CategoryFolder));
            QVERIFY(!made->uid.isNull());
        }
        QCOMPARE(folders.at(0)->caption, QStringLiteral("A1001"));
        // No catalogue file is open: the computation found no books and says so.
        QCOMPARE(folders.at(0)->calcCaption, QStringLiteral("A1001 (0 Books)"));
        QVERIFY(folders.at(0)->uid != folders.at(1)->uid);
        qDeleteAll(folders);
    }

    void closeEscapeAndRejectRefusedWhileComputing()
    {
        DlgAddCategory dialog;
        dialog.OnInitLocalData(store);
        BoxFor(dialog, 4)->setChecked(true);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        dialog.show();
        {
            // The computation waits for the folder store: the dialog stays in "Computing...".
            QWriteLockerExt2 token(&store->lock);
            PressOk(dialog);
            QVERIFY(dialog.IsComputing());
            QTRY_VERIFY(dialog.refresher.IsRunning());
            QVERIFY(dialog.loading.panel->isVisible());
            QCOMPARE(dialog.loading.titleLabel->text(), QStringLiteral("Computing..."));
            QVERIFY(!dialog.ui->buttonBox->isVisible());
            QVERIFY(!dialog.ui->groupBox->isVisible());

            QVERIFY(!dialog.close());
            QTest::keyClick(&dialog, Qt::Key_Escape);
            dialog.reject();
            QCoreApplication::processEvents();
            QVERIFY(dialog.isVisible());
            QCOMPARE(rejected.count(), 0);
            QCOMPARE(accepted.count(), 0);
        }
        QTRY_COMPARE(accepted.count(), 1);
        QCOMPARE(rejected.count(), 0);
        QCOMPARE(dialog.newFolders.size(), 1);
        QCOMPARE(dialog.newFolders.at(0)->calcBookCount, qint64(0));
    }

    void closeAfterRunEndedRejectsAndLateCompletionIsIgnored()
    {
        DlgAddCategory dialog;
        dialog.OnInitLocalData(store);
        BoxFor(dialog, 6)->setChecked(true);
        dialog.show();
        PressOk(dialog);
        // The run ends; its completion is still queued when the user closes the window.
        QDeadlineTimer deadline(5000);
        while (dialog.refresher.IsRunning() && !deadline.hasExpired())
            QThread::msleep(5);
        QVERIFY(!dialog.refresher.IsRunning());
        QVERIFY(!dialog.IsComputing());
        QVERIFY(dialog.close());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCoreApplication::processEvents();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        // Not taken by anybody: the dialog frees it when it goes.
        QCOMPARE(dialog.newFolders.size(), 1);
    }

    void cancelWhileEditingRejects()
    {
        DlgAddCategory dialog;
        dialog.OnInitLocalData(store);
        BoxFor(dialog, 1)->setChecked(true);
        dialog.show();
        dialog.ui->buttonBox->button(QDialogButtonBox::Cancel)->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(dialog.newFolders.isEmpty());
    }
};

QTEST_MAIN(TestDlgCategory)
#include "test_dlgcategory.moc"
