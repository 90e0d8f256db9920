#include "net/socketcontrol.h"
#include "net/socketerrors.h"

#include <QEventLoop>
#include <QMetaEnum>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

constexpr int kWaitMs = 20000;

// What the program sees of one element, read as the connection handlers do:
// data is taken only while the element is Connected.
struct Recorder
{
    explicit Recorder(SocketControl &sck)
    {
        QObject::connect(&sck, &SocketControl::DataArrival, &sck, [this, &sck](qint64 total) {
            ++arrivals;
            maxAnnounced = qMax(maxAnnounced, total);
            if (sck.State() == SocketControl::sckConnected)
                data += sck.GetData();
            lastEvent = QStringLiteral("data");
        });
        QObject::connect(&sck, &SocketControl::Closed, &sck, [this, &sck] {
            ++closes;
            closedWithUnread = sck.bytesAvailable();
            events << QStringLiteral("closed after %1").arg(data.size());
            lastEvent = QStringLiteral("closed");
        });
        QObject::connect(&sck, &SocketControl::Error, &sck,
                         [this](int number, const QString &description, qint32 scode, const QString &source) {
                             errors << number;
                             events << QStringLiteral("error %1 %2 %3 %4").arg(number).arg(description).arg(scode).arg(source);
                             lastEvent = QStringLiteral("error");
                         });
        QObject::connect(&sck, &SocketControl::Connected, &sck, [this] { ++connects; });
    }

    QByteArray data;
    QStringList events;
    QList<int> errors;
    QString lastEvent;
    int arrivals = 0;
    int closes = 0;
    int connects = 0;
    qint64 maxAnnounced = 0;
    qint64 closedWithUnread = -1;
};

QByteArray everyByte(int repeat)
{
    QByteArray bytes;
    for (int r = 0; r < repeat; ++r) {
        for (int c = 0; c < 256; ++c)
            bytes.append(char(c));
    }
    return bytes;
}

QByteArray pattern(qint64 offset, qint64 length)
{
    QByteArray bytes(length, Qt::Uninitialized);
    for (qint64 i = 0; i < length; ++i)
        bytes[i] = char(((offset + i) * 7 + (offset + i) / 251) & 0xFF);
    return bytes;
}

QString portOf(const QTcpServer &server)
{
    return QString::number(server.serverPort());
}

// A port that nothing listens on (briefly bound, then freed).
QString freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return portOf(probe);
}

} // namespace

class TestSocketControl : public QObject
{
    Q_OBJECT

private:
    // A plain peer server; returns the peer's side of a client control's connection.
    QTcpSocket *connectClient(SocketControl &sck, QTcpServer &peer)
    {
        if (!peer.isListening() && !peer.listen(QHostAddress::LocalHost, 0))
            return nullptr;
        QSignalSpy connected(&sck, &SocketControl::Connected);
        sck.setLocalPort(0);
        if (sck.Connect(QStringLiteral("127.0.0.1"), portOf(peer)).isError())
            return nullptr;
        if (!connected.wait(kWaitMs))
            return nullptr;
        if (!peer.hasPendingConnections() && !peer.waitForNewConnection(kWaitMs))
            return nullptr;
        return peer.nextPendingConnection();
    }

private Q_SLOTS:
    void connectsAndReportsPorts_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("padPort");
        QTest::newRow("address") << QStringLiteral("127.0.0.1") << false;
        QTest::newRow("name") << QStringLiteral("localhost") << false;
        QTest::newRow("padded text") << QStringLiteral(" 127.0.0.1 ") << true;
    }
    void connectsAndReportsPorts()
    {
        QFETCH(QString, host);
        QFETCH(bool, padPort);
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost, 0));
        SocketControl sck;
        Recorder rec(sck);
        sck.setLocalPort(0);
        const QString port = padPort ? QStringLiteral(" %1 ").arg(portOf(peer)) : portOf(peer);
        QVERIFY(!sck.Connect(host, port).isError());
        QVERIFY(sck.State() != SocketControl::sckClosed);
        QTRY_COMPARE_WITH_TIMEOUT(rec.connects, 1, kWaitMs);
        QCOMPARE(sck.State(), int(SocketControl::sckConnected));
        QVERIFY(peer.hasPendingConnections() || peer.waitForNewConnection(kWaitMs));
        std::unique_ptr<QTcpSocket> other(peer.nextPendingConnection());
        QVERIFY(sck.LocalPort() > 0);
        QCOMPARE(sck.LocalPort(), int(other->peerPort()));
        QCOMPARE(sck.RemoteHostIP(), other->localAddress().toString());
        QVERIFY(rec.errors.isEmpty());
    }

    void connectionFailuresGiveErrorState_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("stateAfterCall");
        QTest::newRow("refused") << QStringLiteral("127.0.0.1") << freePort() << 10061 << int(SocketControl::sckConnecting);
        QTest::newRow("host not found")
            << QStringLiteral("tarnwell-%1.invalid").arg(QRandomGenerator::global()->generate())
            << QStringLiteral("80") << 11001 << int(SocketControl::sckResolvingHost);
    }
    void connectionFailuresGiveErrorState()
    {
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(int, number);
        QFETCH(int, stateAfterCall);
        SocketControl sck;
        Recorder rec(sck);
        QSignalSpy errors(&sck, &SocketControl::Error);
        QVERIFY(!sck.Connect(host, port).isError());
        // The call returns at once; the outcome shows only later.
        QCOMPARE(sck.State(), stateAfterCall);
        QVERIFY(errors.wait(kWaitMs));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), number);
        QCOMPARE(errors.at(0).at(1).toString(), SocketErrors::description(number));
        QCOMPARE(errors.at(0).at(2).value<qint32>(), qint32(0x800A0000u + quint32(number)));
        QCOMPARE(errors.at(0).at(3).toString(), SocketErrors::source());
        QCOMPARE(sck.State(), int(SocketControl::sckError));
        QTest::qWait(50);
        QCOMPARE(sck.State(), int(SocketControl::sckError));
        QCOMPARE(rec.closes, 0);

        QVERIFY(!sck.Close().isError());
        QCOMPARE(sck.State(), int(SocketControl::sckClosed));
        QTcpServer peer;
        std::unique_ptr<QTcpSocket> other(connectClient(sck, peer));
        QVERIFY(other);
        QCOMPARE(sck.State(), int(SocketControl::sckConnected));
        QCOMPARE(errors.count(), 1);
    }

    void failedCallsLeaveElementClosedAndUsable_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("number");
        for (const char *bad : {"70000", "abc", "-1", "", "65536", "8 0"}) {
            const QString text = QString::fromLatin1(bad);
            QTest::addRow("connect port '%s'", bad) << QStringLiteral("connect") << text << 380;
            QTest::addRow("local port '%s'", bad) << QStringLiteral("localport") << text << 380;
        }
        QTest::newRow("connect empty host") << QStringLiteral("connect-host") << QString() << 380;
        QTest::newRow("listen on a port in use") << QStringLiteral("listen-in-use") << QString() << 10048;
        QTest::newRow("bind client to a port in use") << QStringLiteral("bind-in-use") << QString() << 10048;
    }
    void failedCallsLeaveElementClosedAndUsable()
    {
        QFETCH(QString, call);
        QFETCH(QString, argument);
        QFETCH(int, number);
        QTcpServer busy;
        QVERIFY(busy.listen(QHostAddress::Any, 0));
        SocketControl sck;
        QSignalSpy errors(&sck, &SocketControl::Error);

        OsError result;
        if (call == QLatin1String("connect")) {
            result = sck.Connect(QStringLiteral("127.0.0.1"), argument);
        } else if (call == QLatin1String("connect-host")) {
            result = sck.Connect(argument, portOf(busy));
        } else if (call == QLatin1String("localport")) {
            QCOMPARE(sck.setLocalPort(argument).number, number);
            result = sck.Listen();
        } else if (call == QLatin1String("listen-in-use")) {
            sck.setLocalPort(busy.serverPort());
            result = sck.Listen();
        } else {
            sck.setLocalPort(busy.serverPort());
            result = sck.Connect(QStringLiteral("127.0.0.1"), portOf(busy));
        }
        QCOMPARE(result.number, number);
        QCOMPARE(result.description, SocketErrors::description(number));
        QVERIFY(!result.description.isEmpty());
        QCOMPARE(sck.State(), int(SocketControl::sckClosed));

        // Still usable, and no asynchronous error trails the failed call.
        QVERIFY(!sck.setLocalPort(QStringLiteral("0")).isError());
        QVERIFY(!sck.Listen().isError());
        QCOMPARE(sck.State(), int(SocketControl::sckListening));
        QVERIFY(sck.LocalPort() > 0);
        QVERIFY(!sck.Close().isError());
        QTcpServer peer;
        std::unique_ptr<QTcpSocket> other(connectClient(sck, peer));
        QVERIFY(other);
        QCOMPARE(errors.count(), 0);
    }

    void callsInTheWrongState()
    {
        SocketControl listener;
        listener.setLocalPort(0);
        QVERIFY(!listener.Listen().isError());
        QCOMPARE(listener.Listen().number, 40006);
        QCOMPARE(listener.Connect(QStringLiteral("127.0.0.1"), QStringLiteral("1")).number, 40006);
        QCOMPARE(listener.SendData("x").number, 40006);
        QCOMPARE(listener.Accept(1).number, 40006);
        QCOMPARE(listener.State(), int(SocketControl::sckListening));

        SocketControl closed;
        QCOMPARE(closed.SendData("x").number, 40006);
        QCOMPARE(closed.Accept(123456).number, int(SocketErrors::kInvalidArgument));
        QVERIFY(closed.GetData().isEmpty());
        QVERIFY(!closed.Close().isError());
        QCOMPARE(closed.State(), int(SocketControl::sckClosed));

        QTcpServer peer;
        std::unique_ptr<QTcpSocket> other(connectClient(closed, peer));
        QVERIFY(other);
        QCOMPARE(closed.Connect(QStringLiteral("127.0.0.1"), portOf(peer)).number, 40006);
        QCOMPARE(closed.State(), int(SocketControl::sckConnected));
    }

    // The peer sends and closes; everything it sent comes before the close,
    // the close is no error, and "peer is closing" holds until our Close.
    void peerCloseDeliversAllDataFirst_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("pausedMeanwhile");
        QTest::newRow("nothing") << 0 << false;
        QTest::newRow("a few bytes") << 3 << false;
        QTest::newRow("4 MB") << 4 * 1024 * 1024 << false;
        QTest::newRow("a few bytes, read later") << 3 << true;
        QTest::newRow("200 kB, read later") << 200 * 1024 << true;
    }
    void peerCloseDeliversAllDataFirst()
    {
        QFETCH(int, size);
        QFETCH(bool, pausedMeanwhile);
        SocketControl sck;
        Recorder rec(sck);
        QTcpServer peer;
        std::unique_ptr<QTcpSocket> other(connectClient(sck, peer));
        QVERIFY(other);
        const int localPort = sck.LocalPort();
        sck.setReadingPaused(pausedMeanwhile);

        const QByteArray sent = pattern(0, size);
        QSignalSpy peerGone(other.get(), &QAbstractSocket::disconnected);
        other->write(sent);
        other->disconnectFromHost();
        QVERIFY(peerGone.count() > 0 || peerGone.wait(kWaitMs));

        if (pausedMeanwhile) {
            // Let the close reach us while the data still waits unread.
            QTest::qWait(200);
            QCOMPARE(rec.closes, 0);
            QCOMPARE(rec.arrivals, 0);
            QCOMPARE(sck.State(), int(SocketControl::sckConnected));
            sck.setReadingPaused(false);
        }
        QTRY_COMPARE_WITH_TIMEOUT(rec.closes, 1, kWaitMs);
        QCOMPARE(rec.data.size(), sent.size());
        QVERIFY(rec.data == sent);
        QCOMPARE(rec.events, QStringList{QStringLiteral("closed after %1").arg(size)});
        QCOMPARE(rec.closedWithUnread, 0);
        QVERIFY(rec.errors.isEmpty());
        QCOMPARE(sck.State(), int(SocketControl::sckClosing));
        QCOMPARE(sck.SendData("late").number, 40006);
        QTest::qWait(50);
        QCOMPARE(sck.State(), int(SocketControl::sckClosing));
        QCOMPARE(sck.LocalPort(), localPort);

        QVERIFY(!sck.Close().isError());
        QCOMPARE(sck.State(), int(SocketControl::sckClosed));
        QCOMPARE(sck.LocalPort(), localPort);
        QTest::qWait(50);
        QCOMPARE(rec.closes, 1);
    }

    void ownCloseRaisesNoClosedAndFlushes()
    {
        SocketControl sck;
        Recorder rec(sck);
        QTcpServer peer;
        std::unique_ptr<QTcpSocket> other(connectClient(sck, peer));
        QVERIFY(other);

        const QByteArray sent = pattern(5, 2 * 1024 * 1024);
        QVERIFY(!sck.SendData(sent).isError());
        QVERIFY(!sck.Close().isError());
        QCOMPARE(sck.State(), int(SocketControl::sckClosed));
        QCOMPARE(sck.bytesToWrite(), 0);

        // The data queued before the close still reaches the peer, whole.
        QByteArray received;
        QObject::connect(other.get(), &QIODevice::readyRead, other.get(), [&] { received += other->readAll(); });
        QSignalSpy peerGone(other.get(), &QAbstractSocket::disconnected);
        QVERIFY(peerGone.wait(kWaitMs));
        received += other->readAll();
        QCOMPARE(received.size(), sent.size());
        QVERIFY(received == sent);
        QTest::qWait(50);
        QCOMPARE(rec.closes, 0);
        QVERIFY(rec.errors.isEmpty());

        // And the element serves again.
        QTcpServer again;
        std::unique_ptr<QTcpSocket> next(connectClient(sck, again));
        QVERIFY(next);
        QCOMPARE(rec.connects, 2);
    }

    void sendCompleteAndBytesWritten()
    {
        SocketControl sck;
        QTcpServer peer;
        std::unique_ptr<QTcpSocket> other(connectClient(sck, peer));
        QVERIFY(other);
        qint64 written = 0;
        QObject::connect(&sck, &SocketControl::BytesWritten, &sck, [&](qint64 n) { written += n; });
        QSignalSpy complete(&sck, &SocketControl::SendComplete);
        const QByteArray sent = pattern(1, 300000);
        QVERIFY(!sck.SendData(sent).isError());
        QVERIFY(complete.wait(kWaitMs));
        QCOMPARE(written, sent.size());
        QCOMPARE(sck.bytesToWrite(), 0);
    }

    // Data handed to the system at once is still told of from the event loop,
    // never from inside SendData, so a sender is not called back mid-send;
    // a second send while the first is unannounced is told of with it.
    void writesAreToldOfAfterSendDataReturns()
    {
        SocketControl sck;
        QTcpServer peer;
        std::unique_ptr<QTcpSocket> other(connectClient(sck, peer));
        QVERIFY(other);
        bool sending = false;
        int insideSend = 0;
        qint64 written = 0;
        QObject::connect(&sck, &SocketControl::BytesWritten, &sck, [&](qint64 n) {
            insideSend += sending ? 1 : 0;
            written += n;
        });
        QObject::connect(&sck, &SocketControl::SendComplete, &sck, [&] { insideSend += sending ? 1 : 0; });
        QSignalSpy complete(&sck, &SocketControl::SendComplete);
        sending = true;
        QVERIFY(!sck.SendData("ping\r\n").isError());
        QVERIFY(!sck.SendData("pong\r\n").isError());
        sending = false;
        QCOMPARE(written, 0);
        QVERIFY(complete.wait(kWaitMs));
        QCOMPARE(insideSend, 0);
        QCOMPARE(written, 12);
        QCOMPARE(sck.bytesToWrite(), 0);
        QByteArray got;
        QTRY_VERIFY((got += other->readAll()).size() >= 12);
        QCOMPARE(got, QByteArray("ping\r\npong\r\n"));

        // Closed before the notice is due: nothing is told of the old connection.
        QVERIFY(!sck.SendData("late\r\n").isError());
        sck.Close();
        QTest::qWait(50);
        QCOMPARE(written, 12);
    }

    // A handler that runs a nested event loop gets no fresh readyRead for
    // data that came meanwhile; that data must still be announced.
    void nestedLoopInHandlerLosesNothing_data()
    {
        QTest::addColumn<bool>("peerClosesMeanwhile");
        QTest::newRow("more data") << false;
        QTest::newRow("more data, then the peer closes") << true;
    }
    void nestedLoopInHandlerLosesNothing()
    {
        QFETCH(bool, peerClosesMeanwhile);
        SocketControl sck;
        QTcpServer peer;
        std::unique_ptr<QTcpSocket> other(connectClient(sck, peer));
        QVERIFY(other);

        QByteArray received;
        QStringList order;
        int depth = 0;
        int maxDepth = 0;
        bool nestedDone = false;
        QObject::connect(&sck, &SocketControl::Closed, &sck, [&] { order << QStringLiteral("closed"); });
        QObject::connect(&sck, &SocketControl::DataArrival, &sck, [&](qint64) {
            maxDepth = qMax(maxDepth, ++depth);
            if (sck.State() == SocketControl::sckConnected)
                received += sck.GetData();
            order << QStringLiteral("data");
            if (!nestedDone) {
                nestedDone = true;
                other->write("second part");
                if (peerClosesMeanwhile)
                    other->disconnectFromHost();
                QEventLoop loop;
                QTimer poll;
                QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                    if (sck.bytesAvailable() >= 11)
                        loop.quit();
                });
                poll.start(5);
                QTimer::singleShot(kWaitMs, &loop, &QEventLoop::quit);
                loop.exec();
                QTest::qWait(50); // let any close reach us while still inside
            }
            --depth;
        });
        other->write("first");
        QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("firstsecond part"), kWaitMs);
        QCOMPARE(maxDepth, 1);
        if (peerClosesMeanwhile) {
            QTRY_COMPARE_WITH_TIMEOUT(order.size(), 3, kWaitMs);
            QCOMPARE(order, (QStringList{QStringLiteral("data"), QStringLiteral("data"), QStringLiteral("closed")}));
        }
    }

    // Handlers that close their own element (an automatic disconnect after a
    // reply, a listener stopped on a request) end it cleanly and for good.
    void closeFromInsideHandlers()
    {
        SocketControl sck;
        Recorder rec(sck);
        QTcpServer peer;
        std::unique_ptr<QTcpSocket> other(connectClient(sck, peer));
        QVERIFY(other);
        QObject::connect(&sck, &SocketControl::DataArrival, &sck, [&] { QVERIFY(!sck.Close().isError()); });
        QSignalSpy peerGone(other.get(), &QAbstractSocket::disconnected);
        other->write("reply");
        QVERIFY(peerGone.wait(kWaitMs));
        QCOMPARE(sck.State(), int(SocketControl::sckClosed));
        QCOMPARE(rec.arrivals, 1);
        QCOMPARE(rec.closes, 0);

        SocketControl listener;
        listener.setLocalPort(0);
        QVERIFY(!listener.Listen().isError());
        int requests = 0;
        QObject::connect(&listener, &SocketControl::ConnectionRequest, &listener, [&] {
            ++requests;
            QVERIFY(!listener.Close().isError());
        });
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < 5; ++i) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QHostAddress::LocalHost, quint16(listener.LocalPort()));
        }
        QTRY_COMPARE_WITH_TIMEOUT(requests, 1, kWaitMs);
        QCOMPARE(listener.State(), int(SocketControl::sckClosed));
        // Every client that got through is let go, none is left hanging.
        for (const auto &client : clients)
            QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, kWaitMs);
        QCOMPARE(requests, 1);
    }

    void listenAcceptDeclineAndReuse()
    {
        SocketControl listener;
        QVERIFY(!listener.setLocalPort(QStringLiteral("0")).isError());
        QVERIFY(!listener.Listen().isError());
        QCOMPARE(listener.State(), int(SocketControl::sckListening));
        const int port = listener.LocalPort();
        QVERIFY(port > 0);

        SocketControl element;
        Recorder rec(element);
        bool acceptNext = true;
        QList<qintptr> ids;
        QList<int> acceptResults;
        QObject::connect(&listener, &SocketControl::ConnectionRequest, &listener, [&](qintptr id) {
            ids << id;
            if (acceptNext)
                acceptResults << element.Accept(id).number;
        });

        // Accepted: the element carries the connection both ways.
        QTcpSocket first;
        first.connectToHost(QHostAddress::LocalHost, quint16(port));
        QTRY_COMPARE_WITH_TIMEOUT(ids.size(), 1, kWaitMs);
        QCOMPARE(acceptResults, QList<int>{0});
        QCOMPARE(element.State(), int(SocketControl::sckConnected));
        QCOMPARE(element.LocalPort(), port);
        QByteArray atFirst;
        QObject::connect(&first, &QIODevice::readyRead, &first, [&] { atFirst += first.readAll(); });
        QTRY_COMPARE_WITH_TIMEOUT(first.state(), QAbstractSocket::ConnectedState, kWaitMs);
        first.write("hello");
        QTRY_COMPARE_WITH_TIMEOUT(rec.data, QByteArray("hello"), kWaitMs);
        QVERIFY(!element.SendData("world").isError());
        QTRY_COMPARE_WITH_TIMEOUT(atFirst, QByteArray("world"), kWaitMs);

        // A busy element cannot take a second request; an unanswered request
        // is refused at once, and cannot be accepted afterwards.
        acceptNext = false;
        QTcpSocket refused;
        QSignalSpy refusedGone(&refused, &QAbstractSocket::disconnected);
        refused.connectToHost(QHostAddress::LocalHost, quint16(port));
        QTRY_COMPARE_WITH_TIMEOUT(ids.size(), 2, kWaitMs);
        QVERIFY(refusedGone.count() > 0 || refusedGone.wait(kWaitMs));
        SocketControl late;
        QCOMPARE(late.Accept(ids.at(1)).number, int(SocketErrors::kInvalidArgument));
        QCOMPARE(element.Accept(ids.at(1)).number, 40006);

        // The client leaves: Closed, seen in "peer is closing"; the handler
        // frees the element as the server does.
        int stateAtClose = -1;
        QObject::connect(&element, &SocketControl::Closed, &element, [&] {
            stateAtClose = element.State();
            QVERIFY(!element.Close().isError());
        });
        first.disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(rec.closes, 1, kWaitMs);
        QCOMPARE(stateAtClose, int(SocketControl::sckClosing));
        QCOMPARE(element.State(), int(SocketControl::sckClosed));
        QVERIFY(rec.errors.isEmpty());

        // Once closed, the element takes the next client.
        acceptNext = true;
        QTcpSocket third;
        third.connectToHost(QHostAddress::LocalHost, quint16(port));
        QTRY_COMPARE_WITH_TIMEOUT(ids.size(), 3, kWaitMs);
        QCOMPARE(acceptResults, (QList<int>{0, 0}));
        QTRY_COMPARE_WITH_TIMEOUT(third.state(), QAbstractSocket::ConnectedState, kWaitMs);
        third.write(everyByte(1));
        QTRY_COMPARE_WITH_TIMEOUT(rec.data.size(), 5 + 256, kWaitMs);
        QVERIFY(rec.data.endsWith(everyByte(1)));

        // Stopping the listener frees its port for a new listen.
        QVERIFY(!listener.Close().isError());
        QCOMPARE(listener.State(), int(SocketControl::sckClosed));
        QCOMPARE(listener.LocalPort(), port);
        QVERIFY(!listener.Listen().isError());
        QCOMPARE(listener.LocalPort(), port);
    }

    void manyClientsAtOnceAreAllAnnounced()
    {
        constexpr int kClients = 200;
        SocketControl listener;
        listener.setLocalPort(0);
        QVERIFY(!listener.Listen().isError());
        std::vector<std::unique_ptr<SocketControl>> elements;
        QByteArray received;
        QObject::connect(&listener, &SocketControl::ConnectionRequest, &listener, [&](qintptr id) {
            auto element = std::make_unique<SocketControl>();
            SocketControl *sck = element.get();
            QObject::connect(sck, &SocketControl::DataArrival, sck, [sck, &received] { received += sck->GetData(); });
            if (!sck->Accept(id).isError())
                elements.push_back(std::move(element));
        });

        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < kClients; ++i) {
            clients.push_back(std::make_unique<QTcpSocket>());
            QTcpSocket *client = clients.back().get();
            QObject::connect(client, &QAbstractSocket::connected, client, [client] { client->write("x"); });
            client->connectToHost(QHostAddress::LocalHost, quint16(listener.LocalPort()));
        }
        QTRY_COMPARE_WITH_TIMEOUT(int(elements.size()), kClients, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), kClients, 60000);
        for (const auto &client : clients)
            QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
        for (const auto &element : elements)
            QCOMPARE(element->State(), int(SocketControl::sckConnected));
    }

    // A slow reader: while paused, the element holds no more than its bound
    // and the sender is held back; resumed, every byte comes in order.
    void pausedReadingBoundsMemory()
    {
        constexpr qint64 kTotal = 50LL * 1024 * 1024;
        constexpr qint64 kChunk = 256 * 1024;
        constexpr qint64 kBound = 64 * 1024;
        SocketControl sck;
        QTcpServer peer;
        std::unique_ptr<QTcpSocket> other(connectClient(sck, peer));
        QVERIFY(other);
        sck.setReadBufferSize(kBound);
        sck.setReadingPaused(true);
        QVERIFY(sck.readingPaused());

        qint64 queued = 0;
        auto feed = [&] {
            while (queued < kTotal && other->bytesToWrite() < 2 * kChunk) {
                const qint64 n = qMin(kChunk, kTotal - queued);
                other->write(pattern(queued, n));
                queued += n;
            }
        };
        QObject::connect(other.get(), &QIODevice::bytesWritten, other.get(), feed);
        feed();

        qint64 received = 0;
        qint64 largestHeld = 0;
        bool inOrder = true;
        QObject::connect(&sck, &SocketControl::DataArrival, &sck, [&](qint64 total) {
            largestHeld = qMax(largestHeld, total);
            const QByteArray data = sck.GetData();
            if (data != pattern(received, data.size()))
                inOrder = false;
            received += data.size();
        });
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, &sampler, [&] { largestHeld = qMax(largestHeld, sck.bytesAvailable()); });
        sampler.start(2);

        // Paused: the sender stalls far short of the total.
        qint64 seen = -1;
        while (seen != queued) {
            seen = queued;
            QTest::qWait(300);
        }
        QCOMPARE(received, 0);
        QVERIFY2(queued < kTotal, qPrintable(QString::number(queued)));
        QVERIFY(other->bytesToWrite() > 0);
        QVERIFY2(largestHeld <= kBound, qPrintable(QString::number(largestHeld)));

        sck.setReadingPaused(false);
        QTRY_COMPARE_WITH_TIMEOUT(received, kTotal, 120000);
        QVERIFY(inOrder);
        QVERIFY2(largestHeld <= kBound, qPrintable(QString::number(largestHeld)));
    }

    void binaryDataRoundTrips()
    {
        SocketControl sck;
        Recorder rec(sck);
        QTcpServer peer;
        std::unique_ptr<QTcpSocket> other(connectClient(sck, peer));
        QVERIFY(other);
        const QByteArray bytes = everyByte(40);

        QVERIFY(!sck.SendData(bytes).isError());
        QByteArray atPeer;
        QObject::connect(other.get(), &QIODevice::readyRead, other.get(), [&] { atPeer += other->readAll(); });
        QTRY_COMPARE_WITH_TIMEOUT(atPeer.size(), bytes.size(), kWaitMs);
        QVERIFY(atPeer == bytes);

        other->write(atPeer);
        QTRY_COMPARE_WITH_TIMEOUT(rec.data.size(), bytes.size(), kWaitMs);
        QVERIFY(rec.data == bytes);
    }

    void everyNetworkErrorHasAnEntry()
    {
        const QMetaEnum kinds = QMetaEnum::fromType<QAbstractSocket::SocketError>();
        for (int i = 0; i < kinds.keyCount(); ++i) {
            const auto kind = QAbstractSocket::SocketError(kinds.value(i));
            const OsError error = SocketErrors::fromSocketError(kind);
            QVERIFY2(error.isError(), kinds.key(i));
            QVERIFY2(!error.description.isEmpty(), kinds.key(i));
        }
        QCOMPARE(SocketErrors::fromSocketError(QAbstractSocket::NetworkError, QStringLiteral("Host unreachable")).number, 10065);
        QCOMPARE(SocketErrors::fromSocketError(QAbstractSocket::NetworkError, QStringLiteral("Network unreachable")).number, 10051);
    }
};

QTEST_GUILESS_MAIN(TestSocketControl)
#include "tst_socketcontrol.moc"
