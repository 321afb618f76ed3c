#pragma once

#include "TestHttpListener.h"

#include <QByteArray>
#include <QObject>

class QTcpSocket;
class QTimer;

// One accepted connection of TestHttpServer, living in the server thread. Reads one request,
// answers it as scripted, then closes (every answer carries "Connection: close").
class TestHttpConnection : public QObject
{
    Q_OBJECT
public:
    TestHttpConnection(QTcpSocket *accepted, TestHttpListener::Answer answer, QObject *parent);

private:
    void OnReadyRead();
    void SendHead();
    void SendNextChunk();
    void Finish();
    void Drop();

    QTcpSocket *socket;
    const TestHttpListener::Answer answer;
    bool answered = false;
    QByteArray buffer;
    TestHttpResponse response;
    qint64 bodySent = 0;
    qint64 bodyLimit = 0;
    QTimer *timer;
};
