#include "TestHttpServer.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <functional>
#include <memory>

namespace {

using Answer = std::function<TestHttpResponse(const TestHttpRequest &)>;
using Counter = std::function<void(qint64)>;

// Serves a self-signed certificate for 127.0.0.1, made in memory with libcrypto.
QSslConfiguration MakeServerConfiguration(const char *organisation)
{
    EVP_PKEY *key = EVP_EC_gen("P-256");
    X509 *cert = X509_new();
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 30L * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME *name = X509_get_subject_name(cert);
    const char *const entries[][2] = {{"O", organisation}, {"CN", "127.0.0.1"}};
    for (const auto &entry : entries)
        X509_NAME_add_entry_by_txt(name, entry[0], MBSTRING_ASC, reinterpret_cast<const unsigned char *>(entry[1]),
                                   -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    const QByteArray pem(data, int(size));
    BIO_free(bio);
    X509_free(cert);
    EVP_PKEY_free(key);
    QSslConfiguration config;
    config.setLocalCertificate(QSslCertificate(pem));
    config.setPrivateKey(QSslKey(pem, QSsl::Ec));
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    return config;
}

// Made once, on the test thread: the server thread never waits for key generation. The process (not the
// system) trusts the first; nobody trusts the other, which proves that TLS errors fail.
struct Certificates
{
    const QSslConfiguration trusted = MakeServerConfiguration("Tessaly tests");
    const QSslConfiguration untrusted = MakeServerConfiguration("Stranger");
    const bool valid = !trusted.privateKey().isNull() && !untrusted.privateKey().isNull();

    Certificates()
    {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setCaCertificates(config.caCertificates() << trusted.localCertificate());
        QSslConfiguration::setDefaultConfiguration(config);
    }
};

// False while the request has not fully arrived.
bool ParseRequest(const QByteArray &received, TestHttpRequest &request)
{
    const int headEnd = received.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return false;
    const QList<QByteArray> lines = received.left(headEnd).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.path = first.value(1);
    for (const QByteArray &line : lines.mid(1)) {
        const int colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append(qMakePair(line.left(colon).trimmed(), line.mid(colon + 1).trimmed()));
    }
    request.body = received.mid(headEnd + 4);
    return request.body.size() >= request.Header("Content-Length").toLongLong();
}

// Writes body from at on, chunk bytes every intervalMs, then closes gracefully (what was written still arrives).
void SendFrom(QTcpSocket *socket, const QByteArray &body, int at, int chunk, int intervalMs)
{
    socket->write(body.mid(at, chunk));
    if (at + chunk >= body.size())
        socket->disconnectFromHost();
    else
        QTimer::singleShot(intervalMs, socket, [=] { SendFrom(socket, body, at + chunk, chunk, intervalMs); });
}

// Writes length bytes, a little at a time as the client takes them, then closes.
void SendGenerated(QTcpSocket *socket, qint64 length)
{
    const qint64 piece = 64 * 1024;
    auto left = std::make_shared<qint64>(length);
    auto pump = [socket, left, piece] {
        while (*left > 0 && socket->bytesToWrite() < 4 * piece) {
            const qint64 size = qMin(piece, *left);
            socket->write(QByteArray(int(size), 'g'));
            *left -= size;
        }
        if (*left == 0) {
            *left = -1;
            socket->disconnectFromHost();
        }
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, pump);
    pump();
}

void Respond(QTcpSocket *socket, const TestHttpResponse &r)
{
    if (r.neverAnswer)
        return;
    const bool generated = r.generatedBodyBytes >= 0;
    // Clients give the reason phrase no meaning: one for every status.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + " Scripted\r\n";
    for (const auto &h : r.headers)
        head += h.first + ": " + h.second + "\r\n";
    if (r.sendContentLength)
        head += "Content-Length: " + QByteArray::number(generated ? r.generatedBodyBytes : r.body.size()) + "\r\n";
    const QByteArray body = r.closeAfterBodyBytes >= 0 ? r.body.left(int(r.closeAfterBodyBytes)) : r.body;
    const int chunk = r.trickleChunkBytes > 0 ? r.trickleChunkBytes : body.size();
    QTimer::singleShot(r.headerDelayMs, socket, [=] {
        socket->write(head + "Connection: close\r\n\r\n");
        if (generated)
            SendGenerated(socket, r.generatedBodyBytes);
        else
            SendFrom(socket, body, 0, chunk, r.trickleIntervalMs);
    });
}

// Answers one request on every connection; with a TLS configuration, over TLS.
class Listener : public QTcpServer
{
public:
    Listener(Answer answer, Counter sent, const QSslConfiguration *tls)
        : answer(std::move(answer)), sent(std::move(sent)), tlsConfiguration(tls)
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        QSslSocket *tls = tlsConfiguration ? new QSslSocket(this) : nullptr;
        QTcpSocket *socket = tls ? tls : new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::bytesWritten, socket, sent);
        connect(socket, &QTcpSocket::readyRead, socket,
                [this, socket, received = QByteArray(), answered = false]() mutable {
                    received += socket->readAll();
                    TestHttpRequest request;
                    if (answered || !ParseRequest(received, request))
                        return;
                    answered = true;
                    Respond(socket, answer(request));
                });
        if (!tls)
            return;
        tls->setSslConfiguration(*tlsConfiguration);
        tls->startServerEncryption();
    }

private:
    const Answer answer;
    const Counter sent;
    const QSslConfiguration *const tlsConfiguration;
};

} // namespace

bool TestHttpServer::Start()
{
    if (thread)
        return port != 0;
    const QSslConfiguration *tls = nullptr;
    if (mode != Mode::Plain) {
        static const Certificates certificates;
        if (!certificates.valid)
            return false;
        tls = mode == Mode::Tls ? &certificates.trusted : &certificates.untrusted;
    }
    auto *listener = new Listener([this](const TestHttpRequest &request) { return Answer(request); },
                                  [this](qint64 bytes) { bytesSent += bytes; }, tls);
    port = listener->listen(QHostAddress(QHostAddress::LocalHost), 0) ? listener->serverPort() : 0;
    thread = new QThread;
    thread->setObjectName(QStringLiteral("TestHttpServer"));
    listener->moveToThread(thread);
    // Deleted in its own thread as that ends, together with its connections.
    QObject::connect(thread, &QThread::finished, listener, &QObject::deleteLater);
    thread->start();
    return port != 0;
}

void TestHttpServer::Stop()
{
    if (!thread)
        return;
    thread->quit();
    thread->wait();
    delete thread;
    thread = nullptr;
}

QString TestHttpServer::BaseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(mode == Mode::Plain ? "http" : "https").arg(port);
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
    byPath.clear();
    fallback = TestHttpResponse::Status(404, "not found");
}

TestHttpResponse TestHttpServer::Answer(const TestHttpRequest &request)
{
    QMutexLocker locker(&mutex);
    requests.append(request);
    return byPath.value(request.path, byPath.value(request.PathOnly(), fallback));
}

QList<TestHttpRequest> TestHttpServer::Requests() const
{
    QMutexLocker locker(&mutex);
    return requests;
}

int TestHttpServer::RequestCount(const QByteArray &path) const
{
    const QList<TestHttpRequest> all = Requests();
    return int(std::count_if(all.cbegin(), all.cend(), [&](const TestHttpRequest &r) { return r.PathOnly() == path; }));
}

void TestHttpServer::ClearRequests()
{
    QMutexLocker locker(&mutex);
    requests.clear();
    bytesSent = 0;
}

bool TestHttpServer::WaitForRequests(int count, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (RequestCount() < count && !deadline.hasExpired())
        QThread::msleep(2);
    return RequestCount() >= count;
}
