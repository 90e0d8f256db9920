#include "net/socketcontrol.h"

#include "net/socketerrors.h"

#include <QHash>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/socket.h>
#endif

namespace {

// Connections announced by a listener and not yet answered, by request id.
// Accept on any element takes one from here; everything runs on one thread.
struct PendingRequest
{
    QPointer<QTcpSocket> socket;
    SocketControl *owner = nullptr;
};

QHash<qintptr, PendingRequest> &pendingRequests()
{
    static QHash<qintptr, PendingRequest> requests;
    return requests;
}

// Ids are never reused within a run (a descriptor number could be: a client
// that leaves while waiting frees its descriptor for the next one).
qintptr nextRequestId()
{
    static qintptr last = 0;
    return ++last;
}

bool parsePort(const QString &text, int *port)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok || value < 0 || value > 65535)
        return false;
    *port = value;
    return true;
}

} // namespace

QString SocketControl::StateText(int state)
{
    static const char *const texts[] = {"Closed",
                                        "Open",
                                        "Listening",
                                        "Connection pending",
                                        "Resolving host",
                                        "Host resolved",
                                        "Connecting",
                                        "Connected",
                                        "Peer is closing the connection",
                                        "Error"};
    return state >= sckClosed && state <= sckError ? QString::fromLatin1(texts[state]) : QString();
}

SocketControl::SocketControl(QObject *parent)
    : QObject(parent)
{
    m_writtenTimer.setSingleShot(true);
    m_writtenTimer.setInterval(1);
    connect(&m_writtenTimer, &QTimer::timeout, this, &SocketControl::announceQueuedWritten);
}

SocketControl::~SocketControl()
{
    ++m_generation;
    declineAllRequests();
    if (m_socket)
        disconnect(m_socket, nullptr, this, nullptr);
    // Sockets and the listener are children and go with this object.
}

OsError SocketControl::Connect(const QString &remoteHost, const QString &remotePort)
{
    if (m_state != sckClosed)
        return SocketErrors::make(SocketErrors::kWrongState);
    if (m_localPortError.isError())
        return m_localPortError;
    int port = 0;
    const QString host = remoteHost.trimmed();
    if (!parsePort(remotePort, &port) || host.isEmpty())
        return SocketErrors::make(SocketErrors::kInvalidPropertyValue);

    auto *socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    // Bound before any signal is wired: a refused bind is this call's
    // failure, not an error of the connection.
    if (m_localPort != 0 && !socket->bind(QHostAddress::Any, quint16(m_localPort))) {
        const OsError error = SocketErrors::fromSocketError(socket->error(), socket->errorString());
        delete socket;
        return error;
    }

    m_remoteHost = host;
    m_remotePort = port;
    m_remoteIP.clear();
    startConnection(socket);
    m_state = sckResolvingHost;
    socket->connectToHost(host, quint16(port));
    return OsError();
}

OsError SocketControl::setLocalPort(const QString &port)
{
    int value = 0;
    if (!parsePort(port, &value)) {
        m_localPortError = SocketErrors::make(SocketErrors::kInvalidPropertyValue);
        return m_localPortError;
    }
    setLocalPort(value);
    return OsError();
}

void SocketControl::setLocalPort(int port)
{
    if (port < 0 || port > 65535) {
        m_localPortError = SocketErrors::make(SocketErrors::kInvalidPropertyValue);
        return;
    }
    m_localPortError = OsError();
    m_localPort = port;
}

int SocketControl::LocalPort() const
{
    return m_localPort;
}

OsError SocketControl::Listen()
{
    if (m_state != sckClosed)
        return SocketErrors::make(SocketErrors::kWrongState);
    if (m_localPortError.isError())
        return m_localPortError;

    auto *server = new QTcpServer(this);
    server->setProxy(QNetworkProxy::NoProxy);
    // Many clients may knock at once; none should be turned away by a short
    // queue before the program has seen it.
    server->setListenBacklogSize(kListenBacklog);
    server->setMaxPendingConnections(kMaxPendingConnections);
    if (!server->listen(QHostAddress::Any, quint16(m_localPort))) {
        const OsError error = SocketErrors::fromSocketError(server->serverError(), server->errorString());
        delete server;
        return error;
    }

    ++m_generation;
    m_server = server;
    m_localPort = server->serverPort();
    m_state = sckListening;
    connect(server, &QTcpServer::newConnection, this, &SocketControl::onNewConnection);
    connect(server, &QTcpServer::acceptError, this, &SocketControl::onAcceptError);
    return OsError();
}

OsError SocketControl::Accept(qintptr requestID)
{
    if (m_state != sckClosed)
        return SocketErrors::make(SocketErrors::kWrongState);
    auto &requests = pendingRequests();
    const auto it = requests.find(requestID);
    if (it == requests.end() || !it->socket)
        return SocketErrors::make(SocketErrors::kInvalidArgument);
    QTcpSocket *socket = it->socket;
    if (it->owner)
        it->owner->m_requestQueue.removeAll(requestID);
    requests.erase(it);

    socket->setParent(this);
    m_remoteIP = socket->peerAddress().toString();
    m_remoteHost = m_remoteIP;
    m_remotePort = socket->peerPort();
    m_localPort = socket->localPort();
    startConnection(socket);
    m_state = sckConnected;

    // The client may already have sent data, or even gone, while its
    // request waited for an answer.
    if (socket->state() != QAbstractSocket::ConnectedState) {
        const auto error = socket->error();
        if (error == QAbstractSocket::RemoteHostClosedError || error == QAbstractSocket::UnknownSocketError)
            noteEnd(End::PeerClosed);
        else
            noteEnd(End::Failed, SocketErrors::fromSocketError(error, socket->errorString()));
    }
    if (socket->bytesAvailable() > 0) {
        m_needAnnounce = true;
        schedulePump();
    }
    return OsError();
}

OsError SocketControl::SendData(const QByteArray &data)
{
    if (m_state != sckConnected || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return SocketErrors::make(SocketErrors::kWrongState);
    if (data.isEmpty())
        return OsError();
    qint64 sent = 0;
#ifdef Q_OS_UNIX
    // With nothing queued, the data goes to the system now rather than on
    // the next turn of the event loop, and past the socket's own buffer:
    // through it, the socket would switch its write notifier on and off
    // again, and each switch wakes the event loop. A relayed request costs
    // a turn and three wake-ups less. What the system does not take now, or
    // a failure, goes through the socket as before.
    if (m_socket->bytesToWrite() == 0) {
        const int fd = int(m_socket->socketDescriptor());
        while (fd >= 0 && sent < data.size()) {
            const ssize_t n =
                ::send(fd, data.constData() + sent, size_t(data.size() - sent), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
            else if (n < 0 && errno == EINTR)
                continue;
            else
                break;
        }
        if (sent > 0) {
            // Told from the event loop, as a write made there would be, so no
            // sender is called back while it sends. A posted call would wake
            // the loop through its wake-up descriptor, and a zero timer would
            // make it look at every socket once more before it waits; a
            // millisecond's timer is taken while the loop waits anyway, so a
            // request and its answer pass with no system call beyond their
            // own reads and writes.
            m_unannouncedWritten += sent;
            if (!m_writtenTimer.isActive())
                m_writtenTimer.start();
        }
    }
#endif
    const qint64 rest = data.size() - sent;
    if (rest > 0 && m_socket->write(data.constData() + sent, rest) != rest)
        return SocketErrors::fromSocketError(m_socket->error(), m_socket->errorString());
    return OsError();
}

QByteArray SocketControl::GetData()
{
    if (!m_socket)
        return QByteArray();
    // Reading exactly what is buffered lets the socket hand over its buffer
    // instead of copying it, when it holds one piece (the usual case).
    const qint64 available = m_socket->bytesAvailable();
    QByteArray data = available > 0 ? m_socket->read(available) : m_socket->readAll();
    m_bytesTaken += quint64(data.size());
    return data;
}

qint64 SocketControl::bytesAvailable() const
{
    return m_socket ? m_socket->bytesAvailable() : 0;
}

qint64 SocketControl::bytesToWrite() const
{
    return m_socket ? m_socket->bytesToWrite() : 0;
}

OsError SocketControl::Close()
{
    ++m_generation;
    if (m_server) {
        declineAllRequests();
        m_server->close();
        m_server->deleteLater();
        m_server = nullptr;
    }
    if (m_socket)
        releaseSocket();
    m_state = sckClosed;
    m_end = End::None;
    m_endError = OsError();
    m_needAnnounce = false;
    m_inArrival = false;
    m_paused = false;
    m_holders = 0;
    m_unannouncedWritten = 0;
    return OsError();
}

void SocketControl::setReadBufferSize(qint64 size)
{
    m_readBufferSize = qMax<qint64>(0, size);
    applyReadBufferSize();
}

void SocketControl::setReadingPaused(bool paused, Holder by)
{
    m_holders = paused ? quint8(m_holders | quint8(by)) : quint8(m_holders & ~quint8(by));
    paused = m_holders != 0;
    if (m_paused == paused)
        return;
    m_paused = paused;
    applyReadBufferSize();
    if (!paused && m_socket) {
        // Bytes already in the buffer bring no new readyRead: announce them.
        if (m_socket->bytesAvailable() > 0)
            m_needAnnounce = true;
        schedulePump();
    }
}

SocketControl::PeerInput SocketControl::peerInput() const
{
    if (!m_socket)
        return PeerInput::Ended;
    if (m_socket->bytesAvailable() > 0)
        return PeerInput::Data;
    if (m_end != End::None || m_state == sckClosing || m_state == sckError)
        return PeerInput::Ended;
    if (m_state != sckConnected)
        return PeerInput::Open;
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return PeerInput::Ended;
#ifdef Q_OS_UNIX
    // The system may already hold data or the peer's close that the socket
    // has not been told of yet: look without taking.
    const qintptr fd = m_socket->socketDescriptor();
    if (fd < 0)
        return PeerInput::Ended;
    char byte = 0;
    const ssize_t n = ::recv(int(fd), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0)
        return PeerInput::Data;
    if (n == 0)
        return PeerInput::Ended;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        return PeerInput::Ended;
#endif
    return PeerInput::Open;
}

// --- connection -------------------------------------------------------------

void SocketControl::startConnection(QTcpSocket *socket)
{
    ++m_generation;
    m_socket = socket;
    m_end = End::None;
    m_endError = OsError();
    m_needAnnounce = false;
    m_inArrival = false;
    m_bytesTaken = 0;
    m_unannouncedWritten = 0;
    applyReadBufferSize();
    connect(socket, &QAbstractSocket::stateChanged, this, &SocketControl::onStateChanged);
    connect(socket, &QAbstractSocket::hostFound, this, &SocketControl::onHostFound);
    connect(socket, &QAbstractSocket::connected, this, &SocketControl::onConnected);
    connect(socket, &QIODevice::readyRead, this, &SocketControl::onReadyRead);
    connect(socket, &QIODevice::bytesWritten, this, &SocketControl::onBytesWritten);
    connect(socket, &QAbstractSocket::errorOccurred, this, &SocketControl::onSocketError);
    connect(socket, &QAbstractSocket::disconnected, this, &SocketControl::onDisconnected);
}

void SocketControl::releaseSocket()
{
    QTcpSocket *socket = std::exchange(m_socket, nullptr);
    // From here on nothing this socket does reaches the program: in
    // particular its disconnected() after our own close raises no Closed.
    disconnect(socket, nullptr, this, nullptr);
    if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() > 0) {
        // Let queued data drain in the background, within limits: keep
        // nothing more of what still comes in and give up after a while.
        socket->setReadBufferSize(1);
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QAbstractSocket::errorOccurred, socket, &QObject::deleteLater);
        QTimer::singleShot(kLingerMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->disconnectFromHost();
    } else {
        socket->abort();
        socket->deleteLater();
    }
}

void SocketControl::applyReadBufferSize()
{
    if (!m_socket)
        return;
    const qint64 size = (m_paused && m_readBufferSize == 0) ? kPausedReadBufferSize : m_readBufferSize;
    m_socket->setReadBufferSize(size);
}

void SocketControl::schedulePump()
{
    if (m_pumpQueued)
        return;
    m_pumpQueued = true;
    QMetaObject::invokeMethod(this, &SocketControl::pump, Qt::QueuedConnection);
}

// Delivers what is due, in order: unread data first, then the end of the
// connection (peer close or error). Runs queued, never from inside a
// DataArrival handler.
void SocketControl::pump()
{
    m_pumpQueued = false;
    if (!m_socket || m_inArrival)
        return;
    const qint64 available = m_socket->bytesAvailable();
    if (m_paused) {
        if (m_end != End::None && available == 0)
            finishEnd();
        return;
    }
    if (m_needAnnounce && m_state == sckConnected && available > 0) {
        announceData();
        return;
    }
    if (m_end != End::None)
        finishEnd();
}

void SocketControl::announceData()
{
    m_needAnnounce = false;
    const qint64 before = m_socket->bytesAvailable();
    if (before <= 0)
        return;
    const QPointer<SocketControl> self(this);
    const quint64 generation = m_generation;
    const quint64 takenBefore = m_bytesTaken;

    m_inArrival = true;
    Q_EMIT DataArrival(before);
    if (!self)
        return;
    if (generation != m_generation) {
        // The handler closed or replaced the connection; the new one may
        // have something due already.
        schedulePump();
        return;
    }
    m_inArrival = false;
    if (!m_socket)
        return;

    // Data that came while the handler ran (a nested event loop gets no
    // readyRead for it), or what the handler left after reading some, is
    // announced again. Data the handler chose not to touch at all waits for
    // the next arrival, so an idle handler causes no endless announcing.
    const qint64 after = m_socket->bytesAvailable();
    if (after > 0 && (m_bytesTaken != takenBefore || after != before))
        m_needAnnounce = true;
    if (m_needAnnounce || m_end != End::None)
        schedulePump();
}

void SocketControl::noteEnd(End end, const OsError &error)
{
    if (m_state == sckClosing || m_state == sckError || m_state == sckClosed)
        return;
    if (end == End::Failed) {
        if (m_end == End::Failed)
            return;
        m_end = End::Failed;
        m_endError = error;
    } else if (m_end == End::None) {
        m_end = End::PeerClosed;
    }
    schedulePump();
}

void SocketControl::finishEnd()
{
    const End end = std::exchange(m_end, End::None);
    if (end == End::PeerClosed) {
        m_state = sckClosing;
        Q_EMIT Closed();
    } else if (end == End::Failed) {
        m_state = sckError;
        raiseError(std::exchange(m_endError, OsError()));
    }
}

void SocketControl::raiseError(const OsError &error)
{
    Q_EMIT Error(error.number, error.description, SocketErrors::scode(error.number), SocketErrors::source());
}

void SocketControl::onStateChanged(QAbstractSocket::SocketState qtState)
{
    if (m_end != End::None || m_state == sckConnected)
        return;
    if (qtState == QAbstractSocket::HostLookupState)
        m_state = sckResolvingHost;
    else if (qtState == QAbstractSocket::ConnectingState)
        m_state = sckConnecting;
}

void SocketControl::onHostFound()
{
    if (m_end == End::None && m_state == sckResolvingHost)
        m_state = sckHostResolved;
}

void SocketControl::onConnected()
{
    m_state = sckConnected;
    m_localPort = m_socket->localPort();
    m_remoteIP = m_socket->peerAddress().toString();
    Q_EMIT Connected();
}

void SocketControl::onReadyRead()
{
    m_needAnnounce = true;
    if (!m_inArrival && !m_paused && m_state == sckConnected)
        announceData();
}

void SocketControl::onBytesWritten(qint64 bytes)
{
    bytes += std::exchange(m_unannouncedWritten, 0);
    announceWritten(bytes);
}

void SocketControl::announceQueuedWritten()
{
    const qint64 bytes = std::exchange(m_unannouncedWritten, 0);
    if (bytes > 0 && m_socket)
        announceWritten(bytes);
}

void SocketControl::announceWritten(qint64 bytes)
{
    const QPointer<SocketControl> self(this);
    const quint64 generation = m_generation;
    Q_EMIT BytesWritten(bytes);
    if (!self || generation != m_generation || !m_socket)
        return;
    if (m_socket->bytesToWrite() == 0)
        Q_EMIT SendComplete();
}

void SocketControl::onSocketError(QAbstractSocket::SocketError qtError)
{
    // An orderly close by the peer is reported by the network layer as an
    // error; to the program it is the peer closing, not a failure.
    if (qtError == QAbstractSocket::RemoteHostClosedError)
        noteEnd(End::PeerClosed);
    else
        noteEnd(End::Failed, SocketErrors::fromSocketError(qtError, m_socket->errorString()));
}

void SocketControl::onDisconnected()
{
    noteEnd(End::PeerClosed);
}

// --- listener ---------------------------------------------------------------

void SocketControl::onNewConnection()
{
    while (m_server && m_server->hasPendingConnections()) {
        QTcpSocket *socket = m_server->nextPendingConnection();
        if (!socket)
            break;
        socket->setParent(this);
        // Nothing much is taken in before the request is answered.
        socket->setReadBufferSize(kPausedReadBufferSize);
        const qintptr id = nextRequestId();
        pendingRequests().insert(id, PendingRequest{socket, this});
        m_requestQueue.append(id);
    }
    announceRequests();
}

// One request at a time, in arrival order; requests that come while a
// handler runs a nested event loop wait in the queue for their turn.
void SocketControl::announceRequests()
{
    if (m_announcingRequests)
        return;
    m_announcingRequests = true;
    const QPointer<SocketControl> self(this);
    while (!m_requestQueue.isEmpty() && m_state == sckListening && m_postponed == 0) {
        const qintptr id = m_requestQueue.takeFirst();
        Q_EMIT ConnectionRequest(id);
        if (!self)
            return;
        if (m_postponed == id) {
            m_requestQueue.prepend(id);
            break;
        }
        // Not taken by now: refused at once, so the client learns it.
        declineRequest(id);
    }
    m_announcingRequests = false;
}

void SocketControl::postponeRequest(qintptr requestID)
{
    if (pendingRequests().contains(requestID))
        m_postponed = requestID;
}

void SocketControl::announceRequestsAgain()
{
    if (m_postponed == 0)
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_postponed = 0;
            announceRequests();
        },
        Qt::QueuedConnection);
}

void SocketControl::onAcceptError(QAbstractSocket::SocketError qtError)
{
    if (m_state != sckListening)
        return;
    m_state = sckError;
    raiseError(SocketErrors::fromSocketError(qtError, m_server ? m_server->errorString() : QString()));
}

void SocketControl::declineRequest(qintptr id)
{
    auto &requests = pendingRequests();
    const auto it = requests.find(id);
    if (it == requests.end() || it->owner != this)
        return;
    QPointer<QTcpSocket> socket = it->socket;
    requests.erase(it);
    if (socket) {
        socket->abort();
        socket->deleteLater();
    }
}

void SocketControl::declineAllRequests()
{
    m_requestQueue.clear();
    m_postponed = 0;
    auto &requests = pendingRequests();
    for (auto it = requests.begin(); it != requests.end();) {
        if (it->owner == this) {
            if (it->socket) {
                it->socket->abort();
                it->socket->deleteLater();
            }
            it = requests.erase(it);
        } else {
            ++it;
        }
    }
}
