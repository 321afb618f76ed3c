#include "TestHttpListener.h"

#include "TestHttpConnection.h"
#include "TestTlsCertificates.h"

#include <QSslSocket>

void TestHttpListener::incomingConnection(qintptr descriptor)
{
    QSslSocket *tlsSocket = tls == Tls::None ? nullptr : new QSslSocket;
    QTcpSocket *socket = tlsSocket ? tlsSocket : new QTcpSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    new TestHttpConnection(socket, answer, this);
    if (!tlsSocket)
        return;
    const TestTlsCertificates &certs = TestTlsCertificates::Instance();
    const TestTlsCertificates::Identity &id = tls == Tls::Trusted ? certs.Trusted() : certs.Untrusted();
    tlsSocket->setLocalCertificate(id.certificate);
    tlsSocket->setPrivateKey(id.key);
    tlsSocket->setPeerVerifyMode(QSslSocket::VerifyNone);
    tlsSocket->startServerEncryption();
}
