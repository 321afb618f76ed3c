#pragma once

// Shared set-up of the main-window tests: a private home and data folders, a controllable
// command line, small catalogues loaded straight into a window's stores.

#include "Const.h"
#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolder.h"
#include "Helper.h"
#include "TestSandbox.h"
#include "mainwindow/MainWindow.h"
#include "views/TreeControllerImpls.h"
#include "writer/CatalogueGenerator.h"
#include "cipher/SqlCipherDriverRegistration.h"
#include "ui_mainwindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace MainWindowTest {

// 5 December 2026, 00:00 UTC.
constexpr qint64 kNowUtc = 1764892800;

// The command line QCoreApplication::arguments() reads: QCoreApplication keeps references to
// argc and argv, so changing them here changes what a new window sees.
inline int commandArgc = 1;
inline char *commandArgv[8] = {};

inline void SetArguments(const QList<QByteArray> &words)
{
    static QList<QByteArray> storage;
    storage = words.mid(0, 6);
    for (int i = 0; i < storage.size(); ++i)
        commandArgv[i + 1] = storage[i].data();
    commandArgc = storage.size() + 1;
    commandArgv[commandArgc] = nullptr;
}

// A private home: QStandardPaths' test mode derives every folder from it.
inline QTemporaryDir home;

inline bool MakeCatalogue(const QString &path, int books, const QStringList &extraSql = QStringList())
{
    CatalogueGeneratorOptions options;
    options.books = books;
    options.categories = 12;
    options.seed = 1;
    options.password = Helper::GetCatalogPassword().toUtf8();
    options.nowUtc = kNowUtc;
    options.extraSql = extraSql;
    QString error;
    const bool ok = CatalogueGenerator::Generate(options, path, nullptr, &error);
    if (!ok)
        qWarning() << "catalogue not generated:" << error;
    return ok;
}

// Loads the catalogue into the window's stores and computes every folder.
inline bool LoadCatalogue(MainWindow &window, const QString &path)
{
    DisplayDataSaver &store = window.folders();
    const QDateTime now = QDateTime::fromSecsSinceEpoch(kNowUtc, Qt::UTC);
    store.clock = [now] { return now; };
    bool added = false;
    return store.items->LoadDatabase(path) && store.LoadFolders(added) && store.ComputeAll();
}

// Adds a folder whose book list is given rather than computed; returns its id.
inline QUuid AddFixedFolder(MainWindow &window, const QString &caption, const QList<qint64> &ids)
{
    DisplayFolder *folder = DisplayFolder::CreateBuiltinFolder(CategoryFolder, caption);
    folder->bookIds = ids;
    folder->calcBookCount = ids.size();
    folder->UpdateCaptionWithCount();
    QWriteLockerExt2 token(&window.folders().lock);
    window.folders().AddFolder(folder, token);
    return folder->uid;
}

inline QUuid FolderOfType(MainWindow &window, int type)
{
    QReadLockerExt2 token(0, &window.folders().lock);
    return window.folders().FindFirstFolderOfType(type, token);
}

inline QList<qint64> FolderBooks(MainWindow &window, const QUuid &id)
{
    QReadLockerExt2 token(0, &window.folders().lock);
    DisplayFolder *folder = window.folders().FindFolder(id, token);
    return folder ? folder->bookIds : QList<qint64>();
}

// Makes the folder the current one; false when the tree has no such folder.
[[nodiscard]] inline bool SelectFolder(MainWindow &window, const QUuid &id)
{
    const QModelIndex index = window.tree().FindFolderIndex(id);
    window.tree().treeView->setCurrentIndex(index);
    return index.isValid();
}

// The page sizes of the covers and the details view, and the view to show (0 details, 1 covers).
inline void SetPageSizes(MainWindow &window, int covers, int details, int view = -1)
{
    QWriteLocker locker(&window.settings().lock);
    window.settings().currentSettings.Display_CoversView_PageCount = covers;
    window.settings().currentSettings.Display_DetailsView_PageCount = details;
    if (view >= 0)
        window.settings().currentSettings.Display_DefaultView = view;
}

// The list as at the end of the first load, in the view (0 details, 1 covers) with the page size.
inline void ShowList(MainWindow &window, int view, int pageSize)
{
    SetPageSizes(window, pageSize, pageSize, view);
    window.OnCallRefreshListView(false, false);
    window.SetRefreshServiceIsStarting(false);
    window.OnLoadDisplayFolders();
}

// Nothing may leave the machine: the catalogue service is a closed local port.
inline void KeepServicesLocal()
{
    Const::SetServiceRootsForTesting(QStringLiteral("http://127.0.0.1:1"), QStringLiteral("http://127.0.0.1:1"),
                                     QString());
}

inline QByteArray FileHash(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                          : QByteArray();
}

inline QImage ImageOf(const QPixmap &pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

// Picks an item as the user does: open the popup, move to the item, press Return.
inline void PickFromPopup(QComboBox *combo, int index)
{
    combo->showPopup();
    QAbstractItemView *view = combo->view();
    QTRY_VERIFY(view->isVisible());
    view->setCurrentIndex(view->model()->index(index, combo->modelColumn()));
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_VERIFY(!view->isVisible());
}

// The label of a widget tree that shows exactly this text.
inline QLabel *FindLabelWithText(QWidget *root, const QString &text)
{
    for (QLabel *label : root->findChildren<QLabel *>()) {
        if (label->text() == text)
            return label;
    }
    return nullptr;
}

// A popped-up menu that holds the action.
inline QMenu *VisibleMenuWith(QAction *action)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *menu = qobject_cast<QMenu *>(widget);
        if (menu && menu->isVisible() && menu->actions().contains(action))
            return menu;
    }
    return nullptr;
}

// Runs a test object with a private home and data folders and the program's names.
template <typename TestClass>
int RunTests(int argc, char *argv[])
{
    if (!TestSandbox::UsePrivateHome(home))
        return 1;
    QCoreApplication::setOrganizationName(Const::CompanyName);
    QCoreApplication::setApplicationName(Const::AppName);
    RegisterSqlCipherDriver();
    commandArgv[0] = argv[0];
    QApplication app(commandArgc, commandArgv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    app.setQuitOnLastWindowClosed(false);
    TestClass tests;
    return QTest::qExec(&tests, argc, argv);
}

} // namespace MainWindowTest

#define TESSALY_MAINWINDOW_TEST_MAIN(TestClass)                                                             \
    int main(int argc, char *argv[])                                                                        \
    {                                                                                                       \
        return MainWindowTest::RunTests<TestClass>(argc, argv);                                             \
    }
