// Version answers: parsing and comparison, safe display, and the version worker against a
// local service (reporting once, retrying, failing quietly, stopping).
#include "Const.h"
#include "TestHttpServer.h"
#include "UserVersionLoader.h"
#include "VersionNumberHelper.h"

#include <QElapsedTimer>
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
private slots:
    void initTestCase();
    void init();
    void parseAndCompare_data();
    void parseAndCompare();
    void displayTextIsPlainAndBounded();
    void newerVersionIsReportedOnceAndEndsTheChecks();
    void noNewerVersionOrNoAnswerChecksAgain_data();
    void noNewerVersionOrNoAnswerChecksAgain();
    void answerIsShortPlainText();
    void stopEndsAHangingCheck();

private:
    TestHttpServer server;
};

void TestVersion::initTestCase()
{
    QVERIFY(server.Start());
    Const::SetServiceRootsForTesting(QString(), server.BaseUrl(), QString());
}

void TestVersion::init()
{
    server.ClearScript();
    server.ClearRequests();
}

void TestVersion::parseAndCompare_data()
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

void TestVersion::parseAndCompare()
{
    QFETCH(QString, answer);
    QFETCH(QString, parsed);
    QFETCH(bool, newer);

    const QVersionNumber v = ParseVersionNumber(answer);
    QCOMPARE(v.toString(), parsed);
    QCOMPARE(QVersionNumber::compare(v, ParseVersionNumber(Const::SoftVersion)) > 0, newer);
}

void TestVersion::displayTextIsPlainAndBounded()
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

void TestVersion::newerVersionIsReportedOnceAndEndsTheChecks()
{
    server.SetResponse(VersionPath, TestHttpResponse::Ok("3.3.6"));
    UserVersionLoader loader;
    QSignalSpy completed(&loader, &UserVersionLoader::completed);
    QSignalSpy newVersion(&loader, &UserVersionLoader::onNewVersion);

    RunOnce(loader);
    QCOMPARE(completed.size(), 1);
    QCOMPARE(completed.at(0), (QVariantList{true, true}));
    QCOMPARE(newVersion.size(), 1);
    QCOMPARE(newVersion.at(0).at(0).toString(), QStringLiteral("3.3.6"));
    const QByteArray path = server.Requests().at(0).path;
    QVERIFY(path.startsWith(VersionPath + "?id=version"));
    QVERIFY(path.contains("kind=tessaly-mac"));

    // Later starts (the version timer) do nothing.
    QVERIFY(loader.IsDone());
    loader.StartIfNotRunning();
    QTest::qWait(100);
    QCOMPARE(server.RequestCount(), 1);
    QCOMPARE(newVersion.size(), 1);
}

void TestVersion::noNewerVersionOrNoAnswerChecksAgain_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("answered");
    QTest::newRow("same version") << 200 << QByteArray("3.3.5") << true;
    QTest::newRow("404") << 404 << QByteArray("3.9.9") << false;
    QTest::newRow("blank body") << 200 << QByteArray(" \r\n") << false;
}

void TestVersion::noNewerVersionOrNoAnswerChecksAgain()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, answered);
    server.SetResponse(VersionPath, TestHttpResponse::Status(status, body));
    UserVersionLoader loader;
    QSignalSpy completed(&loader, &UserVersionLoader::completed);
    QSignalSpy newVersion(&loader, &UserVersionLoader::onNewVersion);

    RunOnce(loader);
    QCOMPARE(completed.size(), 1);
    QCOMPARE(completed.at(0), (QVariantList{answered, false}));
    QCOMPARE(newVersion.size(), 0);
    QVERIFY(!loader.IsDone());

    // The next start (timer or next program start) asks again.
    server.SetResponse(VersionPath, TestHttpResponse::Ok("3.3.6"));
    RunOnce(loader);
    QCOMPARE(server.RequestCount(), 2);
    QCOMPARE(newVersion.size(), 1);
}

void TestVersion::answerIsShortPlainText()
{
    bool newer = false;
    QString own;
    QString latest;
    // An error page served with 200: an answer, but no newer version, and cut short.
    QByteArray page = "<html><body><a href='http://x'>9.9.9</a>";
    page += QByteArray(1 << 20, 'x');
    server.SetResponse(VersionPath, TestHttpResponse::Ok(page));
    QVERIFY(UserVersionLoader::QueryLatestVersion(nullptr, 5000, newer, own, latest));
    QCOMPARE(own, QStringLiteral("3.3.5"));
    QVERIFY(!newer);
    QCOMPARE(latest.size(), MaxVersionTextLength);
}

void TestVersion::stopEndsAHangingCheck()
{
    server.SetDefault(TestHttpResponse::Hang());
    UserVersionLoader loader;
    QSignalSpy completed(&loader, &UserVersionLoader::completed);
    loader.StartIfNotRunning();
    QVERIFY(server.WaitForRequests(1));

    QElapsedTimer timer;
    timer.start();
    loader.Stop();
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(completed.size(), 1);
    QCOMPARE(completed.at(0), (QVariantList{false, false}));
}

QTEST_GUILESS_MAIN(TestVersion)
#include "test_version.moc"
