// The tessaly-catalogue command line: generate, info and encrypt, with their failures.
#include "writer/CatalogueGenerator.h"
#include <QCryptographicHash>
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
    return qEnvironmentVariable("TESSALY_TEST_BINARY_DIR") + QStringLiteral("/tools/tessaly-catalogue");
}

Outcome Run(const QStringList &arguments)
{
    QProcess process;
    process.start(ToolPath(), arguments);
    Outcome outcome;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return outcome;
    outcome.status = process.exitCode();
    outcome.out = QString::fromUtf8(process.readAllStandardOutput());
    outcome.err = QString::fromUtf8(process.readAllStandardError());
    return outcome;
}

QByteArray FileHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
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
        catalogue = dir.filePath(QStringLiteral("tool.db"));
        const Outcome made = Run({QStringLiteral("generate"), QStringLiteral("--books"), QStringLiteral("250"),
                                  QStringLiteral("--categories"), QStringLiteral("12"), QStringLiteral("--seed"),
                                  QStringLiteral("5"), QStringLiteral("--password"), QStringLiteral("tööl"),
                                  QStringLiteral("--out"), catalogue});
        QVERIFY2(made.status == 0, qPrintable(made.err));
        const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("guid ([0-9a-f-]{36})")).match(made.out);
        QVERIFY(match.hasMatch());
        guid = match.captured(1);
    }

    void infoReadsTheCatalogue()
    {
        const Outcome info = Run({QStringLiteral("info"), catalogue, QStringLiteral("--password"), QStringLiteral("tööl")});
        QVERIFY2(info.status == 0, qPrintable(info.err));
        const QStringList lines = info.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(0), QStringLiteral("guid=") + guid);
        QCOMPARE(lines.at(1), QStringLiteral("books=250"));
        QCOMPARE(lines.at(2), QStringLiteral("categories=12"));
        QVERIFY2(QRegularExpression(QStringLiteral("^status=Total 250 Tessaly \\(\\d+ tessaly are new arrivals this "
                                                   "week, \\d+ books are no longer free\\. .+\\)$"))
                     .match(lines.at(3))
                     .hasMatch(),
                 qPrintable(lines.at(3)));
    }

    // The program's own password is the default on both sides.
    void defaultPasswordRoundTrip()
    {
        const QString path = dir.filePath(QStringLiteral("default.db"));
        QCOMPARE(Run({QStringLiteral("generate"), QStringLiteral("--books"), QStringLiteral("3"), QStringLiteral("--out"), path})
                     .status,
                 0);
        const Outcome info = Run({QStringLiteral("info"), path});
        QVERIFY2(info.status == 0, qPrintable(info.err));
        QVERIFY(info.out.contains(QStringLiteral("\nbooks=3\n")));
        QCOMPARE(Run({QStringLiteral("info"), catalogue}).status, 2); // made with another password
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
        QString path = dir.filePath(QStringLiteral("bad-%1.db").arg(kind));
        QString password = QStringLiteral("tööl");
        QFile::remove(path);
        QFile source(catalogue);
        QVERIFY(source.open(QIODevice::ReadOnly));
        QByteArray bytes = source.readAll();
        if (kind == QLatin1String("wrong"))
            password = QStringLiteral("tool");
        if (kind == QLatin1String("truncated"))
            bytes.chop(4096);
        if (kind == QLatin1String("damaged"))
            bytes[bytes.size() - 3000] = char(bytes.at(bytes.size() - 3000) ^ 1); // inside the last book page
        if (kind == QLatin1String("directory"))
            QVERIFY(QDir().mkpath(path));
        else if (kind == QLatin1String("device"))
            path = QStringLiteral("/dev/null");
        else if (kind == QLatin1String("trigger") || kind == QLatin1String("no summary")) {
            CatalogueGeneratorOptions options;
            options.books = 5;
            options.password = password.toUtf8();
            options.withoutLoadRecall = kind == QLatin1String("no summary");
            if (kind == QLatin1String("trigger"))
                options.extraSql << "create trigger touch after update on published_bookinfo begin select 1; end";
            QVERIFY(CatalogueGenerator::Generate(options, path));
        } else if (kind != QLatin1String("missing")) {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(bytes);
        }
        const Outcome info = Run({QStringLiteral("info"), path, QStringLiteral("--password"), password});
        QCOMPARE(info.status, 2);
        QVERIFY(info.out.isEmpty());
        QCOMPARE(info.err.trimmed().count(QLatin1Char('\n')), 0);
        QVERIFY(!info.err.trimmed().isEmpty());
        QVERIFY(!info.err.contains(QStringLiteral("tööl")));
        QVERIFY2(info.err.contains(says), qPrintable(info.err));
        QVERIFY(kind == QLatin1String("missing") || !info.err.contains(QLatin1String("does not exist")));
    }

    void usageErrors()
    {
        QCOMPARE(Run({}).status, 1);
        QCOMPARE(Run({QStringLiteral("explode")}).status, 1);
        QCOMPARE(Run({QStringLiteral("generate"), QStringLiteral("--books"), QStringLiteral("-4"), QStringLiteral("--out"),
                      dir.filePath(QStringLiteral("x.db"))})
                     .status,
                 1);
        QCOMPARE(Run({QStringLiteral("generate"), QStringLiteral("--books"), QStringLiteral("4")}).status, 1);
        QCOMPARE(Run({QStringLiteral("generate"), QStringLiteral("--books"), QStringLiteral("4"), QStringLiteral("--page-size"),
                      QStringLiteral("1000"), QStringLiteral("--out"), dir.filePath(QStringLiteral("x.db"))})
                     .status,
                 1);
        QCOMPARE(Run({QStringLiteral("encrypt"), catalogue}).status, 1);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("x.db"))));
    }

    // A plain database without reserved bytes is re-made; the source stays untouched.
    void encryptPlainDatabase()
    {
        const QString plain = dir.filePath(QStringLiteral("plain.db"));
        const QString out = dir.filePath(QStringLiteral("plain-encrypted.db"));
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
        const QByteArray before = FileHash(plain);
        const Outcome result = Run({QStringLiteral("encrypt"), plain, out, QStringLiteral("--password"), QStringLiteral("p")});
        QVERIFY2(result.status == 0, qPrintable(result.err));
        QCOMPARE(FileHash(plain), before);
        const Outcome info = Run({QStringLiteral("info"), out, QStringLiteral("--password"), QStringLiteral("p")});
        QVERIFY2(info.status == 0, qPrintable(info.err));
        QVERIFY(info.out.contains(QStringLiteral("guid=g-plain\nbooks=2\ncategories=1\n")));
        // Encrypting an encrypted file is refused.
        QCOMPARE(Run({QStringLiteral("encrypt"), out, dir.filePath(QStringLiteral("twice.db")), QStringLiteral("--password"),
                      QStringLiteral("p")})
                     .status,
                 2);
    }
};

QTEST_GUILESS_MAIN(TestCatalogueTool)
#include "test_catalogue_tool.moc"
