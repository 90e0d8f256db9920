#include "controller/mainwindowfixture.h"
#include "core/optionssource.h"
#include "display/datalistmodel.h"
#include "display/supportclass.h"
#include "logging/frmevent.h"
#include "logging/frmstate.h"
#include "net/socketcontrol.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

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

constexpr qint64 kMiB = 1024 * 1024;

// A client's stream: text lines that name their client, in a pattern held
// twice in a row, so any piece up to one pattern long is contiguous.
class Stream
{
public:
    static constexpr qint64 kPattern = 4 * kMiB + 13; // not a multiple of any read
    explicit Stream(int client)
    {
        QByteArray pattern;
        for (int line = 0; pattern.size() < kPattern; ++line)
            pattern += "client " + QByteArray::number(client) + " line " + QByteArray::number(line) + ' ' +
                       QByteArray(line % 100, char('a' + line % 26)) + "\r\n";
        pattern.truncate(kPattern);
        m_doubled = pattern + pattern;
    }
    QByteArray piece(qint64 at, qint64 n) const
    {
        return QByteArray::fromRawData(m_doubled.constData() + at % kPattern, n);
    }

private:
    QByteArray m_doubled;
};

// A client on a thread of its own that sends `total` bytes of its stream
// as fast as the program takes them in.
class Sender
{
public:
    explicit Sender(quint16 port) : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0)
            return;
        socklen_t length = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &length);
        localPort = ntohs(a.sin_port);
    }
    void start(const Stream &stream, qint64 total)
    {
        m_thread = std::thread([this, &stream, total] {
            constexpr qint64 kChunk = 256 * 1024;
            for (qint64 sent = 0; sent < total;) {
                const qint64 n = std::min(kChunk, total - sent);
                const ssize_t w = ::send(m_fd, stream.piece(sent, n).constData(), size_t(n), MSG_NOSIGNAL);
                if (w <= 0)
                    return;
                sent += w;
            }
        });
    }
    ~Sender()
    {
        ::shutdown(m_fd, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_fd);
    }
    quint16 localPort = 0;

private:
    int m_fd;
    std::thread m_thread;
};
} // namespace

class TestServerMode : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void elementsAreReusedAndCounted();
    void stoppingClosesEveryClient();
    void portInUseAsksToRetry();
    void passThroughRelaysBothWaysByteExact();
    void declinedPassThroughRequestIsClosed();
    void passThroughTakesTheNextClientAtOnce_data();
    void passThroughTakesTheNextClientAtOnce();
    void floodFromThreeClients_data();
    void floodFromThreeClients();
    void relayMemoryStaysBoundedWhenTheServerIsSlow();
    void manyClientsAtOnce();
    void modeChangesAndCaptions();
    void passThroughRecoversWhenTheServerGoes();
};

void TestServerMode::elementsAreReusedAndCounted()
{
    MainWindow m(1);
    const quint16 port = m.listen(1);
    QVERIFY(port != 0);
    QCOMPARE(m.w->tabs[1].cmdListen->text(), QStringLiteral("Stop &Listening"));
    QVERIFY(m.events().contains(QStringLiteral("Socket server placed into the 'Listening' mode.")));
    auto a = connectTo(port);
    QTRY_COMPARE(m.w->intClientCount, qint16(1));
    auto b = connectTo(port);
    QTRY_COMPARE(m.w->intClientCount, qint16(2));
    auto c = connectTo(port);
    QTRY_COMPARE(m.w->intClientCount, qint16(3));
    QTRY_COMPARE(m.w->tabs[1].lblState->text(), QStringLiteral("Listening (3 clients)"));

    b->disconnectFromHost();
    QTRY_COMPARE(m.w->intClientCount, qint16(2));
    QVERIFY(m.events().contains(QStringLiteral("Socket client 2 closed their connection.")));
    auto d = connectTo(port);
    QTRY_COMPARE(m.w->intClientCount, qint16(3));
    QCOMPARE(m.w->sckServer[2]->State(), 7);
    QCOMPARE(m.w->sckServer.size(), 4);
    QTRY_COMPARE(m.w->tabs[1].lblState->text(), QStringLiteral("Listening (3 clients)"));

    // Data from the reused element carries its number.
    d->write("hello\r\n");
    QTRY_COMPARE(m.w->tabs[1].model->rowCount(), 1);
    QCOMPARE(m.w->tabs[1].model->index(0, DataListModel::ColSocket).data().toString(), QStringLiteral("2"));
}

void TestServerMode::stoppingClosesEveryClient()
{
    MainWindow m(1);
    const quint16 port = m.listen(1);
    auto a = connectTo(port);
    auto b = connectTo(port);
    QTRY_COMPARE(m.w->intClientCount, qint16(2));
    QVERIFY(a->waitForConnected(5000));
    m.w->tabs[1].cmdListen->click();
    QCOMPARE(m.w->tabs[1].cmdListen->text(), QStringLiteral("&Listen"));
    QVERIFY(m.events().contains(QStringLiteral("Closing all of the socket connections to the clients.")));
    QVERIFY(m.events().contains(QStringLiteral("Socket server is no longer in the 'Listening' mode.")));
    QCOMPARE(m.w->intClientCount, qint16(0));
    QTRY_COMPARE(a->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(b->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(m.w->tabs[1].lblState->text(), QStringLiteral("Closed (0 clients)"));
    // Closed by us, so no client is reported as having gone, and the count stays at 0.
    QTest::qWait(200);
    QVERIFY(!m.events().join(QLatin1Char('\n')).contains(QStringLiteral("closed their connection")));
    QCOMPARE(m.w->intClientCount, qint16(0));
}

void TestServerMode::portInUseAsksToRetry()
{
    MainWindow m(1);
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::Any, 0));
    m.w->tabs[1].txtPort->setText(QString::number(other.serverPort()));
    m.ui.yesNoAnswers << true << false;
    m.w->tabs[1].cmdListen->click();
    QCOMPARE(m.ui.prompts.size(), 2);
    QVERIFY(m.ui.prompts[0].text.startsWith(QStringLiteral(
        "An error occurred while attempting to listen on the socket.  The operating system reports: 10048, ")));
    QVERIFY(m.ui.prompts[0].text.endsWith(QStringLiteral("\r\n\r\nWould you like to retry this operation?")));
    QCOMPARE(m.w->tabs[1].cmdListen->text(), QStringLiteral("&Listen"));
    QCOMPARE(m.w->sckServer[0]->State(), 0);
    // The socket stays usable: once the port is free, listening works.
    other.close();
    m.w->tabs[1].cmdListen->click();
    QCOMPARE(m.w->sckServer[0]->State(), 2);
}

void TestServerMode::passThroughRelaysBothWaysByteExact()
{
    MainWindow m(2);
    m.opts.multipleClients = true;
    QTcpServer real;
    std::unique_ptr<QTcpSocket> upstream = m.connectClient(real, 2);
    QVERIFY(upstream);
    const quint16 port = quint16(m.w->sckServer[0]->LocalPort());

    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(connectTo(port));
        QVERIFY(clients.back()->waitForConnected(5000));
    }
    QTRY_COMPARE(m.w->intClientCount, qint16(3));

    QRandomGenerator rng(1234);
    auto randomBytes = [&](int n) {
        QByteArray b(n, Qt::Uninitialized);
        for (char &c : b)
            c = char(rng.bounded(256));
        return b;
    };
    // Each client sends its own stream in random chunks; the server must see
    // each stream whole and in order (they may interleave between clients).
    QByteArray expectedUp;
    for (auto &c : clients) {
        QByteArray stream = randomBytes(50000);
        for (qsizetype at = 0; at < stream.size();) {
            const int n = int(rng.bounded(1, 4000));
            c->write(stream.mid(at, n));
            at += n;
            QTest::qWait(0);
        }
        QVERIFY(c->waitForBytesWritten(5000) || c->bytesToWrite() == 0);
        const QByteArray got = readExactly(*upstream, stream.size());
        QCOMPARE(got.size(), stream.size());
        QVERIFY(got == stream);
    }

    // The server's stream reaches every client whole.
    const QByteArray down = randomBytes(200000);
    for (qsizetype at = 0; at < down.size();) {
        const int n = int(rng.bounded(1, 8000));
        upstream->write(down.mid(at, n));
        at += n;
    }
    for (auto &c : clients) {
        const QByteArray got = readExactly(*c, down.size());
        QCOMPARE(got.size(), down.size());
        QVERIFY(got == down);
    }
}

void TestServerMode::declinedPassThroughRequestIsClosed()
{
    MainWindow m(2);
    QTcpServer real;
    QVERIFY(real.listen(QHostAddress::LocalHost, 0));
    m.w->tabs[2].txtServer->setText(QStringLiteral("127.0.0.1"));
    m.w->tabs[2].txtPortConnectTo->setText(QString::number(real.serverPort()));
    const quint16 port = m.listen(2);
    auto first = connectTo(port);
    QTRY_COMPARE(m.w->intClientCount, qint16(1));
    auto second = connectTo(port);
    // Refused at once rather than left hanging.
    QTRY_COMPARE_WITH_TIMEOUT(second->state(), QAbstractSocket::UnconnectedState, 5000);
    QVERIFY(m.events().join(QLatin1Char('\n')).contains(QStringLiteral("was declined because Tarnwell is in Pass "
                                                                      "Through Mode")));
    QCOMPARE(m.w->intClientCount, qint16(1));
    QCOMPARE(first->state(), QAbstractSocket::ConnectedState);
}

void TestServerMode::passThroughTakesTheNextClientAtOnce_data()
{
    QTest::addColumn<bool>("relayedBeforeClose");
    QTest::newRow("close right after sending") << false;
    QTest::newRow("close after the data went through") << true;
}

// One client at a time: a client that connects as soon as the previous one
// has closed is taken, even before the program has seen that close.
void TestServerMode::passThroughTakesTheNextClientAtOnce()
{
    QFETCH(bool, relayedBeforeClose);
    MainWindow m(2);
    QTcpServer real;
    std::unique_ptr<QTcpSocket> upstream = m.connectClient(real, 2);
    QVERIFY(upstream);
    const quint16 port = quint16(m.w->sckServer[0]->LocalPort());
    auto client = connectTo(port);
    QVERIFY(client->waitForConnected(5000));
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
    QCOMPARE(relayed.size(), sent.size());
    QVERIFY(relayed == sent);
    QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
    QVERIFY(!m.events().join(QLatin1Char('\n')).contains(QStringLiteral("declined")));
    QCOMPARE(m.events().count(QStringLiteral("Socket client 1 closed their connection.")), 20);
}

void TestServerMode::floodFromThreeClients_data()
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
void TestServerMode::floodFromThreeClients()
{
    QFETCH(QString, action);
    QFETCH(int, readsAfter);
    constexpr qint64 kEach = 50 * kMiB;
    constexpr qint64 kActAfter = 4 * kMiB;
    MainWindow m(1);
    m.w->tabs[1].cboShow->setCurrentIndex(0);
    const quint16 port = m.listen(1);
    const std::array<Stream, 3> streams{Stream(0), Stream(1), Stream(2)};
    std::vector<std::unique_ptr<Sender>> senders;
    for (int c = 0; c < 3; ++c)
        senders.push_back(std::make_unique<Sender>(port));
    QTRY_COMPARE(m.w->intClientCount, qint16(3));
    QHash<QString, int> clientOf; // socket label -> client
    for (int n = 1; n <= 3; ++n)
        for (int c = 0; c < 3; ++c)
            if (m.w->sckServer[n]->RemotePort() == senders[size_t(c)]->localPort)
                clientOf.insert(QString::number(n), c);
    QCOMPARE(clientOf.size(), 3);

    std::array<qint64, 3> handled{};
    std::optional<std::array<qint64, 3>> atFirstEnd;
    bool inOrder = true;
    bool acting = false;
    qint64 afterAction = 0;
    QObject::connect(m.w->objSupport, &SupportClass::received, m.w.get(),
                     [&](const QString &label, const QByteArray &data) {
                         const int c = clientOf.value(label, -1);
                         if (c < 0 || data != streams[size_t(c)].piece(handled[size_t(c)], data.size())) {
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
    for (int c = 0; c < 3; ++c)
        senders[size_t(c)]->start(streams[size_t(c)], kEach);
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

void TestServerMode::relayMemoryStaysBoundedWhenTheServerIsSlow()
{
    MainWindow m(2);
    m.w->tabs[2].cboShow->setCurrentIndex(3);
    QTcpServer real;
    std::unique_ptr<QTcpSocket> upstream = m.connectClient(real, 2);
    QVERIFY(upstream);
    upstream->setReadBufferSize(64 * 1024); // a server that reads slowly
    auto client = connectTo(quint16(m.w->sckServer[0]->LocalPort()));
    QVERIFY(client->waitForConnected(5000));
    QTRY_COMPARE(m.w->intClientCount, qint16(1));

    QByteArray stream(48 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < stream.size(); ++i)
        stream[i] = char((i * 131 + i / 4096) & 0xff);
    client->write(stream);
    // While the server does not read, the relay's backlog stays bounded.
    qint64 worst = 0;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1500) {
        QTest::qWait(10);
        worst = std::max(worst, m.w->sckClient->bytesToWrite());
    }
    QVERIFY2(worst < 12 * 1024 * 1024, qPrintable(QString::number(worst)));
    // Once it reads, every byte arrives, in order.
    upstream->setReadBufferSize(0);
    const QByteArray got = readExactly(*upstream, stream.size());
    QCOMPARE(got.size(), stream.size());
    QVERIFY(got == stream);
}

void TestServerMode::manyClientsAtOnce()
{
    MainWindow m(1);
    m.w->tabs[1].cboShow->setCurrentIndex(3);
    const quint16 port = m.listen(1);
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 200; ++i)
        clients.push_back(connectTo(port));
    QTRY_COMPARE_WITH_TIMEOUT(m.w->intClientCount, qint16(200), 20000);
    // Half of them reset at once; the count follows and never goes below zero.
    for (int i = 0; i < 100; ++i)
        clients[i]->abort();
    QTRY_COMPARE_WITH_TIMEOUT(m.w->intClientCount, qint16(100), 20000);
    clients.clear();
    QTRY_COMPARE_WITH_TIMEOUT(m.w->intClientCount, qint16(0), 20000);
    QTRY_COMPARE(m.w->tabs[1].lblState->text(), QStringLiteral("Listening (0 clients)"));
}

void TestServerMode::modeChangesAndCaptions()
{
    MainWindow m(1);
    const quint16 port = m.listen(1);
    auto a = connectTo(port);
    QTRY_COMPARE(m.w->intClientCount, qint16(1));
    // Listening: the tab stays, and the configurations are refused.
    m.w->tabMode->setCurrentIndex(0);
    QCOMPARE(m.w->tabMode->currentIndex(), 1);
    m.w->mnuCommonConfigs_Click();
    QCOMPARE(m.ui.messages().last(), QStringLiteral("It is not possible to show the common configurations while the "
                                                    "socket is listening or connected."));
    // Clients still connected but the listener closed: the change is allowed.
    m.w->sckServer[0]->Close();
    m.w->tabMode->setCurrentIndex(0);
    QCOMPARE(m.w->intCurrentMode, 0);
    QVERIFY(m.events().contains(QStringLiteral("Tarnwell has been placed in the Client mode.")));

    m.w->show();
    m.w->showMinimized();
    QTRY_COMPARE(m.w->windowTitle(), QStringLiteral("TWL (Client)"));
    m.w->showNormal();
    QTRY_COMPARE(m.w->windowTitle(), QStringLiteral("Tarnwell"));
    // A size change covers the controls until it has settled.
    m.w->resize(m.w->width() + 40, m.w->height() + 40);
    auto *cover = m.w->findChild<QPushButton *>(QStringLiteral("cmdFormHide"));
    QVERIFY(cover);
    QTRY_VERIFY(!cover->isVisible());
    // Never smaller than the minimum size.
    m.w->resize(10, 10);
    QVERIFY(m.w->width() >= m.w->minimumWidth() && m.w->minimumWidth() > 10);
}

void TestServerMode::passThroughRecoversWhenTheServerGoes()
{
    MainWindow m(2);
    m.opts.autoReconnect = true;
    m.opts.reconnectPeriod = 301;
    QTcpServer real;
    QVERIFY(real.listen(QHostAddress::LocalHost, 0));
    m.w->tabs[2].txtServer->setText(QStringLiteral("127.0.0.1"));
    m.w->tabs[2].txtPortConnectTo->setText(QString::number(real.serverPort()));
    m.w->tabs[2].txtPort->setText(QStringLiteral("0"));
    QTRY_COMPARE(m.w->intLastClientState, qint16(0)); // the start-up poll has run
    m.w->findChild<QPushButton *>(QStringLiteral("cmdStartBoth"))->click();
    QVERIFY(real.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> upstream(real.nextPendingConnection());
    QTRY_COMPARE(m.w->sckClient->State(), 7);
    auto client = connectTo(quint16(m.w->sckServer[0]->LocalPort()));
    QVERIFY(client->waitForConnected(5000));
    QTRY_COMPARE(m.w->intClientCount, qint16(1));

    // The server goes away: a second later the relay disconnects and stops
    // listening (its client is closed), then listens again at once and
    // reconnects to the server after the period.
    upstream->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(m.events().contains(QStringLiteral("Socket server is no longer in the 'Listening' mode.")),
                             5000);
    QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m.events().count(QStringLiteral("Socket server placed into the 'Listening' mode.")), 2,
                              5000);
    QTRY_VERIFY_WITH_TIMEOUT(real.hasPendingConnections() || real.waitForNewConnection(100), 5000);
    QVERIFY(m.events().join(QLatin1Char('\n')).contains(QStringLiteral("Attempted client auto-connection to 127.0.0.1")));
    QCOMPARE(m.w->tabs[2].cmdListen->text(), QStringLiteral("Stop &Listening"));
}

QTEST_MAIN(TestServerMode)
#include "tst_servermode.moc"
