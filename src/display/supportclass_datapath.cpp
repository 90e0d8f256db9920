#include "core/eventlog.h"
#include "core/optionssource.h"
#include "display/supportclass.h"
#include "display/supporthost.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <algorithm>

namespace {
constexpr int kClientConnected = 7;
constexpr int kListening = 2;

QString count(const QByteArray &data)
{
    return QString::number(data.size());
}
} // namespace

// Events run inside a display or a send loop. A socket whose data arrives
// meanwhile is not read: it is held, so its data waits in the socket (whose
// buffer is bounded, and TCP holds the sender back), and it is noted as due.
// Once the running call ends, due sockets are served one read per turn of
// the event loop, in the order their data arrived; a socket with more data
// joins the back of the line, so every sender progresses, and a quit or a
// close is taken between two reads.
bool SupportClass::HoldArrival(int socket)
{
    if (!m_host || (m_pathDepth == 0 && m_dueSockets.empty()))
        return false;
    if (std::find(m_dueSockets.begin(), m_dueSockets.end(), socket) == m_dueSockets.end())
        m_dueSockets.push_back(socket);
    m_host->holdArrivals(socket, true);
    scheduleServing();
    return true;
}

void SupportClass::scheduleServing()
{
    if (m_servingQueued || m_pathDepth > 0 || m_dueSockets.empty())
        return;
    m_servingQueued = true;
    QMetaObject::invokeMethod(this, &SupportClass::serveNextSocket, Qt::QueuedConnection);
}

void SupportClass::serveNextSocket()
{
    m_servingQueued = false;
    if (!m_host || m_pathDepth > 0 || m_dueSockets.empty())
        return;
    const int socket = m_dueSockets.front();
    m_dueSockets.pop_front();
    m_host->holdArrivals(socket, false);
    m_host->readArrival(socket);
    scheduleServing();
}

// Calls made while another is running (a send window's send during a
// display) wait their turn and run, in order, when the outer call is done.
void SupportClass::runOrDefer(qint64 bytes, std::function<void()> call)
{
    m_bytesHeld += bytes;
    m_mostBytesHeld = std::max(m_mostBytesHeld, m_bytesHeld);
    if (m_pathDepth > 0) {
        m_pathQueue.push_back(PathCall{bytes, std::move(call)});
        return;
    }
    const QPointer<SupportClass> self(this);
    ++m_pathDepth;
    call();
    if (!self)
        return;
    m_bytesHeld -= bytes;
    while (!m_pathQueue.empty()) {
        PathCall next = std::move(m_pathQueue.front());
        m_pathQueue.pop_front();
        next.call();
        if (!self)
            return;
        m_bytesHeld -= next.bytes;
    }
    --m_pathDepth;
    scheduleServing();
}

void SupportClass::DataReceivedOnSocket(const QByteArray &strData, const QString &strSocketNum,
                                        bool blnReceivedOnClient)
{
    if (!m_host)
        return;
    runOrDefer(strData.size(), [this, strData, strSocketNum, blnReceivedOnClient] {
        receive(strData, strSocketNum, blnReceivedOnClient);
    });
}

void SupportClass::receive(const QByteArray &strData, const QString &strSocketNum, bool blnReceivedOnClient)
{
    const int mode = m_host->currentMode();
    if (blnReceivePaused) {
        strReceiveBuffer += strData;
        if (strReceiveBuffer.size() >= pauseBufferLimit)
            m_host->holdReceiving(true);
        m_host->UpdateReceivePauseBufferIndicator();
    } else {
        if (tw::options().VerboseLogging())
            tw::events().AddEvent(count(strData) + QStringLiteral(" bytes received on the socket."));
        if (mode == 0 || mode == 1) {
            if (ShouldDisplay(true))
                DisplayData(true, strData, m_host->dataList(mode), m_host->textView(mode), true, false, true,
                            strSocketNum);
        } else if (mode == 2) {
            // Relay first, so the other side never waits on the display.
            SendToSockets(strData, blnReceivedOnClient);
            m_host->SentDataAdded();
            if (blnReceivedOnClient) {
                if (ShouldDisplay(false))
                    DisplayData(true, strData, m_host->dataList(mode), m_host->textView(mode),
                                m_host->serverState(0) == kListening, true, false, strSocketNum);
            } else if (ShouldDisplay(true)) {
                DisplayData(true, strData, m_host->dataList(mode), m_host->textView(mode),
                            m_host->clientState() == kClientConnected, true, false, strSocketNum);
            }
        }
        m_host->ReceivedDataAdded();
    }
    // Logged in every case: paused data is logged now and again when released.
    if (mode == 1)
        m_host->IncomingDataArrived(strSocketNum + QStringLiteral("#: "), strData);
    else
        m_host->IncomingDataArrived(QString(), strData);
    Q_EMIT received(strSocketNum, strData);
}

void SupportClass::SendDataDownSocket(const QByteArray &strData, std::optional<bool> blnThroughToServer)
{
    if (!m_host)
        return;
    runOrDefer(strData.size(), [this, strData, blnThroughToServer] { send(strData, blnThroughToServer); });
}

void SupportClass::send(const QByteArray &strData, std::optional<bool> blnThroughToServer)
{
    const int mode = m_host->currentMode();
    if (mode == 0 || mode == 1) {
        // The row comes first, so its icon records whether the target was ready.
        if (ShouldDisplay(false))
            DisplayData(false, strData, m_host->dataList(mode), m_host->textView(mode), SocketIsReady(), true, false,
                        mode == 0 ? QStringLiteral("NA") : QStringLiteral("ALL"));
    } else if (mode == 2) {
        // Data without a direction has no place in the relay.
        if (!blnThroughToServer.has_value())
            return;
        if (*blnThroughToServer) {
            if (ShouldDisplay(false))
                DisplayData(false, strData, m_host->dataList(mode), m_host->textView(mode),
                            m_host->clientState() == kClientConnected, true, false, QStringLiteral("ALL"));
        } else if (ShouldDisplay(true)) {
            DisplayData(false, strData, m_host->dataList(mode), m_host->textView(mode),
                        m_host->serverState(0) == kListening, true, false, QStringLiteral("ALL"));
        }
    }
    m_host->SentDataAdded();
    SendToSockets(strData, blnThroughToServer);
}

bool SupportClass::SendToSockets(const QByteArray &strData, std::optional<bool> blnThroughToServer)
{
    if (!m_host)
        return false;
    const int mode = m_host->currentMode();
    const bool verbose = tw::options().VerboseLogging();
    const bool toClients = mode == 1 || (mode == 2 && blnThroughToServer.value_or(false));
    bool result = true;
    OsError failure;

    if (!toClients) {
        result = false;
        if (m_host->clientState() == kClientConnected) {
            const OsError e = m_host->writeClient(strData);
            if (e.number != SupportHost::kNotConnected)
                failure = e;
            if (!e.isError()) {
                result = true;
                if (verbose)
                    tw::events().AddEvent(mode == 2
                                              ? QStringLiteral("Passed ") + count(strData) +
                                                    QStringLiteral(" bytes of data to the socket client.")
                                              : QStringLiteral("Sent ") + count(strData) +
                                                    QStringLiteral(" bytes down the socket."));
            }
        }
    } else {
        // Let the window breathe between writes, but in slices: one event pass
        // per write would cost more than the writes themselves, and none
        // after the last one, which would only hold back what arrives
        // meanwhile. A client that cannot be written to does not keep the
        // data from the others.
        QElapsedTimer slice;
        slice.start();
        bool written = false;
        for (int i = 1; i <= m_host->highestServerIndex(); ++i) {
            if (m_host->serverState(i) != kClientConnected)
                continue;
            if (written && slice.elapsed() >= kSliceMs) {
                QCoreApplication::processEvents();
                slice.restart();
            }
            written = true;
            if (const OsError e = m_host->writeServer(i, strData);
                e.isError() && e.number != SupportHost::kNotConnected && !failure.isError())
                failure = e;
        }
        if (!failure.isError() && verbose)
            tw::events().AddEvent(mode == 2 ? QStringLiteral("Passed ") + count(strData) +
                                                  QStringLiteral(" bytes of data to all of the socket clients.")
                                            : QStringLiteral("Sent ") + count(strData) +
                                                  QStringLiteral(" bytes to all of the socket clients."));
    }

    if (mode == 2)
        toClients ? m_host->ServerToClientDataArrived(strData) : m_host->ClientToServerDataArrived(strData);
    else
        m_host->OutgoingDataArrived(strData);
    if (failure.isError()) {
        m_host->sendFailed(failure);
        return false;
    }
    m_host->DataHasBeenSent();
    return result;
}

bool SupportClass::SocketIsReady(std::optional<bool> blnThroughToServer) const
{
    if (!m_host)
        return false;
    const bool client = m_host->clientState() == kClientConnected;
    const bool listening = m_host->serverState(0) == kListening;
    switch (m_host->currentMode()) {
    case 0:
        return client;
    case 1:
        return listening;
    case 2:
        if (!blnThroughToServer.has_value())
            return client || listening;
        return *blnThroughToServer ? client : listening;
    default:
        return false;
    }
}

void SupportClass::CloseSockets(std::optional<bool> blnThroughToServer)
{
    if (!m_host)
        return;
    const int mode = m_host->currentMode();
    if (mode == 0 || (mode == 2 && blnThroughToServer.value_or(false))) {
        m_host->closeClient();
        tw::events().AddEvent(QStringLiteral("Closing the socket."));
    } else if (mode == 1 || mode == 2) {
        for (int i = 0; i <= m_host->highestServerIndex(); ++i)
            m_host->closeServer(i);
        tw::events().AddEvent(QStringLiteral("Closing all of the socket connections to the clients."));
    }
}

void SupportClass::ReleaseReceiveBuffer()
{
    if (strReceiveBuffer.isEmpty())
        return;
    // The whole buffer is one arrival from the client socket.
    const QByteArray held = std::exchange(strReceiveBuffer, QByteArray());
    DataReceivedOnSocket(held, QStringLiteral("NA"), true);
    if (m_host) {
        m_host->UpdateReceivePauseBufferIndicator();
        m_host->holdReceiving(false);
    }
}

void SupportClass::DestroyReceiveBuffer()
{
    tw::events().AddEvent(QString::number(strReceiveBuffer.size()) +
                          QStringLiteral(" bytes have been cleared out of the receive pause buffer."));
    strReceiveBuffer.clear();
    if (m_host) {
        m_host->UpdateReceivePauseBufferIndicator();
        m_host->holdReceiving(false);
    }
}
