// The client socket: connect, disconnect, its state poll, the automatic
// disconnect and reconnect, and its notifications.

#include "controller/frmtarnwell.h"
#include "core/eventlog.h"
#include "core/optionssource.h"
#include "display/supportclass.h"
#include "logging/frmstate.h"
#include "net/socketcontrol.h"
#include "ui/uiservice.h"

#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPushButton>

QString frmTarnwell::captionKey(const QAbstractButton *button)
{
    QString c = button ? button->text() : QString();
    c.remove(QLatin1Char('&'));
    return c.toLower();
}

void frmTarnwell::setLocked(QLineEdit *box, bool locked)
{
    if (!box)
        return;
    box->setReadOnly(locked);
    QPalette p = box->palette();
    p.setColor(QPalette::Base, locked ? palette().color(QPalette::Button) : QColor(Qt::white));
    box->setPalette(p);
}

void frmTarnwell::playAnimation(int index, bool play)
{
    QMovie *movie = tabs[index].movie;
    if (!movie)
        return;
    if (play) {
        movie->start();
    } else {
        movie->stop();
        movie->jumpToFrame(0);
    }
}

void frmTarnwell::cmdConnect_Click(int index)
{
    if (captionKey(tabs[index].cmdConnect) != QLatin1String("disconnect")) {
        setStatusPanel(4, QString());
        tmrReconnectTimer->StopTimer();
    } else {
        blnSkipReconnect = true;
    }
    ConnectDisconnectToSocket(false);
}

void frmTarnwell::ConnectDisconnectToSocket(bool blnAutoOccurred)
{
    const int i = intCurrentMode;
    ModeControls &t = tabs[i];
    if (!t.cmdConnect)
        return;
    const QString host = t.txtServer->text();
    const QString port = t.txtPortConnectTo->text();
    // An automatic disconnect still pending from the previous connection must
    // not close the one the user asks for now.
    tmrAutoDisconnect->StopTimer();

    if (captionKey(t.cmdConnect) == QLatin1String("connect")) {
        if (host.isEmpty()) {
            tw::ui().message(this, QStringLiteral("A socket server needs to be entered."), UiService::Icon::Exclamation);
            t.txtServer->setFocus();
            return;
        }
        if (port.isEmpty()) {
            tw::ui().message(this, QStringLiteral("A socket port needs to be entered."), UiService::Icon::Exclamation);
            t.txtPortConnectTo->setFocus();
            return;
        }
        if (sckClient->State() != SocketControl::sckClosed) {
            tw::ui().message(this,
                             QStringLiteral("It is not possible to connect a socket that isn't closed.  Wait until "
                                            "the socket is closed and retry."),
                             UiService::Icon::Exclamation);
            return;
        }
        tmrPollClientState->StartTimer(10, false);
        sckClient->setLocalPort(QStringLiteral("0"));
        if (const OsError e = sckClient->Connect(host, port); e.isError()) {
            // Nothing is under way: the poll goes back to its normal rate.
            tmrPollClientState->StartTimer(100, false);
            tw::ui().failure(this,
                             QStringLiteral("An error occurred while attempting to connect the socket.  The "
                                            "operating system reports: "),
                             e);
            return;
        }
        tw::events().AddEvent((blnAutoOccurred ? QStringLiteral("Attempted client auto-connection to ")
                                               : QStringLiteral("Attempted client connection to ")) +
                              host + QStringLiteral(" on port ") + port + QLatin1Char('.'));
        t.cmdConnect->setText(QStringLiteral("&Disconnect"));
        if (i != 2)
            playAnimation(i, true);
        t.cmdServer->setEnabled(false);
        t.cmdPortConnectTo->setEnabled(false);
        setLocked(t.txtServer, true);
        setLocked(t.txtPortConnectTo, true);
        blnClientOpen = true;
        RefreshStatusLine();
        return;
    }

    t.cmdServer->setEnabled(true);
    t.cmdPortConnectTo->setEnabled(true);
    setLocked(t.txtServer, false);
    setLocked(t.txtPortConnectTo, false);
    tmrPollClientState->StartTimer(10, false);
    objSupport->CloseSockets(true);
    tw::events().AddEvent((blnAutoOccurred ? QStringLiteral("Client auto-disconnected from ")
                                           : QStringLiteral("Client disconnected from ")) +
                          host + QStringLiteral(" on port ") + port + QLatin1Char('.'));
    t.cmdConnect->setText(QStringLiteral("&Connect"));
    if (i != 2)
        playAnimation(i, false);
    blnClientOpen = false;
    RefreshStatusLine();
}

void frmTarnwell::tmrPollClientState_TimerFired()
{
    const int s = sckClient->State();
    if (s == intLastClientState)
        return;
    intLastClientState = qint16(s);
    const int i = intCurrentMode;
    if (tabs[i].lblClientState)
        tabs[i].lblClientState->setText(SocketControl::StateText(s));
    m_frmStateClient->AddState(SocketControl::StateText(s), QStringLiteral("0"));

    if (s == SocketControl::sckConnected || s == SocketControl::sckError || s == SocketControl::sckClosed)
        tmrPollClientState->StartTimer(100, false);
    if ((s == SocketControl::sckError || s == SocketControl::sckClosing) && tw::options().AutoCloseConnection())
        tmrAutoDisconnect->StartTimer(1000, true);
    if (s == SocketControl::sckClosed) {
        if (blnSkipReconnect) {
            blnSkipReconnect = false;
        } else if (tw::options().AutoReconnect()) {
            const int period = tw::options().GetAutoReconnectPeriod();
            tmrReconnectTimer->StartTimer(period, true);
            setStatusPanel(4, QStringLiteral("Auto-Reconnect: ") + QString::number(period) + QStringLiteral(" mSecs"));
            if (i == 2 && highestServerIndex() == 1 && captionKey(tabs[2].cmdListen) == QLatin1String("listen"))
                tabs[2].cmdListen->click();
        }
    }
    if (s == SocketControl::sckConnected && ConnectionReestablished)
        ConnectionReestablished();
}

void frmTarnwell::tmrAutoDisconnect_TimerFired()
{
    if (!blnClientOpen)
        return;
    ConnectDisconnectToSocket(true);
    if (intCurrentMode == 2)
        tabs[2].cmdListen->click();
}

void frmTarnwell::tmrReconnectTimer_TimerFired()
{
    if (sckClient->State() <= SocketControl::sckClosed)
        ConnectDisconnectToSocket(true);
    setStatusPanel(4, QString());
}

void frmTarnwell::wireClientSocket()
{
    connect(sckClient, &SocketControl::Connected, this, [this] {
        tw::events().AddEvent(QStringLiteral("Socket connected (Local port ") + QString::number(sckClient->LocalPort()) +
                              QLatin1Char(')'));
    });
    connect(sckClient, &SocketControl::Closed, this, [this] {
        tw::events().AddEvent(QStringLiteral("Socket closed (Local port ") + QString::number(sckClient->LocalPort()) +
                              QLatin1Char(')'));
    });
    connect(sckClient, &SocketControl::DataArrival, this, [this](qint64) { onClientDataArrival(); });
    connect(sckClient, &SocketControl::Error, this,
            [this](int number, const QString &description, qint32 scode, const QString &source) {
                m_frmStateClient->AddError(number, description, scode, source, QStringLiteral("0"));
                tw::events().AddEvent(QStringLiteral("An error occurred on the socket - '") + QString::number(number) +
                                      QStringLiteral(", ") + description + QLatin1Char('\''));
            });
    connect(sckClient, &SocketControl::SendComplete, this, [this] {
        if (MessageSuccessfullySent)
            MessageSuccessfullySent();
    });
}

void frmTarnwell::onClientDataArrival()
{
    // Data that came before the peer's close counts as received while connected;
    // in any other state it stays in the socket.
    const int s = sckClient->State();
    if (s != SocketControl::sckConnected && s != SocketControl::sckClosing)
        return;
    DataHasBeenReceived();
    if (!objSupport->HoldArrival(0))
        readClientArrival();
}

void frmTarnwell::readClientArrival()
{
    const int s = sckClient->State();
    if (sckClient->readingPaused() || (s != SocketControl::sckConnected && s != SocketControl::sckClosing))
        return;
    const QByteArray data = sckClient->GetData();
    if (data.isEmpty())
        return;
    DataHasBeenReceived();
    objSupport->DataReceivedOnSocket(data, QStringLiteral("NA"), true);
}
