#include "controller/mainwindowfixture.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/supportclass.h"
#include "logging/frmstate.h"
#include "logging/historymodel.h"
#include "support/streampeers.h"

#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QScopeGuard>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {
quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed when the probe goes
}

constexpr qint64 kMiB = 1024 * 1024;

std::unique_ptr<QTcpSocket> connectTo(quint16 port)
{
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(QHostAddress::LocalHost, port);
    return s;
}

// Reads from a socket until it has n bytes or the wait runs out.
QByteArray readExactly(QTcpSocket &s, qsizetype n)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < n && t.elapsed() < 20000) {
        if (s.bytesAvailable() == 0)
            QTest::qWait(5);
        got += s.readAll();
    }
    return got;
}

// A client's stream: text lines that begin with the client's number.
QByteArray textStream(int client, qint64 n)
{
    QByteArray lines;
    for (int line = 0; lines.size() < 4 * kMiB; ++line)
        lines += QByteArray::number(client) + " line " + QByteArray::number(line) + ' ' +
                 QByteArray(line % 100, char('a' + line % 26)) + "\r\n";
    return lines.repeated(n / lines.size() + 1).left(n);
}

QString gauge(const ModeControls &t)
{
    return t.lblReceivePausePerc->text() + QLatin1Char('/') + QString::number(t.panReceivePausePerc->value());
}
} // namespace

class TestModes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A Connect refused at once tells why and changes nothing, and the client
    // poll keeps its rate. What a refused connection (at an unused port) leaves
    // behind must not reach the user's next step; automatic closing is off only
    // where the mode changes.
    void connectFails_data()
    {
        for (const char *column : {"host", "port", "message", "then"})
            QTest::addColumn<QString>(column);
        for (const char *row :
             {"no host||80|A socket server needs to be entered.|",
              "no port|127.0.0.1||A socket port needs to be entered.|",
              "port out of range|127.0.0.1|70000|An error occurred while attempting to connect the "
              "socket.  The operating system reports: 380, |",
              "refused, torn down a second later|127.0.0.1|unused||",
              "refused, user disconnects first, then connects|127.0.0.1|unused||connect",
              "refused, left in Error, the mode changes|127.0.0.1|unused||mode"}) {
            const QStringList f = QString::fromLatin1(row).split(QLatin1Char('|'));
            QTest::newRow(qPrintable(f[0])) << f[1] << f[2] << f[3] << f[4];
        }
    }

    void connectFails()
    {
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QString, message);
        QFETCH(QString, then);
        const bool autoClose = then != QLatin1String("mode");
        MainWindow m;
        ModeControls &t = m.w->tabs[0];
        m.opts.autoDisconnect = autoClose;
        t.txtServer->setText(host);
        t.txtPortConnectTo->setText(port == QLatin1String("unused") ? QString::number(unusedPort()) : port);
        t.cmdConnect->click();
        if (!message.isEmpty()) {
            QCOMPARE(m.ui.messages().size(), 1);
            QVERIFY2(m.ui.messages().first().startsWith(message), qPrintable(m.ui.messages().first()));
            QCOMPARE(t.cmdConnect->text(), QStringLiteral("&Connect"));
            QCOMPARE(m.w->sckClient->State(), 0);
            QCOMPARE(m.w->tmrPollClientState->interval(), 100);
            return;
        }
        QTRY_COMPARE(t.lblClientState->text(), QStringLiteral("Error"));
        QVERIFY(
            !m.w->clientStateHistory()->stateTexts().filter(QStringLiteral("Error Info: 10061, ")).isEmpty());
        QTRY_VERIFY(m.hasEvent(QStringLiteral("An error occurred on the socket - '10061, ")));
        QCOMPARE(m.w->tmrAutoDisconnect->isRunning(), autoClose);
        QTcpServer server;
        if (then.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(t.cmdConnect->text(), QStringLiteral("&Connect"), 5000);
            QVERIFY(m.hasEvent(QStringLiteral("Client auto-disconnected from 127.0.0.1")));
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
            QVERIFY(m.hasEvent(QStringLiteral("Client disconnected from 127.0.0.1")));
            // The freed client socket serves the Pass Through tab.
            m.w->tabMode->setCurrentIndex(2);
            QVERIFY(m.connectClient(server, 2));
        }
    }

    // With automatic closing and reconnection on, a peer's close brings the
    // connection back after the period, every time; the user's own disconnect
    // never does, nor is it taken for the peer's.
    void connectReconnectDisconnect()
    {
        MainWindow m;
        m.opts.autoReconnect = true;
        m.opts.reconnectPeriod = 201;
        ModeControls &t = m.w->tabs[0];
        QTcpServer server;
        std::unique_ptr<QTcpSocket> peer = m.connectClient(server);
        QVERIFY(peer);
        QVERIFY(t.txtServer->isReadOnly() && !t.cmdServer->isEnabled());
        const QString port = QString::number(server.serverPort());
        QVERIFY(m.events().contains(QStringLiteral("Attempted client connection to 127.0.0.1 on port ") +
                                    port + QLatin1Char('.')));
        const QString reconnected =
            QStringLiteral("Attempted client auto-connection to 127.0.0.1 on port %1.").arg(port);
        for (int round = 1; round <= 2; ++round) {
            const quint16 localPort = peer->peerPort();
            QTRY_VERIFY(
                m.events().contains(QStringLiteral("Socket connected (Local port %1)").arg(localPort)));
            peer->write("bye\r\n");
            peer->disconnectFromHost();
            QTRY_VERIFY(m.events().contains(QStringLiteral("Socket closed (Local port %1)").arg(localPort)));
            QTRY_COMPARE_WITH_TIMEOUT(m.w->statusPanel(4), QStringLiteral("Auto-Reconnect: 201 mSecs"), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(m.events().count(reconnected), round, 5000);
            QVERIFY(server.hasPendingConnections() || server.waitForNewConnection(5000));
            peer.reset(server.nextPendingConnection());
        }
        QTRY_COMPARE(t.lblClientState->text(), QStringLiteral("Connected"));
        peer->write("a\r\nb\r\n");
        QTRY_COMPARE(t.model->cell(t.model->rowCount() - 1, DataListModel::ColMessage), QByteArray("b"));

        const qsizetype before = m.events().size();
        t.cmdConnect->click();
        QCOMPARE(t.cmdConnect->text(), QStringLiteral("&Connect"));
        QVERIFY(!t.txtServer->isReadOnly());
        QVERIFY(m.events().mid(before).contains(QStringLiteral("Closing the socket.")));
        QVERIFY(m.events().contains(QStringLiteral("Client disconnected from 127.0.0.1 on port ") + port +
                                    QLatin1Char('.')));
        QTRY_COMPARE(t.lblClientState->text(), QStringLiteral("Closed"));
        QTest::qWait(400); // twice the period
        QVERIFY(m.w->statusPanel(4).isEmpty() && !m.w->tmrReconnectTimer->isRunning());
        QCOMPARE(m.events().count(reconnected), 2);
        // The program's own close is not the peer's.
        QVERIFY(m.events().mid(before).filter(QStringLiteral("Socket closed")).isEmpty());
        QVERIFY(!m.hasEvent(QStringLiteral("An error occurred")));
        QVERIFY(m.ui.prompts.isEmpty());
    }

    // A port in use asks to retry and leaves the listener usable. Elements are
    // numbered, reused and counted; the poll records each element's states under
    // its number in the server state history, and the listener's with the client
    // count; stopping closes every client.
    void elementsCountsAndStateRows()
    {
        MainWindow m(1);
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::Any, 0));
        const quint16 port = other.serverPort();
        m.w->tabs[1].txtPort->setText(QString::number(port));
        m.ui.yesNoAnswers << true << false;
        m.w->tabs[1].cmdListen->click();
        QCOMPARE(m.ui.prompts.size(), 2);
        QVERIFY(m.ui.prompts[0].text.startsWith(
            QStringLiteral("An error occurred while attempting to listen on the socket.  The operating "
                           "system reports: 10048, ")));
        QVERIFY(
            m.ui.prompts[0].text.endsWith(QStringLiteral("\r\n\r\nWould you like to retry this operation?")));
        QCOMPARE(m.w->tabs[1].cmdListen->text(), QStringLiteral("&Listen"));
        other.close();
        m.w->tabs[1].cmdListen->click();
        // Each step waits for the poll to show the count it brings.
        auto shows = [&](const QString &label) {
            return QTest::qWaitFor([&] { return m.w->tabs[1].lblState->text() == label; }, 5000);
        };
        QVERIFY(shows(QStringLiteral("Listening (0 clients)")));
        std::array<std::unique_ptr<QTcpSocket>, 4> c;
        for (int i = 0; i < 3; ++i) {
            c[size_t(i)] = connectTo(port);
            QVERIFY(shows(QStringLiteral("Listening (%1 clients)").arg(i + 1)));
        }
        c[1]->disconnectFromHost();
        QVERIFY(shows(QStringLiteral("Listening (2 clients)")));
        c[3] = connectTo(port);
        QVERIFY(shows(QStringLiteral("Listening (3 clients)")));
        m.w->tabs[1].cmdListen->click();
        QVERIFY(m.events().contains(QStringLiteral("Closing all of the socket connections to the clients.")));
        QVERIFY(shows(QStringLiteral("Closed (0 clients)")));
        for (int i : {0, 2, 3})
            QTRY_COMPARE(c[size_t(i)]->state(), QAbstractSocket::UnconnectedState);

        QStringList rows;
        const HistoryModel *history = m.w->serverStateHistory()->model();
        const QStringList sockets = history->columnInAddedOrder(frmState::ColSocket);
        const QStringList states = history->columnInAddedOrder(frmState::ColState);
        for (int r = 0; r < sockets.size(); ++r) {
            // The peer's closing is seen or not, as the poll falls.
            if (states[r] != QLatin1String("Peer is closing the connection"))
                rows << sockets[r] + QLatin1Char(' ') + states[r];
        }
        QCOMPARE(rows.join(QLatin1Char('|')),
                 QStringLiteral(
                     "0 Closed|0 Listening|0 Listening|1 Connected|0 Listening|2 Connected|0 Listening|"
                     "3 Connected|0 Listening|2 Closed|0 Listening|2 Connected|0 Closed|1 Closed|2 Closed|"
                     "3 Closed"));
        // Closed by us: only the client that left is reported as gone, and the count stays at 0.
        QTest::qWait(200);
        QCOMPARE(m.events().filter(QStringLiteral("closed their connection")),
                 QStringList{QStringLiteral("Socket client 2 closed their connection.")});
        QCOMPARE(m.w->intClientCount, qint16(0));
    }

    void stopBoth_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("listening");
        QTest::newRow("both up") << true << true;
        QTest::newRow("only listening") << false << true;
        QTest::newRow("only connected") << true << false;
    }

    // Stop Both stops what runs and starts nothing: neither button is toggled blindly.
    void stopBoth()
    {
        QFETCH(bool, connected);
        QFETCH(bool, listening);
        MainWindow m(2);
        ModeControls &t = m.w->tabs[2];
        QTcpServer real;
        if (connected) {
            QVERIFY(real.listen(QHostAddress::LocalHost, 0));
            m.target(real.serverPort(), 2);
            t.cmdConnect->click();
            QTRY_COMPARE(m.w->sckClient->State(), 7);
        }
        if (listening)
            QVERIFY(m.listen(2) != 0);
        m.w->findChild<QPushButton *>(QStringLiteral("cmdStopBoth"))->click();
        QCOMPARE(t.cmdConnect->text(), QStringLiteral("&Connect"));
        QCOMPARE(t.cmdListen->text(), QStringLiteral("&Listen"));
        QCOMPARE(m.w->sckServer[0]->State(), 0);
        QTRY_COMPARE(m.w->sckClient->State(), 0);
        QCOMPARE(m.events().filter(QStringLiteral("Client disconnected from")).size(), connected ? 1 : 0);
        QCOMPARE(m.events().count(QStringLiteral("Socket server is no longer in the 'Listening' mode.")),
                 listening ? 1 : 0);
        QVERIFY(m.ui.prompts.isEmpty());
    }

    void modeChangeWhileBusy_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("busy");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("client connected") << 0 << "connected" << false;
        QTest::newRow("client closed, reconnect pending") << 0 << "reconnect" << false;
        QTest::newRow("listening") << 1 << "listening" << false;
        // Accepted connections are not looked at.
        QTest::newRow("clients connected, listener closed") << 1 << "clients" << true;
    }

    void modeChangeWhileBusy()
    {
        QFETCH(int, mode);
        QFETCH(QString, busy);
        QFETCH(bool, allowed);
        MainWindow m(mode);
        QTcpServer server;
        std::unique_ptr<QTcpSocket> peer;
        if (busy == QLatin1String("connected")) {
            peer = m.connectClient(server);
            QVERIFY(peer);
        } else if (busy == QLatin1String("reconnect")) {
            m.w->tmrReconnectTimer->StartTimer(60000, true);
        } else {
            peer = connectTo(m.listen(1));
            QTRY_COMPARE(m.w->intClientCount, qint16(1));
            if (busy == QLatin1String("clients"))
                m.w->sckServer[0]->Close();
        }
        const qsizetype events = m.events().size();
        const int other = mode == 0 ? 2 : 0;
        m.w->tabMode->setCurrentIndex(other);
        QCOMPARE(m.w->tabMode->currentIndex(), allowed ? other : mode);
        QCOMPARE(m.w->intCurrentMode, allowed ? other : mode);
        QCOMPARE(m.w->findChild<QDialog *>(QStringLiteral("frmNoTabChange")) != nullptr, !allowed);
        if (allowed) {
            QCOMPARE(m.events().mid(events),
                     QStringList{QStringLiteral("Tarnwell has been placed in the Client mode.")});
            QVERIFY(m.w->tmrPollClientState->isRunning() && !m.w->tmrPollServerState->isRunning());
        } else {
            // No mode event, and the polls of the mode run on.
            QCOMPARE(m.events().size(), events);
            QCOMPARE(m.w->tmrPollClientState->isRunning(), mode == 0);
            QCOMPARE(m.w->tmrPollServerState->isRunning(), mode == 1);
        }
    }

    void passThroughTakesTheNextClientAtOnce_data()
    {
        QTest::addColumn<bool>("relayedBeforeClose");
        QTest::newRow("close right after sending") << false;
        QTest::newRow("close after the data went through") << true;
    }

    // One client at a time: a client that connects as soon as the previous one
    // has closed is taken, even before the program has seen that close.
    void passThroughTakesTheNextClientAtOnce()
    {
        QFETCH(bool, relayedBeforeClose);
        MainWindow m(2);
        QTcpServer real;
        auto [upstream, client] = m.relay(real);
        QVERIFY(upstream);
        const quint16 port = quint16(m.w->sckServer[0]->LocalPort());
        QByteArray sent, relayed;
        for (int round = 0; round < 20; ++round) {
            const QByteArray payload =
                "round " + QByteArray::number(round) + ' ' + QByteArray(2000 + round, 'a') + "\r\n";
            client->write(payload);
            sent += payload;
            client->flush();
            if (relayedBeforeClose) {
                relayed += readExactly(*upstream, sent.size() - relayed.size());
                QCOMPARE(relayed.size(), sent.size());
            }
            // Gone before the next one knocks, with no gap between the two.
            client->disconnectFromHost();
            QCOMPARE(client->state(), QAbstractSocket::UnconnectedState);
            client = connectTo(port);
            QVERIFY(client->waitForConnected(5000));
        }
        client->write("last\r\n");
        sent += "last\r\n";
        relayed += readExactly(*upstream, sent.size() - relayed.size());
        QVERIFY(relayed == sent);
        QVERIFY(!m.hasEvent(QStringLiteral("declined")));
        QCOMPARE(m.events().count(QStringLiteral("Socket client 1 closed their connection.")), 20);

        // A second client while one is connected is declined and closed at once, not left hanging.
        auto second = connectTo(port);
        QTRY_COMPARE_WITH_TIMEOUT(second->state(), QAbstractSocket::UnconnectedState, 5000);
        QCOMPARE(
            m.events().filter(QStringLiteral("was declined because Tarnwell is in Pass Through Mode")).size(),
            1);
        QCOMPARE(m.w->intClientCount, qint16(1));
        QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
    }

    void floodFromThreeClients_data()
    {
        QTest::addColumn<QString>("action");
        // Reads the program may still handle after the user acted: the one being
        // shown, and for a quit one more already due in the same event pass.
        QTest::addColumn<int>("readsAfter");
        QTest::newRow("to the end") << QString() << 0;
        QTest::newRow("stop listening") << QStringLiteral("stop listening") << 1;
        QTest::newRow("quit") << QStringLiteral("quit") << 2;
    }

    // Three clients flood Server mode with everything shown. Data that comes
    // while a display runs waits in its socket, so the program holds no more
    // than one read, every client gets its turn, and what the user does in the
    // middle takes effect at once.
    void floodFromThreeClients()
    {
        QFETCH(QString, action);
        QFETCH(int, readsAfter);
        constexpr qint64 kEach = 50 * kMiB;
        constexpr qint64 kActAfter = 4 * kMiB;
        MainWindow m(1);
        m.w->tabs[1].cboShow->setCurrentIndex(0);
        const quint16 port = m.listen(1);
        const std::array<QByteArray, 3> streams{textStream(0, kEach), textStream(1, kEach),
                                                textStream(2, kEach)};
        StreamPeers peers(3);
        peers.holdSending(); // until all three are in, so that they start together
        for (const QByteArray &stream : streams)
            peers.connecting(port, stream, 0);
        peers.start();
        QTRY_COMPARE(m.w->intClientCount, qint16(3));
        QHash<QString, int> clientOf; // socket label -> client, named by its first byte
        std::array<qint64, 3> handled{};
        std::optional<std::array<qint64, 3>> atFirstEnd;
        bool inOrder = true;
        bool acting = false;
        qint64 afterAction = 0;
        QObject::connect(m.w->objSupport, &SupportClass::received, m.w.get(),
                         [&](const QString &label, const QByteArray &data) {
                             const int c = clientOf.contains(label) ? clientOf[label]
                                                                    : clientOf[label] = data.front() - '0';
                             if (c < 0 || c > 2 ||
                                 data != streams[size_t(c)].mid(handled[size_t(c)], data.size())) {
                                 inOrder = false;
                                 return;
                             }
                             handled[size_t(c)] += data.size();
                             if (acting)
                                 afterAction += data.size();
                             if (!atFirstEnd && handled[size_t(c)] == kEach)
                                 atFirstEnd = handled;
                             if (*std::min_element(handled.begin(), handled.end()) == kEach)
                                 QCoreApplication::quit();
                             if (!action.isEmpty() && !acting && handled[size_t(c)] >= kActAfter) {
                                 acting = true;
                                 // As the user would: a click handled among the program's events.
                                 QTimer::singleShot(0, m.w.get(), [&] {
                                     afterAction = 0;
                                     if (action == QLatin1String("quit")) {
                                         m.w->mnuExit_Click();
                                     } else {
                                         m.w->tabs[1].cmdListen->click();
                                         QCoreApplication::quit();
                                     }
                                 });
                             }
                         });
        peers.release();
        bool timedOut = false;
        QTimer::singleShot(240000, m.w.get(), [&] {
            timedOut = true;
            QCoreApplication::quit();
        });
        QCoreApplication::exec();
        QVERIFY(!timedOut);
        const qint64 handledAfterAction = afterAction;

        QVERIFY(inOrder);
        const qint64 readBound = m.w->sckServer[1]->readBufferSize();
        QVERIFY2(m.w->objSupport->mostBytesHeld() <= readBound,
                 qPrintable(QString::number(m.w->objSupport->mostBytesHeld())));
        if (action.isEmpty()) {
            QVERIFY(atFirstEnd);
            const qint64 least = *std::min_element(atFirstEnd->begin(), atFirstEnd->end());
            QVERIFY2(least >= kEach / 2, qPrintable(QString::number(least)));
            QCOMPARE(handled, (std::array<qint64, 3>{kEach, kEach, kEach}));
        } else {
            // What was being shown when the user acted is finished; nothing more.
            QVERIFY2(handledAfterAction <= readsAfter * readBound,
                     qPrintable(QString::number(handledAfterAction)));
        }
    }

    // While the server reads slowly the relay's backlog stays bounded; when the
    // server goes, the relay recovers on its own.
    void relayToASlowServerThatGoes()
    {
        MainWindow m(2);
        m.opts.autoReconnect = true;
        m.opts.reconnectPeriod = 301;
        m.w->tabs[2].cboShow->setCurrentIndex(3);
        QTcpServer real;
        auto [upstream, client] = m.relay(real);
        QVERIFY(upstream);
        upstream->setReadBufferSize(64 * 1024); // a server that reads slowly

        const QByteArray stream = randomBytes(31, 48 * kMiB);
        client->write(stream);
        qint64 worst = 0;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 1500) {
            QTest::qWait(10);
            worst = std::max(worst, m.w->sckClient->bytesToWrite());
        }
        QVERIFY2(worst < 12 * kMiB, qPrintable(QString::number(worst)));
        // Once it reads, every byte arrives, in order.
        upstream->setReadBufferSize(0);
        QVERIFY(readExactly(*upstream, stream.size()) == stream);

        // The server goes away: a second later the relay disconnects and stops
        // listening (its client is closed), then listens again at once and
        // reconnects to the server after the period.
        upstream->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(
            m.events().count(QStringLiteral("Socket server placed into the 'Listening' mode.")), 2, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(real.hasPendingConnections() || real.waitForNewConnection(100), 5000);
        QVERIFY(m.hasEvent(QStringLiteral("Attempted client auto-connection to 127.0.0.1")));
        QCOMPARE(m.w->tabs[2].cmdListen->text(), QStringLiteral("Stop &Listening"));
    }

    void pauseThenAct_data()
    {
        QTest::addColumn<QString>("act"); // "resume", or the button pressed while paused
        QTest::addColumn<bool>("clearBoth");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QByteArray>("shown"); // the rows afterwards
        QTest::addColumn<QByteArray>("logged");
        // Released as one arrival, shown and logged again.
        QTest::newRow("resume") << "resume" << false << "The receive pause has been deactivated."
                                << QByteArray("shown\r\n|xxxx") << QByteArray("shown\r\nxxxxxxxx");
        // Each button does its own part only: the pause stays on.
        QTest::newRow("empty the buffer")
            << "cmdEmptyReceived" << false << "4 bytes have been cleared out of the receive pause buffer."
            << QByteArray("shown\r\n") << QByteArray("shown\r\nxxxx");
        QTest::newRow("clear") << "cmdReceivedClear" << false
                               << "The Receive data has been cleared by the user." << QByteArray()
                               << QByteArray("shown\r\nxxxx");
        QTest::newRow("clear, both lists")
            << "cmdReceivedClear" << true << "All the data has been cleared by the user." << QByteArray()
            << QByteArray("shown\r\nxxxx");
    }

    // Paused, the Server tab holds what arrives, and its gauge says so on every
    // tab, since the buffer serves every mode.
    void pauseThenAct()
    {
        QFETCH(QString, act);
        QFETCH(bool, clearBoth);
        QFETCH(QString, event);
        QFETCH(QByteArray, shown);
        QFETCH(QByteArray, logged);
        MainWindow m(1);
        m.opts.clearBoth = clearBoth;
        const QString log = m.logTo(DataLogger::Input);
        QCOMPARE(m.w->statusPanel(5), QStringLiteral("Log: In "));
        ModeControls &t = m.w->tabs[1];
        QVERIFY(!t.cmdEmptyReceived->isEnabled());
        m.w->objSupport->DataReceivedOnSocket("shown\r\n", QStringLiteral("1"), true);
        t.cmdReceivedPause->click();
        QCOMPARE(m.events().last(), QStringLiteral("The receive pause has been activated."));
        QCOMPARE(m.w->statusPanel(2), QStringLiteral("Receive Pause On "));
        QVERIFY(m.w->tabs[0].cmdReceivedPause->isChecked());
        m.w->objSupport->DataReceivedOnSocket(QByteArray(2, 'x'), QStringLiteral("1"), true);
        m.w->objSupport->DataReceivedOnSocket(QByteArray(2, 'x'), QStringLiteral("1"), true);
        QVERIFY(t.cmdEmptyReceived->isEnabled());
        QCOMPARE(gauge(t), QStringLiteral("4 bytes buffered/0"));
        QCOMPARE(gauge(m.w->tabs[0]), gauge(t));

        if (act == QLatin1String("resume"))
            t.cmdReceivedPause->click();
        else
            m.w->findChild<QToolButton *>(act + QStringLiteral("_1"))->click();
        QCOMPARE(m.events().last(), event);
        QCOMPARE(m.w->objSupport->blnReceivePaused, act != QLatin1String("resume"));
        QCOMPARE(m.w->statusPanel(2).isEmpty(), act == QLatin1String("resume"));
        // The gauge follows the buffer.
        QCOMPARE(gauge(t), act == QLatin1String("cmdReceivedClear") ? QStringLiteral("4 bytes buffered/0")
                                                                    : QStringLiteral("/0"));
        QByteArrayList rows;
        for (int r = 0; r < t.model->rowCount(); ++r)
            rows << t.model->rawTag(r);
        QCOMPARE(rows.join('|'), shown);
        QCOMPARE(t.txtReceived->length(), shown.isEmpty() ? 0 : shown.size() - shown.count('|'));
        QCOMPARE(t.model->columnCount(), 5);
        m.w->logging()->logger().flush();
        QCOMPARE(fileBytes(log), logged);
    }

    void heldDataWaitsInTheSocket_data()
    {
        QTest::addColumn<bool>("slowLog");
        QTest::newRow("the pause buffer is full") << false;
        // The log is a pipe: it takes the data only as fast as the test reads it.
        QTest::newRow("the log waits for the disk") << true;
    }

    // While something holds the data back, it stays in the socket, so the peer
    // is held back and nothing grows; once let go, every byte comes through once
    // (held data is logged twice: on arrival and on release).
    void heldDataWaitsInTheSocket()
    {
        QFETCH(bool, slowLog);
        MainWindow m;
        const QString path = m.settings.dir() + QStringLiteral("/in.log");
        QVERIFY(!slowLog || ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        const int reader = slowLog ? ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK) : -1;
        const auto closeReader = qScopeGuard([reader] {
            if (reader >= 0)
                ::close(reader);
        });
        m.logTo(DataLogger::Input, path);
        m.w->tabs[0].cboShow->setCurrentIndex(3); // nothing shown: only the log counts
        QTcpServer server;
        std::unique_ptr<QTcpSocket> peer = m.connectClient(server);
        QVERIFY(peer);
        if (!slowLog) {
            m.w->objSupport->pauseBufferLimit = 64 * 1024;
            m.w->tabs[0].cmdReceivedPause->click();
        }
        QByteArray stream;
        for (int i = 0; stream.size() < (slowLog ? 24 : 6) * 1024 * 1024; ++i)
            stream += QByteArray::number(i) + ' ';
        peer->write(stream);
        QTRY_VERIFY_WITH_TIMEOUT(m.w->sckClient->readingPaused(), 20000);
        qsizetype held = 0;
        if (!slowLog) {
            // However long the peer goes on, the buffer takes no more than the read that reached the bound.
            QTest::qWait(300);
            held = m.w->objSupport->strReceiveBuffer.size();
            QVERIFY(held >= 64 * 1024 && held < 64 * 1024 + 1024 * 1024);
            m.w->tabs[0].cmdReceivedPause->click();
        }
        QByteArray got;
        auto logged = [&] { return slowLog ? drainPipe(reader, got) : (got = fileBytes(path)).size(); };
        QTRY_COMPARE_WITH_TIMEOUT(logged(), held + stream.size(), 30000);
        QVERIFY(got == stream.left(held) + stream);
        QTRY_VERIFY(!m.w->sckClient->readingPaused());
    }
};

QTEST_MAIN(TestModes)
#include "tst_modes.moc"
