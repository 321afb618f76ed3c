#include "Const.h"
#include "mainwindow/StartupArguments.h"
#include "mainwindow/StartupGuard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>


namespace {
// Answers every message box that becomes the active modal widget and records what it said.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QMessageBox::StandardButton reply, QObject *parent = nullptr)
        : QObject(parent)
        , answer(reply)
    {
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, [this]() {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) {
                return;
            }
            seen << box->windowTitle() + QLatin1Char('|') + box->text();
            if (QAbstractButton *button = box->button(answer)) {
                button->click();
            } else {
                box->reject();
            }
        });
        timer.start();
    }

    QStringList seen;

private:
    QMessageBox::StandardButton answer;
    QTimer timer;
};

// Catches links handed to the desktop instead of starting a browser.
class LinkCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

const QString OneInstanceText = QStringLiteral("Only a single instance of this software can run, do you want to get more information?");
const QString LocalFolderText = QStringLiteral("The current software cannot access the local document folder, do you want to get more information?");

} // namespace

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

    void init()
    {
        links.opened.clear();
    }

    void startHiddenWords_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("hidden");
        const QString exe = QStringLiteral("tessaly");
        QTest::newRow("none") << QStringList{exe} << false;
        QTest::newRow("background") << QStringList{exe, QStringLiteral("/background")} << true;
        QTest::newRow("any case") << QStringList{exe, QStringLiteral("/BackGround")} << true;
        QTest::newRow("with restart") << QStringList{exe, QStringLiteral("/background"), QStringLiteral("/restart")} << false;
        QTest::newRow("restart first, any case") << QStringList{exe, QStringLiteral("/RESTART"), QStringLiteral("/background")} << false;
        QTest::newRow("without slash") << QStringList{exe, QStringLiteral("background")} << false;
        QTest::newRow("restart alone") << QStringList{exe, QStringLiteral("/restart")} << false;
    }

    void startHiddenWords()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, hidden);
        QCOMPARE(StartupArguments::IsStartHiddenRequested(arguments), hidden);
    }

    void unknownFolderFailsBeforeAnyLock()
    {
        BoxAnswerer answerer(QMessageBox::Ok);
        StartupGuard guard{QString()};
        QCOMPARE(guard.Acquire(), StartupGuard::ExitDataFolderUnusable);
        QVERIFY(!guard.IsHeld());
        QVERIFY(guard.lockFilePath().isEmpty());
        QCOMPARE(answerer.seen, QStringList{QStringLiteral("Info|") + LocalFolderText});
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
        BoxAnswerer answerer(QMessageBox::Cancel);
        const QString lock = base.filePath(QStringLiteral("single-instance.file"));
        if (content.isNull()) {
            QVERIFY(QDir().mkdir(lock));
        } else {
            QFile file(lock);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        StartupGuard guard(base.path());
        QCOMPARE(guard.Acquire(), 0);
        QVERIFY(answerer.seen.isEmpty());
        QVERIFY(QFileInfo(lock).isFile());
    }

    void lockIsExclusiveAndOffersHelp()
    {
        QTemporaryDir base;
        BoxAnswerer answerer(QMessageBox::Yes);
        StartupGuard first(base.path());
        QCOMPARE(first.Acquire(), 0);
        QCOMPARE(first.lockFilePath(), base.filePath(QStringLiteral("single-instance.file")));
        QVERIFY(QFile::exists(first.lockFilePath()));
        QVERIFY(answerer.seen.isEmpty());

        StartupGuard second(base.path());
        QCOMPARE(second.Acquire(), StartupGuard::ExitLockBusy);
        QCOMPARE(answerer.seen, QStringList{QStringLiteral("Error|") + OneInstanceText});
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
        QCOMPARE(onFile.Acquire(), StartupGuard::ExitLockBusy);
        QCOMPARE(answerer.seen.size(), 2);
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
