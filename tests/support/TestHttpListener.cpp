#include "TestHttpListener.h"

#include "TestHttpConnection.h"
#include "TestHttpScript.h"
#include "TestTlsCertificates.h"

#include <QSslSocket>

TestHttpListener::TestHttpListener(TestHttpScript *script, Tls tls) : script(script), tls(tls)
{
}

void TestHttpListener::incomingConnection(qintptr descriptor)
{
    script->ConnectionOpened();
    if (tls == Tls::None) {
        auto *socket = new QTcpSocket;
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        new TestHttpConnection(socket, script, false, this);
        return;
    }
    const TestTlsCertificates &certs = TestTlsCertificates::Instance();
    const TestTlsCertificates::Identity &id = tls == Tls::Trusted ? certs.Trusted() : certs.Untrusted();
    auto *socket = new QSslSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificate(id.certificate);
    socket->setPrivateKey(id.key);
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    new TestHttpConnection(socket, script, true, this);
    socket->startServerEncryption();
}
