// Version answers: parsing and comparison, safe display, and the version worker against a
// local service (reporting once, retrying, failing quietly, stopping).
#include "Const.h"
#include "TestHttpServer.h"
#include "UserVersionLoader.h"
#include "VersionNumberHelper.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

const QByteArray VersionPath("/service/version.php");

// Starts the worker and waits for its thread to end.
void RunOnce(UserVersionLoader &loader)
{
    loader.StartIfNotRunning();
    QTRY_VERIFY_WITH_TIMEOUT(!loader.IsRunning(), 5000);
}

} // namespace

class TestVersion : public QObject
{
    Q_OBJECT

    TestHttpServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(server.Start());
        Const::SetServiceRootsForTesting(QString(), server.BaseUrl(), QString());
    }

    void init()
    {
        server.ClearScript();
        server.ClearRequests();
    }

    void parseAndCompare_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("parsed");
        QTest::addColumn<bool>("newer");

        QTest::newRow("patch above") << "3.3.6" << "3.3.6" << true;
        QTest::newRow("equal") << "3.3.5" << "3.3.5" << false;
        QTest::newRow("fourth part ignored") << "3.3.5.9" << "3.3.5" << false;
        QTest::newRow("four parts, minor above") << "3.4.0.1" << "3.4.0" << true;
        QTest::newRow("two parts") << "4.0" << "" << false;
        QTest::newRow("five parts") << "3.3.6.1.2" << "" << false;
        QTest::newRow("word in the middle") << "3.x.6" << "3.0.6" << false;
        QTest::newRow("empty") << "" << "" << false;
        QTest::newRow("html page") << "<html><body>Not found</body></html>" << "" << false;
    }

    void parseAndCompare()
    {
        QFETCH(QString, answer);
        QFETCH(QString, parsed);
        QFETCH(bool, newer);

        const QVersionNumber v = ParseVersionNumber(answer);
        QCOMPARE(v.toString(), parsed);
        QCOMPARE(QVersionNumber::compare(v, ParseVersionNumber(Const::SoftVersion)) > 0, newer);
    }

    void displayTextIsPlainAndBounded()
    {
        // A trailing line break from the service does not spoil the version.
        QCOMPARE(BoundedVersionText(QStringLiteral(" 3.3.6\r\n")), QStringLiteral("3.3.6"));

        // Markup is shown as text.
        QCOMPARE(EscapedVersionText(QStringLiteral("<a href='x'>9</a>")),
                 QStringLiteral("&lt;a href=&#39;x&#39;&gt;9&lt;/a&gt;"));

        // A huge answer is cut short, never in the middle of a surrogate pair.
        QCOMPARE(BoundedVersionText(QString(1 << 20, QLatin1Char('9'))).size(), MaxVersionTextLength);
        const QString emoji = QString(MaxVersionTextLength - 1, QLatin1Char('1')) + QString::fromUtf8("\xF0\x9F\x98\x80");
        QCOMPARE(BoundedVersionText(emoji).size(), MaxVersionTextLength - 1);
        QCOMPARE(BoundedVersionText(QStringLiteral("\x01\x02\t")), QString());
    }

    void checksEndOnlyWithANewerVersion_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<bool>("newer");
        QTest::newRow("newer version") << 200 << QByteArray("3.3.6") << true << true;
        QTest::newRow("same version") << 200 << QByteArray("3.3.5") << true << false;
        QTest::newRow("404") << 404 << QByteArray("3.9.9") << false << false;
        QTest::newRow("blank body") << 200 << QByteArray(" \r\n") << false << false;
        QTest::newRow("larger than a version answer may be") << 200 << "3.9.9" + QByteArray(1 << 20, ' ') << false << false;
    }

    // A newer version is reported once and later starts (the version timer) do nothing; without
    // one the next start (timer or next program start) asks again.
    void checksEndOnlyWithANewerVersion()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, answered);
        QFETCH(bool, newer);
        server.SetResponse(VersionPath, TestHttpResponse::Status(status, body));
        UserVersionLoader loader;
        QSignalSpy completed(&loader, &UserVersionLoader::completed);
        QSignalSpy newVersion(&loader, &UserVersionLoader::onNewVersion);

        RunOnce(loader);
        QCOMPARE(completed.size(), 1);
        QCOMPARE(completed.at(0), (QVariantList{answered, newer}));
        QCOMPARE(newVersion.size(), int(newer));
        QCOMPARE(loader.IsDone(), newer);
        const QByteArray path = server.Requests().at(0).path;
        QVERIFY(path.startsWith(VersionPath + "?id=version"));
        QVERIFY(path.contains("kind=tessaly-mac"));

        server.SetResponse(VersionPath, TestHttpResponse::Ok("3.3.6"));
        RunOnce(loader);
        QTest::qWait(newer ? 100 : 0);
        QCOMPARE(server.RequestCount(), newer ? 1 : 2);
        QCOMPARE(newVersion.size(), 1);
        QCOMPARE(newVersion.at(0).at(0).toString(), QStringLiteral("3.3.6"));
    }
};

QTEST_GUILESS_MAIN(TestVersion)
#include "test_version.moc"
