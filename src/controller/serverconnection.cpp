// The listening side: listen and stop, connection requests onto numbered
// elements, the server state poll, and the Pass Through pairing.

#include "controller/frmtarnwell.h"
#include "core/eventlog.h"
#include "core/optionssource.h"
#include "display/supportclass.h"
#include "logging/frmstate.h"
#include "net/socketcontrol.h"
#include "ui/uiservice.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
const QString kListenFailure =
    QStringLiteral("An error occurred while attempting to listen on the socket.  The operating system reports: ");
const QString kAcceptFailure = QStringLiteral(
    "An error occurred while attempting to accept the socket connection request.  The operating system reports: ");
} // namespace

SocketControl *frmTarnwell::serverElement(int index)
{
    while (sckServer.size() <= index) {
        auto *element = new SocketControl(this);
        element->setReadBufferSize(kReadBufferSize);
        // A client accepted while the clients are held back waits too.
        if (serversHeld() && !sckServer.isEmpty())
            element->setReadingPaused(true, SocketControl::Holder::Relay);
        connect(element, &SocketControl::BytesWritten, this, [this](qint64) { releaseIfDrained(); });
        sckServer.append(element);
        wireServerElement(int(sckServer.size()) - 1);
    }
    return sckServer[index];
}

void frmTarnwell::cmdListen_Click(int index)
{
    ModeControls &t = tabs[index];
    if (!t.cmdListen)
        return;
    if (captionKey(t.cmdListen) == QLatin1String("listen")) {
        if (t.txtPort->text().isEmpty()) {
            tw::ui().message(this, QStringLiteral("A socket port needs to be entered."), UiService::Icon::Exclamation);
            t.txtPort->setFocus();
            return;
        }
        if (sckServer[0]->State() != SocketControl::sckClosed) {
            tw::ui().message(this,
                             QStringLiteral("It is not possible to connect a socket that isn't closed.  Wait until "
                                            "the socket is closed and retry."),
                             UiService::Icon::Exclamation);
            return;
        }
        for (;;) {
            OsError e = sckServer[0]->setLocalPort(t.txtPort->text());
            if (!e.isError())
                e = sckServer[0]->Listen();
            if (!e.isError())
                break;
            if (!tw::ui().failureRetry(this, kListenFailure, e))
                return;
        }
        t.cmdListen->setText(QStringLiteral("Stop &Listening"));
        playAnimation(index, true);
        setLocked(t.txtPort, true);
        t.cmdPortListen->setEnabled(false);
        tw::events().AddEvent(QStringLiteral("Socket server placed into the 'Listening' mode."));
    } else {
        t.cmdListen->setText(QStringLiteral("&Listen"));
        playAnimation(index, false);
        setLocked(t.txtPort, false);
        t.cmdPortListen->setEnabled(true);
        blnClientOpen = false;
        objSupport->CloseSockets(false);
        tw::events().AddEvent(QStringLiteral("Socket server is no longer in the 'Listening' mode."));
        intClientCount = 0;
    }
    RefreshStatusLine();
}

void frmTarnwell::cmdStartBoth_Click()
{
    if (sckClient->State() <= SocketControl::sckClosed)
        tabs[2].cmdConnect->click();
    if (sckServer[0]->State() <= SocketControl::sckClosed)
        tabs[2].cmdListen->click();
}

void frmTarnwell::cmdStopBoth_Click()
{
    if (sckClient->State() == SocketControl::sckConnected)
        tabs[2].cmdConnect->click();
    if (sckServer[0]->State() == SocketControl::sckListening)
        tabs[2].cmdListen->click();
}

void frmTarnwell::onServerConnectionRequest(qintptr requestID)
{
    const QString id = QString::number(requestID);
    const bool decline = intCurrentMode == 2 && intClientCount >= 1 &&
                         !tw::options().AllowMultipleClients() && clientsStillConnected(requestID);
    if (sckServer[0]->requestPostponed())
        return;
    m_requestWait.stop();
    m_requestWaitOver = false;
    if (decline) {
        // Not accepted: the socket layer closes the request at once, so the
        // refused client learns it instead of waiting.
        tw::events().AddEvent(QStringLiteral("A connection request has been made but was declined because Tarnwell is "
                                             "in Pass Through Mode and it already has a client connected.  "
                                             "(Request Id: ") +
                              id + QLatin1Char(')'));
        return;
    }
    tw::events().AddEvent(QStringLiteral("A connection request has been made.  (Request Id: ") + id + QLatin1Char(')'));
    int chosen = -1;
    for (int n = 1; n < sckServer.size(); ++n) {
        if (sckServer[n]->State() == SocketControl::sckClosed && !m_closingElements.contains(n)) {
            chosen = n;
            break;
        }
    }
    if (chosen < 0)
        chosen = int(sckServer.size());
    if (chosen > 32767)
        return; // the element numbers are 16-bit
    SocketControl *element = serverElement(chosen);
    for (;;) {
        const OsError e = element->Accept(requestID);
        if (!e.isError())
            break;
        if (!tw::ui().failureRetry(this, kAcceptFailure, e))
            return;
    }
    // A reused element was let go when it closed; the clients may still be held.
    if (serversHeld())
        element->setReadingPaused(true, SocketControl::Holder::Relay);
    ++intClientCount;
}

// With one client allowed: whether a counted client is really still there.
// A client whose connection has already ended, though its close has not
// been told yet, is handled now (its close) and no longer counts. One whose
// end may still wait behind data it sent makes the request wait (postponed)
// until that data has been handled, at most kRequestWaitMs.
bool frmTarnwell::clientsStillConnected(qintptr requestID)
{
    bool connected = false;
    bool unsettled = false;
    for (int n = 1; n < sckServer.size(); ++n) {
        if (sckServer[n]->State() == SocketControl::sckClosed)
            continue;
        if (m_closingElements.contains(n)) {
            unsettled = true;
            continue;
        }
        switch (sckServer[n]->peerInput()) {
        case SocketControl::PeerInput::Ended:
            onServerClosed(n);
            break;
        case SocketControl::PeerInput::Data:
            unsettled = true;
            break;
        case SocketControl::PeerInput::Open:
            connected = true;
            break;
        }
    }
    if (!connected && unsettled && !m_requestWaitOver) {
        if (!m_requestWait.isActive())
            m_requestWait.start(kRequestWaitMs);
        sckServer[0]->postponeRequest(requestID);
        return false;
    }
    return intClientCount >= 1;
}

void frmTarnwell::wireServerElement(int index)
{
    SocketControl *element = sckServer[index];
    if (index == 0) {
        connect(element, &SocketControl::ConnectionRequest, this,
                [this](qintptr id) { onServerConnectionRequest(id); });
    }
    connect(element, &SocketControl::Closed, this, [this, index] { onServerClosed(index); });
    connect(element, &SocketControl::DataArrival, this, [this, index](qint64) { onServerDataArrival(index); });
    connect(element, &SocketControl::Error, this,
            [this, index](int number, const QString &description, qint32 scode, const QString &source) {
                const QString n = QString::number(index);
                m_frmStateServer->AddError(number, description, scode, source, n);
                tw::events().AddEvent(QStringLiteral("An error occurred on socket ") + n + QStringLiteral(" - '") +
                                      QString::number(number) + QStringLiteral(", ") + description + QLatin1Char('\''));
                // A client whose connection failed (reset, timed out) has gone as
                // surely as one that closed: free its element and count it out,
                // or the element would stay in error and never be reused.
                if (index >= 1 && sckServer[index]->State() == SocketControl::sckError)
                    onServerClosed(index);
            });
}

void frmTarnwell::onServerClosed(int index)
{
    SocketControl *element = sckServer[index];
    // Whatever the client sent before it went is shown and relayed first.
    // While the data path is busy that data waits its turn in the element,
    // and the close waits with it (it follows the element's last read).
    if (element->bytesAvailable() > 0 && objSupport->HoldArrival(index))
        return;
    m_closingElements.insert(index);
    if (element->bytesAvailable() > 0)
        readServerArrival(index);
    tw::events().AddEvent(QStringLiteral("Socket client ") + QString::number(index) +
                          QStringLiteral(" closed their connection."));
    element->Close();
    releaseIfDrained(); // a gone client no longer holds the server back
    if (intClientCount > 0)
        --intClientCount;
    m_closingElements.remove(index);
    sckServer[0]->announceRequestsAgain(); // a request waiting for this close
}

void frmTarnwell::onServerDataArrival(int index)
{
    DataHasBeenReceived();
    if (!objSupport->HoldArrival(index))
        readServerArrival(index);
}

void frmTarnwell::readServerArrival(int index)
{
    if (index < 1 || index >= sckServer.size())
        return;
    SocketControl *element = sckServer[index];
    // Held by the relay, its data is announced when let go; a client that
    // has gone is read out regardless, so its close can follow.
    if (element->readingPaused() && element->State() == SocketControl::sckConnected)
        return;
    const QByteArray data = element->GetData();
    if (!data.isEmpty()) {
        DataHasBeenReceived();
        if (intCurrentMode == 2)
            objSupport->SendDataDownSocket(data, false);
        else
            objSupport->DataReceivedOnSocket(data, QString::number(index), true);
    }
    const int s = element->State();
    if (m_closingElements.contains(index))
        return;
    if ((s == SocketControl::sckClosing || s == SocketControl::sckError) && element->bytesAvailable() == 0)
        onServerClosed(index); // the close that waited behind this data
    else if (sckServer[0]->requestPostponed())
        sckServer[0]->announceRequestsAgain(); // decide a waiting request again
}

void frmTarnwell::tmrPollServerState_TimerFired()
{
    const int i = intCurrentMode;
    for (int n = 0; n < sckServer.size(); ++n) {
        while (aintLastServerState.size() <= n)
            aintLastServerState.append(-1);
        const int s = sckServer[n]->State();
        if (n >= 1) {
            if (s != aintLastServerState[n]) {
                aintLastServerState[n] = qint16(s);
                m_frmStateServer->AddState(SocketControl::StateText(s), QString::number(n));
            }
        } else if (s != aintLastServerState[0] || intClientCount != intClientCountShown) {
            aintLastServerState[0] = qint16(s);
            intClientCountShown = intClientCount;
            m_frmStateServer->AddState(SocketControl::StateText(s), QStringLiteral("0"));
            if (tabs[i].lblState)
                tabs[i].lblState->setText(SocketControl::StateText(s) + QStringLiteral(" (") +
                                          QString::number(intClientCount) + QStringLiteral(" clients)"));
        }
    }
}
