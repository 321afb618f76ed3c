// Checks the scripted local server that the network tests rely on.
#include "TestHttpServer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslError>
#include <QTimer>
#include <QtTest>

namespace {

struct Fetched
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    bool timedOut = false;
};

Fetched Fetch(const QString &url, int timeoutMs = 5000)
{
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = manager.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    Fetched f;
    f.timedOut = reply->isRunning();
    if (f.timedOut)
        reply->abort();
    else
        f.body = reply->readAll();
    f.error = reply->error();
    f.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    delete reply;
    return f;
}

} // namespace

class TestServiceTestServer : public QObject
{
    Q_OBJECT
private slots:
    void answersFromScriptInOrder()
    {
        TestHttpServer server;
        QVERIFY(server.Start());
        QVERIFY(server.Port() != 0);
        server.SetResponse("/map", TestHttpResponse::Ok("mapped"));
        server.EnqueueFor("/map", TestHttpResponse::Status(503, "busy"));
        server.Enqueue(TestHttpResponse::Ok("first"));

        Fetched a = Fetch(server.Url("/other?x=1"));
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body, QByteArray("first"));
        Fetched b = Fetch(server.Url("/map?q=2"));
        QCOMPARE(b.status, 503);
        QCOMPARE(b.body, QByteArray("busy"));
        Fetched c = Fetch(server.Url("/map?q=3"));
        QCOMPARE(c.body, QByteArray("mapped"));
        Fetched d = Fetch(server.Url("/none"));
        QCOMPARE(d.status, 404);
        QCOMPARE(d.body, QByteArray("not found"));

        const QList<TestHttpRequest> requests = server.Requests();
        QCOMPARE(requests.size(), 4);
        QCOMPARE(requests.at(0).method, QByteArray("GET"));
        QCOMPARE(requests.at(0).path, QByteArray("/other?x=1"));
        QCOMPARE(requests.at(1).Header("host"), QByteArray("127.0.0.1:") + QByteArray::number(server.Port()));
        QCOMPARE(server.RequestCount("/map"), 2);
    }

    void delaysTricklesAndCuts()
    {
        TestHttpServer server;
        QVERIFY(server.Start());
        server.SetResponse("/slow", TestHttpResponse::Delayed(300, "late"));
        server.SetResponse("/trickle", TestHttpResponse::Trickle(QByteArray(100, 'x'), 10, 20));
        server.SetResponse("/cut", TestHttpResponse::CloseMidBody(QByteArray(1000, 'y'), 100));
        server.SetResponse("/hang", TestHttpResponse::Hang());

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(Fetch(server.Url("/slow")).body, QByteArray("late"));
        QVERIFY(clock.elapsed() >= 250);
        clock.restart();
        QCOMPARE(Fetch(server.Url("/trickle")).body, QByteArray(100, 'x'));
        QVERIFY(clock.elapsed() >= 150);
        // The client sees the announced length but never more than the 100 bytes sent.
        Fetched cut = Fetch(server.Url("/cut"));
        QCOMPARE(cut.status, 200);
        QVERIFY(cut.body.size() <= 100);
        Fetched h = Fetch(server.Url("/hang"), 300);
        QVERIFY(h.timedOut);
        QCOMPARE(server.RequestCount(), 4);
    }

    void tlsTrustedAndUntrusted()
    {
        TestHttpServer good(TestHttpServer::Mode::Tls);
        QVERIFY(good.Start());
        QVERIFY(good.BaseUrl().startsWith(QLatin1String("https://127.0.0.1:")));
        good.SetDefault(TestHttpResponse::Ok("secret"));
        Fetched ok = Fetch(good.Url("/x"));
        QCOMPARE(ok.error, QNetworkReply::NoError);
        QCOMPARE(ok.body, QByteArray("secret"));
        QVERIFY(good.Requests().at(0).tls);

        TestHttpServer bad(TestHttpServer::Mode::TlsUntrusted);
        QVERIFY(bad.Start());
        bad.SetDefault(TestHttpResponse::Ok("secret"));
        Fetched refused = Fetch(bad.Url("/x"));
        QCOMPARE(refused.error, QNetworkReply::SslHandshakeFailedError);
        QVERIFY(refused.body.isEmpty());
        QCOMPARE(bad.RequestCount(), 0);
        QCOMPARE(bad.ConnectionCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestServiceTestServer)
#include "test_servicetestserver.moc"
