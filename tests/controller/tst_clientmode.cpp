#include "controller/mainwindowfixture.h"
#include "display/datalistmodel.h"
#include "display/supportclass.h"
#include "logging/frmstate.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"

#include <QCheckBox>
#include <QLabel>
#include <QTabWidget>
#include <QToolButton>

namespace {
quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed when the probe goes
}

QString joined(const QStringList &lines)
{
    return lines.join(QLatin1Char('\n'));
}
} // namespace

class TestClientMode : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void connectSendReceiveDisconnect();
    void refusedInput_data();
    void refusedInput();
    void failedConnection_data();
    void failedConnection();
    void reconnectsOnlyAfterThePeerCloses();
};

void TestClientMode::connectSendReceiveDisconnect()
{
    MainWindow m;
    ModeControls &t = m.w->tabs[0];
    QTcpServer server;
    const std::unique_ptr<QTcpSocket> peer = m.connectClient(server);
    QVERIFY(peer);
    const QString port = QString::number(server.serverPort());
    QCOMPARE(t.cmdConnect->text(), QStringLiteral("&Disconnect"));
    QVERIFY(t.txtServer->isReadOnly() && !t.cmdServer->isEnabled());
    QVERIFY(m.events().contains(QStringLiteral("Attempted client connection to 127.0.0.1 on port ") + port +
                                QLatin1Char('.')));
    QTRY_VERIFY(m.events().contains(QStringLiteral("Socket connected (Local port %1)").arg(peer->peerPort())));
    QTRY_COMPARE(t.lblClientState->text(), QStringLiteral("Connected"));
    QCOMPARE(m.w->clientStateHistory()->stateTexts().last(), QStringLiteral("Connected"));

    peer->write("a\r\nb\r\n");
    QTRY_COMPARE(t.model->rowCount(), 2);

    // Every byte value reaches the peer as it was.
    QByteArray every;
    for (int i = 0; i < 256 * 64; ++i)
        every += char(i % 256);
    m.w->objSupport->SendDataDownSocket(every);
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += peer->readAll()).size() >= every.size(), 10000);
    QCOMPARE(got, every);

    // A send window sends message by message; each message is an outgoing row.
    t.cmdSend->click();
    frmSend *send = frmSend::openWindows().first();
    send->txtSend->setData("A\r\nB\r\n");
    send->chkPause->setChecked(true);
    send->txtPause->setText(QStringLiteral("100"));
    t.cmdReceivedClear->click();
    send->cmdSend_Click();
    got.clear();
    QTRY_VERIFY_WITH_TIMEOUT((got += peer->readAll()).size() >= 6, 5000);
    QCOMPARE(got, QByteArray("A\r\nB\r\n"));
    QTRY_COMPARE(t.model->rowCount(), 2);
    QCOMPARE(t.model->cell(1, DataListModel::ColMessage), QByteArray("B"));
    delete send;

    t.cmdConnect->click();
    QCOMPARE(t.cmdConnect->text(), QStringLiteral("&Connect"));
    QVERIFY(!t.txtServer->isReadOnly());
    QVERIFY(m.events().contains(QStringLiteral("Closing the socket.")));
    QVERIFY(m.events().contains(QStringLiteral("Client disconnected from 127.0.0.1 on port ") + port +
                                QLatin1Char('.')));
    QTRY_COMPARE(t.lblClientState->text(), QStringLiteral("Closed"));
    // The program's own close is not the peer's.
    QVERIFY(!joined(m.events()).contains(QStringLiteral("Socket closed")));
    QVERIFY(m.ui.prompts.isEmpty());
}

void TestClientMode::refusedInput_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("message"); // how it begins
    for (const char *row :
         {"no host||80|A socket server needs to be entered.",
          "no port|127.0.0.1||A socket port needs to be entered.",
          "port out of range|127.0.0.1|70000|An error occurred while attempting to connect the "
          "socket.  The operating system reports: 380, "}) {
        const QStringList f = QString::fromLatin1(row).split(QLatin1Char('|'));
        QTest::newRow(qPrintable(f[0])) << f[1] << f[2] << f[3];
    }
}

void TestClientMode::refusedInput()
{
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, message);
    MainWindow m;
    ModeControls &t = m.w->tabs[0];
    t.txtServer->setText(host);
    t.txtPortConnectTo->setText(port);
    t.cmdConnect->click();
    QCOMPARE(m.ui.messages().size(), 1);
    QVERIFY2(m.ui.messages().first().startsWith(message), qPrintable(m.ui.messages().first()));
    // Nothing changed, and the client poll keeps its normal rate.
    QCOMPARE(t.cmdConnect->text(), QStringLiteral("&Connect"));
    QCOMPARE(m.w->sckClient->State(), 0);
    QCOMPARE(m.w->tmrPollClientState->interval(), 100);
}

// What a refused connection leaves behind must not reach the user's next step.
void TestClientMode::failedConnection_data()
{
    QTest::addColumn<bool>("autoClose");
    QTest::addColumn<QString>("then");
    QTest::newRow("torn down a second later") << true << QString();
    QTest::newRow("user disconnects first, then connects") << true << "connect";
    QTest::newRow("left in Error, the mode changes") << false << "mode";
}

void TestClientMode::failedConnection()
{
    QFETCH(bool, autoClose);
    QFETCH(QString, then);
    MainWindow m;
    ModeControls &t = m.w->tabs[0];
    m.opts.autoDisconnect = autoClose;
    m.target(unusedPort());
    t.cmdConnect->click();
    QTRY_COMPARE(t.lblClientState->text(), QStringLiteral("Error"));
    QVERIFY(joined(m.w->clientStateHistory()->stateTexts()).contains(QStringLiteral("Error Info: 10061, ")));
    QTRY_VERIFY(joined(m.events()).contains(QStringLiteral("An error occurred on the socket - '10061, ")));
    QCOMPARE(m.w->tmrAutoDisconnect->isRunning(), autoClose);
    QTcpServer server;
    if (then.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(t.cmdConnect->text(), QStringLiteral("&Connect"), 5000);
        QVERIFY(joined(m.events()).contains(QStringLiteral("Client auto-disconnected from 127.0.0.1")));
    } else if (then == QLatin1String("connect")) {
        t.cmdConnect->click();
        QVERIFY(m.connectClient(server));
        // The old automatic disconnect would close this connection a second later.
        QVERIFY(!m.w->tmrAutoDisconnect->isRunning());
        QCOMPARE(t.cmdConnect->text(), QStringLiteral("&Disconnect"));
    } else {
        QCOMPARE(t.cmdConnect->text(), QStringLiteral("&Disconnect"));
        m.w->tabMode->setCurrentIndex(1);
        QCOMPARE(m.w->intCurrentMode, 1);
        QCOMPARE(t.cmdConnect->text(), QStringLiteral("&Connect"));
        QVERIFY(!t.txtServer->isReadOnly());
        QVERIFY(joined(m.events()).contains(QStringLiteral("Client disconnected from 127.0.0.1")));
        // The freed client socket serves the Pass Through tab.
        m.w->tabMode->setCurrentIndex(2);
        QVERIFY(m.connectClient(server, 2));
    }
}

// With automatic closing and reconnection on, a peer's close brings the
// connection back after the period, every time; the user's own disconnect never does.
void TestClientMode::reconnectsOnlyAfterThePeerCloses()
{
    MainWindow m;
    m.opts.autoReconnect = true;
    m.opts.reconnectPeriod = 201;
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    m.target(server.serverPort());
    const QString reconnected =
        QStringLiteral("Attempted client auto-connection to 127.0.0.1 on port %1.").arg(server.serverPort());
    m.w->tabs[0].cmdConnect->click();
    std::unique_ptr<QTcpSocket> peer;
    for (int round = 0; round < 3; ++round) {
        QVERIFY(server.hasPendingConnections() || server.waitForNewConnection(5000));
        peer.reset(server.nextPendingConnection());
        QTRY_COMPARE(m.w->tabs[0].lblClientState->text(), QStringLiteral("Connected"));
        if (round == 2)
            break;
        const quint16 localPort = peer->peerPort();
        peer->write("bye\r\n");
        peer->disconnectFromHost();
        QTRY_VERIFY(m.events().contains(QStringLiteral("Socket closed (Local port %1)").arg(localPort)));
        QTRY_COMPARE_WITH_TIMEOUT(m.w->statusPanel(4), QStringLiteral("Auto-Reconnect: 201 mSecs"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(m.events().count(reconnected), round + 1, 5000);
    }
    QVERIFY(m.w->tabs[0].model->rowCount() >= 2);
    QVERIFY(joined(m.events()).contains(QStringLiteral("Client auto-disconnected from")));

    m.w->tabs[0].cmdConnect->click();
    QTRY_COMPARE(m.w->tabs[0].lblClientState->text(), QStringLiteral("Closed"));
    QTest::qWait(400); // twice the period
    QVERIFY(m.w->statusPanel(4).isEmpty() && !m.w->tmrReconnectTimer->isRunning());
    QCOMPARE(m.events().count(reconnected), 2);
    QVERIFY(!joined(m.events()).contains(QStringLiteral("An error occurred")));
}

QTEST_MAIN(TestClientMode)
#include "tst_clientmode.moc"
