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

const QString OneInstanceText = QStringLiteral("Only a single instance of this software can run, do you want to get more information?");
const QString LocalFolderText = QStringLiteral("The current software cannot access the local document folder, do you want to get more information?");

} // namespace

// Catches links handed to the desktop instead of starting a browser.
class LinkCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

class TestStartup : public QObject
{
    Q_OBJECT
    LinkCatcher links;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &links, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &links, "open");
    }

    void init() { links.opened.clear(); }

    void startHiddenWords_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("none") << QStringList{"tessaly"} << false;
        QTest::newRow("background") << QStringList{"tessaly", "/background"} << true;
        QTest::newRow("any case") << QStringList{"tessaly", "/BackGround"} << true;
        QTest::newRow("with restart") << QStringList{"tessaly", "/background", "/restart"} << false;
        QTest::newRow("restart first, any case") << QStringList{"tessaly", "/RESTART", "/background"} << false;
        QTest::newRow("without slash") << QStringList{"tessaly", "background"} << false;
    }

    void startHiddenWords()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, hidden);
        QCOMPARE(StartupArguments::IsStartHiddenRequested(arguments), hidden);
    }

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

    void lockIsExclusiveAndOffersHelp()
    {
        QTemporaryDir base;
        StartupGuard first(base.path());
        ModalScript().Run([&] { QCOMPARE(first.Acquire(), 0); });
        QCOMPARE(first.lockFilePath(), base.filePath(QStringLiteral("single-instance.file")));
        QVERIFY(QFile::exists(first.lockFilePath()));

        StartupGuard second(base.path());
        ModalScript({Answer(QMessageBox::Yes, "Error", OneInstanceText)}).Run([&] {
            QCOMPARE(second.Acquire(), StartupGuard::ExitLockBusy);
        });
        QCOMPARE(links.opened.size(), 1);
        QVERIFY(links.opened.first().toString().startsWith(Const::HelpOneInstanceUrl));

        first.Release();
        QVERIFY(!QFile::exists(base.filePath(QStringLiteral("single-instance.file"))));
        QCOMPARE(second.Acquire(), 0);

        // A "folder" that is a file cannot take the lock file: the lock box comes first.
        QFile plain(base.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        StartupGuard onFile(plain.fileName());
        ModalScript({Answer(QMessageBox::Yes, "Error", OneInstanceText)}).Run([&] {
            QCOMPARE(onFile.Acquire(), StartupGuard::ExitLockBusy);
        });
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
