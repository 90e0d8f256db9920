#include "controller/mainwindowfixture.h"
#include "core/optionssource.h"
#include "display/datalistmodel.h"
#include "display/supportclass.h"
#include "logging/frmevent.h"
#include "logging/frmstate.h"
#include "net/socketcontrol.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {
// A main window on a private settings file, scripted dialogs and fixed options.

quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
} // namespace

class TestClientMode : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void connectsReceivesAndDisconnects();
    void refusedConnectionIsRecordedAndTornDown();
    void failedConnectLeavesNothingBehind_data();
    void failedConnectLeavesNothingBehind();
    void peerCloseReconnectsAutomatically();
    void userDisconnectNeverReconnects();
    void inputIsCheckedBeforeConnecting();
    void sentDataReachesThePeerByteExact();
    void tabChangeIsRefusedWhileConnected();
    void sendWindowSendsThroughTheConnection();
};

void TestClientMode::connectsReceivesAndDisconnects()
{
    MainWindow m;
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    m.target(server.serverPort());
    m.w->tabs[0].cmdConnect->click();
    QCOMPARE(m.w->tabs[0].cmdConnect->text(), QStringLiteral("&Disconnect"));
    QVERIFY(m.w->tabs[0].txtServer->isReadOnly());
    QVERIFY(!m.w->tabs[0].cmdServer->isEnabled());
    QVERIFY(m.events().contains(QStringLiteral("Attempted client connection to 127.0.0.1 on port %1.")
                                    .arg(server.serverPort())));
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *peer = server.nextPendingConnection();
    QTRY_COMPARE(m.w->tabs[0].lblClientState->text(), QStringLiteral("Connected"));
    QVERIFY(m.w->clientStateHistory()->stateTexts().contains(QStringLiteral("Connected")));
    QTRY_VERIFY(m.events().contains(QStringLiteral("Socket connected (Local port %1)").arg(peer->peerPort())));

    peer->write("a\r\nb\r\n");
    QTRY_COMPARE(m.w->tabs[0].model->rowCount(), 2);

    m.w->tabs[0].cmdConnect->click();
    QCOMPARE(m.w->tabs[0].cmdConnect->text(), QStringLiteral("&Connect"));
    QVERIFY(!m.w->tabs[0].txtServer->isReadOnly());
    QVERIFY(m.events().contains(QStringLiteral("Closing the socket.")));
    QVERIFY(m.events().contains(QStringLiteral("Client disconnected from 127.0.0.1 on port %1.")
                                    .arg(server.serverPort())));
    QTRY_COMPARE(m.w->tabs[0].lblClientState->text(), QStringLiteral("Closed"));
    // The program's own close is not the peer's.
    QVERIFY(!m.events().join(QLatin1Char('\n')).contains(QStringLiteral("Socket closed")));
    QVERIFY(m.ui.prompts.isEmpty());
}

void TestClientMode::refusedConnectionIsRecordedAndTornDown()
{
    MainWindow m;
    m.target(unusedPort());
    m.w->tabs[0].cmdConnect->click();
    QTRY_VERIFY(m.w->clientStateHistory()->stateTexts().join(QLatin1Char('\n')).contains(
        QStringLiteral("Error Info: 10061, ")));
    QTRY_VERIFY(m.events().join(QLatin1Char('\n')).contains(QStringLiteral("An error occurred on the socket - '10061, ")));
    QTRY_COMPARE(m.w->tabs[0].lblClientState->text(), QStringLiteral("Error"));
    // Automatic closing tears the failed connection down a second later.
    QTRY_COMPARE_WITH_TIMEOUT(m.w->tabs[0].cmdConnect->text(), QStringLiteral("&Connect"), 5000);
    QVERIFY(m.events().join(QLatin1Char('\n')).contains(QStringLiteral("Client auto-disconnected from 127.0.0.1")));
}

// What a failed connection leaves behind must not reach the user's next step.
void TestClientMode::failedConnectLeavesNothingBehind_data()
{
    QTest::addColumn<QString>("step");
    QTest::newRow("pending automatic disconnect, user reconnects") << QStringLiteral("reconnect");
    QTest::newRow("port out of range") << QStringLiteral("badport");
    QTest::newRow("error without automatic closing, mode changes") << QStringLiteral("mode");
}

void TestClientMode::failedConnectLeavesNothingBehind()
{
    QFETCH(QString, step);
    MainWindow m;
    ModeControls &t = m.w->tabs[0];
    if (step == QLatin1String("badport")) {
        m.target(0);
        t.txtPortConnectTo->setText(QStringLiteral("70000"));
        t.cmdConnect->click();
        QCOMPARE(m.ui.messages().size(), 1);
        QCOMPARE(t.cmdConnect->text(), QStringLiteral("&Connect"));
        QCOMPARE(m.w->tmrPollClientState->interval(), 100);
        return;
    }
    m.opts.autoDisconnect = step == QLatin1String("reconnect");
    m.target(unusedPort());
    t.cmdConnect->click();
    QTRY_COMPARE(t.lblClientState->text(), QStringLiteral("Error"));
    if (step == QLatin1String("reconnect")) {
        QVERIFY(m.w->tmrAutoDisconnect->isRunning());
        t.cmdConnect->click(); // Disconnect before the automatic one comes
        QTcpServer server;
        auto peer = m.connectClient(server);
        QVERIFY(peer);
        // The old disconnect would close this connection a second later.
        QVERIFY(!m.w->tmrAutoDisconnect->isRunning());
        QCOMPARE(t.cmdConnect->text(), QStringLiteral("&Disconnect"));
        return;
    }
    QCOMPARE(t.cmdConnect->text(), QStringLiteral("&Disconnect"));
    m.w->tabMode->setCurrentIndex(1);
    QCOMPARE(m.w->intCurrentMode, 1);
    QCOMPARE(t.cmdConnect->text(), QStringLiteral("&Connect"));
    QVERIFY(!t.txtServer->isReadOnly());
    QVERIFY(
        m.events().join(QLatin1Char('\n')).contains(QStringLiteral("Client disconnected from 127.0.0.1")));
    // The freed client socket serves the Pass Through tab.
    m.w->tabMode->setCurrentIndex(2);
    QTcpServer server;
    QVERIFY(m.connectClient(server, 2));
}

void TestClientMode::peerCloseReconnectsAutomatically()
{
    MainWindow m;
    m.opts.autoReconnect = true;
    m.opts.reconnectPeriod = 201;
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    m.target(server.serverPort());
    m.w->tabs[0].cmdConnect->click();
    for (int round = 0; round < 2; ++round) {
        QVERIFY(server.waitForNewConnection(5000) || server.hasPendingConnections());
        QTcpSocket *peer = server.nextPendingConnection();
        QVERIFY(peer);
        QTRY_COMPARE(m.w->tabs[0].lblClientState->text(), QStringLiteral("Connected"));
        const quint16 localPort = peer->peerPort();
        peer->write("bye\r\n");
        peer->flush();
        peer->disconnectFromHost();
        QTRY_VERIFY(m.events().contains(QStringLiteral("Socket closed (Local port %1)").arg(localPort)));
        QTRY_VERIFY_WITH_TIMEOUT(m.w->statusPanel(4) == QStringLiteral("Auto-Reconnect: 201 mSecs"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(m.events().count(QStringLiteral("Attempted client auto-connection to 127.0.0.1 on port %1.")
                                                      .arg(server.serverPort())) == round + 1,
                                 5000);
        delete peer;
    }
    QVERIFY(m.w->tabs[0].model->rowCount() >= 2);
    QVERIFY(m.events().join(QLatin1Char('\n')).contains(QStringLiteral("Client auto-disconnected from")));
    QVERIFY(!m.events().join(QLatin1Char('\n')).contains(QStringLiteral("An error occurred")));
}

void TestClientMode::userDisconnectNeverReconnects()
{
    MainWindow m;
    m.opts.autoReconnect = true;
    m.opts.reconnectPeriod = 51;
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    m.target(server.serverPort());
    m.w->tabs[0].cmdConnect->click();
    QTRY_COMPARE(m.w->tabs[0].lblClientState->text(), QStringLiteral("Connected"));
    m.w->tabs[0].cmdConnect->click();
    QTRY_COMPARE(m.w->tabs[0].lblClientState->text(), QStringLiteral("Closed"));
    QTest::qWait(400);
    QVERIFY(m.w->statusPanel(4).isEmpty());
    QVERIFY(!m.w->tmrReconnectTimer->isRunning());
    QCOMPARE(m.w->tabs[0].cmdConnect->text(), QStringLiteral("&Connect"));
    QVERIFY(!m.events().join(QLatin1Char('\n')).contains(QStringLiteral("auto-connection")));
}

void TestClientMode::inputIsCheckedBeforeConnecting()
{
    MainWindow m;
    m.w->tabs[0].txtServer->clear();
    m.w->tabs[0].cmdConnect->click();
    m.w->tabs[0].txtServer->setText(QStringLiteral("127.0.0.1"));
    m.w->tabs[0].txtPortConnectTo->clear();
    m.w->tabs[0].cmdConnect->click();
    m.w->tabs[0].txtPortConnectTo->setText(QStringLiteral("70000"));
    m.w->tabs[0].cmdConnect->click();
    const QStringList msgs = m.ui.messages();
    QCOMPARE(msgs.size(), 3);
    QCOMPARE(msgs[0], QStringLiteral("A socket server needs to be entered."));
    QCOMPARE(msgs[1], QStringLiteral("A socket port needs to be entered."));
    QVERIFY(msgs[2].startsWith(QStringLiteral("An error occurred while attempting to connect the socket.  The "
                                              "operating system reports: 380, ")));
    // Nothing changed: the button still offers to connect and the socket is usable.
    QCOMPARE(m.w->tabs[0].cmdConnect->text(), QStringLiteral("&Connect"));
    QCOMPARE(m.w->sckClient->State(), 0);
}

void TestClientMode::sentDataReachesThePeerByteExact()
{
    MainWindow m;
    QTcpServer server;
    const std::unique_ptr<QTcpSocket> peer = m.connectClient(server);
    QVERIFY(peer);
    QByteArray every;
    for (int r = 0; r < 64; ++r)
        for (int i = 0; i < 256; ++i)
            every += char(i);
    m.w->objSupport->SendDataDownSocket(every);
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += peer->readAll()).size() >= every.size(), 10000);
    QCOMPARE(got, every);
    QVERIFY(m.w->tabs[0].model->rowCount() > 0);
}

void TestClientMode::tabChangeIsRefusedWhileConnected()
{
    MainWindow m;
    QTcpServer server;
    const std::unique_ptr<QTcpSocket> peer = m.connectClient(server);
    QVERIFY(peer);
    const qsizetype before = m.events().size();
    m.w->tabMode->setCurrentIndex(1);
    QCOMPARE(m.w->tabMode->currentIndex(), 0);
    QCOMPARE(m.w->intCurrentMode, 0);
    QVERIFY(m.w->findChild<QDialog *>(QStringLiteral("frmNoTabChange")));
    QCOMPARE(m.events().size(), before);
    QVERIFY(m.w->tmrPollClientState->isRunning());
    QVERIFY(!m.w->tmrPollServerState->isRunning());

    // Closed with a reconnect pending is still busy.
    m.w->tabs[0].cmdConnect->click();
    QTRY_COMPARE(m.w->sckClient->State(), 0);
    m.w->tmrReconnectTimer->StartTimer(60000, true);
    m.w->tabMode->setCurrentIndex(2);
    QCOMPARE(m.w->tabMode->currentIndex(), 0);
    m.w->tmrReconnectTimer->StopTimer();
    m.w->tabMode->setCurrentIndex(2);
    QCOMPARE(m.w->intCurrentMode, 2);
    QVERIFY(m.events().contains(QStringLiteral("Tarnwell has been placed in the Pass Through mode.")));
    QVERIFY(m.w->tmrPollServerState->isRunning() && m.w->tmrPollClientState->isRunning());
}

void TestClientMode::sendWindowSendsThroughTheConnection()
{
    MainWindow m;
    QTcpServer server;
    const std::unique_ptr<QTcpSocket> peer = m.connectClient(server);
    QVERIFY(peer);

    m.w->tabs[0].cmdSend->click();
    QCOMPARE(frmSend::openWindows().size(), 1);
    frmSend *send = frmSend::openWindows().first();
    send->txtSend->setData("A\r\nB\r\n");
    send->chkPause->setChecked(true);
    send->txtPause->setText(QStringLiteral("100"));
    send->cmdSend_Click();
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += peer->readAll()).size() >= 6, 5000);
    QCOMPARE(got, QByteArray("A\r\nB\r\n"));
    // Each message is an outgoing row of the Client tab.
    QTRY_COMPARE(m.w->tabs[0].model->rowCount(), 2);
    QCOMPARE(m.w->tabs[0].model->cell(1, DataListModel::ColMessage), QByteArray("B"));
    send->close();
}

QTEST_MAIN(TestClientMode)
#include "tst_clientmode.moc"
