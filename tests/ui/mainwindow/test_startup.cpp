#include "TestLinkCatcher.h"
#include "Const.h"
#include "mainwindow/StartupArguments.h"
#include "mainwindow/StartupGuard.h"

#include <QAction>
#include "ui/mainwindow/test_modal_script.h"

#include <QDesktopServices>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

using MainWindowTest::Answer;
using MainWindowTest::ModalScript;

namespace {

const QString LocalFolderText = QStringLiteral("The current software cannot access the local document folder, do you want to get more information?");

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
    TestLinkCatcher links;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        links.Install();
    }

    void init() { links.opened.clear(); }

    void unknownFolderFailsBeforeAnyLock()
    {
        StartupGuard guard{QString()};
        ModalScript({Answer(QMessageBox::Ok, "Info", LocalFolderText)}).Run([&] {
            QCOMPARE(guard.Acquire(), StartupGuard::ExitDataFolderUnusable);
        });
        QVERIFY(!guard.IsHeld());
        QVERIFY(guard.lockFilePath().isEmpty());
        // Ok leads to the help page on the local folder.
        QCOMPARE(links.opened.size(), 1);
        QVERIFY(links.opened.first().toString().startsWith(Const::HelpLocalDocumentsUrl));
    }

    void unreadableLockIsTakenOver_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: a folder stands there
        QTest::newRow("empty file") << QByteArray("");
        QTest::newRow("garbage") << QByteArray("\xff\x00junk\nmore", 10);
        QTest::newRow("folder") << QByteArray();
    }

    void unreadableLockIsTakenOver()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir base;
        const QString lock = base.filePath(QStringLiteral("single-instance.file"));
        if (content.isNull()) {
            QVERIFY(QDir().mkdir(lock));
        } else {
            QFile file(lock);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        StartupGuard guard(base.path());
        ModalScript().Run([&] { QCOMPARE(guard.Acquire(), 0); });
        QVERIFY(QFileInfo(lock).isFile());
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
