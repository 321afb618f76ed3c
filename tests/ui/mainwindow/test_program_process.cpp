// The real program as a process: one instance per data folder, and SIGTERM through the close
// path. Nothing here waits for the catalogue load.
#include <QDeadlineTimer>
#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
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
    std::unique_ptr<QProcess> Start(bool captureErrors = false, bool ignoreHangUp = false) const
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
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
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

} // namespace

class TestProgramProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(kProgram).isExecutable(), qPrintable(kProgram + QStringLiteral(" is not built")));
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
        auto first = folders.Start(true, nohup);
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
