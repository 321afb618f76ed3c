#include "ui_mainwindow.h"

#include <QApplication>
#include <QDirIterator>
#include <QImageReader>
#include <QMovie>
#include <QPixmap>
#include <QSet>
#include <QtTest>

namespace {
// Every embedded image the program loads by name.
const char *const kImagePaths[] = {
    ":/local/images/16/application_view_detail.png", ":/local/images/16/application_view_icons.png",
    ":/local/images/16/arrow_refresh.png", ":/local/images/16/books.png",
    ":/local/images/16/books_stack.png", ":/local/images/16/bullet_go.png", ":/local/images/16/cross.png",
    ":/local/images/16/date.png", ":/local/images/16/date_task.png", ":/local/images/16/folder_delete.png",
    ":/local/images/16/folder_edit.png", ":/local/images/16/folders.png", ":/local/images/16/go-small.png",
    ":/local/images/16/help-small.png", ":/local/images/16/info-small.png",
    ":/local/images/16/loading-small.gif", ":/local/images/16/money_dollar.png",
    ":/local/images/16/picture_empty.png", ":/local/images/16/resultset_first.png",
    ":/local/images/16/resultset_last.png", ":/local/images/16/resultset_next.png",
    ":/local/images/16/resultset_previous.png", ":/local/images/16/star.png", ":/local/images/16/stop.png",
    ":/local/images/16/table_sort.png", ":/local/images/16/world_go.png",
    ":/local/images/32/application_go.png", ":/local/images/32/arrow_refresh.png",
    ":/local/images/32/filter_add.png", ":/local/images/32/folder.png", ":/local/images/32/folder_brick.png",
    ":/local/images/32/folder_search.png", ":/local/images/32/folder_star.png",
    ":/local/images/32/search_plus.png", ":/local/images/32/setting_tools.png",
    ":/local/images/32/world.png", ":/local/images/app-icon.ico", ":/local/images/logo/quillory-logo.png",
    ":/local/images/logo/tessaly-logo.png", ":/local/images/other/Reload-2s-120px.gif",
    ":/local/images/other/loadingcover-218.png", ":/local/images/other/nullcover-218.png",
    ":/local/images_tessaly/32/layout_add.png",
};

QStringList actionNames(const QList<QAction *> &actions)
{
    QStringList names;
    for (QAction *a : actions)
        names << (a->isSeparator() ? QStringLiteral("|") : a->objectName());
    return names;
}

struct Form
{
    QMainWindow window;
    Ui_MainWindow ui;
    Form() { ui.setupUi(&window); }
};

// connectSlotsByName must find slots named after the actions.
class SlotWindow : public QMainWindow
{
    Q_OBJECT
public:
    int settingsHits = 0;
public slots:
    void on_action_Settings_triggered() { ++settingsHits; }
};
} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QApplication::setStyle(QStringLiteral("Fusion"));
    }

    void everyImageDecodes()
    {
        for (const char *path : kImagePaths) {
            const QString name = QString::fromLatin1(path);
            QImageReader reader(name);
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(name + QStringLiteral(": ") + reader.errorString()));
            if (name.endsWith(QLatin1String(".gif"))) {
                QMovie movie(name);
                QVERIFY2(movie.isValid() && movie.frameCount() > 1, qPrintable(name));
            } else if (name.contains(QLatin1String("/16/"))) {
                QCOMPARE(image.size(), QSize(16, 16));
            } else if (name.contains(QLatin1String("/32/"))) {
                QCOMPARE(image.size(), QSize(32, 32));
            } else if (name.contains(QLatin1String("-218"))) {
                QCOMPARE(image.size(), QSize(218, 218));
            }
        }
        // Nothing unlisted hides in the resources either.
        int count = 0;
        QDirIterator it(QStringLiteral(":/local"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            ++count;
        }
        QCOMPARE(count, int(sizeof(kImagePaths) / sizeof(kImagePaths[0])));
    }

    void windowAndBars()
    {
        Form form;
        QMainWindow &window = form.window;
        const Ui_MainWindow &ui = form.ui;
        QCOMPARE(window.size(), QSize(1400, 710));
        QCOMPARE(window.locale(), QLocale(QLocale::English, QLocale::UnitedStates));
        QStringList titles;
        for (QAction *a : ui.menuBar->actions())
            titles << a->text();
        QCOMPARE(titles, QStringList({"File (&F)", "Tools (&T)", "Help (&H)"}));
        QCOMPARE(actionNames(ui.menuFile_F->actions()), QStringList({"action_File_Exit"}));
        QCOMPARE(actionNames(ui.menuTools_Bar->actions()),
                 QStringList({"action_Tool_Settings", "|", "action_Tool_ClearAllImageCache",
                              "action_Tool_ClearAllCache"}));
        QCOMPARE(actionNames(ui.menuHelp_H->actions()),
                 QStringList({"action_Check_For_Updates", "|", "action_go_website", "action_Help_About"}));
        QCOMPARE(actionNames(ui.mainToolBar->actions()),
                 QStringList({"action_Add_Category", "|", "action_Add_Filter", "|", "action_StartSearch",
                              "action_Settings", "|", "action_go_software_website_with_icon", "|",
                              "action_on_primary_quit"}));
        QVERIFY(!ui.mainToolBar->isMovable());
        QCOMPARE(ui.mainToolBar->iconSize(), QSize(32, 32));
        QCOMPARE(ui.mainToolBar->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
        QCOMPARE(window.toolBarArea(ui.mainToolBar), Qt::TopToolBarArea);
        QCOMPARE(window.statusBar(), ui.statusBar);
    }

    void actionTable()
    {
        Form form;
        QMainWindow &window = form.window;
        const Ui_MainWindow &ui = form.ui;
        const QList<QAction *> all = window.findChildren<QAction *>(QString(), Qt::FindDirectChildrenOnly);
        QSet<QString> disabled, checkable;
        QStringList named;
        for (QAction *a : all) {
            if (a->objectName().isEmpty() || !a->objectName().startsWith(QLatin1String("action_")))
                continue;
            named << a->objectName();
            if (!a->isEnabled())
                disabled << a->objectName();
            if (a->isCheckable())
                checkable << a->objectName();
            QVERIFY(!a->isChecked());
        }
        QCOMPARE(named.size(), 39);
        QCOMPARE(named.first(), QStringLiteral("action_File_Exit"));
        QCOMPARE(named.last(), QStringLiteral("action_ShowInfo_Option_GoLink_ContextMenu"));
        QCOMPARE(disabled, QSet<QString>({"action_ShowCategory_Option_RemoveFolder", "action_ShowInfo_Option_GoLink",
                                          "action_ShowInfo_View_Prev", "action_ShowInfo_View_Next",
                                          "action_ShowCategory_Option_EditFolder", "action_ShowInfo_Page_Prev",
                                          "action_ShowInfo_Page_Next", "action_ShowInfo_Page_First",
                                          "action_ShowInfo_Page_Last", "action_ShowInfo_Page_Prev_ContextMenu",
                                          "action_ShowInfo_Page_Next_ContextMenu",
                                          "action_ShowInfo_Option_GoLink_ContextMenu"}));
        QCOMPARE(checkable, QSet<QString>({"action_ShowInfo_OrderBy_EventStartDate", "action_ShowInfo_OrderBy_BookDate",
                                           "action_ShowInfo_OrderBy_OrgPrice", "action_ShowInfo_OrderBy_BookPages",
                                           "action_ShowInfo_OrderBy_BookSize", "action_ShowInfo_OrderBy_UserRating",
                                           "action_ShowCategory_Option_ResortCategory", "action_ShowInfo_View_Covers",
                                           "action_ShowInfo_View_Details", "action_ShowInfo_OrderBy_None",
                                           "action_ShowInfo_OrderBy_Random"}));

        // Texts, tool tips and odd names as the program has always had them.
        QCOMPARE(ui.action_StartSearch->text(), QStringLiteral("Search (F6)"));
        QCOMPARE(ui.action_StartSearch->toolTip(), QStringLiteral("Add Filter (F6)"));
        QCOMPARE(ui.action_Reresh_All_Data->toolTip(), QStringLiteral("Refresh Database (F10)"));
        QCOMPARE(ui.action_ShowInfo_Option_GoLink_ContextMenu->text(), ui.action_ShowInfo_Option_GoLink->text());
        QVERIFY(ui.action_ShowInfo_Option_GoLink_ContextMenu->shortcut().isEmpty());
        QCOMPARE(ui.action_File_Exit->menuRole(), QAction::QuitRole);
        QCOMPARE(ui.action_on_show_Window->menuRole(), QAction::QuitRole);
        QVERIFY(ui.action_File_Exit->icon().isNull());
        for (QAction *a : {ui.action_Add_Category, ui.action_ShowInfo_OrderBy_BookPages, ui.action_on_primary_quit,
                           ui.action_ShowInfo_Page_Next_ContextMenu})
            QVERIFY2(!a->icon().pixmap(16, 16).isNull(), qPrintable(a->objectName()));
        QVERIFY(!ui.lblShowBookPriceFlag->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(!ui.lblShowBookStars5->pixmap(Qt::ReturnByValue).isNull());
    }

    void shortcutsTrigger()
    {
        SlotWindow window;
        Ui_MainWindow ui;
        ui.setupUi(&window);
        const QList<QPair<QAction *, QKeySequence>> keys = {
            {ui.action_ShowInfo_Option_GoLink, QKeySequence(Qt::Key_F2)},
            {ui.action_Add_Category, QKeySequence(Qt::Key_F3)},
            {ui.action_Add_Filter, QKeySequence(Qt::Key_F4)},
            {ui.action_ShowInfo_View_Refresh, QKeySequence(Qt::Key_F5)},
            {ui.action_StartSearch, QKeySequence(Qt::Key_F6)},
            {ui.action_Settings, QKeySequence(Qt::Key_F9)},
            {ui.action_Reresh_All_Data, QKeySequence(Qt::Key_F10)},
            {ui.action_Check_For_Updates, QKeySequence(Qt::Key_F12)},
            {ui.action_File_Exit, QKeySequence(Qt::CTRL | Qt::Key_Q)},
        };
        // The window places most of these in tool bars later; here they only need a visible owner.
        for (const auto &k : keys) {
            window.addAction(k.first);
            k.first->setEnabled(true);
        }
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (const auto &k : keys) {
            QCOMPARE(k.first->shortcut(), k.second);
            QSignalSpy spy(k.first, &QAction::triggered);
            QTest::keySequence(&window, k.second);
            QVERIFY2(spy.count() == 1, qPrintable(k.first->objectName()));
        }
        QCOMPARE(window.settingsHits, 1); // found by name
    }

    void detailsPane()
    {
        Form form;
        const Ui_MainWindow &ui = form.ui;
        // Covers are drawn at 218 x 218: the label must neither grow nor shrink.
        QCOMPARE(ui.lblShowBookCover->minimumSize(), QSize(218, 218));
        QCOMPARE(ui.lblShowBookCover->maximumSize(), QSize(218, 218));
        QCOMPARE(ui.widForBookInfo->maximumHeight(), 218);
        QCOMPARE(ui.formLayout->itemAt(4, QFormLayout::FieldRole)->widget(), ui.lblShowBookIntroLong);
        QVERIFY(ui.lblShowBookIntroLong->isReadOnly());
        QCOMPARE(ui.lblShowBookSize->text(), QStringLiteral("(2247 KB / 37 Pages)"));
        QCOMPARE(ui.lblShowBookPriceCurrent->text(), QStringLiteral(" $0.00 "));
        QCOMPARE(ui.layoutForShowInfo->count(), 0);
        QCOMPARE(ui.layoutForFolderList->count(), 0);
    }
};

QTEST_MAIN(TestForm)
#include "test_form.moc"
