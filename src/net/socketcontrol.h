#pragma once

#include "core/oserror.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QTcpServer;
class QTcpSocket;

/// One TCP endpoint as the program drives it: a client connection, a
/// listener, or a connection accepted from a listener. Everything runs on the
/// user-interface thread; no call blocks (resolving and connecting proceed
/// on their own and show only in State()).
///
/// The state is the program's view, not the network layer's: after the peer
/// closes, the element stays "Peer is closing the connection" (8), and after
/// an error "Error" (9), until the program calls Close(), which always brings
/// it back to Closed (0), ready for reuse. A call that fails returns its
/// error and leaves the element as it was.
class SocketControl : public QObject
{
    Q_OBJECT
public:
    enum State {
        sckClosed = 0,
        sckOpen = 1,
        sckListening = 2,
        sckConnectionPending = 3,
        sckResolvingHost = 4,
        sckHostResolved = 5,
        sckConnecting = 6,
        sckConnected = 7,
        sckClosing = 8,
        sckError = 9
    };
    Q_ENUM(State)
    /// The text of a state, as the state labels and histories show it; any
    /// other number gives an empty text.
    static QString StateText(int state);

    /// Buffer bound used while reading is paused and no bound was set, so a
    /// paused element never holds more than this much of unread data.
    static constexpr qint64 kPausedReadBufferSize = 64 * 1024;
    /// How long a closed connection may keep flushing queued data before it
    /// is cut off.
    static constexpr int kLingerMs = 30000;
    static constexpr int kListenBacklog = 256;
    static constexpr int kMaxPendingConnections = 4096;

    explicit SocketControl(QObject *parent = nullptr);
    ~SocketControl() override;

    /// Starts connecting to remoteHost on remotePort (the text-box strings).
    /// Only failures of the call itself come back here (a port that is not a
    /// number, a local port that cannot be bound, a wrong state); failures
    /// of the connection arrive as the Error notification and state 9.
    OsError Connect(const QString &remoteHost, const QString &remotePort);

    /// The local port used by the next Connect or Listen; 0 lets the system
    /// pick a free one. A text that is not a port number is refused here and
    /// also makes the next Connect or Listen fail with the same error.
    OsError setLocalPort(const QString &port);
    void setLocalPort(int port);
    /// The bound port once bound; it stays readable after Close.
    int LocalPort() const;

    QString RemoteHost() const { return m_remoteHost; }
    int RemotePort() const { return m_remotePort; }
    /// The peer's address as text, when connected (empty otherwise).
    QString RemoteHostIP() const { return m_remoteIP; }

    OsError Listen();
    /// Takes over a connection announced by ConnectionRequest on any listener.
    /// Only a Closed element can accept, and only while the request's handler
    /// runs (a request still unanswered when its handler returns is refused).
    OsError Accept(qintptr requestID);

    /// Queues data for sending (connected elements only).
    OsError SendData(const QByteArray &data);
    /// All bytes received and not yet read, as one string.
    QByteArray GetData();
    qint64 bytesAvailable() const;
    qint64 bytesToWrite() const;

    /// Disconnects or stops listening. Queued outgoing data is still flushed
    /// in the background; the element itself is Closed at once and reusable.
    /// No Closed notification follows a Close of the program's own.
    OsError Close();

    int State() const { return m_state; }

    /// Bounds the bytes held unread inside the element (0: no bound). With a
    /// bound reached, further data waits in the system and TCP holds the
    /// sender back.
    void setReadBufferSize(qint64 size);
    qint64 readBufferSize() const { return m_readBufferSize; }
    /// Who holds reading back: the caller itself, the data path while it is
    /// busy, or the relay while the other side's backlog drains.
    enum class Holder : quint8
    {
        Caller = 1,
        Path = 2,
        Relay = 4
    };
    /// While any holder pauses reading, no DataArrival is raised and nothing
    /// more than the read buffer bound is taken from the system; when the
    /// last holder resumes, what waits is announced. A peer's close is held
    /// back until what it sent before has been announced. Close ends every
    /// pause.
    void setReadingPaused(bool paused, Holder by = Holder::Caller);
    bool readingPaused() const { return m_paused; }

    /// What the peer has left for us: Open (connected, nothing unread), Data
    /// (bytes still to read, in the element or the system; a close may
    /// follow them), or Ended (everything read and the peer has closed or
    /// the connection failed, whether announced yet or not). Looks into the
    /// system without taking anything.
    enum class PeerInput
    {
        Open,
        Data,
        Ended
    };
    PeerInput peerInput() const;

    /// From inside a ConnectionRequest handler: the request neither is
    /// accepted nor refused yet; it and the requests after it wait until
    /// announceRequestsAgain() announces it once more.
    void postponeRequest(qintptr requestID);
    void announceRequestsAgain();
    bool requestPostponed() const { return m_postponed != 0; }

Q_SIGNALS:
    void Connected();
    /// The peer closed the connection; every byte it sent before has been
    /// announced by DataArrival first.
    void Closed();
    void DataArrival(qint64 bytesTotal);
    void ConnectionRequest(qintptr requestID);
    void Error(int number, const QString &description, qint32 scode, const QString &source);
    /// All queued outgoing bytes have been handed to the system.
    void SendComplete();
    void BytesWritten(qint64 bytes);

private:
    enum class End { None, PeerClosed, Failed };

    void startConnection(QTcpSocket *socket);
    void releaseSocket();
    void applyReadBufferSize();
    void schedulePump();
    void pump();
    void announceData();
    void noteEnd(End end, const OsError &error = OsError());
    void finishEnd();
    void raiseError(const OsError &error);

    void onStateChanged(QAbstractSocket::SocketState qtState);
    void onHostFound();
    void onConnected();
    void onReadyRead();
    void onBytesWritten(qint64 bytes);
    void announceQueuedWritten();
    void announceWritten(qint64 bytes);
    void onSocketError(QAbstractSocket::SocketError qtError);
    void onDisconnected();

    void onNewConnection();
    void announceRequests();
    void onAcceptError(QAbstractSocket::SocketError qtError);
    void declineRequest(qintptr id);
    void declineAllRequests();

    int m_state = sckClosed;
    int m_localPort = 0;
    OsError m_localPortError;
    QString m_remoteHost;
    int m_remotePort = 0;
    QString m_remoteIP;

    QTcpSocket *m_socket = nullptr;
    QTcpServer *m_server = nullptr;
    // Bumped on every Close/Connect/Accept/Listen, so code resuming after a
    // notification can tell that the handler replaced the connection.
    quint64 m_generation = 0;

    qint64 m_readBufferSize = 0;
    bool m_paused = false;
    quint8 m_holders = 0;
    bool m_inArrival = false;
    bool m_needAnnounce = false;
    bool m_pumpQueued = false;
    quint64 m_bytesTaken = 0;
    // Bytes the system took during SendData, told from the event loop.
    QTimer m_writtenTimer;
    qint64 m_unannouncedWritten = 0;
    End m_end = End::None;
    OsError m_endError;

    QList<qintptr> m_requestQueue;
    bool m_announcingRequests = false;
    qintptr m_postponed = 0;
};
