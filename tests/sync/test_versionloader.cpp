// The version worker against a local service: reporting, retrying and failing quietly.
#include "Const.h"
#include "TestHttpServer.h"
#include "UserVersionLoader.h"

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

class TestVersionLoader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void newerVersionIsReportedOnceAndEndsTheChecks();
    void sameVersionChecksAgainOnNextStart();
    void missingAnswerFailsQuietlyAndRetries_data();
    void missingAnswerFailsQuietlyAndRetries();
    void answerIsShortPlainText();
    void stopEndsAHangingCheck();
    void checkWithoutCancellerIsBoundedByItsTimeout();

private:
    TestHttpServer server;
};

void TestVersionLoader::initTestCase()
{
    QVERIFY(server.Start());
    Const::SetServiceRootsForTesting(QString(), server.BaseUrl(), QString());
    QVERIFY(Const::VersionCheckUrlWithKind.startsWith(server.BaseUrl()));
}

void TestVersionLoader::init()
{
    server.ClearScript();
    server.ClearRequests();
}

void TestVersionLoader::newerVersionIsReportedOnceAndEndsTheChecks()
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
    QVERIFY(loader.IsDone());

    const TestHttpRequest request = server.Requests().at(0);
    QCOMPARE(request.PathOnly(), VersionPath);
    QVERIFY(request.path.contains("id=version"));
    QVERIFY(request.path.contains("kind=tessaly-mac"));

    // Later starts (the version timer) do nothing.
    loader.StartIfNotRunning();
    QTest::qWait(100);
    QVERIFY(!loader.IsRunning());
    QCOMPARE(server.RequestCount(), 1);
    QCOMPARE(newVersion.size(), 1);
}

void TestVersionLoader::sameVersionChecksAgainOnNextStart()
{
    server.SetResponse(VersionPath, TestHttpResponse::Ok("3.3.5"));
    UserVersionLoader loader;
    QSignalSpy completed(&loader, &UserVersionLoader::completed);
    QSignalSpy newVersion(&loader, &UserVersionLoader::onNewVersion);

    RunOnce(loader);
    RunOnce(loader);
    QCOMPARE(server.RequestCount(), 2);
    QCOMPARE(completed.size(), 2);
    QCOMPARE(completed.at(1), (QVariantList{true, false}));
    QCOMPARE(newVersion.size(), 0);
    QVERIFY(!loader.IsDone());
}

void TestVersionLoader::missingAnswerFailsQuietlyAndRetries_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("404") << 404 << QByteArray("3.9.9");
    QTest::newRow("empty body") << 200 << QByteArray();
    QTest::newRow("blank body") << 200 << QByteArray(" \r\n");
}

void TestVersionLoader::missingAnswerFailsQuietlyAndRetries()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    server.SetResponse(VersionPath, TestHttpResponse::Status(status, body));
    UserVersionLoader loader;
    QSignalSpy completed(&loader, &UserVersionLoader::completed);
    QSignalSpy newVersion(&loader, &UserVersionLoader::onNewVersion);

    RunOnce(loader);
    QCOMPARE(completed.size(), 1);
    QCOMPARE(completed.at(0), (QVariantList{false, false}));
    QCOMPARE(newVersion.size(), 0);
    QVERIFY(!loader.IsDone());

    // The next start (the next start of the program, or the timer) asks again.
    server.SetResponse(VersionPath, TestHttpResponse::Ok("3.3.6"));
    RunOnce(loader);
    QCOMPARE(server.RequestCount(), 2);
    QCOMPARE(newVersion.size(), 1);
}

void TestVersionLoader::answerIsShortPlainText()
{
    bool newer = true;
    QString own;
    QString latest;

    server.SetResponse(VersionPath, TestHttpResponse::Ok("3.4.0\r\n"));
    QVERIFY(UserVersionLoader::QueryLatestVersion(nullptr, 5000, newer, own, latest));
    QCOMPARE(own, QStringLiteral("3.3.5"));
    QCOMPARE(latest, QStringLiteral("3.4.0"));
    QVERIFY(newer);

    // An error page served with 200: an answer, but no newer version, and cut short.
    QByteArray page = "<html><body><a href='http://x'>9.9.9</a>";
    page += QByteArray(1 << 20, 'x');
    server.SetResponse(VersionPath, TestHttpResponse::Ok(page));
    QVERIFY(UserVersionLoader::QueryLatestVersion(nullptr, 5000, newer, own, latest));
    QVERIFY(!newer);
    QVERIFY(latest.size() <= 32);
    QVERIFY(latest.startsWith(QStringLiteral("<html>")));
}

void TestVersionLoader::stopEndsAHangingCheck()
{
    server.SetDefault(TestHttpResponse::Hang());
    UserVersionLoader loader;
    QSignalSpy completed(&loader, &UserVersionLoader::completed);
    QSignalSpy newVersion(&loader, &UserVersionLoader::onNewVersion);
    loader.StartIfNotRunning();
    QVERIFY(server.WaitForRequests(1));

    QElapsedTimer timer;
    timer.start();
    loader.Stop();
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!loader.IsRunning());
    QCOMPARE(completed.size(), 1);
    QCOMPARE(completed.at(0), (QVariantList{false, false}));
    QCOMPARE(newVersion.size(), 0);
}

void TestVersionLoader::checkWithoutCancellerIsBoundedByItsTimeout()
{
    server.SetDefault(TestHttpResponse::Hang());
    bool newer = true;
    QString own;
    QString latest = QStringLiteral("old");
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!UserVersionLoader::QueryLatestVersion(nullptr, 400, newer, own, latest));
    QVERIFY(timer.elapsed() >= 350 && timer.elapsed() < 2000);
    QVERIFY(!newer);
    QVERIFY(latest.isEmpty());
}

QTEST_GUILESS_MAIN(TestVersionLoader)
#include "test_versionloader.moc"
