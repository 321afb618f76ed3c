#pragma once

#include <QTcpServer>

class TestHttpScript;

// The listening socket of TestHttpServer; lives in the server thread.
class TestHttpListener : public QTcpServer
{
    Q_OBJECT
public:
    enum class Tls { None, Trusted, Untrusted };

    TestHttpListener(TestHttpScript *script, Tls tls);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    TestHttpScript *script;
    Tls tls;
};
