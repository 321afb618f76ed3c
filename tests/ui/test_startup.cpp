#include "Const.h"
#include "QtSingleApplication.h"
#include "StartupArguments.h"
#include "StartupGuard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QLockFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <cstdio>
#include <functional>

int TessalyMain(int argc, char *argv[]);

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
            if (onBox) {
                onBox(box->windowTitle() + QLatin1Char('|') + box->text());
            }
            if (QAbstractButton *button = box->button(answer)) {
                button->click();
            } else {
                box->reject();
            }
        });
        timer.start();
    }

    QStringList seen;
    std::function<void(const QString &)> onBox;

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

// Child mode: the real entry function, with every box cancelled and reported on stdout.
void InstallChildAnswerer()
{
    auto *answerer = new BoxAnswerer(QMessageBox::Cancel, QCoreApplication::instance());
    answerer->onBox = [](const QString &box) {
        std::printf("box:%s\n", box.toUtf8().constData());
        std::fflush(stdout);
    };
}

int RunEntryChild(int argc, char **argv)
{
    qAddPreRoutine(InstallChildAnswerer);
    QVector<char *> args;
    args << argv[0];
    for (int i = 2; i < argc; ++i) {
        args << argv[i];
    }
    int count = args.size();
    args << nullptr;
    return TessalyMain(count, args.data());
}

// Child mode: a first instance as the entry function would find it.
int RunInstanceChild(int argc, char **argv)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Quillory"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));
    QtSingleApplication app(argc, argv);
    if (app.isRunning()) {
        return 3;
    }
    QObject::connect(&app, &QtSingleApplication::messageReceived, [](const QString &message) {
        std::printf("got:%s\n", message.toUtf8().constData());
        std::fflush(stdout);
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

    LinkCatcher links;

    QProcessEnvironment EnvFor(const QTemporaryDir &data) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

    // Runs the entry function in a child; returns its exit status as the shell sees it.
    int RunEntry(const QTemporaryDir &data, QByteArray *output)
    {
        QProcess child;
        child.setProcessEnvironment(EnvFor(data));
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--entry")});
        if (!child.waitForFinished(15000)) {
            child.kill();
            child.waitForFinished();
            return -1;
        }
        *output = child.readAllStandardOutput();
        return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    }

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

    void lockIsExclusiveAndReleased()
    {
        QTemporaryDir base;
        BoxAnswerer answerer(QMessageBox::Cancel);
        StartupGuard first(base.path());
        QCOMPARE(first.Acquire(), 0);
        QVERIFY(first.IsHeld());
        QCOMPARE(first.lockFilePath(), base.filePath(QStringLiteral("single-instance.file")));
        QVERIFY(QFile::exists(first.lockFilePath()));
        QVERIFY(answerer.seen.isEmpty());

        StartupGuard second(base.path());
        QCOMPARE(second.Acquire(), StartupGuard::ExitLockBusy);
        QCOMPARE(answerer.seen, QStringList{QStringLiteral("Error|") + OneInstanceText});
        QVERIFY(links.opened.isEmpty()); // Cancel opens nothing

        first.Release();
        QVERIFY(!QFile::exists(base.filePath(QStringLiteral("single-instance.file"))));
        QCOMPARE(second.Acquire(), 0);
    }

    void lockHeldElsewhereOffersHelp()
    {
        QTemporaryDir base;
        QLockFile other(base.filePath(QStringLiteral("single-instance.file")));
        QVERIFY(other.tryLock(0));
        BoxAnswerer answerer(QMessageBox::Yes);
        StartupGuard guard(base.path());
        QCOMPARE(guard.Acquire(), StartupGuard::ExitLockBusy);
        QCOMPARE(links.opened.size(), 1);
        QVERIFY(links.opened.first().toString().startsWith(Const::HelpOneInstanceUrl));

        // A "folder" that is a file cannot take the lock file: the lock box comes first.
        QFile plain(base.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        StartupGuard onFile(plain.fileName());
        QCOMPARE(onFile.Acquire(), StartupGuard::ExitLockBusy);
        QCOMPARE(answerer.seen.size(), 2);
    }

    void entryEndsWith44WhenLockIsHeld()
    {
        QTemporaryDir data;
        // The names are set before any folder is asked for: the data lives under Quillory/.
        const QString baseFolder = data.filePath(QStringLiteral("Quillory/Tessaly_LocalFolder"));
        QVERIFY(QDir().mkpath(baseFolder));
        QLockFile held(baseFolder + QStringLiteral("/single-instance.file"));
        QVERIFY(held.tryLock(0));

        QByteArray output;
        QCOMPARE(RunEntry(data, &output), 44);
        QVERIFY(output.contains("box:Error|Only a single instance"));
    }

    void secondStartOnlyRaisesTheFirst()
    {
        QTemporaryDir data;
        QProcess first;
        QByteArray firstOutput;
        first.setProcessEnvironment(EnvFor(data));
        first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        connect(&first, &QProcess::readyReadStandardOutput, this, [&]() { firstOutput += first.readAllStandardOutput(); });
        first.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--instance")});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(firstOutput.contains("ready"), 10000);

        QElapsedTimer clock;
        clock.start();
        QByteArray output;
        QCOMPARE(RunEntry(data, &output), 0);
        QVERIFY(clock.elapsed() < 6000);
        QVERIFY(!output.contains("box:"));
        QTRY_VERIFY(firstOutput.contains("got:raise_window_noop"));
        // Neither the base folder nor its lock file was touched.
        QVERIFY(!QFileInfo::exists(data.filePath(QStringLiteral("Quillory/Tessaly_LocalFolder"))));
        first.kill();
        first.waitForFinished();
    }
};

int main(int argc, char *argv[])
{
    if (argc >= 2 && QByteArray(argv[1]) == "--entry") {
        return RunEntryChild(argc, argv);
    }
    if (argc >= 2 && QByteArray(argv[1]) == "--instance") {
        return RunInstanceChild(argc, argv);
    }
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_startup.moc"
