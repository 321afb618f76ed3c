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

    // Missing summary keys read as empty values; a refusal is one line on stderr that says what is
    // wrong, with the program's password or another, and never prints values.
    void info_data()
    {
        QTest::addColumn<QString>("kind"); // how the file is made
        QTest::addColumn<QString>("summary"); // rows of a summary table the generator leaves out
        QTest::addColumn<QString>("password"); // empty: none given, the program's is used
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says"); // the output's start, or words of the error
        const QString empty = QStringLiteral("guid=\nbooks=5\n");
        QTest::newRow("no rows") << "summary" << "" << "tööl" << 0 << empty;
        QTest::newRow("no guid row") << "summary" << "('current_ebooks_count', 5)" << "tööl" << 0 << empty;
        QTest::newRow("empty guid, program's password")
            << "summary" << "('current_guid', ''), ('current_ebooks_count', 5)" << "" << 0 << empty;
        QTest::newRow("wrong password") << "copy" << "" << "tool" << 2 << "";
        QTest::newRow("missing file") << "missing" << "" << "tööl" << 2 << "does not exist";
        QTest::newRow("truncated") << "truncated" << "" << "tööl" << 2 << "";
        QTest::newRow("damaged page") << "damaged" << "" << "tööl" << 2 << "";
        QTest::newRow("directory") << "directory" << "" << "tööl" << 2 << "is a directory";
        QTest::newRow("device") << "device" << "" << "tööl" << 2 << "is not a regular file";
        QTest::newRow("trigger") << "trigger" << "" << "tööl" << 2 << "views, triggers or virtual tables";
        QTest::newRow("no summary") << "no summary" << "" << "tööl" << 2 << "no table native_loadrecall";
    }
    void info()
    {
        QFETCH(QString, kind);
        QFETCH(QString, summary);
        QFETCH(QString, password);
        QFETCH(int, status);
        QFETCH(QString, says);
        const QString path = kind == "device" ? "/dev/null" : dir.filePath(QStringLiteral("info-%1.db").arg(QTest::currentDataTag()));
        QByteArray bytes = TestSandbox::ReadBytes(catalogue);
        if (kind == "truncated")
            bytes.chop(4096);
        if (kind == "damaged")
            bytes[bytes.size() - 3000] = char(bytes.at(bytes.size() - 3000) ^ 1); // inside the last book page
        if (kind == "directory") {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == "summary" || kind == "trigger" || kind == "no summary") {
            CatalogueGeneratorOptions options;
            options.books = 5;
            options.password = password.isEmpty() ? Helper::GetCatalogPassword().toUtf8() : password.toUtf8();
            options.withoutLoadRecall = kind != "trigger";
            if (kind == "summary")
                options.extraSql << "create table native_loadrecall (pname text, pvalue)";
            if (!summary.isEmpty())
                options.extraSql << "insert into native_loadrecall values " + summary;
            if (kind == "trigger")
                options.extraSql << "create trigger touch after update on published_bookinfo begin select 1; end";
            QVERIFY(CatalogueGenerator::Generate(options, path));
        } else if (kind != "missing" && kind != "device") {
            QVERIFY(TestSandbox::WriteBytes(path, bytes));
        }
        QStringList arguments{"info", path};
        if (!password.isEmpty())
            arguments << "--password" << password;
        const Outcome info = Run(arguments);
        QCOMPARE(info.status, status);
        if (status == 0) {
            QVERIFY2(info.out.startsWith(says), qPrintable(info.out));
            return;
        }
        const QString error = info.err.trimmed();
        QVERIFY(info.out.isEmpty() && !error.isEmpty() && !error.contains('\n'));
        QVERIFY2(error.contains(says) && !error.contains("tööl"), qPrintable(error));
        QVERIFY(kind == "missing" || !error.contains("does not exist"));
    }
};

QTEST_GUILESS_MAIN(TestCatalogueTool)
#include "test_catalogue_tool.moc"
