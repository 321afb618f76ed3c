#include "TestHttpServer.h"

#include "TestHttpListener.h"
#include "TestTlsCertificates.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QThread>

TestHttpServer::TestHttpServer(Mode mode) : mode(mode)
{
    ClearScript();
}

TestHttpServer::~TestHttpServer()
{
    Stop();
}

bool TestHttpServer::Start()
{
    if (thread)
        return port != 0;
    TestHttpListener::Tls tls = TestHttpListener::Tls::None;
    if (mode != Mode::Plain) {
        // Made here so that the server thread never waits for key generation.
        if (!TestTlsCertificates::Instance().IsValid())
            return false;
        TestTlsCertificates::InstallTrust();
        tls = mode == Mode::Tls ? TestHttpListener::Tls::Trusted : TestHttpListener::Tls::Untrusted;
    }
    thread = new QThread;
    thread->setObjectName(QStringLiteral("TestHttpServer"));
    thread->start();
    listener = new TestHttpListener([this](const TestHttpRequest &request) { return Answer(request); }, tls);
    listener->moveToThread(thread);
    TestHttpListener *l = listener;
    quint16 listening = 0;
    QMetaObject::invokeMethod(
        l, [l, &listening]() { listening = l->listen(QHostAddress(QHostAddress::LocalHost), 0) ? l->serverPort() : 0; },
        Qt::BlockingQueuedConnection);
    port = listening;
    return port != 0;
}

void TestHttpServer::Stop()
{
    if (!thread)
        return;
    TestHttpListener *l = listener;
    // Deleted in its own thread, together with its connections.
    QMetaObject::invokeMethod(l, [l]() { delete l; }, Qt::BlockingQueuedConnection);
    listener = nullptr;
    thread->quit();
    thread->wait();
    delete thread;
    thread = nullptr;
}

QString TestHttpServer::BaseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(mode == Mode::Plain ? "http" : "https").arg(port);
}

void TestHttpServer::Enqueue(const TestHttpResponse &response)
{
    QMutexLocker locker(&mutex);
    queue.enqueue(response);
}

void TestHttpServer::SetResponse(const QByteArray &path, const TestHttpResponse &response)
{
    QMutexLocker locker(&mutex);
    byPath.insert(path, response);
}

void TestHttpServer::SetDefault(const TestHttpResponse &response)
{
    QMutexLocker locker(&mutex);
    fallback = response;
}

void TestHttpServer::ClearScript()
{
    QMutexLocker locker(&mutex);
    queue.clear();
    byPath.clear();
    fallback = TestHttpResponse::Status(404, "not found");
}

TestHttpResponse TestHttpServer::Answer(const TestHttpRequest &request)
{
    QMutexLocker locker(&mutex);
    requests.append(request);
    if (!queue.isEmpty())
        return queue.dequeue();
    for (const QByteArray &key : {request.path, request.PathOnly()}) {
        auto it = byPath.constFind(key);
        if (it != byPath.constEnd())
            return *it;
    }
    return fallback;
}

QList<TestHttpRequest> TestHttpServer::Requests() const
{
    QMutexLocker locker(&mutex);
    return requests;
}

int TestHttpServer::RequestCount() const
{
    QMutexLocker locker(&mutex);
    return requests.size();
}

int TestHttpServer::RequestCount(const QByteArray &path) const
{
    QMutexLocker locker(&mutex);
    return int(std::count_if(requests.cbegin(), requests.cend(),
                             [&path](const TestHttpRequest &r) { return r.PathOnly() == path; }));
}

void TestHttpServer::ClearRequests()
{
    QMutexLocker locker(&mutex);
    requests.clear();
}

bool TestHttpServer::WaitForRequests(int count, int timeoutMs) const
{
    QElapsedTimer clock;
    clock.start();
    while (RequestCount() < count) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(2);
    }
    return true;
}
