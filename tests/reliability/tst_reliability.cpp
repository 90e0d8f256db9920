// The whole program under traffic and faults: its main window driven as a
// user would, its peers on a thread of their own, every byte checked.

#include "controller/mainwindowfixture.h"
#include "display/datalistmodel.h"
#include "display/supportclass.h"
#include "logging/frmlogging.h"
#include "sending/bytetextedit.h"
#include "sending/frmprotocol.h"
#include "sending/frmsend.h"
#include "support/streampeers.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QRegularExpression>
#include <numeric>

namespace {
constexpr qint64 kMiB = 1024 * 1024;
constexpr int kClients = 4; // two bits of every upstream byte name the client
constexpr int kTagShift = 6;

// What one relay row moves in all, in MB: `make soak` asks for more.
qint64 relayBytes()
{
    const int mb = qEnvironmentVariableIntValue("TARNWELL_RELAY_MB");
    return (mb > 0 ? mb : 8) * kMiB;
}

// A client's upstream bytes: its number in the top bits, random below.
QByteArray taggedStream(int client, qint64 n)
{
    QByteArray b = randomBytes(quint32(100 + client), n);
    for (char &c : b)
        c = char((client << kTagShift) | (uchar(c) & ((1 << kTagShift) - 1)));
    return b;
}

} // namespace

class TestReliability : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void relayIsByteExact_data()
    {
        QTest::addColumn<int>("show");  // the show selector's entry
        QTest::addColumn<bool>("list"); // the list with fields, else the text view
        QTest::addColumn<QList<int>>("logs");
        QTest::newRow("nothing shown") << 3 << false << QList<int>{};
        QTest::newRow("both directions in the text view") << 0 << false << QList<int>{};
        QTest::newRow("raw logs") << 3 << false
                                  << QList<int>{DataLogger::ClientToServer, DataLogger::ServerToClient};
        QTest::newRow("every log, list shown") << 0 << true << QList<int>{1, 2, 3, 4, 5, 6, 7};
    }

    // Several clients and the server send random bytes in random chunks through
    // Pass Through, both ways at once. The server gets one interleaved stream in
    // which each client's bytes must come whole and in order; every client gets
    // the server's whole stream; the raw logs hold exactly what passed.
    void relayIsByteExact()
    {
        QFETCH(int, show);
        QFETCH(bool, list);
        QFETCH(QList<int>, logs);
        const qint64 each = relayBytes() / 2 / kClients;
        const QByteArray down = randomBytes(7, relayBytes() / 2);

        MainWindow m(2);
        m.opts.multipleClients = true;
        m.w->tabs[2].cboShow->setCurrentIndex(show);
        if (m.w->tabs[2].chkReceivedFields->isChecked() != list)
            m.w->tabs[2].chkReceivedFields->click();
        QMap<int, QString> logFiles;
        for (int type : logs)
            logFiles.insert(type, m.logTo(type));

        StreamPeers peers(11);
        peers.holdSending(); // until every client is in, so each gets the whole stream
        quint16 serverPort = 0;
        const int server = peers.accepting(&serverPort, down, each * kClients);
        m.target(serverPort, 2);
        m.w->tabs[2].txtPort->setText(QStringLiteral("0"));
        m.w->findChild<QPushButton *>(QStringLiteral("cmdStartBoth"))->click();
        QTRY_COMPARE(m.w->sckClient->State(), 7);
        const quint16 port = quint16(m.w->sckServer[0]->LocalPort());
        for (int c = 0; c < kClients; ++c)
            peers.connecting(port, taggedStream(c, each), down.size());
        peers.start();
        QTRY_COMPARE_WITH_TIMEOUT(m.w->intClientCount, qint16(kClients), 10000);
        peers.release();
        QTRY_VERIFY_WITH_TIMEOUT(peers.done(), 240000);
        peers.stop();

        std::array<QByteArray, kClients> upstream;
        for (char c : peers.link(server).in)
            upstream[size_t(uchar(c) >> kTagShift)] += c;
        for (int c = 0; c < kClients; ++c) {
            QVERIFY2(upstream[size_t(c)] == taggedStream(c, each),
                     qPrintable(QStringLiteral("client %1").arg(c)));
            QVERIFY2(peers.link(server + 1 + c).in == down, qPrintable(QStringLiteral("client %1").arg(c)));
        }
        QVERIFY(m.ui.prompts.isEmpty());
        const QByteArray up = peers.link(server).in;
        for (const auto &[type, passed] :
             {std::pair(DataLogger::ClientToServer, up), {DataLogger::ServerToClient, down}}) {
            if (!logFiles.contains(type))
                continue;
            QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(logFiles[type]).size(), passed.size(), 20000);
            QVERIFY(fileBytes(logFiles[type]) == passed);
        }
    }

    // Two hundred clients knock at once on Server mode. Each is given its own
    // element, sends its own bytes, which arrive under that element's number, and
    // gets all the program sends; when they leave, each is counted out once.
    void twoHundredClients()
    {
        constexpr int kCount = 200;
        constexpr qint64 kEach = 16 * 1024;
        MainWindow m(1);
        m.w->tabs[1].cboShow->setCurrentIndex(0);
        const QString events = m.logTo(DataLogger::AllEvents);
        const quint16 port = m.listen(1);
        const QByteArray broadcast = randomBytes(3, 64 * 1024);
        StreamPeers peers(5);
        for (int c = 0; c < kCount; ++c)
            peers.connecting(port, randomBytes(quint32(1000 + c), kEach), broadcast.size());
        QHash<QString, QByteArray> byLabel;
        QObject::connect(m.w->objSupport, &SupportClass::received, m.w.get(),
                         [&](const QString &label, const QByteArray &data) { byLabel[label] += data; });
        peers.start();
        QTRY_COMPARE_WITH_TIMEOUT(m.w->intClientCount, qint16(kCount), 30000);
        const auto arrived = [&] {
            qint64 n = 0;
            for (const QByteArray &b : std::as_const(byLabel))
                n += b.size();
            return n;
        };
        QTRY_COMPARE_WITH_TIMEOUT(arrived(), kCount * kEach, 30000);
        QTRY_COMPARE(m.w->tabs[1].lblState->text(), QStringLiteral("Listening (200 clients)"));
        m.w->objSupport->SendDataDownSocket(broadcast);
        QTRY_VERIFY_WITH_TIMEOUT(peers.done(), 30000);
        peers.stop();

        QCOMPARE(m.w->sckServer.size(), kCount + 1);
        QSet<int> clientsSeen;
        for (int n = 1; n <= kCount; ++n) {
            const QString label = QString::number(n);
            int c = 0;
            while (c < kCount && peers.link(c).localPort != m.w->sckServer[n]->RemotePort())
                ++c;
            QVERIFY2(c < kCount, qPrintable(label));
            clientsSeen << c;
            QVERIFY2(byLabel.value(label) == randomBytes(quint32(1000 + c), kEach), qPrintable(label));
            QVERIFY2(peers.link(c).in == broadcast, qPrintable(label));
        }
        QCOMPARE(clientsSeen.size(), kCount);

        peers.closeAll();
        QTRY_COMPARE_WITH_TIMEOUT(m.w->intClientCount, qint16(0), 30000);
        QTRY_COMPARE(m.w->tabs[1].lblState->text(), QStringLiteral("Listening (0 clients)"));
        // Each counted out once, by its own number (the event window keeps only
        // its latest rows; the log keeps them all).
        QList<int> everyNumber(kCount);
        std::iota(everyNumber.begin(), everyNumber.end(), 1);
        const auto countedOut = [&] {
            QList<int> numbers;
            const QRegularExpression out(QStringLiteral("Socket client (\\d+) closed their connection\\."));
            for (auto it = out.globalMatch(QString::fromLatin1(fileBytes(events))); it.hasNext();)
                numbers << it.next().captured(1).toInt();
            std::sort(numbers.begin(), numbers.end());
            return numbers;
        };
        QTRY_COMPARE(countedOut(), everyNumber);
        QVERIFY(m.ui.prompts.isEmpty());
    }

    void faults_data()
    {
        QTest::addColumn<QString>("course");
        QTest::addColumn<QString>("event"); // an event line that must be there
        const auto row = [](const char *course, const char *event) {
            QTest::newRow(course) << QString::fromLatin1(course) << QString::fromLatin1(event);
        };
        row("client: the server resets mid-stream", "Socket closed (Local port");
        row("pass through: a client resets mid-stream", "Socket client 1 closed their connection.");
        row("pass through: a client half-closes", "Socket client 1 closed their connection.");
        row("client: the server vanishes during a periodic send", "Socket closed (Local port");
        row("client: a send meets the server's close", "Socket closed (Local port");
        row("server: clients reset while a broadcast goes out", "Socket client 2 closed their connection.");
    }

    // A peer that fails or goes: the program says what happened, keeps
    // everything that came before, and goes on.
    void faults()
    {
        QFETCH(QString, course);
        QFETCH(QString, event);
        const auto is = [&](const char *c) { return course == QLatin1String(c); };
        const auto reset = [](QTcpSocket &s) {
            resetOnClose(s.socketDescriptor());
            s.abort();
        };
        const bool passThrough = course.startsWith(QLatin1String("pass through"));
        const int tab = passThrough ? 2 : course.startsWith(QLatin1String("server")) ? 1 : 0;
        MainWindow m(tab);
        m.opts.multipleClients = true;
        m.w->tabs[tab].cboShow->setCurrentIndex(0);
        QTcpServer server;

        if (is("client: the server resets mid-stream")) {
            const QString log = m.logTo(DataLogger::Input);
            std::unique_ptr<QTcpSocket> peer = m.connectClient(server);
            QVERIFY(peer);
            const QByteArray sent = randomBytes(21, 8 * kMiB);
            peer->write(sent);
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(log).size() >= kMiB, 20000);
            const qint64 before = QFileInfo(log).size();
            reset(*peer);
            QTRY_VERIFY_WITH_TIMEOUT(m.events().join(QLatin1Char('\n')).contains(event), 20000);
            QTRY_COMPARE_WITH_TIMEOUT(m.w->sckClient->State(), 0, 5000);
            // What came before the reset is all there, in order.
            const QByteArray logged = fileBytes(log);
            QVERIFY2(logged.size() >= before && sent.startsWith(logged),
                     qPrintable(QString::number(logged.size())));
            QVERIFY(m.connectClient(server));
        } else if (passThrough) {
            std::unique_ptr<QTcpSocket> upstream = m.connectClient(server, 2);
            QVERIFY(upstream);
            const quint16 port = quint16(m.w->sckServer[0]->LocalPort());
            QTcpSocket a, b;
            for (QTcpSocket *s : {&a, &b}) {
                s->connectToHost(QHostAddress::LocalHost, port);
                QVERIFY(s->waitForConnected(5000));
                QTRY_COMPARE(m.w->intClientCount, qint16(s == &a ? 1 : 2));
            }
            const bool half = is("pass through: a client half-closes");
            const QByteArray sent = randomBytes(22, half ? 256 * 1024 : 8 * kMiB);
            a.write(sent);
            QByteArray got;
            const auto take = [&] { return (got += upstream->readAll()).size(); };
            if (half) {
                QTRY_COMPARE_WITH_TIMEOUT(a.bytesToWrite(), 0, 20000);
                ::shutdown(int(a.socketDescriptor()), SHUT_WR);
                // Everything it sent reaches the server before it is counted out.
                QTRY_COMPARE_WITH_TIMEOUT(take(), sent.size(), 20000);
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(take() >= kMiB, 20000);
                reset(a);
            }
            QTRY_VERIFY_WITH_TIMEOUT(m.events().contains(event), 20000);
            QTRY_COMPARE(m.w->intClientCount, qint16(1));
            take();
            QVERIFY2(sent.startsWith(got), qPrintable(QString::number(got.size())));
            // The other client's traffic goes on both ways.
            b.write("after\r\n");
            QTRY_VERIFY((take(), got.endsWith("after\r\n")));
            QVERIFY(got == sent.first(got.size() - 7) + "after\r\n");
            upstream->write("reply\r\n");
            QByteArray reply;
            QTRY_COMPARE(reply += b.readAll(), QByteArray("reply\r\n"));
        } else if (is("server: clients reset while a broadcast goes out")) {
            const quint16 port = m.listen(1);
            std::vector<std::unique_ptr<QTcpSocket>> clients;
            std::vector<QByteArray> got(10);
            for (size_t c = 0; c < got.size(); ++c) {
                clients.push_back(std::make_unique<QTcpSocket>());
                clients[c]->connectToHost(QHostAddress::LocalHost, port);
                QVERIFY(clients[c]->waitForConnected(5000));
                QTRY_COMPARE(m.w->intClientCount, qint16(c + 1));
                QObject::connect(clients[c].get(), &QIODevice::readyRead, clients[c].get(), [&, c] {
                    got[c] += clients[c]->readAll();
                    if (c % 2 == 1 && got[c].size() >= 64 * 1024)
                        reset(*clients[c]); // gone in the middle
                });
            }
            const QByteArray block = randomBytes(23, 4 * kMiB);
            m.w->objSupport->SendDataDownSocket(block);
            QTRY_COMPARE_WITH_TIMEOUT(m.w->intClientCount, qint16(got.size() / 2), 20000);
            for (size_t c = 0; c < got.size(); c += 2)
                QTRY_VERIFY_WITH_TIMEOUT(got[c].size() == block.size() && got[c] == block, 20000);
        } else if (is("client: a send meets the server's close")) {
            std::unique_ptr<QTcpSocket> peer = m.connectClient(server);
            QVERIFY(peer);
            // The close has reached the socket, not yet the poll: data sent now
            // finds a connection that is no more.
            auto *inner = m.w->sckClient->findChild<QTcpSocket *>();
            QVERIFY(inner);
            bool sent = false;
            QObject::connect(inner, &QAbstractSocket::disconnected, m.w.get(), [&] {
                QCOMPARE(m.w->sckClient->State(), 7);
                m.w->objSupport->SendDataDownSocket("late\r\n");
                sent = true;
            });
            peer->disconnectFromHost();
            QTRY_VERIFY(sent);
            QTRY_VERIFY(m.events().join(QLatin1Char('\n')).contains(event));
            QCOMPARE(m.w->tabs[0].model->cell(m.w->tabs[0].model->rowCount() - 1, DataListModel::ColMessage),
                     QByteArray("late"));
        } else if (is("client: the server vanishes during a periodic send")) {
            m.opts.autoReconnect = true;
            m.opts.reconnectPeriod = 101;
            std::unique_ptr<QTcpSocket> peer = m.connectClient(server);
            QVERIFY(peer);
            m.w->tabs[0].cmdSend->click();
            frmSend *send = frmSend::openWindows().constLast();
            send->txtSend->setData("tick\r\n");
            send->chkPeriodically->setChecked(true);
            send->txtOnceEvery->setText(QStringLiteral("20"));
            send->cmdSend_Click();
            for (int round = 0; round < 2; ++round) {
                QByteArray got;
                QTRY_VERIFY_WITH_TIMEOUT((got += peer->readAll()).size() >= 12, 5000);
                QVERIFY(got.startsWith("tick\r\ntick\r\n"));
                peer.reset(); // gone without a word
                // The transmission goes on, and reaches the server once it is back.
                QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 10000);
                peer.reset(server.nextPendingConnection());
                QVERIFY(send->isSending());
            }
            send->cmdSend_Click();
            QVERIFY(!send->isSending());
            send->IsModified = false;
            send->close();
        }
        QVERIFY2(m.events().join(QLatin1Char('\n')).contains(event),
                 qPrintable(m.events().join(QLatin1Char('\n'))));
        QVERIFY2(m.ui.prompts.isEmpty(), qPrintable(m.ui.messages().join(QLatin1Char('\n'))));
    }

    void badFiles_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *file : {"tarnwell.ini", "Protocols.txt", "Servers.txt", "Ports.txt", "merge"})
            QTest::newRow(file) << QString::fromLatin1(file);
    }

    // Files of the user's full of random bytes: the program reads what it can,
    // says so at most once, goes on, and leaves the file as it was.
    void badFiles()
    {
        QFETCH(QString, file);
        const QByteArray bytes = randomBytes(31, 64 * 1024);
        const bool settings = file == QLatin1String("tarnwell.ini");
        MainWindow m;
        const QString path =
            m.settings.path(file == QLatin1String("merge") ? QStringLiteral("list.txt") : file);
        if (settings) {
            // Damage between the program's own keys, read by the next start.
            m.w.reset();
            m.settings.writeIni("[StartUp]\nShowConfigurations=0\n" + bytes + "\n[Mode]\nMode=0\n");
            m.w = std::make_unique<frmTarnwell>();
            QVERIFY(m.w->Load());
        } else {
            putFile(path, bytes);
        }
        const QString sent = file == QLatin1String("merge") ? m.logTo(DataLogger::Output) : QString();
        QByteArray got;
        for (int round = 0; round < 2; ++round) {
            if (file == QLatin1String("Protocols.txt")) {
                frmProtocol *p = m.w->protocols();
                p->show();
                p->close();
            } else if (file.startsWith(QLatin1String("Servers")) || file.startsWith(QLatin1String("Ports"))) {
                m.w->findChild<QPushButton *>(file.startsWith(QLatin1String("S"))
                                                  ? QStringLiteral("cmdServer_0")
                                                  : QStringLiteral("cmdPort_0"))
                    ->click();
                QWidget *almanac = QApplication::activeModalWidget();
                QVERIFY(almanac);
                almanac->close();
            } else if (file == QLatin1String("merge")) {
                QTcpServer server;
                std::unique_ptr<QTcpSocket> peer = m.connectClient(server);
                QVERIFY(peer);
                frmProtocol *p = m.w->protocols();
                p->txtMessage->setData("<%1|%2>");
                p->txtReplaceFileName->setText(path);
                if (!p->chkReplaceEscapedChars->isChecked())
                    p->chkReplaceEscapedChars->click();
                p->cmdSend->click();
                // Whatever the merge made of it reaches the peer whole.
                m.w->logging()->logger().flush();
                QVERIFY(QFileInfo(sent).size() > got.size());
                QTRY_COMPARE_WITH_TIMEOUT(got += peer->readAll(), fileBytes(sent), 10000);
                m.w->tabs[0].cmdConnect->click();
            }
        }
        if (settings)
            m.w->Unload();
        const QStringList told = m.ui.messages();
        QVERIFY2(told.size() <= 1, qPrintable(told.join(QLatin1Char('\n'))));
        if (!told.isEmpty())
            QVERIFY2(told.first().startsWith(QStringLiteral("An error occurred while attempting to ")),
                     qPrintable(told.first()));
        if (settings)
            QVERIFY(fileBytes(path).contains(bytes));
        else
            QVERIFY(fileBytes(path) == bytes);
    }
};

QTEST_MAIN(TestReliability)
#include "tst_reliability.moc"
