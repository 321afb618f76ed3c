// The tessaly-catalogue command line: generate, info and encrypt, with their failures.
#include "Helper.h"
#include "writer/CatalogueGenerator.h"
#include "TestSandbox.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kTool = qEnvironmentVariable("TESSALY_TEST_BINARY_DIR") + "/tools/tessaly-catalogue";

struct Outcome
{
    int status = -1; // when the tool did not end normally
    QString out;
    QString err;
};

Outcome Run(const QStringList &arguments)
{
    QProcess process;
    process.start(kTool, arguments);
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

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY2(QFile::exists(kTool), qPrintable(kTool));
        catalogue = dir.filePath("tool.db");
        const Outcome made =
            Run({"generate", "--books", "250", "--categories", "12", "--seed", "5", "--password", "tööl", "--out", catalogue});
        QVERIFY2(made.status == 0, qPrintable(made.err));
        QVERIFY(QRegularExpression("guid ([0-9a-f-]{36})").match(made.out).hasMatch());
    }

    // Missing summary keys read as empty values, with the program's password or another.
    void infoReadsMissingSummaryKeys_data()
    {
        QTest::addColumn<QString>("rows"); // of the summary
        QTest::addColumn<QString>("password");
        QTest::newRow("no rows") << "" << "tööl";
        QTest::newRow("no guid row") << "('current_ebooks_count', 5)" << "tööl";
        QTest::newRow("empty guid, program's password") << "('current_guid', ''), ('current_ebooks_count', 5)" << "";
    }
    void infoReadsMissingSummaryKeys()
    {
        QFETCH(QString, rows);
        QFETCH(QString, password);
        const QString path = dir.filePath(QStringLiteral("summary-%1.db").arg(QTest::currentDataTag()));
        CatalogueGeneratorOptions options;
        options.books = 5;
        options.password = password.isEmpty() ? Helper::GetCatalogPassword().toUtf8() : password.toUtf8();
        options.withoutLoadRecall = true;
        options.extraSql << "create table native_loadrecall (pname text, pvalue)";
        if (!rows.isEmpty())
            options.extraSql << "insert into native_loadrecall values " + rows;
        QVERIFY(CatalogueGenerator::Generate(options, path));
        QStringList arguments{"info", path};
        if (!password.isEmpty())
            arguments << "--password" << password;
        const Outcome info = Run(arguments);
        QVERIFY2(info.status == 0, qPrintable(info.err));
        QVERIFY2(info.out.startsWith("guid=\nbooks=5\n"), qPrintable(info.out));
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
        const QString path = kind == "device" ? "/dev/null" : dir.filePath("bad-" + kind + ".db");
        const QString password = kind == "wrong" ? "tool" : "tööl";
        QByteArray bytes = TestSandbox::ReadBytes(catalogue);
        if (kind == "truncated")
            bytes.chop(4096);
        if (kind == "damaged")
            bytes[bytes.size() - 3000] = char(bytes.at(bytes.size() - 3000) ^ 1); // inside the last book page
        if (kind == "directory") {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == "trigger" || kind == "no summary") {
            CatalogueGeneratorOptions options;
            options.books = 5;
            options.password = password.toUtf8();
            options.withoutLoadRecall = kind == "no summary";
            if (kind == "trigger")
                options.extraSql << "create trigger touch after update on published_bookinfo begin select 1; end";
            QVERIFY(CatalogueGenerator::Generate(options, path));
        } else if (kind != "missing" && kind != "device") {
            QVERIFY(TestSandbox::WriteBytes(path, bytes));
        }
        const Outcome info = Run({"info", path, "--password", password});
        QCOMPARE(info.status, 2);
        const QString error = info.err.trimmed();
        QVERIFY(info.out.isEmpty() && !error.isEmpty() && !error.contains('\n'));
        QVERIFY2(error.contains(says) && !error.contains("tööl"), qPrintable(error));
        QVERIFY(kind == "missing" || !error.contains("does not exist"));
    }
};

QTEST_GUILESS_MAIN(TestCatalogueTool)
#include "test_catalogue_tool.moc"
