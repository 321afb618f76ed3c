// The real program as a process: one instance per data folder, the lock file's exit status,
// and SIGTERM through the close path. Nothing here waits for the catalogue load.
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLockFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/types.h>

namespace {

// The program's own entry built with its service pointed at a closed loopback port, so that a
// run never looks up the shipped service host.
QString ProgramPath()
{
    return qEnvironmentVariable("TESSALY_TEST_BINARY_DIR") + QStringLiteral("/tests/e2e/tessaly-e2e");
}

// A private home and data folders for one program run.
class ProgramFolders
{
public:
    ProgramFolders()
    {
        if (!dir.isValid())
            return;
        QDir(dir.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(dir.filePath(QStringLiteral("run")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    bool IsValid() const { return dir.isValid(); }
    QString DataHome() const { return dir.filePath(QStringLiteral("data")); }
    QString BaseFolder() const { return DataHome() + QStringLiteral("/Quillory/Tessaly_LocalFolder"); }
    QString LockPath() const { return BaseFolder() + QStringLiteral("/single-instance.file"); }

    QProcessEnvironment Environment(const QString &platform) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), DataHome());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        env.insert(QStringLiteral("TESSALY_E2E_SERVICE_URL"), QStringLiteral("http://127.0.0.1:9"));
        return env;
    }

private:
    QTemporaryDir dir;
};

std::unique_ptr<QProcess> StartProgram(const ProgramFolders &folders, const QString &platform = QStringLiteral("offscreen"))
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(folders.Environment(platform));
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start(ProgramPath(), QStringList());
    return process;
}

void Finish(QProcess &process)
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// The window is on a virtual screen served over VNC: press Escape on it, as a user answering the
// message box would. Minimal RFB 3.3 client without authentication.
class KeyPresser
{
public:
    bool Connect(quint16 port, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            socket.connectToHost(QStringLiteral("127.0.0.1"), port);
            if (socket.waitForConnected(500))
                return Handshake();
            socket.abort();
            QTest::qWait(50);
        }
        return false;
    }

    bool PressEscape()
    {
        for (bool down : {true, false}) {
            QByteArray event(8, '\0');
            event[0] = 4; // KeyEvent
            event[1] = down ? 1 : 0;
            qToBigEndian<quint32>(0xff1b, reinterpret_cast<uchar *>(event.data()) + 4);
            if (socket.write(event) != event.size())
                return false;
        }
        return socket.waitForBytesWritten(1000) || socket.bytesToWrite() == 0;
    }

private:
    bool Read(int size, QByteArray *out)
    {
        QByteArray data;
        while (data.size() < size) {
            if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(3000))
                return false;
            data += socket.read(size - data.size());
        }
        if (out)
            *out = data;
        return true;
    }

    bool Handshake()
    {
        QByteArray version;
        if (!Read(12, &version) || !version.startsWith("RFB "))
            return false;
        socket.write("RFB 003.003\n");
        QByteArray security;
        if (!Read(4, &security) || qFromBigEndian<quint32>(security.constData()) != 1)
            return false;
        socket.write(QByteArray(1, '\1')); // ClientInit, shared
        QByteArray init;
        if (!Read(24, &init))
            return false;
        const quint32 nameLength = qFromBigEndian<quint32>(init.constData() + 20);
        return Read(int(nameLength), nullptr);
    }

    QTcpSocket socket;
};

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class TestProgramProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void heldLockFileEndsWith44();
    void secondStartLeavesTheFirstRunningAndSigtermEndsIt();
};

void TestProgramProcess::initTestCase()
{
    QVERIFY2(QFileInfo(ProgramPath()).isExecutable(), qPrintable(ProgramPath() + QStringLiteral(" is not built")));
}

void TestProgramProcess::heldLockFileEndsWith44()
{
    ProgramFolders folders;
    QVERIFY(folders.IsValid());
    QVERIFY(QDir().mkpath(folders.BaseFolder()));
    QLockFile held(folders.LockPath());
    QVERIFY(held.tryLock(0));

    // The program tells the user in a message box before it ends; Escape answers it.
    const QString vncPlugin = QLibraryInfo::location(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms/libqvnc.so");
    if (!QFileInfo::exists(vncPlugin))
        QSKIP("the VNC platform plugin is not installed: nobody could answer the message box");
    const quint16 port = FreePort();
    QVERIFY(port != 0);
    auto program = StartProgram(folders, QStringLiteral("vnc:size=800x600:port=%1").arg(port));
    QVERIFY(program->waitForStarted(5000));
    KeyPresser keys;
    QVERIFY(keys.Connect(port, 10000));
    QElapsedTimer clock;
    clock.start();
    while (program->state() != QProcess::NotRunning && clock.elapsed() < 15000) {
        QVERIFY(keys.PressEscape());
        program->waitForFinished(300);
    }
    const bool ended = program->state() == QProcess::NotRunning;
    Finish(*program);
    QVERIFY(ended);
    QCOMPARE(program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->exitCode(), 44);
    // Our lock is untouched.
    QVERIFY(held.isLocked());
    QVERIFY(QFileInfo::exists(folders.LockPath()));
}

void TestProgramProcess::secondStartLeavesTheFirstRunningAndSigtermEndsIt()
{
    ProgramFolders folders;
    QVERIFY(folders.IsValid());
    auto first = StartProgram(folders);
    QVERIFY(first->waitForStarted(5000));
    // The lock file appears once the first instance owns the data folder.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(folders.LockPath()) || first->state() == QProcess::NotRunning, 10000);
    QCOMPARE(first->state(), QProcess::Running);
    QTest::qWait(300);

    QElapsedTimer clock;
    clock.start();
    auto second = StartProgram(folders);
    QVERIFY(second->waitForStarted(5000));
    const bool secondEnded = second->waitForFinished(6000);
    const qint64 secondTook = clock.elapsed();
    Finish(*second);
    QVERIFY2(secondEnded, "the second start did not end within 6 s");
    QVERIFY(secondTook < 6000);
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QTest::qWait(200);
    QCOMPARE(first->state(), QProcess::Running);

    // A lock attempt by anyone else still fails while the first runs.
    {
        QLockFile probe(folders.LockPath());
        QVERIFY(!probe.tryLock(0));
    }

    ::kill(static_cast<pid_t>(first->processId()), SIGTERM);
    const bool firstEnded = first->waitForFinished(15000);
    Finish(*first);
    QVERIFY2(firstEnded, "SIGTERM did not end the program");
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    // It let go of its lock and its data folder is still there.
    QVERIFY(QFileInfo(folders.BaseFolder()).isDir());
    QLockFile after(folders.LockPath());
    QVERIFY(after.tryLock(0));
}

QTEST_GUILESS_MAIN(TestProgramProcess)
#include "test_program_process.moc"
