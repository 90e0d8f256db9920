#pragma once

#include "sending/frmsend.h"

#include <QByteArray>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

/// A real TCP connection on 127.0.0.1 for send-window tests: the hook writes
/// what a window hands over into one end, and the other end collects what
/// arrives. handedOver keeps each hand-over apart, received is the stream.
class LoopbackPeer
{
public:
    LoopbackPeer()
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
        m_client.connectToHost(QHostAddress::LocalHost, m_server.serverPort());
        QVERIFY(m_server.waitForNewConnection(10000));
        m_peer = m_server.nextPendingConnection();
        QVERIFY(m_peer);
        QVERIFY(m_client.waitForConnected(10000));
        QObject::connect(m_peer, &QTcpSocket::readyRead, m_peer, [this] { received += m_peer->readAll(); });
    }

    frmSend::SendHook hook()
    {
        return [this](const QByteArray &bytes) {
            handedOver.append(bytes);
            m_client.write(bytes);
        };
    }

    QTcpSocket &client() { return m_client; }

    QByteArray received;
    QList<QByteArray> handedOver;

private:
    QTcpServer m_server;
    QTcpSocket m_client;
    QTcpSocket *m_peer = nullptr;
};
