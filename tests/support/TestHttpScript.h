#pragma once

#include "TestHttpRequest.h"
#include "TestHttpResponse.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QQueue>

// The shared, thread-safe state of one TestHttpServer: what to answer and what was asked.
// Used by the test thread (to script and inspect) and the server thread (to answer).
class TestHttpScript
{
public:
    TestHttpScript();

    void Enqueue(const TestHttpResponse &response);
    void EnqueueFor(const QByteArray &path, const TestHttpResponse &response);
    void SetResponse(const QByteArray &path, const TestHttpResponse &response);
    void RemoveResponse(const QByteArray &path);
    void SetDefault(const TestHttpResponse &response);
    void ClearScript();

    // Records the request and picks its answer.
    TestHttpResponse Answer(const TestHttpRequest &request);

    QList<TestHttpRequest> Requests() const;
    int RequestCount() const;
    void ClearRequests();

    void ConnectionOpened();
    int ConnectionCount() const;

private:
    mutable QMutex mutex;
    QQueue<TestHttpResponse> queue;
    QHash<QByteArray, QQueue<TestHttpResponse>> pathQueues;
    QHash<QByteArray, TestHttpResponse> byPath;
    TestHttpResponse fallback;
    QList<TestHttpRequest> requests;
    int connections = 0;
};
