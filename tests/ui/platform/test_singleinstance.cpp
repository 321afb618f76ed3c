#include "Const.h"
#include "platform/QtSingleApplication.h"
#include "platform/SingleInstanceGuard.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

int TessalyMain(int argc, char *argv[]);

// The child modes of this binary: each prints what it sees for the test process to read.
namespace {
void Say(const QString &line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

template <typename Sender>
void ReportMessages(Sender *sender)
{
    QObject::connect(sender, &Sender::messageReceived, [](const QString &message) {
        Say(QStringLiteral("got:%1:%2").arg(message.size()).arg(message.left(40)));
    });
}

void SetChildNames()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Quillory"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));
}

// First instance: reports its server name, then every message it receives.
int RunPrimary(int argc, char **argv)
{
    SetChildNames();
    QtSingleApplication app(argc, argv);
    if (app.isRunning())
        return 3;
    ReportMessages(&app);
    Say(QStringLiteral("ready ") + app.id());
    return app.exec();
}

// First instance that holds its lock for a while before it listens.
int RunLatePrimary(int argc, char **argv, int delayMs)
{
    SetChildNames();
    QCoreApplication app(argc, argv);
    SingleInstanceGuard guard(SingleInstanceGuard::KeyForDataFolder(
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)));
    if (!guard.Claim())
        return 3;
    ReportMessages(&guard);
    Say(QStringLiteral("claimed ") + guard.serverName());
    QThread::msleep(static_cast<unsigned long>(delayMs));
    guard.Listen();
    Say(QStringLiteral("ready"));
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

    // A child of this test binary in one of the modes above, with its own data location.
    struct Child
    {
        QProcess process;
        QByteArray output;
    };

    static void Prepare(QProcess &process, const QTemporaryDir &data)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }

    // Starts the child and waits for marker; the word after it (a server name), empty on time-out.
    QString Start(Child &child, const QTemporaryDir &data, const QStringList &args, const char *marker = "ready ")
    {
        Prepare(child.process, data);
        QObject::connect(&child.process, &QProcess::readyReadStandardOutput, &child.process,
                         [&child]() { child.output += child.process.readAllStandardOutput(); });
        child.process.start(QCoreApplication::applicationFilePath(), args);
        QElapsedTimer clock;
        clock.start();
        while (WordAfter(child.output, marker).isEmpty() && clock.elapsed() < 10000)
            QTest::qWait(10);
        return WordAfter(child.output, marker);
    }

    static QString WordAfter(const QByteArray &output, const char *marker)
    {
        const int at = output.indexOf(marker);
        const int end = output.indexOf('\n', at);
        if (at < 0 || end < 0)
            return QString();
        const int from = at + int(qstrlen(marker));
        return QString::fromUtf8(output.mid(from, end - from)).trimmed();
    }

    // Runs a later start to its end; its exit status as the shell sees it, or -1.
    static int RunToEnd(const QTemporaryDir &data, const QStringList &args, QByteArray *output = nullptr)
    {
        QProcess second;
        Prepare(second, data);
        second.start(QCoreApplication::applicationFilePath(), args);
        if (!second.waitForFinished(15000)) {
            second.kill();
            second.waitForFinished();
            return -1;
        }
        if (output)
            *output = second.readAllStandardOutput();
        return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1;
    }

    // Kills the child and removes what a killed instance leaves in the runtime folder.
    static void Stop(Child &child)
    {
        child.process.kill();
        child.process.waitForFinished(5000);
        child.output += child.process.readAllStandardOutput();
        QString name = WordAfter(child.output, "ready ");
        if (name.isEmpty())
            name = WordAfter(child.output, "claimed ");
        if (!name.isEmpty()) {
            QFile::remove(SingleInstanceGuard(name).lockFilePath());
            QLocalServer::removeServer(SingleInstanceGuard(name).socketPath());
        }
    }

private slots:
    void staleSocketAfterCrashIsReplaced()
    {
        QTemporaryDir data;
        QString name;
        {
            Child crashed;
            name = Start(crashed, data, {QStringLiteral("--primary")});
            QVERIFY(!name.isEmpty());
            // SIGKILL: neither socket nor lock file is cleaned up.
            crashed.process.kill();
            crashed.process.waitForFinished(5000);
        }
        SingleInstanceGuard probe(name);
        QVERIFY(QFile::exists(probe.lockFilePath()));
        QLocalSocket dead;
        dead.connectToServer(probe.socketPath());
        QVERIFY(!dead.waitForConnected(500));

        Child next;
        QCOMPARE(Start(next, data, {QStringLiteral("--primary")}), name);
        QCOMPARE(RunToEnd(data, {QStringLiteral("--entry")}), 0);
        QTRY_VERIFY(next.output.contains("got:17:raise_window_noop"));
        Stop(next);
    }

    void messagesAreLengthLimited()
    {
        QTemporaryDir data;
        Child first;
        const QString name = Start(first, data, {QStringLiteral("--primary")});
        QVERIFY(!name.isEmpty());

        // A frame announcing a megabyte is cut off before it is read.
        QLocalSocket raw;
        raw.connectToServer(SingleInstanceGuard(name).socketPath());
        QVERIFY(raw.waitForConnected(2000));
        QByteArray frame(4, '\0');
        qToBigEndian<quint32>(1024 * 1024, frame.data());
        raw.write(frame + QByteArray(8192, 'x'));
        raw.flush();
        QVERIFY(raw.state() == QLocalSocket::UnconnectedState || raw.waitForDisconnected(3000));
        QCOMPARE(raw.bytesAvailable(), 0); // no acknowledgement

        SingleInstanceGuard sender(name);
        QVERIFY(!sender.SendMessage(QString(SingleInstanceGuard::MaxMessageBytes + 1, QLatin1Char('y')), 2000));
        QVERIFY(sender.SendMessage(QString(SingleInstanceGuard::MaxMessageBytes, QLatin1Char('z')), 2000));
        QTRY_VERIFY(first.output.contains("got:4096:zzzz"));
        QCOMPARE(first.output.count("got:"), 1);
        Stop(first);
    }

    void entryEndsWith44WhenNobodyCanBeReached_data()
    {
        QTest::addColumn<bool>("guardClaimed"); // else only the base folder's lock file is held
        QTest::newRow("lock file held") << false;
        QTest::newRow("first claimed but never listens") << true;
    }

    void entryEndsWith44WhenNobodyCanBeReached()
    {
        QFETCH(bool, guardClaimed);
        QTemporaryDir data;
        Child holder;
        // The names are set before any folder is asked for: the data lives under Quillory/.
        const QString baseFolder = data.filePath(QStringLiteral("Quillory/Tessaly_LocalFolder"));
        QLockFile held(baseFolder + QStringLiteral("/single-instance.file"));
        if (guardClaimed) {
            QVERIFY(!Start(holder, data, {QStringLiteral("--late-primary"), QStringLiteral("60000")}, "claimed ").isEmpty());
        } else {
            QVERIFY(QDir().mkpath(baseFolder));
            QVERIFY(held.tryLock(0));
        }
        QByteArray output;
        QCOMPARE(RunToEnd(data, {QStringLiteral("--entry")}, &output), 44);
        QVERIFY(output.contains("box:Error|Only a single instance"));
        if (guardClaimed)
            Stop(holder);
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
            QCOMPARE(QFileInfo(guard.lockFilePath()).absolutePath(), folder);
            QCOMPARE(QFileInfo(guard.socketPath()).absolutePath(), folder);
            QVERIFY(runtimeSet ? folder == own.path() : folder.startsWith(QDir::homePath()));
            QCOMPARE(QFileInfo(folder).permissions() & 0x0077, QFile::Permissions());
            if (content.isNull()) {
                QVERIFY(QDir().mkdir(guard.lockFilePath()));
            } else {
                QFile file(guard.lockFilePath());
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(content);
            }
            QVERIFY(guard.Claim());
            QVERIFY(guard.Listen());
            QVERIFY(QFileInfo(guard.lockFilePath()).isFile());
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
    if (mode == "--primary")
        return RunPrimary(argc, argv);
    if (mode == "--late-primary" && argc >= 3)
        return RunLatePrimary(argc, argv, QByteArray(argv[2]).toInt());
    if (mode == "--entry")
        return RunEntry(argc, argv);
    QCoreApplication app(argc, argv);
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_singleinstance.moc"
