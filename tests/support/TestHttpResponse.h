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
    qint64 generatedBodyBytes = -1; // >= 0: in place of body, this many bytes made as the client takes them

    static TestHttpResponse Status(int status, const QByteArray &body = QByteArray())
    {
        return TestHttpResponse().Set(&TestHttpResponse::status, status).Set(&TestHttpResponse::body, body);
    }
    static TestHttpResponse Ok(const QByteArray &body) { return Status(200, body); }
    static TestHttpResponse Redirect(const QByteArray &location, int status = 302)
    {
        return Status(status).With("Location", location);
    }
    static TestHttpResponse Hang() { return TestHttpResponse().Set(&TestHttpResponse::neverAnswer, true); }
    static TestHttpResponse Delayed(int headerDelayMs, const QByteArray &body)
    {
        return Ok(body).Set(&TestHttpResponse::headerDelayMs, headerDelayMs);
    }
    static TestHttpResponse Trickle(const QByteArray &body, int chunkBytes, int intervalMs)
    {
        return Ok(body).Set(&TestHttpResponse::trickleChunkBytes, chunkBytes)
            .Set(&TestHttpResponse::trickleIntervalMs, intervalMs);
    }
    static TestHttpResponse CloseMidBody(const QByteArray &body, qint64 bytesSent)
    {
        return Ok(body).Set(&TestHttpResponse::closeAfterBodyBytes, bytesSent);
    }
    // A body of length bytes that is never held whole: for bodies of gigabytes.
    static TestHttpResponse Generated(int status, qint64 length)
    {
        return Status(status).Set(&TestHttpResponse::generatedBodyBytes, length);
    }
    // The body in chunked transfer coding, chunkBytes a chunk.
    static TestHttpResponse Chunked(const QByteArray &body, int chunkBytes);
    // The body as a gzip member with "Content-Encoding: gzip" (a bomb when it is large and plain).
    static TestHttpResponse Gzip(const QByteArray &plain);
    // A copy with field set to value.
    template <typename T>
    TestHttpResponse Set(T TestHttpResponse::*field, const T &value) const
    {
        TestHttpResponse r = *this;
        r.*field = value;
        return r;
    }
    TestHttpResponse With(const QByteArray &name, const QByteArray &value) const
    {
        TestHttpResponse r = *this;
        r.headers.append(qMakePair(name, value));
        return r;
    }
};
