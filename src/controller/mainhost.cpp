// What the support object reaches through the main window: the mode's views,
// the filter, the sockets, the logs, the lamps and the pause gauge.

#include "controller/frmtarnwell.h"
#include "controller/mainwizardhost.h"
#include "core/eventlog.h"
#include "core/optionssource.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/frmfilter.h"
#include "display/supportclass.h"
#include "logging/frmlogging.h"
#include "logging/frmstate.h"
#include "net/socketcontrol.h"
#include "net/socketerrors.h"
#include "setup/configurationwizards.h"
#include "setup/frmalmanac.h"
#include "setup/frmconfigurations.h"
#include "ui/uiservice.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace {
const QString kSendFailure =
    QStringLiteral("An error occurred while attempting to send the data through the socket.  The operating system "
                   "reports: ");
const QString kCloseFailure =
    QStringLiteral("An error occurred while attempting to close the socket.  The operating system reports: ");

// The poll may still show Connected for a connection whose peer has just
// gone: the socket then refuses the write for its state, which is the data
// path's "not connected", not a failure to tell.
OsError written(const OsError &e)
{
    return e.number == SocketErrors::kWrongState ? OsError{SupportHost::kNotConnected, e.description} : e;
}
} // namespace

void frmTarnwell::createSockets()
{
    objSupport = new SupportClass(this);
    objSupport->setHost(this);
    SupportClass::setShared(objSupport);
    sckClient = new SocketControl(this);
    sckClient->setReadBufferSize(kReadBufferSize);
    wireClientSocket();
    connect(sckClient, &SocketControl::BytesWritten, this, [this](qint64) { releaseIfDrained(); });
    serverElement(0);
    m_requestWait.setSingleShot(true);
    connect(&m_requestWait, &QTimer::timeout, this, [this] {
        if (!sckServer[0]->requestPostponed())
            return;
        m_requestWaitOver = true;
        sckServer[0]->announceRequestsAgain();
    });

    connect(tmrPollClientState, &frmTimer::TimerFired, this, [this] { tmrPollClientState_TimerFired(); });
    connect(tmrPollServerState, &frmTimer::TimerFired, this, [this] { tmrPollServerState_TimerFired(); });
    connect(tmrAutoDisconnect, &frmTimer::TimerFired, this, [this] { tmrAutoDisconnect_TimerFired(); });
    connect(tmrReconnectTimer, &frmTimer::TimerFired, this, [this] { tmrReconnectTimer_TimerFired(); });
    // A lamp goes out 50 ms after the last data that lit it.
    connect(tmrReceiveDisplayTimer, &frmTimer::TimerFired, this, [this] {
        if (const qint64 left = kLampMs - m_receivedAt.elapsed(); left > 0)
            tmrReceiveDisplayTimer->StartTimer(int(left), true);
        else
            tabs[intCurrentMode].panReceived->dim();
    });
    connect(tmrSentDisplayTimer, &frmTimer::TimerFired, this, [this] {
        if (const qint64 left = kLampMs - m_sentAt.elapsed(); left > 0)
            tmrSentDisplayTimer->StartTimer(int(left), true);
        else
            tabs[intCurrentMode].panSent->dim();
    });

    for (int i = 0; i < 3; ++i) {
        ModeControls &t = tabs[i];
        if (t.cmdConnect)
            connect(t.cmdConnect, &QAbstractButton::clicked, this, [this, i] { cmdConnect_Click(i); });
        if (t.cmdListen)
            connect(t.cmdListen, &QAbstractButton::clicked, this, [this, i] { cmdListen_Click(i); });
        if (t.cmdReceivedPause)
            connect(t.cmdReceivedPause, &QAbstractButton::clicked, this, [this, i] { cmdReceivedPause_Click(i); });
        if (t.cmdEmptyReceived)
            connect(t.cmdEmptyReceived, &QAbstractButton::clicked, this, [this, i] { cmdEmptyReceived_Click(i); });
        connect(t.cmdReceivedClear, &QAbstractButton::clicked, this,
                [this, i] { cmdReceivedClear_Click(i); });
    }
    wireWindowOpeners();
    wireDataViewers();
    UpdateReceivePauseBufferIndicator();
    if (auto *b = findChild<QAbstractButton *>(QStringLiteral("cmdStartBoth")))
        connect(b, &QAbstractButton::clicked, this, [this] { cmdStartBoth_Click(); });
    if (auto *b = findChild<QAbstractButton *>(QStringLiteral("cmdStopBoth")))
        connect(b, &QAbstractButton::clicked, this, [this] { cmdStopBoth_Click(); });
}

int frmTarnwell::showPosition(int mode) const
{
    return (mode >= 0 && mode < 3) ? tabs[mode].cboShow->currentIndex() : 3;
}

DataListModel *frmTarnwell::dataList(int mode) const
{
    return (mode >= 0 && mode < 3) ? tabs[mode].model : nullptr;
}

DataTextView *frmTarnwell::textView(int mode) const
{
    return (mode >= 0 && mode < 3) ? tabs[mode].txtReceived : nullptr;
}

bool frmTarnwell::filterOn() const
{
    return m_frmFilter && m_frmFilter->FilterOn();
}

bool frmTarnwell::passesFilter(const QByteArray &message) const
{
    return !m_frmFilter || m_frmFilter->PassesFilter(message);
}

int frmTarnwell::clientState() const
{
    return sckClient ? sckClient->State() : 0;
}

int frmTarnwell::serverState(int index) const
{
    return (index >= 0 && index < sckServer.size()) ? sckServer[index]->State() : 0;
}

OsError frmTarnwell::writeClient(const QByteArray &data)
{
    const OsError e = sckClient->SendData(data);
    if (!e.isError())
        holdBackIfBacklogged();
    return written(e);
}

OsError frmTarnwell::writeServer(int index, const QByteArray &data)
{
    const OsError e = sckServer[index]->SendData(data);
    if (!e.isError())
        holdBackIfBacklogged();
    return written(e);
}

void frmTarnwell::sendFailed(const OsError &error)
{
    tw::ui().failure(this, kSendFailure, error);
}

SocketControl *frmTarnwell::dataSocket(int socket) const
{
    if (socket == 0)
        return sckClient;
    return (socket >= 1 && socket < sckServer.size()) ? sckServer[socket] : nullptr;
}

void frmTarnwell::holdArrivals(int socket, bool held)
{
    if (SocketControl *s = dataSocket(socket))
        s->setReadingPaused(held, SocketControl::Holder::Path);
}

void frmTarnwell::readArrival(int socket)
{
    // Once the user quit, what still waits in the sockets is not shown.
    if (m_unloaded)
        return;
    if (socket == 0)
        readClientArrival();
    else
        readServerArrival(socket);
}

// When one side of the relay reads slower than the other sends, stop reading
// from the fast side until the slow side's backlog drains: TCP then holds the
// sender back, and memory stays bounded. Resuming announces whatever waited
// in the paused sockets, so every byte is still handled, in order.
void frmTarnwell::holdBackIfBacklogged()
{
    if (intCurrentMode != 2)
        return;
    bool changed = false;
    if (sckClient->bytesToWrite() > kRelayHighWater && !m_clientsHeldBack) {
        m_clientsHeldBack = true;
        changed = true;
    }
    if (!m_serverHeldBack) {
        for (int n = 1; n < sckServer.size(); ++n) {
            if (sckServer[n]->bytesToWrite() > kRelayHighWater) {
                m_serverHeldBack = true;
                changed = true;
                break;
            }
        }
    }
    if (changed)
        applyReadHolds();
}

void frmTarnwell::releaseIfDrained()
{
    bool changed = false;
    if (m_clientsHeldBack && sckClient->bytesToWrite() <= kRelayLowWater) {
        m_clientsHeldBack = false;
        changed = true;
    }
    if (m_serverHeldBack) {
        bool drained = true;
        for (int n = 1; n < sckServer.size() && drained; ++n)
            drained = sckServer[n]->State() != SocketControl::sckConnected ||
                      sckServer[n]->bytesToWrite() <= kRelayLowWater;
        if (drained) {
            m_serverHeldBack = false;
            changed = true;
        }
    }
    if (changed)
        applyReadHolds();
}

// The client socket feeds the receive path in Client and Pass Through mode,
// the accepted connections in Server mode.
void frmTarnwell::holdReceiving(bool hold)
{
    m_receiveHeld = hold;
    applyReadHolds();
}

bool frmTarnwell::serversHeld() const
{
    return m_unloaded || m_logsBacklogged || m_clientsHeldBack || (m_receiveHeld && intCurrentMode == 1);
}

// A socket is read while nothing holds it: the relay's backlog on the other
// side, a full pause buffer, or logs waiting for the disk. These flow holds
// share one holder; the busy data path holds on its own and the two compose.
void frmTarnwell::applyReadHolds()
{
    sckClient->setReadingPaused(m_unloaded || m_logsBacklogged || m_serverHeldBack ||
                                    (m_receiveHeld && intCurrentMode != 1),
                                SocketControl::Holder::Relay);
    const bool servers = serversHeld();
    for (int n = 1; n < sckServer.size(); ++n)
        sckServer[n]->setReadingPaused(servers, SocketControl::Holder::Relay);
}

void frmTarnwell::closeClient()
{
    if (const OsError e = sckClient->Close(); e.isError())
        tw::ui().failure(this, kCloseFailure, e);
    releaseIfDrained();
}

void frmTarnwell::closeServer(int index)
{
    if (index < 0 || index >= sckServer.size())
        return;
    if (const OsError e = sckServer[index]->Close(); e.isError())
        tw::ui().failure(this, kCloseFailure, e);
    releaseIfDrained();
}

void frmTarnwell::IncomingDataArrived(const QString &strSocket, const QByteArray &strData)
{
    m_frmLogging->IncomingDataArrived(strSocket, strData);
}

void frmTarnwell::OutgoingDataArrived(const QByteArray &strData)
{
    m_frmLogging->OutgoingDataArrived(strData);
}

void frmTarnwell::ClientToServerDataArrived(const QByteArray &strData)
{
    m_frmLogging->ClientToServerDataArrived(strData);
}

void frmTarnwell::ServerToClientDataArrived(const QByteArray &strData)
{
    m_frmLogging->ServerToClientDataArrived(strData);
}

// Data comes thousands of times a second: a lit lamp's timer is left
// running and, when it fires, waits on for what is left of the 50 ms since
// the last data, so no arrival pays for stopping and starting a timer.
void frmTarnwell::DataHasBeenReceived()
{
    tabs[intCurrentMode].panReceived->light(Lamp::kReceived);
    m_receivedAt.start();
    if (!tmrReceiveDisplayTimer->isRunning())
        tmrReceiveDisplayTimer->StartTimer(kLampMs, true);
}

void frmTarnwell::DataHasBeenSent()
{
    tabs[intCurrentMode].panSent->light(Lamp::kSent);
    m_sentAt.start();
    if (!tmrSentDisplayTimer->isRunning())
        tmrSentDisplayTimer->StartTimer(kLampMs, true);
}

void frmTarnwell::UpdateReceivePauseBufferIndicator()
{
    const qint64 length = objSupport->strReceiveBuffer.size();
    const int percent = m_gaugeScale.percentFor(length);
    // The buffer serves every mode, so each gauge shows it and none is left
    // stale; the Pass Through tab has no gauge, the buffer is still kept.
    for (ModeControls &t : tabs) {
        if (!t.gauge)
            continue;
        t.gauge->setLength(length, percent);
        t.cmdEmptyReceived->setEnabled(length > 0);
        t.cmdEmptyReceived->setToolTip(length > 0 ? QStringLiteral("Clear the pause buffer")
                                                  : QStringLiteral("Clear the pause buffer (it is empty)"));
    }
}

void frmTarnwell::cmdReceivedPause_Click(int index)
{
    QCoreApplication::processEvents();
    objSupport->blnReceivePaused = !objSupport->blnReceivePaused;
    tw::events().AddEvent(objSupport->blnReceivePaused ? QStringLiteral("The receive pause has been activated.")
                                                       : QStringLiteral("The receive pause has been deactivated."));
    // The pause serves every mode: both pause buttons show it.
    for (ModeControls &t : tabs) {
        if (t.cmdReceivedPause)
            t.cmdReceivedPause->setChecked(objSupport->blnReceivePaused);
    }
    if (!objSupport->blnReceivePaused)
        objSupport->ReleaseReceiveBuffer();
    RefreshStatusLine();
}

void frmTarnwell::cmdEmptyReceived_Click(int)
{
    if (!objSupport->strReceiveBuffer.isEmpty())
        objSupport->DestroyReceiveBuffer();
}

void frmTarnwell::cmdReceivedClear_Click(int index)
{
    tw::events().AddEvent(tw::options().ClearBothLists() ? QStringLiteral("All the data has been cleared by the user.")
                                                         : QStringLiteral("The Receive data has been cleared by the user."));
    tabs[index].txtReceived->clear();
    tabs[index].model->clear();
}

// Buttons and menu entries that only open another window.
void frmTarnwell::wireWindowOpeners()
{
    auto showWindow = [](QWidget *w) {
        if (!w)
            return;
        w->show();
        w->raise();
        w->activateWindow();
    };
    for (int i = 0; i < 3; ++i) {
        if (tabs[i].cmdState)
            connect(tabs[i].cmdState, &QAbstractButton::clicked, this, [this, i, showWindow] {
                showWindow(i == 0 ? static_cast<QWidget *>(m_frmStateClient) : m_frmStateServer);
            });
        // cmdPort(0) and (2) fill the port to connect to, (1) and (3) the port to listen on.
        for (const auto &[button, which, box] :
             {std::tuple{tabs[i].cmdServer, Almanac::Servers, tabs[i].txtServer},
              std::tuple{tabs[i].cmdPortConnectTo, Almanac::Ports, tabs[i].txtPortConnectTo},
              std::tuple{tabs[i].cmdPortListen, Almanac::Ports, tabs[i].txtPort}}) {
            if (button)
                connect(button, &QAbstractButton::clicked, this,
                        [this, which, box] { chooseFromAlmanac(which, box); });
        }
    }
    if (auto *b = findChild<QAbstractButton *>(QStringLiteral("cmdStateClient")))
        connect(b, &QAbstractButton::clicked, this, [this, showWindow] { showWindow(m_frmStateClient); });
    if (auto *b = findChild<QAbstractButton *>(QStringLiteral("cmdStateServer")))
        connect(b, &QAbstractButton::clicked, this, [this, showWindow] { showWindow(m_frmStateServer); });
    if (auto *a = findChild<QAction *>(QStringLiteral("mnuCommonConfigs")))
        connect(a, &QAction::triggered, this, [this] { mnuCommonConfigs_Click(); });
}

void frmTarnwell::mnuCommonConfigs_Click()
{
    // One set-up at a time.
    if (ConfigurationWizards::isRunning())
        return;
    if (objSupport->SocketIsReady()) {
        tw::ui().message(this,
                         QStringLiteral("It is not possible to show the common configurations while the socket is "
                                        "listening or connected."),
                         UiService::Icon::Information);
        return;
    }
    // Modal to the main window without holding up the caller.
    auto *configs = new frmConfigurations(std::make_unique<MainWizardHost>(this), this);
    configs->setWindowModality(Qt::WindowModal);
    configs->show();
}

void frmTarnwell::chooseFromAlmanac(Almanac which, QLineEdit *box)
{
    frmAlmanac *almanac = which == Almanac::Servers ? static_cast<frmAlmanac *>(frmServer::shared(this))
                                                    : frmPort::shared(this);
    almanac->Choose([box = QPointer<QLineEdit>(box)](const QString &chosen) {
        // Cancel and the close box leave the box as it was.
        if (box && !chosen.isEmpty() && chosen != frmAlmanac::kCancel)
            box->setText(chosen);
    });
}
