#pragma once

#include "TestHttpRequest.h"
#include "TestHttpResponse.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

#include <atomic>

class QThread;

// A scripted HTTP/HTTPS server for tests on 127.0.0.1 at an ephemeral port. It runs in a thread of
// its own, so code under test may block the test thread while the server keeps answering.
// A request's answer: SetResponse's for its path (with its query before without), else the default
// (SetDefault, initially 404 "not found"). Every answer carries "Connection: close". All methods
// are thread-safe. Mode::Tls serves a certificate for 127.0.0.1 that Start() makes this process
// trust; Mode::TlsUntrusted one that clients must refuse (no request is recorded).
class TestHttpServer
{
public:
    enum class Mode { Plain, Tls, TlsUntrusted };

    explicit TestHttpServer(Mode mode = Mode::Plain) : mode(mode) { ClearScript(); }
    ~TestHttpServer() { Stop(); } // open connections are dropped
    TestHttpServer(const TestHttpServer &) = delete;
    TestHttpServer &operator=(const TestHttpServer &) = delete;

    bool Start(); // false when listening failed
    void Stop();

    QString BaseUrl() const; // "http://127.0.0.1:<port>" or "https://...", no final slash
    QString Url(const QString &path) const { return BaseUrl() + path; }

    void SetResponse(const QByteArray &path, const TestHttpResponse &response);
    void SetDefault(const TestHttpResponse &response);
    void ClearScript(); // forgets map and default; the recorded requests stay

    QList<TestHttpRequest> Requests() const; // in order of arrival
    int RequestCount() const { return Requests().size(); }
    int RequestCount(const QByteArray &path) const; // requests for path, query ignored
    void ClearRequests(); // also sets BytesSent back to 0
    // Bytes that the connections handed to the network, headers included.
    qint64 BytesSent() const { return bytesSent.load(); }
    // Sleeps in short steps until at least count requests arrived; false after timeoutMs.
    bool WaitForRequests(int count, int timeoutMs = 5000) const;

private:
    // Records the request and picks its answer (server thread).
    TestHttpResponse Answer(const TestHttpRequest &request);

    const Mode mode;
    quint16 port = 0;
    QThread *thread = nullptr;

    mutable QMutex mutex;
    QHash<QByteArray, TestHttpResponse> byPath;
    TestHttpResponse fallback;
    QList<TestHttpRequest> requests;
    std::atomic<qint64> bytesSent{0};
};
