#include "net/socketcontrol.h"
#include "net/socketerrors.h"
#include "support/streampeers.h"
#include "support/testenv.h"

#include <QMetaEnum>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr int kWaitMs = 20000;
constexpr int kWrongState = SocketErrors::kWrongState;

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

// What a plain socket receives until size bytes are in (events run meanwhile).
QByteArray readAllOf(QTcpSocket &socket, qint64 size)
{
    QSignalSpy more(&socket, &QIODevice::readyRead);
    QByteArray got = socket.readAll();
    while (got.size() < size && more.wait(kWaitMs))
        got += socket.readAll();
    return got;
}

// A client element, what the program sees of it (data taken only while
// Connected, as the connection handlers do), and the plain peer it talks to.
struct Link
{
    Link()
    {
        QObject::connect(&sck, &SocketControl::DataArrival, &sck, [this](qint64 total) {
            ++arrivals;
            maxAnnounced = qMax(maxAnnounced, total);
            if (sck.State() == SocketControl::sckConnected)
                data += sck.GetData();
        });
        QObject::connect(&sck, &SocketControl::Closed, &sck, [this] {
            ++closes;
            closedAfter = data.size();
        });
        QObject::connect(&sck, &SocketControl::Error, &sck, [this](int number) { errors << number; });
    }

    bool open(const QString &host = QStringLiteral("127.0.0.1"))
    {
        if (!server.isListening() && !server.listen(QHostAddress::LocalHost, 0))
            return false;
        QSignalSpy connected(&sck, &SocketControl::Connected);
        sck.setLocalPort(0);
        if (sck.Connect(host, portOf(server)).isError() || !connected.wait(kWaitMs))
            return false;
        if (!server.hasPendingConnections() && !server.waitForNewConnection(kWaitMs))
            return false;
        peer.reset(server.nextPendingConnection());
        return true;
    }

    SocketControl sck;
    QTcpServer server;
    std::unique_ptr<QTcpSocket> peer;
    QByteArray data;
    QList<int> errors;
    int arrivals = 0;
    int closes = 0;
    qint64 maxAnnounced = 0;
    qint64 closedAfter = -1;
};

} // namespace

class TestSocketControl : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A call that fails at once returns its error and leaves the element
    // Closed; a connection that fails later gives Error and state 9 until
    // Close. Either way the element is usable again, and no error trails it.
    void failures_data()
    {
        QTest::addColumn<QString>("localPort");
        QTest::addColumn<QString>("host"); // none: Listen
        QTest::addColumn<QString>("port"); // "busy": a port in use
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("stateAfterCall"); // -1: the call itself fails
        const auto row = [](const char *name, const char *local, const char *host, const QString &port,
                            int number, int state) {
            QTest::newRow(name) << QString::fromLatin1(local) << QString::fromLatin1(host) << port << number
                                << state;
        };
        const char *ip = "127.0.0.1";
        for (const char *bad : {"70000", "abc", ""})
            row(qPrintable(QStringLiteral("connect port '%1'").arg(QLatin1String(bad))), "0", ip,
                QString::fromLatin1(bad), 380, -1);
        row("local port 'abc'", "abc", nullptr, {}, 380, -1);
        row("connect blank host", "0", " ", QStringLiteral("busy"), 380, -1);
        row("listen on a port in use", "busy", nullptr, {}, 10048, -1);
        row("bind client to a port in use", "busy", ip, QStringLiteral("busy"), 10048, -1);
        QTcpServer probe; // briefly bound, then freed: nothing listens there
        probe.listen(QHostAddress::LocalHost, 0);
        row("refused", "0", ip, portOf(probe), 10061, SocketControl::sckConnecting);
        const QByteArray nowhere =
            "tarnwell-" + QByteArray::number(QRandomGenerator::global()->generate()) + ".invalid";
        row("host not found", "0", nowhere.constData(), QStringLiteral("80"), 11001,
            SocketControl::sckResolvingHost);
        row("a blank inside the host name", "0", "no such host", QStringLiteral("80"), 11001,
            SocketControl::sckResolvingHost);
    }
    void failures()
    {
        QFETCH(QString, localPort);
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(int, number);
        QFETCH(int, stateAfterCall);
        QTcpServer busy;
        QVERIFY(busy.listen(QHostAddress::Any, 0));
        const auto text = [&](const QString &p) { return p == QLatin1String("busy") ? portOf(busy) : p; };
        Link l;
        QSignalSpy errors(&l.sck, &SocketControl::Error);
        l.sck.setLocalPort(text(localPort));
        const OsError result = host.isNull() ? l.sck.Listen() : l.sck.Connect(host, text(port));
        if (stateAfterCall < 0) {
            QCOMPARE(result.number, number);
            QCOMPARE(result.description, SocketErrors::description(number));
        } else {
            QVERIFY(!result.isError());
            QCOMPARE(l.sck.State(), stateAfterCall);
            QVERIFY(errors.wait(kWaitMs));
            QCOMPARE(errors.at(0).at(1).toString(), SocketErrors::description(number));
            QTest::qWait(50);
            QCOMPARE(l.sck.State(), int(SocketControl::sckError));
            QVERIFY(!l.sck.Close().isError());
        }
        QCOMPARE(l.sck.State(), int(SocketControl::sckClosed));
        QVERIFY(l.open());
        QCOMPARE(l.errors, stateAfterCall < 0 ? QList<int>{} : QList<int>{number});
        QCOMPARE(l.closes, 0);
    }

    // Everything the peer sent is announced before its close; the close is
    // no error, is told once, and "peer is closing" holds until our Close.
    // Data written after the peer reset the connection kills nothing, and
    // the end is told the same way, whether a write meets the reset or the
    // socket sees it first.
    void peerCloseDeliversAllDataFirst_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("holders");
        QTest::addColumn<bool>("reset");
        QTest::newRow("nothing") << 0 << 0 << false;
        QTest::newRow("a few bytes") << 3 << 0 << false;
        QTest::newRow("4 MB") << 4 * 1024 * 1024 << 0 << false;
        QTest::newRow("200 kB, read later") << 200 * 1024 << 1 << false;
        // Reading resumes only when the last holder lets go.
        QTest::newRow("200 kB, held twice") << 200 * 1024 << 2 << false;
        QTest::newRow("reset, then written to") << 0 << 0 << true;
    }
    void peerCloseDeliversAllDataFirst()
    {
        using Holder = SocketControl::Holder;
        QFETCH(int, size);
        QFETCH(int, holders);
        QFETCH(bool, reset);
        Link l;
        QVERIFY(l.open());
        if (holders >= 1)
            l.sck.setReadingPaused(true, Holder::Path);
        if (holders >= 2)
            l.sck.setReadingPaused(true, Holder::Relay);
        const QByteArray sent = pattern(0, size);
        QSignalSpy peerGone(l.peer.get(), &QAbstractSocket::disconnected);
        if (reset) {
            resetOnClose(l.peer->socketDescriptor());
            l.peer->abort();
            for (int i = 0; i < 3; ++i)
                l.sck.SendData(pattern(i, 1000));
        } else {
            l.peer->write(sent);
            l.peer->disconnectFromHost();
            QVERIFY(peerGone.count() > 0 || peerGone.wait(kWaitMs));
        }
        if (holders >= 1) {
            QTest::qWait(200); // let the close reach us while the data waits unread
            QCOMPARE(l.closes + l.arrivals, 0);
            QCOMPARE(l.sck.State(), int(SocketControl::sckConnected));
            QCOMPARE(l.sck.peerInput(), SocketControl::PeerInput::Data);
            l.sck.setReadingPaused(false, Holder::Path);
            if (holders >= 2) {
                QCoreApplication::processEvents();
                QCOMPARE(l.closes + l.arrivals, 0); // the other holder still holds it
                l.sck.setReadingPaused(false, Holder::Relay);
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(l.closes, 1, kWaitMs);
        QVERIFY(l.data == sent);
        QCOMPARE(l.closedAfter, qint64(size));
        QCOMPARE(l.sck.peerInput(), SocketControl::PeerInput::Ended);
        QCOMPARE(l.sck.SendData("late").number, kWrongState);
        QTest::qWait(50);
        QCOMPARE(l.closes, 1);
        QCOMPARE(l.sck.State(), int(SocketControl::sckClosing));
        QVERIFY(!l.sck.Close().isError());
        QCOMPARE(l.sck.State(), int(SocketControl::sckClosed));
        QVERIFY(l.errors.isEmpty());
    }

    // A handler that replies and closes at once (an automatic disconnect):
    // no Closed follows, and the whole reply still reaches the peer.
    void ownCloseRaisesNoClosedAndFlushes()
    {
        Link l;
        QVERIFY(l.open());
        const QByteArray reply = pattern(5, 2 * 1024 * 1024);
        QObject::connect(&l.sck, &SocketControl::DataArrival, &l.sck, [&] {
            QVERIFY(!l.sck.SendData(reply).isError());
            QVERIFY(!l.sck.Close().isError());
        });
        QSignalSpy peerGone(l.peer.get(), &QAbstractSocket::disconnected);
        l.peer->write("ask");
        QVERIFY(readAllOf(*l.peer, reply.size()) == reply);
        QVERIFY(peerGone.count() > 0 || peerGone.wait(kWaitMs));
        QTest::qWait(50);
        QCOMPARE(l.sck.State(), int(SocketControl::sckClosed));
        QCOMPARE(l.arrivals, 1);
        QCOMPARE(l.closes, 0);
        QVERIFY(l.errors.isEmpty());
        QVERIFY(l.open());
    }

    // A handler running a nested event loop gets no fresh readyRead for data
    // that came meanwhile; that data must still be announced, before the
    // close that followed it, and without re-entering the handler.
    void nestedLoopInHandlerLosesNothing()
    {
        Link l;
        QVERIFY(l.open());
        int depth = 0;
        int maxDepth = 0;
        bool nested = false;
        QObject::connect(&l.sck, &SocketControl::DataArrival, &l.sck, [&] {
            maxDepth = qMax(maxDepth, ++depth);
            if (!std::exchange(nested, true)) {
                l.peer->write("second");
                l.peer->disconnectFromHost();
                QTRY_VERIFY_WITH_TIMEOUT(l.sck.bytesAvailable() >= 6, kWaitMs);
                QTest::qWait(50); // let any close reach us while still inside
            }
            --depth;
        });
        l.peer->write("first");
        QTRY_COMPARE_WITH_TIMEOUT(l.closes, 1, kWaitMs);
        QCOMPARE(l.data, QByteArray("firstsecond"));
        QCOMPARE(l.closedAfter, 11);
        QCOMPARE(maxDepth, 1);
    }

    void listenAcceptDeclineAndReuse()
    {
        SocketControl listener;
        listener.setLocalPort(0);
        QVERIFY(!listener.Listen().isError());
        const quint16 port = quint16(listener.LocalPort());
        Link l; // its element is accepted, not connected
        bool acceptNext = true;
        QList<qintptr> ids;
        QObject::connect(&listener, &SocketControl::ConnectionRequest, &listener, [&](qintptr id) {
            ids << id;
            if (acceptNext)
                QVERIFY(!l.sck.Accept(id).isError());
        });
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        const auto knock = [&] {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QHostAddress::LocalHost, port);
            return clients.back().get();
        };

        QTcpSocket *first = knock();
        QVERIFY(first->waitForConnected(kWaitMs));
        first->write("hello");
        QTRY_COMPARE_WITH_TIMEOUT(l.data, QByteArray("hello"), kWaitMs);
        QVERIFY(!l.sck.SendData("world").isError());
        QCOMPARE(readAllOf(*first, 5), QByteArray("world"));

        // A request its handler leaves unanswered is refused at once and
        // cannot be accepted afterwards.
        acceptNext = false;
        QTcpSocket *refused = knock();
        QTRY_COMPARE_WITH_TIMEOUT(ids.size(), 2, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(refused->state(), QAbstractSocket::UnconnectedState, kWaitMs);
        QCOMPARE(SocketControl().Accept(ids.at(1)).number, int(SocketErrors::kInvalidArgument));
        QCOMPARE(l.sck.Accept(ids.at(1)).number, kWrongState);

        // The client leaves: Closed comes in "peer is closing", and the
        // handler's Close frees the element for the next client.
        int stateAtClose = -1;
        QObject::connect(&l.sck, &SocketControl::Closed, &l.sck, [&] {
            stateAtClose = l.sck.State();
            l.sck.Close();
        });
        first->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(l.closes, 1, kWaitMs);
        QCOMPARE(stateAtClose, int(SocketControl::sckClosing));
        acceptNext = true;
        knock();
        QTRY_COMPARE_WITH_TIMEOUT(l.sck.State(), int(SocketControl::sckConnected), kWaitMs);

        // A listener stopped by a request's handler lets every waiting client
        // go, and its port is free for a new listen.
        acceptNext = false;
        QObject::connect(&listener, &SocketControl::ConnectionRequest, &listener, [&] { listener.Close(); });
        for (int i = 0; i < 3; ++i)
            knock();
        for (size_t i = 3; i < clients.size(); ++i)
            QTRY_COMPARE_WITH_TIMEOUT(clients[i]->state(), QAbstractSocket::UnconnectedState, kWaitMs);
        QCOMPARE(ids.size(), 4);
        QCOMPARE(listener.State(), int(SocketControl::sckClosed));
        QVERIFY(!listener.Listen().isError());
        QCOMPARE(listener.LocalPort(), int(port));
        QVERIFY(l.errors.isEmpty());
    }

    // A slow reader: while paused, the element holds no more than its bound
    // and the sender is held back; resumed, every byte comes in order.
    void pausedReadingBoundsMemory()
    {
        constexpr qint64 kTotal = 50LL * 1024 * 1024;
        constexpr qint64 kChunk = 256 * 1024;
        constexpr qint64 kBound = 64 * 1024;
        Link l;
        QVERIFY(l.open());
        l.sck.setReadBufferSize(kBound);
        l.sck.setReadingPaused(true);
        qint64 queued = 0;
        auto feed = [&] {
            for (; queued < kTotal && l.peer->bytesToWrite() < 2 * kChunk; queued += kChunk)
                l.peer->write(pattern(queued, kChunk));
        };
        QObject::connect(l.peer.get(), &QIODevice::bytesWritten, l.peer.get(), feed);
        feed();

        for (qint64 seen = -1; seen != queued;) { // until the sender stalls
            seen = queued;
            QTest::qWait(300);
        }
        QCOMPARE(l.arrivals, 0);
        QVERIFY2(queued < kTotal, qPrintable(QString::number(queued)));
        QVERIFY2(l.sck.bytesAvailable() <= kBound, qPrintable(QString::number(l.sck.bytesAvailable())));

        l.sck.setReadingPaused(false);
        QTRY_COMPARE_WITH_TIMEOUT(l.data.size(), kTotal, 120000);
        QVERIFY(l.data == pattern(0, kTotal));
        QVERIFY2(l.maxAnnounced <= kBound, qPrintable(QString::number(l.maxAnnounced)));
    }

    // (Every byte the other way is the paused reader's and the peer close's stream.)
    void connectsAndCarriesEveryByte_data()
    {
        QTest::addColumn<QString>("host");
        for (const char *host : {"127.0.0.1", "localhost", " 127.0.0.1 "})
            QTest::newRow(host) << QString::fromLatin1(host);
    }
    void connectsAndCarriesEveryByte()
    {
        QFETCH(QString, host);
        Link l;
        QVERIFY(l.open(host));
        QCOMPARE(l.sck.LocalPort(), int(l.peer->peerPort()));
        QCOMPARE(l.sck.RemoteHostIP(), l.peer->localAddress().toString());
        QCOMPARE(l.sck.Connect(QStringLiteral("127.0.0.1"), portOf(l.server)).number, kWrongState);
        QCOMPARE(l.sck.State(), int(SocketControl::sckConnected));
        qint64 written = 0;
        QObject::connect(&l.sck, &SocketControl::BytesWritten, &l.sck, [&](qint64 n) { written += n; });
        QSignalSpy complete(&l.sck, &SocketControl::SendComplete);
        const QByteArray bytes = everyByte().repeated(400);

        // More than the system takes at once, then more: what waits is sent
        // before what follows, and every byte is told written, once the
        // sender is done.
        const QByteArray first = pattern(7, 8 * 1024 * 1024);
        QVERIFY(!l.sck.SendData(first).isError());
        QVERIFY(!l.sck.SendData(bytes).isError());
        QCOMPARE(written, 0); // told from the event loop, never while sending
        const QByteArray all = readAllOf(*l.peer, first.size() + bytes.size());
        QVERIFY(all == first + bytes);
        QTRY_VERIFY_WITH_TIMEOUT(complete.count() > 0, kWaitMs);
        QCOMPARE(written, first.size() + bytes.size());
        QVERIFY(l.errors.isEmpty());
    }

    void everyNetworkErrorHasAnEntry()
    {
        const QMetaEnum kinds = QMetaEnum::fromType<QAbstractSocket::SocketError>();
        for (int i = 0; i < kinds.keyCount(); ++i) // an unknown number would have no description
            QVERIFY2(!SocketErrors::fromSocketError(QAbstractSocket::SocketError(kinds.value(i))).description.isEmpty(),
                     kinds.key(i));
        QCOMPARE(SocketErrors::fromSocketError(QAbstractSocket::NetworkError, QStringLiteral("Host unreachable")).number, 10065);
        QCOMPARE(SocketErrors::fromSocketError(QAbstractSocket::NetworkError, QStringLiteral("Network unreachable")).number, 10051);
    }
};

QTEST_GUILESS_MAIN(TestSocketControl)
#include "tst_socketcontrol.moc"
