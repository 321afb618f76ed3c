// Checks the scripted local server that the network tests rely on.
#include "TestHttpServer.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(TestHttpResponse)
Q_DECLARE_METATYPE(TestHttpServer::Mode)

// Other tests trust the server's routing and recording because their own checks fail loudly when
// those break; a delay, trickle, cut, hang or refused certificate that did not happen would instead
// let their time-out, cancel and TLS checks pass without testing anything.
class TestServiceTestServer : public QObject
{
    Q_OBJECT
private slots:
    void scriptedAnswers_data()
    {
        QTest::addColumn<TestHttpServer::Mode>("mode");
        QTest::addColumn<TestHttpResponse>("response");
        QTest::addColumn<int>("minMs"); // the answer takes at least this long
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QNetworkReply::NetworkError>("error");
        using R = TestHttpResponse;
        using E = QNetworkReply::NetworkError;
        using Mode = TestHttpServer::Mode;
        const QByteArray x(100, 'x');
        const QByteArray y(1000, 'y');
        QTest::newRow("delayed") << Mode::Plain << R::Delayed(300, "late") << 250 << QByteArray("late") << E::NoError;
        QTest::newRow("trickled") << Mode::Plain << R::Trickle(x, 10, 20) << 150 << x << E::NoError;
        // The client sees the announced length but never more than the 100 bytes sent.
        QTest::newRow("cut") << Mode::Plain << R::CloseMidBody(y, 100) << 0 << y.left(100) << E::RemoteHostClosedError;
        QTest::newRow("hangs") << Mode::Plain << R::Hang() << 0 << QByteArray() << E::OperationCanceledError;
        QTest::newRow("trusted TLS") << Mode::Tls << R::Ok("safe") << 0 << QByteArray("safe") << E::NoError;
        QTest::newRow("untrusted TLS") << Mode::TlsUntrusted << R::Ok("safe") << 0 << QByteArray()
                                       << E::SslHandshakeFailedError;
    }

    void scriptedAnswers()
    {
        QFETCH(TestHttpServer::Mode, mode);
        QFETCH(TestHttpResponse, response);
        QFETCH(int, minMs);
        QFETCH(QByteArray, body);
        QFETCH(QNetworkReply::NetworkError, error);
        TestHttpServer server(mode);
        QVERIFY(server.Start());
        server.SetDefault(response);
        QNetworkAccessManager manager;
        QElapsedTimer clock;
        clock.start();
        std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(server.Url("/x")))));
        if (!QSignalSpy(reply.get(), &QNetworkReply::finished).wait(response.neverAnswer ? 300 : 5000))
            reply->abort();
        QVERIFY(clock.elapsed() >= minMs);
        QCOMPARE(reply->error(), error);
        QCOMPARE(reply->readAll(), body);
    }
};

QTEST_GUILESS_MAIN(TestServiceTestServer)
#include "test_servicetestserver.moc"
