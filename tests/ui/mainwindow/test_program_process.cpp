// The real program as a process: one instance per data folder, the lock file's exit status,
// and SIGTERM through the close path. Nothing here waits for the catalogue load.
#include <QDir>
#include <QDeadlineTimer>
#include <QLibraryInfo>
#include <QLockFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

// The program's own entry built with its service pointed at a closed loopback port, so that a
// run never looks up the shipped service host.
const QString kProgram = qEnvironmentVariable("TESSALY_TEST_BINARY_DIR") + QStringLiteral("/tests/e2e/tessaly-e2e");

// A private home and data folders for program runs. With a home length, the home folder's path
// has that many characters and only the temporary folder is given besides: no runtime folder.
struct ProgramFolders
{
    explicit ProgramFolders(int homeLength = 0)
        : homeLength(homeLength)
    {
    }
    QTemporaryDir dir;
    const int homeLength;
    QString Home() const
    {
        return homeLength == 0 ? dir.path() : dir.filePath(QString(homeLength - dir.path().size() - 1, QLatin1Char('h')));
    }
    QString BaseFolder() const
    {
        const QString dataHome = homeLength == 0 ? dir.filePath(QStringLiteral("data")) : Home() + QStringLiteral("/.local/share");
        return dataHome + QStringLiteral("/Quillory/Tessaly_LocalFolder");
    }
    QString LockPath() const { return BaseFolder() + QStringLiteral("/single-instance.file"); }

    // With captureErrors the program's diagnostics are kept for readAllStandardError.
    // With ignoreHangUp it starts as nohup starts it: SIGHUP ignored.
    std::unique_ptr<QProcess> Start(const QString &platform = QStringLiteral("offscreen"), bool captureErrors = false,
                                    bool ignoreHangUp = false) const
    {
        for (const QString &name : {QStringLiteral("run"), QStringLiteral("tmp")}) {
            QDir(dir.path()).mkpath(name);
            QFile::setPermissions(dir.filePath(name), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        QDir().mkpath(Home());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QList<QPair<QString, QString>> folders{{"XDG_DATA_HOME", "data"},
            {"XDG_CONFIG_HOME", "config"}, {"XDG_CACHE_HOME", "cache"}, {"XDG_RUNTIME_DIR", "run"}};
        for (const auto &folder : folders)
            homeLength == 0 ? env.insert(folder.first, dir.filePath(folder.second)) : env.remove(folder.first);
        env.insert(QStringLiteral("HOME"), Home());
        env.insert(QStringLiteral("TMPDIR"), dir.filePath(QStringLiteral("tmp")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        env.insert(QStringLiteral("TESSALY_E2E_SERVICE_URL"), QStringLiteral("http://127.0.0.1:9"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("tessaly.diagnostics.debug=true"));
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(captureErrors ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
        process->setStandardOutputFile(QProcess::nullDevice());
        ignoreHangUp ? process->start(QStringLiteral("nohup"), {kProgram}) : process->start(kProgram, QStringList());
        return process;
    }
};

// Waits up to timeoutMs for the end: the exit code, -1 after a crash, -2 (killed) when it did not end.
int ExitCode(QProcess &process, int timeoutMs)
{
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return -2;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// The window is on a virtual screen served over VNC: press Escape on it, as a user answering the
// message box would. Minimal RFB 3.3 client without authentication.
class KeyPresser
{
public:
    // Connects and shakes hands: version, security type "none", ClientInit (shared), ServerInit and its name.
    bool Connect(quint16 port, int timeoutMs)
    {
        for (QDeadlineTimer deadline(timeoutMs); !socket.waitForConnected(500); QTest::qWait(50)) {
            if (deadline.hasExpired())
                return false;
            socket.abort();
            socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        }
        if (!Read(12).startsWith("RFB ") || socket.write("RFB 003.003\n") != 12 || Read(4) != QByteArray::fromHex("00000001")
            || socket.write(QByteArray(1, '\1')) != 1)
            return false;
        const QByteArray init = Read(24);
        const int nameLength = init.size() == 24 ? int(qFromBigEndian<quint32>(init.constData() + 20)) : -1;
        return Read(nameLength).size() == nameLength;
    }

    bool PressEscape()
    {
        // Two KeyEvents (type 4, down flag, padding, keysym): Escape (0xff1b) down, then up.
        const QByteArray events = QByteArray::fromHex("040100000000ff1b040000000000ff1b");
        return socket.write(events) == events.size() && (socket.waitForBytesWritten(1000) || socket.bytesToWrite() == 0);
    }

private:
    QByteArray Read(int size)
    {
        QByteArray data;
        while (data.size() < size && (socket.bytesAvailable() > 0 || socket.waitForReadyRead(3000)))
            data += socket.read(size - data.size());
        return data;
    }

    QTcpSocket socket;
};

} // namespace

class TestProgramProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(kProgram).isExecutable(), qPrintable(kProgram + QStringLiteral(" is not built")));
    }

    void heldLockFileEndsWith44()
    {
        ProgramFolders folders;
        QVERIFY(QDir().mkpath(folders.BaseFolder()));
        QLockFile held(folders.LockPath());
        QVERIFY(held.tryLock(0));

        // The program tells the user in a message box before it ends; Escape answers it.
        if (!QFileInfo::exists(QLibraryInfo::location(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms/libqvnc.so")))
            QSKIP("the VNC platform plugin is not installed: nobody could answer the message box");
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        auto program = folders.Start(QStringLiteral("vnc:size=800x600:port=%1").arg(port));
        QVERIFY(program->waitForStarted(5000));
        KeyPresser keys;
        QVERIFY(keys.Connect(port, 10000));
        for (QDeadlineTimer deadline(15000); program->state() != QProcess::NotRunning && !deadline.hasExpired();) {
            QVERIFY(keys.PressEscape());
            program->waitForFinished(300);
        }
        QCOMPARE(ExitCode(*program, 0), 44);
        // Our lock is untouched.
        QVERIFY(held.isLocked() && QFileInfo::exists(folders.LockPath()));
    }

    void secondStartLeavesTheFirstRunningAndSigtermEndsIt_data()
    {
        QTest::addColumn<int>("homeLength"); // 0: a runtime folder of its own
        QTest::addColumn<bool>("nohup"); // started with SIGHUP ignored, which it must stay
        QTest::newRow("own runtime folder") << 0 << false;
        QTest::newRow("own runtime folder, nohup") << 0 << true;
        // Too long a home for a socket below it.
        QTest::newRow("120-character home, no runtime folder") << 120 << false;
    }

    void secondStartLeavesTheFirstRunningAndSigtermEndsIt()
    {
        QFETCH(int, homeLength);
        QFETCH(bool, nohup);
        ProgramFolders folders(homeLength);
        QCOMPARE(folders.Home().size(), homeLength == 0 ? folders.dir.path().size() : homeLength);
        auto first = folders.Start(QStringLiteral("offscreen"), true, nohup);
        QVERIFY(first->waitForStarted(5000));
        // The lock file appears once the first instance owns the data folder.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(folders.LockPath()) || first->state() == QProcess::NotRunning, 10000);
        QCOMPARE(first->state(), QProcess::Running);
        QTest::qWait(300);

        const QDeadlineTimer deadline(6000);
        auto second = folders.Start();
        QVERIFY(second->waitForStarted(5000));
        QCOMPARE(ExitCode(*second, 6000), 0);
        QVERIFY2(!deadline.hasExpired(), "the second start did not end within 6 s");
        // The first instance got the message and raised its window.
        QByteArray diagnostics;
        QTRY_VERIFY_WITH_TIMEOUT((diagnostics += first->readAllStandardError()).contains("on_action_on_show_Window_triggered Called"), 5000);
        QCOMPARE(first->state(), QProcess::Running);
        // A lock attempt by anyone else still fails while the first runs.
        QVERIFY(!QLockFile(folders.LockPath()).tryLock(0));

        if (nohup) {
            ::kill(static_cast<pid_t>(first->processId()), SIGHUP);
            QVERIFY(!first->waitForFinished(500));
        }
        ::kill(static_cast<pid_t>(first->processId()), SIGTERM);
        QCOMPARE(ExitCode(*first, 15000), 0); // -2: SIGTERM did not end the program
        // It let go of its lock and its data folder is still there.
        QVERIFY(QFileInfo(folders.BaseFolder()).isDir() && QLockFile(folders.LockPath()).tryLock(0));
    }
};

QTEST_GUILESS_MAIN(TestProgramProcess)
#include "test_program_process.moc"
