#pragma once

#include "TestHttpRequest.h"
#include "TestHttpResponse.h"

#include <QTcpServer>

#include <functional>

// The listening socket of TestHttpServer; lives in the server thread.
class TestHttpListener : public QTcpServer
{
    Q_OBJECT
public:
    enum class Tls { None, Trusted, Untrusted };
    using Answer = std::function<TestHttpResponse(const TestHttpRequest &)>;

    TestHttpListener(Answer answer, Tls tls) : answer(std::move(answer)), tls(tls) {}

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    const Answer answer;
    const Tls tls;
};
