#include "catalogue/DatabaseHolder.h"
#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolder.h"
#include "dialogs/DlgAddCategory.h"
#include "views/FlowLayout.h"
#include "catalogue/ItemCategory.h"
#include "threads/QWriteLockerExt2.h"
#include "ui_DlgAddCategory.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

// Loads the categories into the store's catalogue as a catalogue file would: (id, book count, caption).
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
        QVERIFY(query.exec(QStringLiteral("insert into runtime_cataloginfo values (1, 1, 1001, 'A'), (2, 2, 1000, 'B'), "
                                          "(3, 3, 501, 'C'), (4, 4, 500, 'D'), (5, 5, 201, 'E'), (6, 6, 200, 'F'), "
                                          "(7, 7, 101, 'G'), (8, 8, 100, 'H'), (9, 9, 10, 'I & J'), (10, 10, 9, 'K')")));
    }
    QWriteLocker locker(&store.items->lock);
    ItemDataSaver::LoadCategories(&holder, *store.items->categories, *store.items->bigCategories);
}

QCheckBox *BoxFor(DlgAddCategory &dialog, qint64 id)
{
    return dialog.creator.boxIds.key(id, nullptr);
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
    std::unique_ptr<DisplayDataSaver> store;

private slots:
    void init()
    {
        store = std::make_unique<DisplayDataSaver>(folder.filePath(QStringLiteral("user-folders.file")));
        LoadCategories(*store);
    }

    void cleanup() { store.reset(); }

    void computingRefusesCloseUntilTheWorkerEnds()
    {
        DlgAddCategory dialog;
        dialog.creator.categoryIds = {2};
        dialog.OnInitLocalData(store.get());
        BoxFor(dialog, 3)->setChecked(true);
        BoxFor(dialog, 1)->setChecked(true);
        BoxFor(dialog, 7)->setChecked(true);
        // A category gone from the catalogue by the time of OK gives no folder.
        {
            QWriteLocker locker(&store->items->lock);
            delete store->items->categories->take(7);
        }
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        dialog.show();
        {
            // The computation waits for the folder store, so the dialog stays in "Computing...".
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
            QCOMPARE(rejected.count() + accepted.count(), 0);
        }
        QTRY_COMPARE(accepted.count(), 1);
        QCOMPARE(rejected.count(), 0);

        const QList<DisplayFolder *> folders = dialog.TakeNewFolders();
        QVERIFY(dialog.newFolders.isEmpty());
        QCOMPARE(folders.size(), 2);
        QCOMPARE(folders.at(0)->categoryUid, qint64(1));
        QCOMPARE(folders.at(1)->categoryUid, qint64(3));
        QCOMPARE(folders.at(0)->type, int(CategoryFolder));
        QVERIFY(!folders.at(0)->uid.isNull() && folders.at(0)->uid != folders.at(1)->uid);
        // Computed: no catalogue file is open here, so no books were found.
        QCOMPARE(folders.at(0)->calcCaption, QStringLiteral("A (0 Books)"));
        qDeleteAll(folders);
    }

    void closeAfterTheRunRejectsAndALateCompletionIsIgnored()
    {
        DlgAddCategory dialog;
        dialog.OnInitLocalData(store.get());
        BoxFor(dialog, 6)->setChecked(true);
        dialog.show();
        PressOk(dialog);
        // The run ends; its completion is still queued when the window is closed.
        QDeadlineTimer deadline(5000);
        while (dialog.refresher.IsRunning() && !deadline.hasExpired())
            QThread::msleep(5);
        QVERIFY(!dialog.IsComputing());
        QVERIFY(dialog.close());
        QCoreApplication::processEvents();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        // Taken by nobody: the dialog frees it.
        QCOMPARE(dialog.newFolders.size(), 1);
    }
};

QTEST_MAIN(TestDlgCategory)
#include "test_dlgcategory.moc"
