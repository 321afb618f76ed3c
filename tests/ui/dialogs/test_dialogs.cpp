// The category, filter and settings dialogs.
#include "Const.h"
#include "TestLinkCatcher.h"
#include "WidgetPrompts.h"
#include "catalogue/DatabaseHolder.h"
#include "catalogue/ItemCategory.h"
#include "dialogs/DlgAddCategory.h"
#include "dialogs/DlgAddFilter.h"
#include "dialogs/DlgNativeSettings.h"
#include "dialogs/QCheckBoxWithTag.h"
#include "folders/DisplayDataSaver.h"
#include "settings/NativeConfigLoader.h"
#include "threads/NativeHelper.h"
#include "ui_DlgAddCategory.h"
#include "ui_DlgAddFilter.h"
#include "ui_DlgNativeSettings.h"

#include <QAction>
#include <QLineEdit>
#include <QSqlQuery>
#include <QtTest>

#include "ui/mainwindow/test_modal_script.h"

using MainWindowTest::Answer;
using MainWindowTest::ModalScript;

class TestDialogs : public QObject
{
    Q_OBJECT
    TestLinkCatcher links;
    QTemporaryDir folder;
    std::unique_ptr<DisplayDataSaver> store;

    QCheckBox *BoxFor(DlgAddCategory &dialog, qint64 id) { return dialog.creator.boxIds.key(id, nullptr); }
    void PressOk(QDialogButtonBox *buttons) { buttons->button(QDialogButtonBox::Ok)->click(); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        links.Install();
        WidgetPrompts::Install();
    }

    // A folder store whose catalogue holds the categories as a catalogue file gives them: (id, book count, caption).
    void init()
    {
        store = std::make_unique<DisplayDataSaver>(folder.filePath(QStringLiteral("user-folders.file")));
        DatabaseHolder holder;
        {
            QWriteLocker locker(&holder.lock);
            holder.Register(QStringLiteral("QSQLITE"));
            holder.db.setDatabaseName(QStringLiteral(":memory:"));
            QVERIFY(holder.db.open());
            QSqlQuery query(holder.db);
            QVERIFY(query.exec(QStringLiteral("create table runtime_cataloginfo(UID, LID, Calc_BookCount, Caption)")));
            QVERIFY(query.exec(QStringLiteral(
                "insert into runtime_cataloginfo values (1, 1, 1001, 'A'), (2, 2, 1000, 'B'), (3, 3, 501, 'C'), "
                "(4, 4, 500, 'D'), (5, 5, 201, 'E'), (6, 6, 200, 'F'), (7, 7, 101, 'G'), (8, 8, 100, 'H'), "
                "(9, 9, 10, 'I & J'), (10, 10, 9, 'K')")));
        }
        QWriteLocker locker(&store->items->lock);
        ItemDataSaver::LoadCategories(&holder, *store->items->categories, *store->items->bigCategories);
    }

    void cleanup()
    {
        store.reset();
        links.opened.clear();
    }

    void computingRefusesCloseUntilTheWorkerEnds()
    {
        DlgAddCategory dialog;
        dialog.creator.categoryIds = {2};
        dialog.OnInitLocalData(store.get());
        // Boxes are coloured by their category's book count: above 1000, 500, 200 and 100.
        const QList<QPair<qint64, QString>> colours = {{1, "#FFFF33"}, {2, "#F0BBFF"}, {3, "#F0BBFF"}, {4, "#66CCFF"},
                                                       {5, "#66CCFF"}, {6, "#99FF99"}, {7, "#99FF99"}, {8, ""}};
        for (const auto &[id, colour] : colours) {
            QVERIFY(BoxFor(dialog, id));
            QCOMPARE(BoxFor(dialog, id)->styleSheet(), colour.isEmpty() ? colour : "background-color:" + colour + ";");
        }
        for (qint64 id : {3, 1, 7})
            BoxFor(dialog, id)->setChecked(true);
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
            PressOk(dialog.ui->buttonBox);
            QTRY_VERIFY(dialog.refresher.IsRunning());
            QVERIFY(dialog.loading.panel->isVisible() && !dialog.ui->buttonBox->isVisible());
            QCOMPARE(dialog.loading.titleLabel->text(), QStringLiteral("Computing..."));
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
        QCOMPARE(QList<qint64>({folders.at(0)->categoryUid, folders.at(1)->categoryUid}), QList<qint64>({1, 3}));
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
        PressOk(dialog.ui->buttonBox);
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

    void filterEditShowsTheFolderAndWritesTheFormBack()
    {
        DisplayFolder folder;
        folder.type = FilterFolder;
        folder.caption = QStringLiteral("Cheap poems");
        folder.search.findName = QStringList{QStringLiteral("rose"), QStringLiteral("ignored")};
        folder.search.findUserRating = {1001, 1004};
        folder.search.findOrgPrice = {2002};
        folder.search.findCategoryList = {1};
        DlgAddFilter dialog;
        dialog.OnInitLocalData(&folder, EditFilter, store.get());
        AddFilterCreator &form = dialog.creator;
        QCOMPARE(form.nameEdit->text(), QStringLiteral("Cheap poems"));
        QCOMPARE(form.bookNameEdit->text(), QStringLiteral("rose"));
        const auto tagBox = &AddFilterCreator::FindTagBox;
        QVERIFY(tagBox(form.ratingRow, qint64(1004))->isChecked() && tagBox(form.priceRow, qint64(2002))->isChecked());
        QVERIFY(!tagBox(nullptr, qint64(2002)) && !tagBox(form.priceRow, QVariant()));
        QCheckBox *first = form.boxIds.key(1);
        QCheckBox *second = form.boxIds.key(2);
        // The folder's categories are checked and may be unchecked.
        QVERIFY(first && second && first->isChecked() && first->isEnabled() && !second->isChecked());

        first->setChecked(false);
        second->setChecked(true);
        tagBox(form.pagesRow, qint64(3001))->setChecked(true);
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
        QCOMPARE(folder.search.findCategoryList, QList<qint64>{2});
        // A form never built reads no keywords and no categories.
        AddFilterCreator unbuilt;
        unbuilt.CreateForm(SearchBooks, nullptr, nullptr, nullptr);
        unbuilt.CollectFilter(&folder.search);
        QVERIFY(folder.search.findAuthor.isEmpty() && folder.search.findCategoryList.isEmpty());

        PressOk(dialog.ui->buttonBox);
        QCOMPARE(dialog.resultFolders, QList<DisplayFolder *>{&folder});
        QTRY_COMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void settingsFailedSaveWarnsWithoutLocksAndStaysOpen()
    {
        // A folder where the file should be: not writable, even for root.
        const QString path = folder.filePath(QStringLiteral("native-config.file"));
        QVERIFY(QDir().mkpath(path));
        NativeConfigLoader config(path);
        const QString denied = QStringLiteral(
            "You don't have permission to write the configuration file, do you want to get more information?");
        DlgNativeSettings dialog;
        dialog.OnInitLocalData(&config);
        dialog.show();
        dialog.ui->Check_NewDatabase_Minutes->setCurrentText(QStringLiteral("168"));

        bool settingsFree = false, configFree = false;
        auto probe = [&](QWidget *box) {
            // Queued slots that read the settings run inside this box: nothing may be held.
            if ((settingsFree = config.lock.tryLockForWrite()))
                config.lock.unlock();
            if ((configFree = NativeHelper::_configLocker->tryLockForWrite()))
                NativeHelper::_configLocker->unlock();
            Answer(QMessageBox::Cancel, QStringLiteral("Info"), denied)(box);
        };
        QVERIFY(ModalScript({probe}).Run([&] { PressOk(dialog.ui->buttonBox); }));
        QVERIFY(settingsFree && configFree);
        QVERIFY(dialog.isVisible() && dialog.result() != int(QDialog::Accepted));
        QVERIFY(links.opened.isEmpty());
        // The new values stay in memory although the file could not take them.
        QCOMPARE(config.GetCurrentSettings().Check_NewDatabase_Minutes, 10080);

        // OK may be pressed again; this time the box's OK leads to the help page.
        QVERIFY(ModalScript({Answer(QMessageBox::Ok, QStringLiteral("Info"), denied)}).Run([&] { PressOk(dialog.ui->buttonBox); }));
        QVERIFY(dialog.isVisible());
        QCOMPARE(links.opened, QList<QUrl>{QUrl(Const::HelpConfigFolderUrl + "?kind=tessaly-mac")});
        dialog.reject();
        QVERIFY(QDir(path).removeRecursively());
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
