#pragma once

#include "TestHttpRequest.h"
#include "TestHttpResponse.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

class QThread;
class TestHttpListener;
class TestHttpScript;

// A scripted HTTP/HTTPS server for tests, listening on 127.0.0.1 at an ephemeral port.
//
// It runs in a thread of its own with its own event loop, so code under test may block the test
// thread (for example in QThread::wait slices) while the server keeps answering.
//
//   TestHttpServer server;                       // or TestHttpServer(TestHttpServer::Mode::Tls)
//   QVERIFY(server.Start());
//   server.SetResponse("/a.txt", TestHttpResponse::Ok("hello"));
//   server.Enqueue(TestHttpResponse::Hang());    // the next request (any path) never gets an answer
//   QString url = server.Url("/a.txt");         // "http://127.0.0.1:<port>/a.txt"
//   ... run the code under test ...
//   QCOMPARE(server.RequestCount(), 1);
//   QCOMPARE(server.Requests().at(0).path, QByteArray("/a.txt"));
//
// Choosing the answer of a request, first match wins:
//   1. the queue of its path (EnqueueFor), exact path with query first, then the path without query;
//   2. the global queue (Enqueue), one answer per request in order;
//   3. the path map (SetResponse), exact path with query first, then the path without query;
//   4. the default answer (SetDefault), initially 404 with the body "not found".
// Queued answers are used once; mapped and default answers are used for every match.
// Every answer carries "Connection: close" and the connection ends after it (one request each).
// All methods are thread-safe and may be called while the server runs.
//
// TLS: Mode::Tls serves a certificate for 127.0.0.1 signed by a test CA made at run time;
// Start() adds that CA to QSslConfiguration::defaultConfiguration() of this process, so ordinary
// requests trust it. Mode::TlsUntrusted serves a self-signed certificate that nobody trusts:
// clients must fail the handshake (no request is then recorded). See TestTlsCertificates.
class TestHttpServer
{
public:
    enum class Mode { Plain, Tls, TlsUntrusted };

    explicit TestHttpServer(Mode mode = Mode::Plain);
    ~TestHttpServer();  // stops the thread; open connections are dropped
    TestHttpServer(const TestHttpServer &) = delete;
    TestHttpServer &operator=(const TestHttpServer &) = delete;

    // Starts the thread and listens on 127.0.0.1, port 0. False when that failed.
    bool Start();
    void Stop();

    quint16 Port() const { return port; }
    // "http://127.0.0.1:<port>" or "https://127.0.0.1:<port>" (no final slash).
    QString BaseUrl() const;
    // BaseUrl() + path; path should begin with "/".
    QString Url(const QString &path) const;

    void Enqueue(const TestHttpResponse &response);
    void EnqueueFor(const QByteArray &path, const TestHttpResponse &response);
    void SetResponse(const QByteArray &path, const TestHttpResponse &response);
    void RemoveResponse(const QByteArray &path);
    void SetDefault(const TestHttpResponse &response);
    // Forgets queues, map and default (back to 404); the recorded requests stay.
    void ClearScript();

    // Every request received so far, in order of arrival (recorded when its head was read).
    QList<TestHttpRequest> Requests() const;
    int RequestCount() const;
    // Requests whose path without query equals path.
    int RequestCount(const QByteArray &path) const;
    // Forgets the recorded requests and the connection count.
    void ClearRequests();
    // Connections accepted so far (for TLS: also those whose handshake then failed).
    int ConnectionCount() const;

    // Sleeps in short steps until at least count requests arrived; false after timeoutMs.
    bool WaitForRequests(int count, int timeoutMs = 5000) const;
    // Sleeps in short steps until at least count connections were accepted; false after timeoutMs.
    bool WaitForConnections(int count, int timeoutMs = 5000) const;

private:
    Mode mode;
    quint16 port = 0;
    TestHttpScript *script;
    QThread *thread = nullptr;
    TestHttpListener *listener = nullptr;
};
