#include "Const.h"
#include "TestSandbox.h"
#include "platform/QtSingleApplication.h"
#include "platform/SingleInstanceGuard.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

int TessalyMain(int argc, char *argv[]);

// The child modes of this binary: each prints what it sees for the test process to read.
namespace {
void Say(const QString &line)
{
    QTextStream(stdout) << line << Qt::endl;
}

// First instance: reports its server name, then every message it receives.
int RunPrimary(int argc, char **argv)
{
    QtSingleApplication app(argc, argv);
    if (app.isRunning())
        return 3;
    QObject::connect(&app, &QtSingleApplication::messageReceived, [](const QString &message) {
        Say(QStringLiteral("got:%1:%2").arg(message.size()).arg(message.left(40)));
    });
    Say(QStringLiteral("ready ") + app.id());
    return app.exec();
}

// The real entry function; every message box is cancelled and reported on stdout.
int RunEntry(int argc, char **argv)
{
    qAddPreRoutine([]() {
        auto *timer = new QTimer(QCoreApplication::instance());
        QObject::connect(timer, &QTimer::timeout, []() {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box && box->isVisible()) {
                Say(QStringLiteral("box:") + box->windowTitle() + QLatin1Char('|') + box->text());
                box->reject();
            }
        });
        timer->start(10);
    });
    argv[1] = argv[0];
    // Never look up the shipped service host from a test.
    Const::SetServiceRootsForTesting(QStringLiteral("http://127.0.0.1:9"), QStringLiteral("http://127.0.0.1:9"),
                                     QString());
    return TessalyMain(argc - 1, argv + 1);
}
} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

    // A child of this test binary in one of the modes above, with its own data location. Once it
    // ends, what a killed instance leaves in the runtime folder is removed.
    struct Child : QProcess
    {
        explicit Child(const QTemporaryDir &data)
        {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            setProcessEnvironment(env);
            setProcessChannelMode(QProcess::ForwardedErrorChannel);
        }
        ~Child() override
        {
            kill();
            waitForFinished(5000);
            if (!name.isEmpty()) {
                QFile::remove(SingleInstanceGuard(name).lockFilePath());
                QLocalServer::removeServer(SingleInstanceGuard(name).socketPath());
            }
        }
        // Starts a first instance and waits until it is ready; its server name, empty on time-out.
        QString Start()
        {
            connect(this, &QProcess::readyReadStandardOutput, this, [this]() { output += readAllStandardOutput(); });
            start(QCoreApplication::applicationFilePath(), {QStringLiteral("--primary")});
            if (QTest::qWaitFor([this]() { return output.contains('\n'); }, 10000) && output.startsWith("ready "))
                name = QString::fromUtf8(output.mid(6, output.indexOf('\n') - 6));
            return name;
        }
        // Runs a later start to its end; its exit status as the shell sees it, or -1.
        int RunToEnd(const QStringList &args)
        {
            start(QCoreApplication::applicationFilePath(), args);
            if (!waitForFinished(15000))
                return -1;
            output = readAllStandardOutput();
            return exitStatus() == QProcess::NormalExit ? exitCode() : -1;
        }
        QByteArray output;
        QString name;
    };

private slots:
    // A crashed first instance is replaced; the next one takes later starts' messages up to the size limit.
    void staleSocketReplacedAndMessagesLengthLimited()
    {
        QTemporaryDir data;
        Child crashed(data);
        const QString name = crashed.Start();
        QVERIFY(!name.isEmpty());
        // SIGKILL: neither socket nor lock file is cleaned up.
        crashed.kill();
        crashed.waitForFinished(5000);
        SingleInstanceGuard probe(name);
        QVERIFY(QFile::exists(probe.lockFilePath()));
        QLocalSocket dead;
        dead.connectToServer(probe.socketPath());
        QVERIFY(!dead.waitForConnected(500));

        Child next(data);
        QCOMPARE(next.Start(), name);
        QCOMPARE(Child(data).RunToEnd({QStringLiteral("--entry")}), 0);
        QTRY_VERIFY(next.output.contains("got:17:raise_window_noop"));

        // A frame announcing a megabyte is cut off before it is read.
        QLocalSocket raw;
        raw.connectToServer(probe.socketPath());
        QVERIFY(raw.waitForConnected(2000));
        raw.write(QByteArray::fromHex("00100000") + QByteArray(8192, 'x'));
        raw.flush();
        QVERIFY(raw.state() == QLocalSocket::UnconnectedState || raw.waitForDisconnected(3000));
        QCOMPARE(raw.bytesAvailable(), 0); // no acknowledgement

        QVERIFY(!probe.SendMessage(QString(SingleInstanceGuard::MaxMessageBytes + 1, QLatin1Char('y')), 2000));
        QVERIFY(probe.SendMessage(QString(SingleInstanceGuard::MaxMessageBytes, QLatin1Char('z')), 2000));
        QTRY_VERIFY(next.output.contains("got:4096:zzzz"));
        QCOMPARE(next.output.count("got:"), 2);
    }

    void entryEndsWith44WhenNobodyCanBeReached_data()
    {
        QTest::addColumn<bool>("guardClaimed"); // else only the base folder's lock file is held
        QTest::newRow("lock file held") << false;
        QTest::newRow("claimed but never listens") << true;
    }

    void entryEndsWith44WhenNobodyCanBeReached()
    {
        QFETCH(bool, guardClaimed);
        QTemporaryDir data;
        // The names are set before any folder is asked for: the data lives under Quillory/.
        const QString baseFolder = data.filePath(QStringLiteral("Quillory/Tessaly_LocalFolder"));
        QLockFile held(baseFolder + QStringLiteral("/single-instance.file"));
        // Held by this process, which is alive but takes no messages.
        SingleInstanceGuard guard(
            SingleInstanceGuard::KeyForDataFolder(data.filePath(QStringLiteral("Quillory/Tessaly"))));
        if (guardClaimed) {
            QVERIFY(guard.Claim());
        } else {
            QVERIFY(QDir().mkpath(baseFolder));
            QVERIFY(held.tryLock(0));
        }
        Child second(data);
        QCOMPARE(second.RunToEnd({QStringLiteral("--entry")}), 44);
        QVERIFY(second.output.contains("box:Error|Only a single instance"));
    }

    void lockAndSocketArePrivateAndStaleOnesTakenOver_data()
    {
        QTest::addColumn<bool>("runtimeSet");
        QTest::addColumn<QByteArray>("content"); // null: a folder stands at the lock path
        QTest::newRow("runtime folder, empty lock") << true << QByteArray("");
        QTest::newRow("runtime folder, garbage lock") << true << QByteArray("\x01\x02garbage\n\n\n");
        QTest::newRow("runtime folder, folder as lock") << true << QByteArray();
        QTest::newRow("no runtime folder, empty lock") << false << QByteArray("");
    }

    void lockAndSocketArePrivateAndStaleOnesTakenOver()
    {
        QFETCH(bool, runtimeSet);
        QFETCH(QByteArray, content);
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        QTemporaryDir own;
        qputenv("XDG_RUNTIME_DIR", runtimeSet ? QFile::encodeName(own.path()) : QByteArray());
        const QString folder = SingleInstanceGuard::RuntimeFolder();
        {
            SingleInstanceGuard guard(QStringLiteral("tessaly-stale-%1").arg(QTest::currentDataTag()).replace(' ', '-'));
            const QString lock = guard.lockFilePath();
            QCOMPARE(QFileInfo(lock).absolutePath(), folder);
            QCOMPARE(QFileInfo(guard.socketPath()).absolutePath(), folder);
            QVERIFY(runtimeSet ? folder == own.path() : folder.startsWith(QDir::homePath()));
            QCOMPARE(QFileInfo(folder).permissions() & 0x0077, QFile::Permissions());
            QVERIFY(content.isNull() ? QDir().mkdir(lock) : TestSandbox::WriteBytes(lock, content));
            QVERIFY(guard.Claim());
            QVERIFY(guard.Listen());
            QVERIFY(QFileInfo(lock).isFile());
        }
        qputenv("XDG_RUNTIME_DIR", runtime);
    }

    void listensAgainAfterDescriptorShortage()
    {
        SingleInstanceGuard guard(QStringLiteral("tessaly-starved"));
        QVERIFY(guard.Claim());
        QVERIFY(guard.Listen());
        // A client waits in the backlog while the process has no descriptor left to accept it.
        QLocalSocket early;
        early.connectToServer(guard.socketPath());
        QVERIFY(early.waitForConnected(1000));
        struct rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
        struct rlimit low = saved;
        low.rlim_cur = qMin<rlim_t>(saved.rlim_cur, 1024);
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
        QList<int> hogs;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
            hogs.append(fd);
        QTRY_VERIFY_WITH_TIMEOUT(!guard.IsListening(), 2000);
        for (int fd : qAsConst(hogs))
            ::close(fd);
        setrlimit(RLIMIT_NOFILE, &saved);
        QTRY_VERIFY_WITH_TIMEOUT(guard.IsListening(), 3000);
        QLocalSocket later;
        later.connectToServer(guard.socketPath());
        QVERIFY(later.waitForConnected(1000));
    }
};

int main(int argc, char *argv[])
{
    const QByteArray mode(argc >= 2 ? argv[1] : "");
    if (mode == "--entry")
        return RunEntry(argc, argv);
    if (mode == "--primary") {
        // The program's names, so that the data lives under Quillory/.
        QCoreApplication::setOrganizationName(QStringLiteral("Quillory"));
        QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));
        return RunPrimary(argc, argv);
    }
    QCoreApplication app(argc, argv);
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_singleinstance.moc"
