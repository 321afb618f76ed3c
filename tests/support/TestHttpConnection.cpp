#include "TestHttpConnection.h"

#include "TestHttpRequest.h"

#include <QList>
#include <QTcpSocket>
#include <QTimer>

TestHttpConnection::TestHttpConnection(QTcpSocket *accepted, TestHttpListener::Answer answer, QObject *parent)
    : QObject(parent), socket(accepted), answer(std::move(answer)), timer(new QTimer(this))
{
    socket->setParent(this);
    timer->setSingleShot(true);
    connect(socket, &QTcpSocket::readyRead, this, &TestHttpConnection::OnReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &TestHttpConnection::Drop);
    connect(socket, &QAbstractSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError) {
                if (socket->state() != QAbstractSocket::ConnectedState)
                    Drop();
            });
}

void TestHttpConnection::OnReadyRead()
{
    buffer.append(socket->readAll());
    if (answered)
        return;
    const int headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    TestHttpRequest request;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.path = first.value(1);
    qint64 contentLength = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const int colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        request.headers.append(qMakePair(name, value));
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            contentLength = value.toLongLong();
    }
    if (buffer.size() - (headEnd + 4) < contentLength)
        return;
    request.body = buffer.mid(headEnd + 4, int(contentLength));
    answered = true;
    response = answer(request);
    if (response.neverAnswer)
        return;
    bodyLimit = response.body.size();
    if (response.closeAfterBodyBytes >= 0 && response.closeAfterBodyBytes < bodyLimit)
        bodyLimit = response.closeAfterBodyBytes;
    if (response.headerDelayMs > 0) {
        connect(timer, &QTimer::timeout, this, &TestHttpConnection::SendHead);
        timer->start(response.headerDelayMs);
    } else {
        SendHead();
    }
}

void TestHttpConnection::SendHead()
{
    timer->disconnect(this);
    // Clients give the reason phrase no meaning: one for every status.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Scripted\r\n";
    bool hasType = false;
    for (const auto &h : qAsConst(response.headers)) {
        head += h.first + ": " + h.second + "\r\n";
        hasType = hasType || h.first.compare("Content-Type", Qt::CaseInsensitive) == 0;
    }
    if (!hasType)
        head += "Content-Type: application/octet-stream\r\n";
    if (response.sendContentLength)
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head);
    if (response.trickleChunkBytes > 0) {
        connect(timer, &QTimer::timeout, this, &TestHttpConnection::SendNextChunk);
        SendNextChunk();
        return;
    }
    socket->write(response.body.constData(), bodyLimit);
    bodySent = bodyLimit;
    Finish();
}

void TestHttpConnection::SendNextChunk()
{
    const qint64 n = qMin<qint64>(response.trickleChunkBytes, bodyLimit - bodySent);
    if (n > 0) {
        socket->write(response.body.constData() + bodySent, n);
        bodySent += n;
    }
    if (bodySent >= bodyLimit) {
        Finish();
        return;
    }
    timer->start(qMax(0, response.trickleIntervalMs));
}

void TestHttpConnection::Finish()
{
    timer->disconnect(this);
    // Graceful close: what was written still reaches the client, then the connection ends.
    socket->disconnectFromHost();
}

void TestHttpConnection::Drop()
{
    timer->stop();
    deleteLater();
}
