#include "TestHttpServer.h"

#include "TestHttpListener.h"
#include "TestHttpScript.h"
#include "TestTlsCertificates.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QMetaObject>
#include <QThread>

#include <functional>

TestHttpServer::TestHttpServer(Mode mode) : mode(mode), script(new TestHttpScript)
{
}

TestHttpServer::~TestHttpServer()
{
    Stop();
    delete script;
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
    listener = new TestHttpListener(script, tls);
    listener->moveToThread(thread);
    bool ok = false;
    quint16 listening = 0;
    TestHttpListener *l = listener;
    QMetaObject::invokeMethod(
        listener,
        [l, &ok, &listening]() {
            ok = l->listen(QHostAddress(QHostAddress::LocalHost), 0);
            listening = ok ? l->serverPort() : 0;
        },
        Qt::BlockingQueuedConnection);
    port = listening;
    return ok;
}

void TestHttpServer::Stop()
{
    if (!thread)
        return;
    TestHttpListener *l = listener;
    // Deleted in its own thread, together with its connections.
    QMetaObject::invokeMethod(
        listener, [l]() { delete l; }, Qt::BlockingQueuedConnection);
    listener = nullptr;
    thread->quit();
    thread->wait();
    delete thread;
    thread = nullptr;
}

QString TestHttpServer::BaseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(mode == Mode::Plain ? QStringLiteral("http") : QStringLiteral("https"))
        .arg(port);
}

QString TestHttpServer::Url(const QString &path) const
{
    return BaseUrl() + path;
}

void TestHttpServer::Enqueue(const TestHttpResponse &response) { script->Enqueue(response); }

void TestHttpServer::EnqueueFor(const QByteArray &path, const TestHttpResponse &response)
{
    script->EnqueueFor(path, response);
}

void TestHttpServer::SetResponse(const QByteArray &path, const TestHttpResponse &response)
{
    script->SetResponse(path, response);
}

void TestHttpServer::RemoveResponse(const QByteArray &path) { script->RemoveResponse(path); }

void TestHttpServer::SetDefault(const TestHttpResponse &response) { script->SetDefault(response); }

void TestHttpServer::ClearScript() { script->ClearScript(); }

QList<TestHttpRequest> TestHttpServer::Requests() const { return script->Requests(); }

int TestHttpServer::RequestCount() const { return script->RequestCount(); }

int TestHttpServer::RequestCount(const QByteArray &path) const
{
    int n = 0;
    const QList<TestHttpRequest> all = script->Requests();
    for (const TestHttpRequest &r : all) {
        if (r.PathOnly() == path)
            ++n;
    }
    return n;
}

void TestHttpServer::ClearRequests() { script->ClearRequests(); }

int TestHttpServer::ConnectionCount() const { return script->ConnectionCount(); }

namespace {

// Sleeps in short steps until counted() reaches count; false after timeoutMs.
bool WaitForCount(const std::function<int()> &counted, int count, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (counted() < count) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(2);
    }
    return true;
}

} // namespace

bool TestHttpServer::WaitForRequests(int count, int timeoutMs) const
{
    return WaitForCount([this] { return script->RequestCount(); }, count, timeoutMs);
}

bool TestHttpServer::WaitForConnections(int count, int timeoutMs) const
{
    return WaitForCount([this] { return script->ConnectionCount(); }, count, timeoutMs);
}
