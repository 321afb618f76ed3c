#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// One scripted answer of TestHttpServer. Build it with the helpers below and adjust fields freely.
struct TestHttpResponse
{
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;     // extra headers, sent as given
    QByteArray body;
    bool sendContentLength = true;                    // false: the body ends when the connection closes

    int headerDelayMs = 0;       // wait this long after the request before sending anything
    int trickleChunkBytes = 0;   // > 0: send the body in chunks of this size...
    int trickleIntervalMs = 0;   // ...one chunk every this many milliseconds
    qint64 closeAfterBodyBytes = -1; // >= 0: close the connection after this many body bytes
                                     // (Content-Length still announces the whole body)
    bool neverAnswer = false;    // read the request, then send nothing and keep the connection open

    static TestHttpResponse Status(int status, const QByteArray &body = QByteArray())
    {
        TestHttpResponse r;
        r.status = status;
        r.body = body;
        return r;
    }
    static TestHttpResponse Ok(const QByteArray &body) { return Status(200, body); }
    static TestHttpResponse Redirect(const QByteArray &location, int status = 302)
    {
        return Status(status).With("Location", location);
    }
    static TestHttpResponse Hang()
    {
        TestHttpResponse r;
        r.neverAnswer = true;
        return r;
    }
    static TestHttpResponse Delayed(int headerDelayMs, const QByteArray &body)
    {
        TestHttpResponse r = Ok(body);
        r.headerDelayMs = headerDelayMs;
        return r;
    }
    static TestHttpResponse Trickle(const QByteArray &body, int chunkBytes, int intervalMs)
    {
        TestHttpResponse r = Ok(body);
        r.trickleChunkBytes = chunkBytes;
        r.trickleIntervalMs = intervalMs;
        return r;
    }
    static TestHttpResponse CloseMidBody(const QByteArray &body, qint64 bytesSent)
    {
        TestHttpResponse r = Ok(body);
        r.closeAfterBodyBytes = bytesSent;
        return r;
    }
    // The body in chunked transfer coding, chunkBytes a chunk.
    static TestHttpResponse Chunked(const QByteArray &body, int chunkBytes);
    // The body as a gzip member with "Content-Encoding: gzip" (a bomb when it is large and plain).
    static TestHttpResponse Gzip(const QByteArray &plain);
    TestHttpResponse With(const QByteArray &name, const QByteArray &value) const
    {
        TestHttpResponse r = *this;
        r.headers.append(qMakePair(name, value));
        return r;
    }
};
