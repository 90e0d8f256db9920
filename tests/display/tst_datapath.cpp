#include "core/eventlog.h"
#include "support/recordingevents.h"
#include "core/optionssource.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/supportclass.h"
#include "display/supporthost.h"
#include "ui/scriptedui.h"

#include <QtTest>
#include <array>
#include <functional>
#include <memory>

namespace {

// The main window as the data path sees it, with sockets whose states the
// test sets and whose writes and log calls are recorded.
class Host : public SupportHost
{
public:
    Host()
    {
        for (int i = 0; i < 3; ++i) {
            lists[i] = std::make_unique<DataListModel>();
            lists[i]->setColumns({{QStringLiteral("#"), 645},
                                  {QStringLiteral("Time"), 1170},
                                  {QStringLiteral("I/O"), 435},
                                  {QStringLiteral("Sock#"), 660},
                                  {QStringLiteral("Message"), 6180}});
            texts[i] = std::make_unique<DataTextView>();
        }
    }
    int currentMode() const override { return mode; }
    int showPosition(int m) const override { return show[size_t(m)]; }
    DataListModel *dataList(int m) const override { return lists[size_t(m)].get(); }
    DataTextView *textView(int m) const override { return texts[size_t(m)].get(); }
    bool filterOn() const override { return false; }
    bool passesFilter(const QByteArray &) const override { return true; }
    int clientState() const override { return client; }
    int serverState(int i) const override { return i < servers.size() ? servers[i] : 0; }
    int highestServerIndex() const override { return int(servers.size()) - 1; }
    OsError writeClient(const QByteArray &d) override
    {
        writes << QStringLiteral("client:") + QString::fromLatin1(d);
        return written(0);
    }
    OsError writeServer(int i, const QByteArray &d) override
    {
        writes << QStringLiteral("server%1:").arg(i) + QString::fromLatin1(d);
        return written(i);
    }
    OsError written(int socket) const
    {
        return gone.contains(socket)      ? OsError{kNotConnected, {}}
               : failing.contains(socket) ? kRefused
                                          : OsError();
    }
    void sendFailed(const OsError &e) override { failures << e.number; }
    // Sockets with data waiting, as the controller drives them: an arrival
    // is read at once unless the path holds it; a served read takes one
    // chunk, and a socket with more is announced again.
    void arrive(int socket, const QByteArray &chunk)
    {
        waiting[socket] << chunk;
        if (!support->HoldArrival(socket))
            readArrival(socket);
    }
    void holdArrivals(int socket, bool held) override
    {
        if (held)
            heldSockets.insert(socket);
        else
            heldSockets.remove(socket);
    }
    void readArrival(int socket) override
    {
        if (waiting[socket].isEmpty())
            return;
        support->DataReceivedOnSocket(waiting[socket].takeFirst(), QString::number(socket), true);
        if (!waiting[socket].isEmpty() && !support->HoldArrival(socket))
            readArrival(socket);
    }
    void closeClient() override { closes << QStringLiteral("client"); }
    void closeServer(int i) override { closes << QString::number(i); }
    void holdReceiving(bool hold) override { held = hold; }
    void IncomingDataArrived(const QString &s, const QByteArray &d) override
    {
        logs << QStringLiteral("in[") + s + QStringLiteral("]") + QString::fromLatin1(d);
    }
    void OutgoingDataArrived(const QByteArray &d) override { logs << QStringLiteral("out ") + QString::fromLatin1(d); }
    void ClientToServerDataArrived(const QByteArray &d) override
    {
        logs << QStringLiteral("c2s ") + QString::fromLatin1(d);
    }
    void ServerToClientDataArrived(const QByteArray &d) override
    {
        logs << QStringLiteral("s2c ") + QString::fromLatin1(d);
    }
    void SentDataAdded() override
    {
        ++sentAdded;
        if (duringSentAdded)
            std::exchange(duringSentAdded, nullptr)();
    }
    void ReceivedDataAdded() override
    {
        ++receivedAdded;
        if (duringReceivedAdded)
            std::exchange(duringReceivedAdded, nullptr)();
    }
    void DataHasBeenSent() override { ++sentLamp; }
    void UpdateReceivePauseBufferIndicator() override { ++gauge; }

    int mode = 0;
    std::array<int, 3> show{0, 0, 0};
    std::array<std::unique_ptr<DataListModel>, 3> lists;
    std::array<std::unique_ptr<DataTextView>, 3> texts;
    int client = 0;
    QList<int> servers{0};
    bool held = false; // the pause buffer holds the receiving sockets
    static inline const OsError kRefused{10054, QStringLiteral("Connection reset by peer")};
    QSet<int> failing;
    QSet<int> gone; // ended before their state shows it
    QList<int> failures;
    SupportClass *support = nullptr;
    QMap<int, QByteArrayList> waiting;
    QSet<int> heldSockets;
    QStringList writes, closes, logs;
    int sentAdded = 0, receivedAdded = 0, sentLamp = 0, gauge = 0;
    std::function<void()> duringSentAdded, duringReceivedAdded;
};

struct Fixture
{
    RecordingEvents events;
    ScriptedUi ui;
    DefaultOptions opts;
    Host host;
    SupportClass support;
    Fixture()
    {
        tw::setOptions(&opts);
        support.setHost(&host);
        host.support = &support;
    }
    ~Fixture() { tw::setOptions(nullptr); }
    DataListModel &list(int m) { return *host.lists[size_t(m)]; }
};
} // namespace

class TestDataPath : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sendingWhileNotConnected();
    void sendingToClientsCountsAndAnnounces();
    void passThroughIgnoresDataWithoutDirection();
    void passThroughRelaysBeforeShowing();
    void pauseBufferRoundTrip();
    void pausedDataInPassThroughIsRelayedOnRelease();
    void emptyingThePauseBuffer();
    void failedWriteLightsNothing_data();
    void failedWriteLightsNothing();
    void arrivalsWhileBusyWaitInTheirSockets();
    void closingFollowsTheMode();
};

void TestDataPath::sendingWhileNotConnected()
{
    Fixture f;
    f.opts.verbose = true;
    f.support.SendDataDownSocket("abc");
    QCOMPARE(f.list(0).rowCount(), 1);
    QCOMPARE(f.list(0).icon(0), DataListModel::RowIcon::Unplugged);
    QCOMPARE(f.list(0).index(0, DataListModel::ColDirection).data().toString(), QStringLiteral("Out"));
    QCOMPARE(f.list(0).index(0, DataListModel::ColSocket).data().toString(), QStringLiteral("NA"));
    QVERIFY(f.host.writes.isEmpty());
    QCOMPARE(f.host.logs, QStringList{QStringLiteral("out abc")});
    QCOMPARE(f.host.sentLamp, 1);
    // Nothing was written, so nothing is announced as sent.
    QVERIFY(!f.events.lines.join(QLatin1Char('\n')).contains(QStringLiteral("Sent ")));

    f.host.client = 7;
    f.support.SendDataDownSocket("hello");
    QCOMPARE(f.host.writes, QStringList{QStringLiteral("client:hello")});
    QCOMPARE(f.list(0).icon(1), DataListModel::RowIcon::Tick);
    QVERIFY(f.events.lines.contains(QStringLiteral("Sent 5 bytes down the socket.")));

    // A connection that ended before its state shows it takes nothing, and
    // that is no failure: nothing is told or announced, the lamp lights.
    f.host.gone = {0};
    QVERIFY(!f.support.SendToSockets("late"));
    QVERIFY(f.host.failures.isEmpty());
    QVERIFY(!f.events.lines.contains(QStringLiteral("Sent 4 bytes down the socket.")));
    QCOMPARE(f.host.sentLamp, 3);
}

void TestDataPath::sendingToClientsCountsAndAnnounces()
{
    Fixture f;
    f.opts.verbose = true;
    f.host.mode = 1;
    f.support.SendDataDownSocket("xyz");
    QVERIFY(f.events.lines.contains(QStringLiteral("Sent 3 bytes to all of the socket clients.")));
    QCOMPARE(f.list(1).index(0, DataListModel::ColSocket).data().toString(), QStringLiteral("ALL"));
    QVERIFY(f.host.writes.isEmpty());

    f.host.servers = {2, 7, 0, 7};
    QVERIFY(f.support.SendToSockets("x"));
    QCOMPARE(f.host.writes, (QStringList{QStringLiteral("server1:x"), QStringLiteral("server3:x")}));
    // A client gone before the poll saw it keeps nothing from the others.
    f.host.gone = {1};
    QVERIFY(f.support.SendToSockets("y"));
    QCOMPARE(f.host.writes.last(), QStringLiteral("server3:y"));
    QVERIFY(f.host.failures.isEmpty());
}

void TestDataPath::passThroughIgnoresDataWithoutDirection()
{
    Fixture f;
    f.host.mode = 2;
    f.host.client = 7;
    f.host.servers = {2, 7};
    f.support.SendDataDownSocket("x");
    QCOMPARE(f.list(2).rowCount(), 0);
    QVERIFY(f.host.writes.isEmpty());
    QVERIFY(f.host.logs.isEmpty());
    QCOMPARE(f.host.sentAdded, 0);
    QCOMPARE(f.host.sentLamp, 0);
}

void TestDataPath::passThroughRelaysBeforeShowing()
{
    Fixture f;
    f.opts.verbose = true;
    f.host.mode = 2;
    f.host.client = 7;
    f.host.servers = {2, 7, 7};
    // From a client: shown as going to the server, written to the server.
    f.support.SendDataDownSocket("up", false);
    QCOMPARE(f.host.writes, QStringList{QStringLiteral("client:up")});
    QCOMPARE(f.list(2).index(0, DataListModel::ColDirection).data().toString(), QStringLiteral("C2S"));
    QVERIFY(f.events.lines.contains(QStringLiteral("Passed 2 bytes of data to the socket client.")));
    // From the server: relayed to every client, then shown.
    f.host.writes.clear();
    f.support.DataReceivedOnSocket("down", QStringLiteral("NA"), true);
    QCOMPARE(f.host.writes, (QStringList{QStringLiteral("server1:down"), QStringLiteral("server2:down")}));
    QCOMPARE(f.list(2).index(1, DataListModel::ColDirection).data().toString(), QStringLiteral("S2C"));
    QVERIFY(f.events.lines.contains(QStringLiteral("Passed 4 bytes of data to all of the socket clients.")));
    QCOMPARE(f.host.logs, (QStringList{QStringLiteral("c2s up"), QStringLiteral("s2c down"), QStringLiteral("in[]down")}));
}

void TestDataPath::pauseBufferRoundTrip()
{
    Fixture f;
    f.host.mode = 1;
    f.support.blnReceivePaused = true;
    f.support.pauseBufferLimit = 30;
    f.support.DataReceivedOnSocket(QByteArray(10, 'a'), QStringLiteral("2"), true);
    f.support.DataReceivedOnSocket(QByteArray(19, 'b'), QStringLiteral("2"), true);
    QVERIFY(!f.host.held);
    // At its bound the buffer holds the sockets back; it takes the arrival whole.
    f.support.DataReceivedOnSocket(QByteArray(1, 'b') + QByteArray(30, 'c'), QStringLiteral("3"), true);
    QVERIFY(f.host.held);
    QCOMPARE(f.list(1).rowCount(), 0);
    QCOMPARE(f.support.strReceiveBuffer.size(), 60);
    QCOMPARE(f.host.gauge, 3);
    QCOMPARE(f.host.logs.size(), 3);
    QVERIFY(f.host.logs[0].startsWith(QStringLiteral("in[2#: ]")));

    f.support.blnReceivePaused = false;
    f.support.ReleaseReceiveBuffer();
    QVERIFY(f.support.strReceiveBuffer.isEmpty());
    QVERIFY(!f.host.held);
    QCOMPARE(f.list(1).rowCount(), 1);
    QCOMPARE(f.list(1).rawTag(0), QByteArray(10, 'a') + QByteArray(20, 'b') + QByteArray(30, 'c'));
    QCOMPARE(f.list(1).index(0, DataListModel::ColSocket).data().toString(), QStringLiteral("NA"));
    // Logged when it arrived and again when released.
    QCOMPARE(f.host.logs.size(), 4);
    QVERIFY(f.host.logs[3].startsWith(QStringLiteral("in[NA#: ]aaaaaaaaaabbbb")));
    QCOMPARE(f.host.gauge, 4);

    // Releasing an empty buffer does nothing.
    f.support.ReleaseReceiveBuffer();
    QCOMPARE(f.host.logs.size(), 4);
}

void TestDataPath::pausedDataInPassThroughIsRelayedOnRelease()
{
    Fixture f;
    f.host.mode = 2;
    f.host.client = 7;
    f.host.servers = {2, 7};
    f.support.blnReceivePaused = true;
    f.support.DataReceivedOnSocket("held", QStringLiteral("NA"), true);
    QVERIFY(f.host.writes.isEmpty());
    f.support.blnReceivePaused = false;
    f.support.ReleaseReceiveBuffer();
    QCOMPARE(f.host.writes, QStringList{QStringLiteral("server1:held")});
}

void TestDataPath::emptyingThePauseBuffer()
{
    Fixture f;
    f.support.strReceiveBuffer = QByteArray(10, 'x');
    f.host.held = true;
    f.support.DestroyReceiveBuffer();
    QVERIFY(f.support.strReceiveBuffer.isEmpty());
    QVERIFY(!f.host.held);
    QCOMPARE(f.events.lines.last(), QStringLiteral("10 bytes have been cleared out of the receive pause buffer."));
    QCOMPARE(f.host.gauge, 1);
}

void TestDataPath::failedWriteLightsNothing_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<int>>("servers");
    QTest::addColumn<QList<int>>("failing");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QString>("log");
    QTest::newRow("client") << 0 << QList<int>{0} << QList<int>{0} << QStringList{QStringLiteral("client:x")}
                            << QStringLiteral("out x");
    // One client that cannot be written to keeps nothing from the others,
    // and the user is told once.
    QTest::newRow("every client") << 1 << QList<int>{2, 7, 7, 0, 7} << QList<int>{1, 2}
                                  << QStringList{QStringLiteral("server1:x"), QStringLiteral("server2:x"),
                                                 QStringLiteral("server4:x")}
                                  << QStringLiteral("out x");
    QTest::newRow("relay to clients")
        << 2 << QList<int>{2, 7, 7} << QList<int>{1}
        << QStringList{QStringLiteral("server1:x"), QStringLiteral("server2:x")} << QStringLiteral("s2c x");
}

void TestDataPath::failedWriteLightsNothing()
{
    QFETCH(int, mode);
    QFETCH(QList<int>, servers);
    QFETCH(QList<int>, failing);
    QFETCH(QStringList, writes);
    QFETCH(QString, log);
    Fixture f;
    f.opts.verbose = true;
    f.host.mode = mode;
    f.host.client = 7;
    f.host.servers = servers;
    f.host.failing = QSet<int>(failing.begin(), failing.end());
    QVERIFY(!f.support.SendToSockets("x", true));
    QCOMPARE(f.host.writes, writes);
    QCOMPARE(f.host.failures, QList<int>{10054});
    QCOMPARE(f.host.sentLamp, 0);
    QCOMPARE(f.host.logs, QStringList{log});
    QVERIFY(!f.events.lines.join(QLatin1Char('\n')).contains(QStringLiteral(" bytes ")));
}

void TestDataPath::arrivalsWhileBusyWaitInTheirSockets()
{
    Fixture f;
    f.host.mode = 1;
    f.host.servers = {2, 7, 7, 7};
    // While the first arrival is worked on (events run inside its display),
    // other sockets get data, the first socket more, and the user sends:
    // nothing more is read, the send waits its turn, the sockets are held.
    f.host.duringReceivedAdded = [&] {
        f.host.arrive(2, "b1\r\n");
        f.host.arrive(2, "b2\r\n");
        f.host.arrive(3, "c1\r\n");
        f.host.arrive(1, "a2\r\n");
        f.support.SendDataDownSocket("typed\r\n");
        QCOMPARE(f.host.heldSockets, (QSet<int>{1, 2, 3}));
        QCOMPARE(f.support.bytesHeld(), qint64(4 + 7));
    };
    f.host.arrive(1, "a1\r\n");
    QCOMPARE(f.host.logs, (QStringList{QStringLiteral("in[1#: ]a1\r\n"), QStringLiteral("out typed\r\n")}));
    QCOMPARE(f.support.bytesHeld(), qint64(0));
    // Then one read per socket and turn, in the order their data arrived.
    QTRY_COMPARE(f.host.logs.size(), 6);
    QCOMPARE(f.host.logs.mid(2),
             (QStringList{QStringLiteral("in[2#: ]b1\r\n"), QStringLiteral("in[3#: ]c1\r\n"),
                          QStringLiteral("in[1#: ]a2\r\n"), QStringLiteral("in[2#: ]b2\r\n")}));
    QVERIFY(f.host.heldSockets.isEmpty());
    QCOMPARE(f.support.mostBytesHeld(), qint64(4 + 7));
    QCOMPARE(f.list(1).cell(5, DataListModel::ColMessage), QByteArray("b2"));
}

void TestDataPath::closingFollowsTheMode()
{
    Fixture f;
    f.support.CloseSockets(true);
    QCOMPARE(f.host.closes, QStringList{QStringLiteral("client")});
    QCOMPARE(f.events.lines.last(), QStringLiteral("Closing the socket."));
    f.host.closes.clear();
    f.host.mode = 2;
    f.host.servers = {2, 7, 0};
    f.support.CloseSockets(false);
    QCOMPARE(f.host.closes, (QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")}));
    QCOMPARE(f.events.lines.last(), QStringLiteral("Closing all of the socket connections to the clients."));
    f.host.closes.clear();
    f.support.CloseSockets(true);
    QCOMPARE(f.host.closes, QStringList{QStringLiteral("client")});
    QVERIFY(!f.support.SocketIsReady(true));
    QVERIFY(f.support.SocketIsReady(false));
    QVERIFY(f.support.SocketIsReady());
}

QTEST_MAIN(TestDataPath)
#include "tst_datapath.moc"
