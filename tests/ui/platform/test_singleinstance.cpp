#include "Const.h"
#include "TestSandbox.h"
#include "platform/QtSingleApplication.h"
#include "platform/SingleInstanceGuard.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

bool holdBoxes = false;

// The real entry function; every message box is reported on stdout and, unless held, cancelled.
int RunEntry(int argc, char **argv)
{
    qAddPreRoutine([]() {
        auto *timer = new QTimer(QCoreApplication::instance());
        QObject::connect(timer, &QTimer::timeout, []() {
            static QPointer<QMessageBox> told;
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || box == told)
                return;
            Say(QStringLiteral("box:") + box->windowTitle() + QLatin1Char('|') + box->text());
            told = box;
            if (!holdBoxes)
                box->reject();
        });
        timer->start(10);
    });
    argv[1] = argv[0];
    // Never look up the shipped service host from a test.
    Const::SetServiceRootsForTesting(QStringLiteral("http://127.0.0.1:9"), QStringLiteral("http://127.0.0.1:9"),
                                     QString());
    return TessalyMain(argc - 1, argv + 1);
}

// Environment variables changed for one scope; a null value removes the variable.
class EnvScope
{
public:
    void Set(const char *name, const QByteArray &value)
    {
        if (!saved.contains(name))
            saved.insert(name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
        value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    ~EnvScope()
    {
        for (auto it = saved.cbegin(); it != saved.cend(); ++it)
            it.value().isNull() ? qunsetenv(it.key().constData()) : qputenv(it.key().constData(), it.value());
    }

private:
    QHash<QByteArray, QByteArray> saved;
};

mode_t ModeOf(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The start-up boxes as a child reports them.
const QByteArray kSingleBox =
    "box:Error|Only a single instance of this software can run, do you want to get more information?";
const QByteArray kImageCacheBox =
    "box:Info|The current software cannot access the image cache folder, do you want to get more information?";

// A folder whose full path is length characters long.
QString PathOfLength(const QTemporaryDir &dir, int length)
{
    const QString path = dir.path() + QLatin1Char('/');
    return path + QString(length - path.size(), QLatin1Char('d'));
}
} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

    // A child of this test binary in one of the modes above, with its own data location and this
    // test's private folders for everything else (changes: variables to set, null to remove).
    struct Child : QProcess
    {
        explicit Child(const QTemporaryDir &data, const QList<QPair<QString, QString>> &changes = {})
        {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            for (const auto &change : changes)
                change.second.isNull() ? env.remove(change.first) : env.insert(change.first, change.second);
            setProcessEnvironment(env);
            setProcessChannelMode(QProcess::ForwardedErrorChannel);
            connect(this, &QProcess::readyReadStandardOutput, this, [this]() { output += readAllStandardOutput(); });
        }
        ~Child() override
        {
            kill();
            waitForFinished(5000);
        }
        void Launch(const QString &mode) { start(QCoreApplication::applicationFilePath(), {mode}); }
        bool WaitFor(const QByteArray &text)
        {
            const bool settled =
                QTest::qWaitFor([&]() { return output.contains(text) || state() == QProcess::NotRunning; }, 15000);
            return settled && output.contains(text);
        }
        // Starts a first instance and waits until it is ready; its server name, empty on time-out.
        QString Start()
        {
            Launch(QStringLiteral("--primary"));
            return WaitFor("\n") && output.startsWith("ready ")
                       ? QString::fromUtf8(output.mid(6, output.indexOf('\n') - 6))
                       : QString();
        }
        // Its exit status as the shell sees it once it ended, or -1.
        int Finish(int timeoutMs = 15000)
        {
            if (state() != QProcess::NotRunning && !waitForFinished(timeoutMs))
                return -1;
            output += readAllStandardOutput();
            return exitStatus() == QProcess::NormalExit ? exitCode() : -1;
        }
        int RunToEnd(const QString &mode)
        {
            Launch(mode);
            return Finish();
        }
        QByteArray output;
    };

    enum Blocker { LockFileHeld, GuardClaimed, ImageCacheBlocked };

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
        QCOMPARE(Child(data).RunToEnd(QStringLiteral("--entry")), 0);
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

    void startUpBoxEndsTheStartWithItsCode_data()
    {
        QTest::addColumn<int>("blocker");
        QTest::addColumn<int>("signo"); // 0: the box is answered with Escape
        QTest::addColumn<int>("exitCode"); // as the shell sees it
        QTest::addColumn<QString>("box");
        const QString single = QString::fromUtf8(kSingleBox);
        QTest::newRow("lock file held") << int(LockFileHeld) << 0 << 44 << single;
        QTest::newRow("claimed but never listens") << int(GuardClaimed) << 0 << 44 << single;
        QTest::newRow("lock file held, SIGTERM") << int(LockFileHeld) << SIGTERM << 44 << single;
        QTest::newRow("lock file held, SIGINT") << int(LockFileHeld) << SIGINT << 44 << single;
        QTest::newRow("lock file held, SIGHUP") << int(LockFileHeld) << SIGHUP << 44 << single;
        QTest::newRow("image cache blocked, SIGTERM")
            << int(ImageCacheBlocked) << SIGTERM << 0
            << QString::fromUtf8(kImageCacheBox);
    }

    void startUpBoxEndsTheStartWithItsCode()
    {
        QFETCH(int, blocker);
        QFETCH(int, signo);
        QFETCH(int, exitCode);
        QFETCH(QString, box);
        QTemporaryDir data;
        // The names are set before any folder is asked for: the data lives under Quillory/.
        const QString baseFolder = data.filePath(QStringLiteral("Quillory/Tessaly_LocalFolder"));
        QVERIFY(QDir().mkpath(baseFolder));
        QLockFile held(baseFolder + QStringLiteral("/single-instance.file"));
        // Held by this process, which is alive but takes no messages.
        SingleInstanceGuard guard(
            SingleInstanceGuard::KeyForDataFolder(data.filePath(QStringLiteral("Quillory/Tessaly"))));
        if (blocker == GuardClaimed)
            QVERIFY(guard.Claim());
        else if (blocker == LockFileHeld)
            QVERIFY(held.tryLock(0));
        else
            QVERIFY(TestSandbox::WriteBytes(baseFolder + QStringLiteral(" LocalCache1"), QByteArray()));
        Child second(data);
        second.Launch(signo != 0 ? QStringLiteral("--entry-hold") : QStringLiteral("--entry"));
        QVERIFY(second.WaitFor(box.toUtf8() + '\n'));
        if (signo != 0) {
            QTest::qWait(100);
            QCOMPARE(second.state(), QProcess::Running); // the box waits for an answer
            ::kill(pid_t(second.processId()), signo);
        }
        QCOMPARE(second.Finish(), exitCode);
        QVERIFY(QFileInfo::exists(baseFolder + QStringLiteral("/single-instance.file")) == (blocker == LockFileHeld));
    }

    // Without any folder for the lock and the socket, a start still runs, and the data folder's
    // lock file lets exactly one of many concurrent starts through.
    void withoutRuntimeFolderExactlyOneOfManyStartsRuns()
    {
        QTemporaryDir data;
        const QString inTheWay = data.filePath(QStringLiteral("file"));
        QVERIFY(TestSandbox::WriteBytes(inTheWay, QByteArray()));
        const QList<QPair<QString, QString>> changes{{QStringLiteral("XDG_RUNTIME_DIR"), QString()},
                                                     {QStringLiteral("TMPDIR"), inTheWay},
                                                     {QStringLiteral("XDG_CACHE_HOME"), inTheWay}};
        std::vector<std::unique_ptr<Child>> starts;
        for (int i = 0; i < 16; ++i) {
            starts.push_back(std::make_unique<Child>(data, changes));
            starts.back()->Launch(QStringLiteral("--entry"));
        }
        const auto ended = [&starts]() {
            return std::count_if(starts.begin(), starts.end(),
                                 [](const auto &start) { return start->state() == QProcess::NotRunning; });
        };
        QTRY_COMPARE_WITH_TIMEOUT(ended(), 15L, 60000);
        QTest::qWait(500);
        QCOMPARE(ended(), 15L);
        for (auto &start : starts) {
            if (start->state() == QProcess::NotRunning) {
                QCOMPARE(start->Finish(), 44);
                QVERIFY(start->output.contains(kSingleBox + '\n'));
            } else {
                ::kill(pid_t(start->processId()), SIGTERM);
                QCOMPARE(start->Finish(), 0);
                QVERIFY(start->output.isEmpty());
            }
        }
    }

    void runtimeFolderIsPrivateShortAndNeverChanged_data()
    {
        QTest::addColumn<QString>("runtime"); // how $XDG_RUNTIME_DIR is prepared; empty: unset
        QTest::addColumn<QString>("temp"); // how the temporary folder is prepared
        QTest::addColumn<bool>("cacheUsable");
        QTest::addColumn<QString>("chosen"); // runtime, temp, cache or empty: none
        QTest::newRow("runtime 0700") << "0700" << "" << true << "runtime";
        QTest::newRow("runtime 0755") << "0755" << "" << true << "temp";
        QTest::newRow("runtime 1777") << "1777" << "" << true << "temp";
        QTest::newRow("runtime of another user") << "owner" << "" << true << "temp";
        QTest::newRow("runtime is a link") << "link" << "" << true << "temp";
        // A socket path has room for 107 bytes.
        QTest::newRow("runtime just short enough") << "fits" << "" << true << "runtime";
        QTest::newRow("runtime a byte too long") << "long" << "" << true << "temp";
        QTest::newRow("no runtime") << "" << "" << true << "temp";
        QTest::newRow("own temp folder 0755 already") << "" << "0755" << true << "cache";
        QTest::newRow("own temp folder of another user") << "" << "owner" << true << "cache";
        QTest::newRow("own temp folder is a link") << "" << "link" << true << "cache";
        QTest::newRow("temp too long") << "" << "long" << true << "cache";
        QTest::newRow("none usable") << "" << "file" << false << "";
    }

    void runtimeFolderIsPrivateShortAndNeverChanged()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, temp);
        QFETCH(bool, cacheUsable);
        QFETCH(QString, chosen);
        // Short, so that only the rows that mean to be too long are.
        QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/XXXXXX"));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("private"))));
        QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("private")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString key = SingleInstanceGuard::KeyForDataFolder(dir.path());
        // Prepares a folder as the row says; the path to hand over.
        const auto prepare = [&](const QString &how, const QString &path) {
            if (how == QLatin1String("link")) {
                QFile::link(dir.filePath(QStringLiteral("private")), path);
                return path;
            }
            if (how == QLatin1String("file")) {
                TestSandbox::WriteBytes(path, QByteArray());
                return path;
            }
            const int room = 107 - 1 - key.size(); // the socket is folder/key
            const QString folder = how == QLatin1String("long") ? PathOfLength(dir, room + 1)
                                   : how == QLatin1String("fits") ? PathOfLength(dir, room) : path;
            const QByteArray name = QFile::encodeName(folder);
            QDir().mkpath(folder);
            if (how == QLatin1String("owner") && ::chown(name.constData(), 65534, 65534) != 0)
                return QString();
            const bool numeric = how.at(0).isDigit();
            return ::chmod(name.constData(), numeric ? how.toUInt(nullptr, 8) : 0700) == 0 ? folder : QString();
        };
        if ((runtime == QLatin1String("owner") || temp == QLatin1String("owner")) && ::geteuid() != 0)
            QSKIP("only root can make a folder of another user");

        EnvScope env;
        const QString runtimePath = runtime.isEmpty() ? QString() : prepare(runtime, dir.filePath(QStringLiteral("run")));
        env.Set("XDG_RUNTIME_DIR", runtimePath.isEmpty() ? QByteArray() : QFile::encodeName(runtimePath));
        QString tempPath = dir.filePath(QStringLiteral("tmp"));
        QVERIFY(QDir().mkpath(tempPath));
        const QString ownTemp = QStringLiteral("%1/tessaly-%2").arg(tempPath).arg(::geteuid());
        if (temp == QLatin1String("long"))
            tempPath = PathOfLength(dir, 70);
        else if (temp == QLatin1String("file"))
            tempPath = prepare(temp, dir.filePath(QStringLiteral("tmpfile")));
        else if (!temp.isEmpty())
            QVERIFY(!prepare(temp, ownTemp).isEmpty());
        QVERIFY(QDir().mkpath(tempPath) || temp == QLatin1String("file"));
        env.Set("TMPDIR", QFile::encodeName(tempPath));
        env.Set("HOME", QFile::encodeName(dir.filePath(QStringLiteral("home"))));
        // Test mode keeps the cache under the home folder; a file there leaves no cache folder.
        const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        QVERIFY(cache.startsWith(dir.path()));
        if (!cacheUsable) {
            QVERIFY(QDir().mkpath(QFileInfo(cache).path()));
            QVERIFY(TestSandbox::WriteBytes(cache, QByteArray()));
        }
        const mode_t runtimeMode = ModeOf(runtimePath);
        const mode_t ownTempMode = ModeOf(ownTemp);

        const QString folder = SingleInstanceGuard::RuntimeFolder(key);
        const QMap<QString, QString> expected{{QStringLiteral("runtime"), runtimePath},
            {QStringLiteral("temp"), ownTemp}, {QStringLiteral("cache"), cache + QStringLiteral("/tessaly-runtime")}};
        QCOMPARE(folder, expected.value(chosen));
        // Nobody's folder but one of our own making changes its mode.
        QCOMPARE(ModeOf(runtimePath), runtimeMode);
        if (temp != QLatin1String(""))
            QCOMPARE(ModeOf(ownTemp), ownTempMode);

        SingleInstanceGuard guard(key);
        QCOMPARE(guard.Claim(), !chosen.isEmpty());
        QCOMPARE(guard.IsUnusable(), chosen.isEmpty());
        if (chosen.isEmpty())
            return;
        QCOMPARE(QFileInfo(guard.lockFilePath()).absolutePath(), folder);
        QCOMPARE(ModeOf(folder) & 077, mode_t(0));
        QVERIFY(guard.Listen());
        QLocalSocket client;
        client.connectToServer(guard.socketPath());
        QVERIFY(client.waitForConnected(1000));
    }

    void staleLocksAreTakenOverLiveOnesNot_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: a folder stands at the lock path; "live": held here
        QTest::addColumn<int>("age"); // seconds
        QTest::addColumn<bool>("taken");
        const QByteArray here = QSysInfo::machineHostName().toUtf8();
        QTest::newRow("held here") << QByteArray("live") << 0 << false;
        QTest::newRow("held here for an hour") << QByteArray("live") << 3600 << false;
        // Its owner has locked it but not written its details yet.
        QTest::newRow("held here, still empty") << QByteArray("held") << 0 << false;
        QTest::newRow("dead process here") << "2147483600\ntessaly\n" + here + '\n' << 0 << true;
        QTest::newRow("other machine, an hour old") << QByteArray("4242\ntessaly\nother-host.invalid\n") << 3600 << true;
        QTest::newRow("other machine, just now") << QByteArray("4242\ntessaly\nother-host.invalid\n") << 0 << false;
        QTest::newRow("empty") << QByteArray("") << 0 << true;
        QTest::newRow("garbage") << QByteArray("\x01\x02garbage\n\n\n") << 0 << true;
        QTest::newRow("folder") << QByteArray() << 0 << true;
    }

    void staleLocksAreTakenOverLiveOnesNot()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, age);
        QFETCH(bool, taken);
        const QString key = QStringLiteral("tessaly-stale-%1").arg(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        SingleInstanceGuard guard(key);
        const QString lock = guard.lockFilePath();
        QLockFile owner(lock);
        QFile held(lock);
        if (content == "live")
            QVERIFY(owner.tryLock(0));
        else if (content == "held")
            QVERIFY(held.open(QIODevice::WriteOnly) && ::flock(held.handle(), LOCK_EX | LOCK_NB) == 0);
        else
            QVERIFY(content.isNull() ? QDir().mkdir(lock) : TestSandbox::WriteBytes(lock, content));
        QVERIFY(age == 0 || TestSandbox::SetAge(lock, age));
        QCOMPARE(guard.Claim(), taken);
        QVERIFY(!guard.IsUnusable());
        QVERIFY(taken ? QFileInfo(lock).isFile() && guard.Listen() : QFileInfo::exists(lock));
        if (!taken && content != "live")
            QFile::remove(lock);
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
    holdBoxes = mode == "--entry-hold";
    if (mode == "--entry" || holdBoxes)
        return RunEntry(argc, argv);
    if (mode == "--primary") {
        // The program's names, so that the data lives under Quillory/.
        QCoreApplication::setOrganizationName(QStringLiteral("Quillory"));
        QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));
        return RunPrimary(argc, argv);
    }
    // This test and every child it starts keep to private folders: never the user's own, and
    // never those of another run of this test.
    QTemporaryDir sandbox(QDir::tempPath() + QStringLiteral("/tsi-XXXXXX"));
    if (!sandbox.isValid())
        return 1;
    const QList<QPair<const char *, QString>> folders{{"HOME", "home"}, {"XDG_CACHE_HOME", "cache"},
        {"XDG_CONFIG_HOME", "config"}, {"XDG_DATA_HOME", "data"}, {"XDG_RUNTIME_DIR", "run"}, {"TMPDIR", "tmp"}};
    for (const auto &folder : folders) {
        const QString path = sandbox.filePath(folder.second);
        QDir().mkpath(path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(folder.first, QFile::encodeName(path));
    }
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_singleinstance.moc"
