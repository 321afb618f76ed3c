// The whole program against a local catalogue service: the catalogue tool makes the service
// folder, python3's static web server serves it on 127.0.0.1, and the program (its test build,
// which takes the service address from the environment) runs offscreen in temporary folders.
// Everything is checked from the outside, through the files the program leaves.
#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolder.h"
#include "folders/DisplayFolderType.h"
#include "catalogue/ItemDataSaver.h"
#include "cipher/SqlCipherDriverRegistration.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QReadLocker>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const int kBooks = 300;
const int kStartMs = 30000;

QString BinaryDir()
{
    return qEnvironmentVariable("TESSALY_TEST_BINARY_DIR");
}

QByteArray FileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray FileMd5(const QString &path)
{
    return QCryptographicHash::hash(FileBytes(path), QCryptographicHash::Md5).toHex();
}

// Polls while processing events (so QProcess notices an exit) until done() or the time is up.
bool WaitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(100);
    }
    return true;
}

// The parsed "ok|GUID|LOCATION|MD5||" answer of the site.
struct ServiceAnswer
{
    QString guid;
    QString location;
    QByteArray md5;
};

} // namespace

// The program's log is printed when a check on it fails.
#define VERIFY_PROGRAM(condition) QVERIFY2(condition, qPrintable(ProgramLog()))

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void siteFolderIsComplete();
    void firstStartLoadsTheCatalogueAndCovers();
    void secondStartLeavesTheFirstRunning();
    void updatedCatalogueIsSwappedInAfterARestart();
    void sigtermEndsCleanlyAndKeepsEveryFile();

private:
    QString ToolPath() const { return BinaryDir() + "/tools/tessaly-catalogue"; }
    QString ProgramPath() const { return BinaryDir() + "/tests/e2e/tessaly-e2e"; }
    QString SitePath(const QString &relative) const { return root.filePath("site/" + relative); }
    QString CoverPath(qint64 uid) const { return SitePath(QString("local/images/%1_201.jpg").arg(uid)); }
    QString BaseFolder() const { return root.filePath("data/Quillory/Tessaly_LocalFolder"); }
    QString DatabaseFolder() const { return BaseFolder() + "/database"; }
    QString CacheFolder() const { return BaseFolder() + " LocalCache1"; }
    QString PointerPath() const { return DatabaseFolder() + "/single_us_1_3011_0.rfile.prefile"; }
    QString FoldersPath() const { return BaseFolder() + "/user-folders.file"; }
    QString ProgramLog() const { return QString::fromUtf8(FileBytes(root.filePath(logName)).right(3000)); }

    // The tool's exit code; -1 when it did not run to its end.
    int RunTool(const QStringList &arguments, QByteArray *output = nullptr);
    bool StartServer();
    std::unique_ptr<QProcess> StartProgram(const QString &log);
    bool Terminate(QProcess *process);
    // Waits for done() while the program runs; false when the program ended or time ran out.
    bool AwaitWhileRunning(const std::function<bool()> &done);
    ServiceAnswer ReadAnswer() const;
    // The slot file the pointer names, once the pointer exists.
    QString PointedSlotFile() const;
    // The catalogue the pointer names is the one served and the folders are computed for it.
    bool CatalogueLanded(const ServiceAnswer &answer) const;
    // Expected counts, from the served catalogue opened with the program's reader.
    bool ReadExpectations(const ServiceAnswer &answer);
    bool FoldersMatch(const ServiceAnswer &answer) const;
    // Every cached cover is the served cover of its book; returns how many there are.
    int CheckCachedCovers();

    QTemporaryDir root;
    QProcess server;
    quint16 port = 0;
    std::unique_ptr<QProcess> program;
    QString logName;
    qint64 expectedBooks = 0;
    qint64 expectedBest = 0;
    QHash<qint64, qint64> expectedCategoryCounts;
    QHash<qint64, qint64> imageIdByBook;
    QSet<qint64> bookIds;
};

int TestEndToEnd::RunTool(const QStringList &arguments, QByteArray *output)
{
    QProcess tool;
    tool.start(ToolPath(), arguments);
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit)
        return -1;
    if (output)
        *output = tool.readAllStandardOutput();
    return tool.exitCode();
}

bool TestEndToEnd::StartServer()
{
    // A port the system just handed out; should another process take it first, try again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0))
                return false;
            port = probe.serverPort();
        }
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.setStandardOutputFile(root.filePath("http.log"));
        server.start("python3", {"-m", "http.server", "--bind", "127.0.0.1", QString::number(port), "--directory",
                                 root.filePath("site")});
        if (!server.waitForStarted(10000))
            return false;
        const bool up = WaitUntil(
            [this] {
                if (server.state() != QProcess::Running)
                    return true;
                QTcpSocket socket;
                socket.connectToHost(QHostAddress::LocalHost, port);
                return socket.waitForConnected(200);
            },
            10000);
        if (up && server.state() == QProcess::Running)
            return true;
        server.kill();
        server.waitForFinished(5000);
    }
    return false;
}

std::unique_ptr<QProcess> TestEndToEnd::StartProgram(const QString &log)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY",
                             "HTTPS_PROXY", "ALL_PROXY"})
        env.remove(name);
    // Every folder the program could touch lies in the temporary folder.
    for (const QString name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
        const QString folder = root.filePath(name.toLower());
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert(name, folder);
    }
    env.insert("XDG_DATA_HOME", root.filePath("data"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TESSALY_E2E_SERVICE_URL", QString("http://127.0.0.1:%1").arg(port));
    logName = log;
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(root.path());
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardOutputFile(root.filePath(log));
    process->start(ProgramPath(), QStringList());
    if (!process->waitForStarted(10000))
        return nullptr;
    return process;
}

bool TestEndToEnd::Terminate(QProcess *process)
{
    process->terminate();
    return WaitUntil([process] { return process->state() == QProcess::NotRunning; }, 20000)
           && process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
}

bool TestEndToEnd::AwaitWhileRunning(const std::function<bool()> &done)
{
    const bool ended = WaitUntil([&] { return program->state() != QProcess::Running || done(); }, kStartMs);
    return ended && program->state() == QProcess::Running;
}

ServiceAnswer TestEndToEnd::ReadAnswer() const
{
    ServiceAnswer answer;
    const QStringList parts = QString::fromUtf8(FileBytes(SitePath("service/getdatabase.php"))).split('|');
    if (parts.size() == 6 && parts.at(0) == "ok" && parts.at(4).isEmpty() && parts.at(5).isEmpty()) {
        answer.guid = parts.at(1);
        answer.location = parts.at(2);
        answer.md5 = parts.at(3).toLatin1();
    }
    return answer;
}

QString TestEndToEnd::PointedSlotFile() const
{
    const QByteArray slot = FileBytes(PointerPath()).trimmed();
    return slot.isEmpty() ? QString() : DatabaseFolder() + "/single_us_1_3011_" + QString::fromLatin1(slot) + ".rfile";
}

bool TestEndToEnd::CatalogueLanded(const ServiceAnswer &answer) const
{
    const QString slot = PointedSlotFile();
    return !slot.isEmpty() && FileMd5(slot) == answer.md5;
}

bool TestEndToEnd::ReadExpectations(const ServiceAnswer &answer)
{
    // A copy, so that nothing is ever written next to the served file.
    const QString copy = root.filePath("expected-" + answer.guid + ".rfile");
    if (!QFile::copy(SitePath(answer.location.mid(1)), copy))
        return false;
    ItemDataSaver store;
    if (!store.LoadDatabase(copy))
        return false;
    QReadLocker locker(&store.lock);
    if (store.currentGuid != answer.guid)
        return false;
    const auto count = [&store](const QString &sql) { return ItemDataSaver::QuerySingleValue(store.database, sql).toLongLong(); };
    expectedBooks = count("select count(*) from published_bookinfo");
    expectedBest = count("select count(*) from published_bookinfo where BookStars >= 4.8");
    expectedCategoryCounts.clear();
    for (qint64 category : store.QueryCategoryIds(QString()))
        expectedCategoryCounts[category] = count(QString("select Calc_BookCount from runtime_cataloginfo where UID = %1").arg(category));
    // Kept across catalogues: the cache may still hold covers of withdrawn books.
    const QList<qint64> books = store.QueryBookIds(QString());
    bookIds = QSet<qint64>(books.cbegin(), books.cend());
    for (qint64 uid : books)
        imageIdByBook[uid] = count(QString("select _ImageCompID from published_bookinfo where UID = %1").arg(uid));
    return expectedBooks > 0 && books.size() == expectedBooks;
}

bool TestEndToEnd::FoldersMatch(const ServiceAnswer &answer) const
{
    // Decoded with the program's own reader.
    if (!QFileInfo::exists(FoldersPath()))
        return false;
    DisplayDataSaver store(FoldersPath());
    bool builtinsMissing = true;
    if (!store.LoadFolders(builtinsMissing) || builtinsMissing)
        return false;
    QReadLocker locker(&store.lock);
    QHash<int, qint64> countByType;
    for (const DisplayFolder *folder : qAsConst(store.folders)) {
        countByType[folder->type] = folder->calcBookCount;
        if (folder->type == CategoryFolder && expectedCategoryCounts.value(folder->categoryUid, -1) != folder->calcBookCount)
            return false;
    }
    return store.currentGuid == answer.guid && countByType.value(AllBooks) == expectedBooks
           && countByType.value(BestBooks) == expectedBest && expectedBest > 0
           && countByType.value(NewArrivals) > 0 && countByType.value(NewArrivals) <= expectedBooks;
}

int TestEndToEnd::CheckCachedCovers()
{
    static const QRegularExpression name("^(\\d+)_(\\d+)_201\\.rfile$");
    int count = 0;
    const QStringList files = QDir(CacheFolder()).entryList(QDir::Files);
    for (const QString &file : files) {
        const QRegularExpressionMatch match = name.match(file);
        if (!match.hasMatch()) {
            qWarning() << "unexpected file in the image cache:" << file;
            return -1;
        }
        const qint64 uid = match.captured(1).toLongLong();
        const QByteArray served = FileBytes(CoverPath(uid));
        if (served.isEmpty() || FileBytes(QDir(CacheFolder()).filePath(file)) != served
            || imageIdByBook.value(uid) != match.captured(2).toLongLong()) {
            qWarning() << "cached cover differs from the served one:" << file;
            return -1;
        }
        ++count;
    }
    return count;
}

void TestEndToEnd::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    RegisterSqlCipherDriver();
    QVERIFY2(!BinaryDir().isEmpty(), "TESSALY_TEST_BINARY_DIR is not set (run through ctest)");
    QVERIFY2(QFileInfo(ToolPath()).isExecutable(), qPrintable(ToolPath()));
    QVERIFY2(QFileInfo(ProgramPath()).isExecutable(), qPrintable(ProgramPath()));
    QVERIFY(root.isValid());
    QByteArray output;
    QCOMPARE(RunTool({"site", "--books", QString::number(kBooks), "--seed", "11", "--out", root.filePath("site")}, &output), 0);
    QVERIFY2(StartServer(), "python3 -m http.server did not start on 127.0.0.1");
}

void TestEndToEnd::cleanupTestCase()
{
    if (program && program->state() != QProcess::NotRunning) {
        program->kill();
        program->waitForFinished(5000);
    }
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        if (!server.waitForFinished(5000)) {
            server.kill();
            server.waitForFinished(5000);
        }
    }
}

void TestEndToEnd::siteFolderIsComplete()
{
    const ServiceAnswer answer = ReadAnswer();
    QVERIFY(!answer.guid.isEmpty());
    QVERIFY(answer.location.startsWith("/files/"));
    QCOMPARE(FileMd5(SitePath(answer.location.mid(1))), answer.md5);
    QCOMPARE(FileBytes(SitePath("service/version.php")), QByteArray("3.3.5"));
    QVERIFY(ReadExpectations(answer));
    QCOMPARE(expectedBooks, qint64(kBooks));

    // Books with an image id mostly have a real JPEG cover; a few are missing on purpose.
    int covers = 0;
    int missing = 0;
    for (auto it = imageIdByBook.cbegin(); it != imageIdByBook.cend(); ++it) {
        const QString path = CoverPath(it.key());
        if (it.value() == 0 || !QFileInfo::exists(path)) {
            missing += it.value() != 0;
            continue;
        }
        if (++covers <= 5) {
            const qint64 size = QFileInfo(path).size();
            QVERIFY2(size > 10000 && size < 100000, qPrintable(QString::number(size)));
            const QImage image(path, "JPEG");
            QVERIFY(!image.isNull());
            QVERIFY(image.height() > image.width());
        }
    }
    QVERIFY(covers > kBooks * 8 / 10);
    QVERIFY(missing > 0);

    // A folder that is not a site is refused and left as it was.
    const QString other = root.filePath("not-a-site");
    QVERIFY(QDir().mkpath(other));
    QFile keep(other + "/keep.txt");
    QVERIFY(keep.open(QIODevice::WriteOnly) && keep.write("mine") == 4);
    keep.close();
    QCOMPARE(RunTool({"site", "--books", "5", "--out", other}), 2);
    QCOMPARE(RunTool({"site", "--update", other}), 2);
    QCOMPARE(QDir(other).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"keep.txt"});
    QCOMPARE(FileBytes(other + "/keep.txt"), QByteArray("mine"));
}

void TestEndToEnd::firstStartLoadsTheCatalogueAndCovers()
{
    const ServiceAnswer answer = ReadAnswer();
    program = StartProgram("program-1.log");
    QVERIFY(program);
    // The catalogue lands, complete, in the slot the pointer names.
    VERIFY_PROGRAM(AwaitWhileRunning([&] { return CatalogueLanded(answer); }));
    // The folders are computed for this catalogue, with counts that match it.
    VERIFY_PROGRAM(AwaitWhileRunning([&] { return FoldersMatch(answer); }));
    // The first page's covers arrive in the image cache, byte for byte as served.
    int cached = 0;
    VERIFY_PROGRAM(AwaitWhileRunning([&] { return (cached = CheckCachedCovers()) < 0 || cached >= 10; }) && cached >= 10);
}

void TestEndToEnd::secondStartLeavesTheFirstRunning()
{
    QVERIFY(program && program->state() == QProcess::Running);
    std::unique_ptr<QProcess> second = StartProgram("program-2.log");
    QVERIFY(second);
    QVERIFY2(second->waitForFinished(15000), "the second start did not end");
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QTest::qWait(500);
    QCOMPARE(program->state(), QProcess::Running);
    logName = "program-1.log";
}

void TestEndToEnd::updatedCatalogueIsSwappedInAfterARestart()
{
    const ServiceAnswer before = ReadAnswer();
    const QSet<qint64> booksBefore = bookIds;
    QCOMPARE(RunTool({"site", "--update", root.filePath("site")}), 0);
    const ServiceAnswer after = ReadAnswer();
    QVERIFY(!after.guid.isEmpty() && after.guid != before.guid);
    QCOMPARE(FileMd5(SitePath(after.location.mid(1))), after.md5);
    QVERIFY(ReadExpectations(after));
    // Some books are new (with covers where they should have one), some withdrawn.
    const QSet<qint64> added = bookIds - booksBefore;
    const QSet<qint64> withdrawn = booksBefore - bookIds;
    QVERIFY(!added.isEmpty() && !withdrawn.isEmpty());
    int newCovers = 0;
    for (qint64 uid : added)
        newCovers += QFileInfo::exists(CoverPath(uid));
    QVERIFY(newCovers > added.size() / 2);

    VERIFY_PROGRAM(Terminate(program.get()));
    program = StartProgram("program-3.log");
    QVERIFY(program);
    VERIFY_PROGRAM(AwaitWhileRunning([&] { return CatalogueLanded(after) && FoldersMatch(after); }));
}

void TestEndToEnd::sigtermEndsCleanlyAndKeepsEveryFile()
{
    QVERIFY(program && program->state() == QProcess::Running);
    const ServiceAnswer answer = ReadAnswer();
    VERIFY_PROGRAM(Terminate(program.get()));

    const QString slot = PointedSlotFile();
    QVERIFY(!slot.isEmpty());
    QCOMPARE(FileMd5(slot), answer.md5);
    QByteArray info;
    QCOMPARE(RunTool({"info", slot}, &info), 0);
    QVERIFY2(info.contains("guid=" + answer.guid.toLatin1()), info.constData());
    QVERIFY(FoldersMatch(answer));
    QVERIFY(CheckCachedCovers() >= 10);
    // No half-written file (an atomic writer's "<name>.XXXXXX", a journal) is left behind.
    static const QRegularExpression unfinished("\\.[A-Za-z0-9]{6}$|-journal$|-wal$");
    QStringList leftovers;
    for (const QString &folder : {BaseFolder(), DatabaseFolder(), CacheFolder()}) {
        for (const QString &file : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
            if (unfinished.match(file).hasMatch())
                leftovers.append(file);
        }
    }
    QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(' ')));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "test_endtoend.moc"
