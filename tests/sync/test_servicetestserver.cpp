// Checks the scripted local server that the network tests rely on.
#include "TestHttpServer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QtTest>

namespace {

struct Fetched
{
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
    f.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    delete reply;
    return f;
}

} // namespace

// Other tests trust the server's routing, recording and TLS because their own checks fail
// loudly when those break; a delay, trickle, cut or hang that did not happen would instead let
// their time-out and cancel checks pass without testing anything.
class TestServiceTestServer : public QObject
{
    Q_OBJECT
private slots:
    void delaysTricklesCutsAndHangs()
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
        QVERIFY(Fetch(server.Url("/hang"), 300).timedOut);
        QCOMPARE(server.RequestCount(), 4);
    }
};

QTEST_GUILESS_MAIN(TestServiceTestServer)
#include "test_servicetestserver.moc"
