// The tessaly-catalogue command line: generate, info and encrypt, with their failures.
#include "writer/CatalogueGenerator.h"
#include "TestSandbox.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QDir>
#include <QtTest>

#include <sqlite3.h>

namespace {

struct Outcome
{
    int status = -1;
    QString out;
    QString err;
};

QString ToolPath()
{
    return qEnvironmentVariable("TESSALY_TEST_BINARY_DIR") + "/tools/tessaly-catalogue";
}

Outcome Run(const QStringList &arguments)
{
    QProcess process;
    process.start(ToolPath(), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return Outcome();
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class TestCatalogueTool : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir dir;
    QString catalogue;
    QString guid;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY2(QFile::exists(ToolPath()), qPrintable(ToolPath()));
        catalogue = dir.filePath("tool.db");
        const Outcome made =
            Run({"generate", "--books", "250", "--categories", "12", "--seed", "5", "--password", "tööl", "--out", catalogue});
        QVERIFY2(made.status == 0, qPrintable(made.err));
        const QRegularExpressionMatch match = QRegularExpression("guid ([0-9a-f-]{36})").match(made.out);
        QVERIFY(match.hasMatch());
        guid = match.captured(1);
    }

    void infoReadsTheCatalogue()
    {
        const Outcome info = Run({"info", catalogue, "--password", "tööl"});
        QVERIFY2(info.status == 0, qPrintable(info.err));
        const QStringList lines = info.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.mid(0, 3), (QStringList{"guid=" + guid, "books=250", "categories=12"}));
        QCOMPARE(lines.size(), 4);
        const QRegularExpression status("^status=Total 250 Tessaly \\(\\d+ tessaly are new arrivals this week, "
                                        "\\d+ books are no longer free\\. .+\\)$");
        QVERIFY2(status.match(lines.at(3)).hasMatch(), qPrintable(lines.at(3)));
    }

    // The program's own password is the default on both sides.
    void defaultPasswordRoundTrip()
    {
        const QString path = dir.filePath("default.db");
        QCOMPARE(Run({"generate", "--books", "3", "--out", path}).status, 0);
        const Outcome info = Run({"info", path});
        QVERIFY2(info.status == 0, qPrintable(info.err));
        QVERIFY(info.out.contains("\nbooks=3\n"));
        QCOMPARE(Run({"info", catalogue}).status, 2); // made with another password
    }

    // Refusals say what is wrong, with the program's password or another, and never print values.
    void infoFailuresAreOneLine_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("says");
        QTest::newRow("wrong password") << "wrong" << "";
        QTest::newRow("missing file") << "missing" << "does not exist";
        QTest::newRow("truncated") << "truncated" << "";
        QTest::newRow("damaged page") << "damaged" << "";
        QTest::newRow("directory") << "directory" << "is a directory";
        QTest::newRow("device") << "device" << "is not a regular file";
        QTest::newRow("trigger") << "trigger" << "views, triggers or virtual tables";
        QTest::newRow("no summary") << "no summary" << "no table native_loadrecall";
    }
    void infoFailuresAreOneLine()
    {
        QFETCH(QString, kind);
        QFETCH(QString, says);
        QString path = dir.filePath("bad-" + kind + ".db");
        const QString password = kind == "wrong" ? "tool" : "tööl";
        QByteArray bytes = TestSandbox::ReadBytes(catalogue);
        if (kind == "truncated")
            bytes.chop(4096);
        if (kind == "damaged")
            bytes[bytes.size() - 3000] = char(bytes.at(bytes.size() - 3000) ^ 1); // inside the last book page
        if (kind == "directory") {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == "device") {
            path = "/dev/null";
        } else if (kind == "trigger" || kind == "no summary") {
            CatalogueGeneratorOptions options;
            options.books = 5;
            options.password = password.toUtf8();
            options.withoutLoadRecall = kind == "no summary";
            if (kind == "trigger")
                options.extraSql << "create trigger touch after update on published_bookinfo begin select 1; end";
            QVERIFY(CatalogueGenerator::Generate(options, path));
        } else if (kind != "missing") {
            QVERIFY(TestSandbox::WriteBytes(path, bytes));
        }
        const Outcome info = Run({"info", path, "--password", password});
        QCOMPARE(info.status, 2);
        QVERIFY(info.out.isEmpty());
        QCOMPARE(info.err.trimmed().count('\n'), 0);
        QVERIFY(!info.err.trimmed().isEmpty());
        QVERIFY(!info.err.contains("tööl"));
        QVERIFY2(info.err.contains(says), qPrintable(info.err));
        QVERIFY(kind == "missing" || !info.err.contains("does not exist"));
    }

    void usageErrors()
    {
        const QString x = dir.filePath("x.db");
        for (const QStringList &arguments : QList<QStringList>{{},
                                                               {"explode"},
                                                               {"generate", "--books", "-4", "--out", x},
                                                               {"generate", "--books", "4"},
                                                               {"generate", "--books", "4", "--page-size", "1000", "--out", x},
                                                               {"encrypt", catalogue}})
            QVERIFY2(Run(arguments).status == 1, qPrintable(arguments.join(' ')));
        QVERIFY(!QFile::exists(dir.filePath("x.db")));
    }

    // A plain database without reserved bytes is re-made; the source stays untouched.
    void encryptPlainDatabase()
    {
        const QString plain = dir.filePath("plain.db");
        const QString out = dir.filePath("plain-encrypted.db");
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(plain).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db,
                              "PRAGMA journal_mode=WAL; CREATE TABLE published_bookinfo(UID INTEGER PRIMARY KEY, BookName TEXT);"
                              "INSERT INTO published_bookinfo VALUES(1,'A'),(2,'B');"
                              "CREATE TABLE runtime_cataloginfo(UID INTEGER PRIMARY KEY, LID, Calc_BookCount, Caption);"
                              "INSERT INTO runtime_cataloginfo VALUES(3,0,2,'Poetry');"
                              "CREATE TABLE native_loadrecall(pname TEXT PRIMARY KEY, pvalue);"
                              "INSERT INTO native_loadrecall VALUES('current_guid','g-plain');",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
        const QByteArray before = TestSandbox::ReadBytes(plain);
        const Outcome result = Run({"encrypt", plain, out, "--password", "p"});
        QVERIFY2(result.status == 0, qPrintable(result.err));
        QCOMPARE(TestSandbox::ReadBytes(plain), before);
        const Outcome info = Run({"info", out, "--password", "p"});
        QVERIFY2(info.status == 0, qPrintable(info.err));
        QVERIFY(info.out.contains("guid=g-plain\nbooks=2\ncategories=1\n"));
        // Encrypting an encrypted file is refused.
        QCOMPARE(Run({"encrypt", out, dir.filePath("twice.db"), "--password", "p"}).status, 2);
    }
};

QTEST_GUILESS_MAIN(TestCatalogueTool)
#include "test_catalogue_tool.moc"
