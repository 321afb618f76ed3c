#include "TestHttpScript.h"

TestHttpScript::TestHttpScript()
{
    fallback = TestHttpResponse::Status(404, "not found");
}

void TestHttpScript::Enqueue(const TestHttpResponse &response)
{
    QMutexLocker locker(&mutex);
    queue.enqueue(response);
}

void TestHttpScript::EnqueueFor(const QByteArray &path, const TestHttpResponse &response)
{
    QMutexLocker locker(&mutex);
    pathQueues[path].enqueue(response);
}

void TestHttpScript::SetResponse(const QByteArray &path, const TestHttpResponse &response)
{
    QMutexLocker locker(&mutex);
    byPath.insert(path, response);
}

void TestHttpScript::RemoveResponse(const QByteArray &path)
{
    QMutexLocker locker(&mutex);
    byPath.remove(path);
}

void TestHttpScript::SetDefault(const TestHttpResponse &response)
{
    QMutexLocker locker(&mutex);
    fallback = response;
}

void TestHttpScript::ClearScript()
{
    QMutexLocker locker(&mutex);
    queue.clear();
    pathQueues.clear();
    byPath.clear();
    fallback = TestHttpResponse::Status(404, "not found");
}

TestHttpResponse TestHttpScript::Answer(const TestHttpRequest &request)
{
    QMutexLocker locker(&mutex);
    requests.append(request);
    // Exact path (query included) wins over the bare path.
    const QByteArray keys[2] = { request.path, request.PathOnly() };
    for (const QByteArray &key : keys) {
        auto it = pathQueues.find(key);
        if (it != pathQueues.end() && !it->isEmpty())
            return it->dequeue();
    }
    if (!queue.isEmpty())
        return queue.dequeue();
    for (const QByteArray &key : keys) {
        auto it = byPath.constFind(key);
        if (it != byPath.constEnd())
            return *it;
    }
    return fallback;
}

QList<TestHttpRequest> TestHttpScript::Requests() const
{
    QMutexLocker locker(&mutex);
    return requests;
}

int TestHttpScript::RequestCount() const
{
    QMutexLocker locker(&mutex);
    return requests.size();
}

void TestHttpScript::ClearRequests()
{
    QMutexLocker locker(&mutex);
    requests.clear();
    connections = 0;
}

void TestHttpScript::ConnectionOpened()
{
    QMutexLocker locker(&mutex);
    ++connections;
}

int TestHttpScript::ConnectionCount() const
{
    QMutexLocker locker(&mutex);
    return connections;
}
