#pragma once

#include "sending/frmsend.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"

#include <QFile>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

/// What every send-window test needs: a private settings file, scripted
/// prompts, a folder for files, and no window left open afterwards.
struct SendEnv
{
    TempSettings settings;
    ScriptedUi ui;
    QTemporaryDir dir;

    ~SendEnv()
    {
        const auto open = frmSend::openWindows();
        for (frmSend *w : open) {
            w->IsModified = false;
            delete w;
        }
    }

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            qFatal("cannot write test file");
        return path;
    }

    /// Closes a window the way its close box does and waits until it is gone.
    static bool closeAndWait(frmSend *w)
    {
        QPointer<frmSend> p(w);
        w->close();
        return QTest::qWaitFor([&] { return p.isNull(); }, 5000);
    }
};

/// A real TCP connection on 127.0.0.1: the hook writes what a window hands
/// over into one end, the other end collects what arrives. handedOver keeps
/// each hand-over apart, received is the stream.
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

    QByteArray received;
    QList<QByteArray> handedOver;

private:
    QTcpServer m_server;
    QTcpSocket m_client;
    QTcpSocket *m_peer = nullptr;
};
