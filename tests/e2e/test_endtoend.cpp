// The whole program against a local catalogue service: the catalogue tool makes the service
// folder, python3's static web server serves it on 127.0.0.1, and the program (its test build,
// which takes the service address from the environment) runs offscreen in temporary folders.
// Everything is checked from the outside, through the files the program leaves.
#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolder.h"
#include "folders/DisplayFolderType.h"
#include "catalogue/ItemDataSaver.h"
#include "cipher/SqlCipherDriverRegistration.h"
#include "TestSandbox.h"

#include <QCryptographicHash>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QReadLocker>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

using TestSandbox::ReadBytes;

namespace {

const int kBooks = 300;
const int kStartMs = 30000;

const char BinaryDirVariable[] = "TESSALY_TEST_BINARY_DIR";

QByteArray FileMd5(const QString &path)
{
    return QCryptographicHash::hash(ReadBytes(path), QCryptographicHash::Md5).toHex();
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

    QString ToolPath() const { return qEnvironmentVariable(BinaryDirVariable) + "/tools/tessaly-catalogue"; }
    QString ProgramPath() const { return qEnvironmentVariable(BinaryDirVariable) + "/tests/e2e/tessaly-e2e"; }
    QString SitePath(const QString &relative) const { return root.filePath("site/" + relative); }
    QString CoverPath(qint64 uid) const { return SitePath(QString("local/images/%1_201.jpg").arg(uid)); }
    QString BaseFolder() const { return root.filePath("data/Quillory/Tessaly_LocalFolder"); }
    QString DatabaseFolder() const { return BaseFolder() + "/database"; }
    QString CacheFolder() const { return BaseFolder() + " LocalCache1"; }
    QString FoldersPath() const { return BaseFolder() + "/user-folders.file"; }
    QString ProgramLog() const { return QString::fromUtf8(ReadBytes(root.filePath(logName)).right(3000)); }

    // The tool's exit code; -1 when it did not run to its end.
    int RunTool(const QStringList &arguments, QByteArray *output = nullptr)
    {
        QProcess tool;
        tool.start(ToolPath(), arguments);
        if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit)
            return -1;
        if (output)
            *output = tool.readAllStandardOutput();
        return tool.exitCode();
    }

    // Port 0: the system hands out a free port, which the server names once it listens.
    bool StartServer()
    {
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.setStandardOutputFile(root.filePath("http.log"));
        server.start("python3", {"-u", "-m", "http.server", "--bind", "127.0.0.1", "0", "--directory", root.filePath("site")});
        static const QRegularExpression serving("Serving HTTP on 127\\.0\\.0\\.1 port (\\d+) ");
        QRegularExpressionMatch match;
        const auto named = [&] {
            match = serving.match(QString::fromUtf8(ReadBytes(root.filePath("http.log"))));
            return match.hasMatch() || server.state() == QProcess::NotRunning;
        };
        port = QTest::qWaitFor(named, 10000) ? quint16(match.captured(1).toUInt()) : 0;
        return port != 0 && server.state() == QProcess::Running;
    }

    std::unique_ptr<QProcess> StartProgram(const QString &log)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY",
                                 "HTTPS_PROXY", "ALL_PROXY"})
            env.remove(name);
        // Every folder the program could touch lies in the temporary folder.
        for (const QString name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
            const QString folder = root.filePath(name == "XDG_DATA_HOME" ? QString("data") : name.toLower());
            QDir().mkpath(folder);
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            env.insert(name, folder);
        }
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TESSALY_E2E_SERVICE_URL", QString("http://127.0.0.1:%1").arg(port));
        logName = log;
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(root.path());
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->setStandardOutputFile(root.filePath(log));
        process->start(ProgramPath(), QStringList());
        return process->waitForStarted(10000) ? std::move(process) : nullptr;
    }

    bool Terminate(QProcess *process)
    {
        process->terminate();
        return process->waitForFinished(20000) && process->exitStatus() == QProcess::NormalExit
               && process->exitCode() == 0;
    }

    // Waits for done() while the program runs; false when the program ended or time ran out.
    bool AwaitWhileRunning(const std::function<bool()> &done)
    {
        return QTest::qWaitFor([&] { return program->state() != QProcess::Running || done(); }, kStartMs)
               && program->state() == QProcess::Running;
    }

    ServiceAnswer ReadAnswer() const
    {
        const QStringList parts = QString::fromUtf8(ReadBytes(SitePath("service/getdatabase.php"))).split('|');
        if (parts.size() == 6 && parts.at(0) == "ok" && parts.at(4).isEmpty() && parts.at(5).isEmpty())
            return {parts.at(1), parts.at(2), parts.at(3).toLatin1()};
        return {};
    }

    // The slot file the pointer names, once the pointer exists.
    QString PointedSlotFile() const
    {
        const QByteArray slot = ReadBytes(DatabaseFolder() + "/single_us_1_3011_0.rfile.prefile").trimmed();
        return slot.isEmpty() ? QString() : DatabaseFolder() + "/single_us_1_3011_" + QString::fromLatin1(slot) + ".rfile";
    }

    // The catalogue the pointer names is the one served.
    bool CatalogueLanded(const ServiceAnswer &answer) const
    {
        const QString slot = PointedSlotFile();
        return !slot.isEmpty() && FileMd5(slot) == answer.md5;
    }

    // Expected counts, from the served catalogue opened with the program's reader.
    bool ReadExpectations(const ServiceAnswer &answer)
    {
        // A copy, so that nothing is ever written next to the served file.
        const QString copy = root.filePath("expected-" + answer.guid + ".rfile");
        ItemDataSaver store;
        if (!QFile::copy(SitePath(answer.location.mid(1)), copy) || !store.LoadDatabase(copy))
            return false;
        QReadLocker locker(&store.lock);
        if (store.currentGuid != answer.guid)
            return false;
        const auto count = [&store](const QString &sql) {
            return ItemDataSaver::QuerySingleValue(store.database, sql).toLongLong();
        };
        expectedBooks = count("select count(*) from published_bookinfo");
        expectedBest = count("select count(*) from published_bookinfo where BookStars >= 4.8");
        expectedCategoryCounts.clear();
        for (qint64 category : store.QueryCategoryIds(QString()))
            expectedCategoryCounts[category] =
                count(QString("select Calc_BookCount from runtime_cataloginfo where UID = %1").arg(category));
        // Kept across catalogues: the cache may still hold covers of withdrawn books.
        const QList<qint64> books = store.QueryBookIds(QString());
        bookIds = QSet<qint64>(books.cbegin(), books.cend());
        for (qint64 uid : books)
            imageIdByBook[uid] = count(QString("select _ImageCompID from published_bookinfo where UID = %1").arg(uid));
        return expectedBooks > 0 && books.size() == expectedBooks;
    }

    // The folders are computed for the catalogue, with counts that match it (decoded with the program's reader).
    bool FoldersMatch(const ServiceAnswer &answer) const
    {
        DisplayDataSaver store(FoldersPath());
        bool builtinsMissing = true;
        if (!QFileInfo::exists(FoldersPath()) || !store.LoadFolders(builtinsMissing) || builtinsMissing)
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

    // Every cached cover is the served cover of its book; returns how many there are.
    int CheckCachedCovers()
    {
        static const QRegularExpression name("^(\\d+)_(\\d+)_201\\.rfile$");
        int count = 0;
        for (const QString &file : QDir(CacheFolder()).entryList(QDir::Files)) {
            const QRegularExpressionMatch match = name.match(file);
            const qint64 uid = match.captured(1).toLongLong();
            const QByteArray served = match.hasMatch() ? ReadBytes(CoverPath(uid)) : QByteArray();
            if (served.isEmpty() || ReadBytes(QDir(CacheFolder()).filePath(file)) != served
                || imageIdByBook.value(uid) != match.captured(2).toLongLong()) {
                qWarning() << "cached file is not the served cover of its book:" << file;
                return -1;
            }
            ++count;
        }
        return count;
    }

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

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        RegisterSqlCipherDriver();
        QVERIFY2(!qEnvironmentVariableIsEmpty(BinaryDirVariable), "TESSALY_TEST_BINARY_DIR is not set");
        QVERIFY2(QFileInfo(ToolPath()).isExecutable(), qPrintable(ToolPath()));
        QVERIFY2(QFileInfo(ProgramPath()).isExecutable(), qPrintable(ProgramPath()));
        QVERIFY(root.isValid());
        QCOMPARE(RunTool({"site", "--books", QString::number(kBooks), "--seed", "11", "--out", root.filePath("site")}), 0);
        QVERIFY2(StartServer(), "python3 -m http.server did not start on 127.0.0.1");
    }

    void cleanupTestCase()
    {
        program.reset(); // kills it when a check failed while it ran
        server.kill();
        server.waitForFinished(5000);
    }

    void siteFolderIsComplete()
    {
        const ServiceAnswer answer = ReadAnswer();
        QVERIFY(!answer.guid.isEmpty());
        QVERIFY(answer.location.startsWith("/files/"));
        QCOMPARE(FileMd5(SitePath(answer.location.mid(1))), answer.md5);
        QCOMPARE(ReadBytes(SitePath("service/version.php")), QByteArray("3.3.5"));
        QVERIFY(ReadExpectations(answer));
        QCOMPARE(expectedBooks, qint64(kBooks));

        // Books with an image id mostly have a real JPEG cover; a few are missing on purpose.
        int covers = 0;
        int missing = 0;
        for (auto it = imageIdByBook.cbegin(); it != imageIdByBook.cend(); ++it) {
            const QString path = CoverPath(it.key());
            const bool served = QFileInfo::exists(path);
            missing += it.value() != 0 && !served;
            if (it.value() != 0 && served && ++covers <= 5) {
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
        QVERIFY(TestSandbox::WriteBytes(other + "/keep.txt", "mine"));
        QCOMPARE(RunTool({"site", "--books", "5", "--out", other}), 2);
        QCOMPARE(RunTool({"site", "--update", other}), 2);
        QCOMPARE(QDir(other).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"keep.txt"});
        QCOMPARE(ReadBytes(other + "/keep.txt"), QByteArray("mine"));
    }

    void firstStartLoadsTheCatalogueAndCovers()
    {
        const ServiceAnswer answer = ReadAnswer();
        program = StartProgram("program-1.log");
        QVERIFY(program);
        // The catalogue lands, complete, in the slot the pointer names, and the folders are computed for it.
        VERIFY_PROGRAM(AwaitWhileRunning([&] { return CatalogueLanded(answer) && FoldersMatch(answer); }));
        // The first page's covers arrive in the image cache, byte for byte as served.
        int cached = 0;
        VERIFY_PROGRAM(AwaitWhileRunning([&] { return (cached = CheckCachedCovers()) < 0 || cached >= 10; }) && cached >= 10);
    }

    void updatedCatalogueIsSwappedInAfterARestart()
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
        QVERIFY(!added.isEmpty() && !(booksBefore - bookIds).isEmpty());
        int newCovers = 0;
        for (qint64 uid : added)
            newCovers += QFileInfo::exists(CoverPath(uid));
        QVERIFY(newCovers > added.size() / 2);

        VERIFY_PROGRAM(Terminate(program.get()));
        program = StartProgram("program-3.log");
        QVERIFY(program);
        VERIFY_PROGRAM(AwaitWhileRunning([&] { return CatalogueLanded(after) && FoldersMatch(after); }));
    }

    void sigtermEndsCleanlyAndKeepsEveryFile()
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
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "test_endtoend.moc"
