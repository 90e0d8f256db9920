#include "core/eventlog.h"
#include "core/optionssource.h"
#include "display/fakesupporthost.h"
#include "support/recordingevents.h"
#include "ui/scriptedui.h"

#include <QtTest>

namespace {

struct Fixture
{
    RecordingEvents events;
    ScriptedUi ui;
    DefaultOptions opts;
    FakeSupportHost host;
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
    void sendingByMode_data();
    void sendingByMode();
    void pauseBufferRoundTrip();
    void pausedDataInPassThroughIsRelayedOnRelease();
    void failedWriteLightsNothing_data();
    void failedWriteLightsNothing();
    void endedConnectionIsNoFailure_data();
    void endedConnectionIsNoFailure();
    void arrivalsWhileBusyWaitInTheirSockets();
    void closingFollowsTheMode();
};

// Data sent or passed on, by mode and the sockets' states: what is written,
// logged, shown (icon|direction|socket) and announced.
void TestDataPath::sendingByMode_data()
{
    for (const char *column : {"mode", "client"})
        QTest::addColumn<int>(column);
    QTest::addColumn<QList<int>>("servers");
    // "send", "send up" (from a client), "receive" (from the server) or "to sockets" (the write alone)
    QTest::addColumn<QString>("call");
    QTest::addColumn<QByteArray>("data");
    for (const char *column : {"writes", "logs", "row"})
        QTest::addColumn<QStringList>(column);
    QTest::addColumn<QString>("event"); // an event logged, or after "!" what no event may contain
    QTest::addColumn<int>("lamp");
    using L = std::initializer_list<const char *>;
    const auto row = [](const char *name, int mode, int client, const QList<int> &servers, const char *call,
                        const char *data, L writes, L logs, const char *shown, const char *event, int lamp) {
        const auto strings = [](L texts) {
            QStringList out;
            for (const char *t : texts)
                out << QString::fromLatin1(t);
            return out;
        };
        QTest::newRow(name) << mode << client << servers << QString::fromLatin1(call) << QByteArray(data)
                            << strings(writes) << strings(logs) << strings(*shown ? L{shown} : L{})
                            << QString::fromLatin1(event) << lamp;
    };
    // Nothing was written, so nothing is announced as sent.
    row("client, closed", 0, 0, {0}, "send", "abc", {}, {"out abc"}, "unplugged|Out|NA", "!Sent ", 1);
    row("client, connected", 0, 7, {0}, "send", "hello", {"client:hello"}, {"out hello"}, "tick|Out|NA",
        "Sent 5 bytes down the socket.", 1);
    row("server, none connected", 1, 0, {0}, "send", "xyz", {}, {"out xyz"}, "unplugged|Out|ALL",
        "Sent 3 bytes to all of the socket clients.", 1);
    row("server, to the connected", 1, 0, {2, 7, 0, 7}, "to sockets", "x", {"server1:x", "server3:x"},
        {"out x"}, "", "Sent 1 bytes to all of the socket clients.", 1);
    // Pass Through sends nothing that has no direction.
    row("pass through, no direction", 2, 7, {2, 7}, "send", "x", {}, {}, "", "!Passed", 0);
    // Relayed first, then shown.
    row("pass through, from a client", 2, 7, {2, 7, 7}, "send up", "up", {"client:up"}, {"c2s up"},
        "tick|C2S|ALL", "Passed 2 bytes of data to the socket client.", 1);
    row("pass through, from the server", 2, 7, {2, 7, 7}, "receive", "down", {"server1:down", "server2:down"},
        {"s2c down", "in[]down"}, "tick|S2C|NA", "Passed 4 bytes of data to all of the socket clients.", 1);
}

void TestDataPath::sendingByMode()
{
    QFETCH(int, mode);
    QFETCH(QString, call);
    QFETCH(QByteArray, data);
    QFETCH(QString, event);
    QFETCH(int, client);
    QFETCH(QList<int>, servers);
    Fixture f;
    f.opts.verbose = true;
    f.host.mode = mode;
    f.host.client = client;
    f.host.servers = servers;
    if (call == QLatin1String("to sockets"))
        QVERIFY(f.support.SendToSockets(data));
    else if (call == QLatin1String("receive"))
        f.support.DataReceivedOnSocket(data, QStringLiteral("NA"), true);
    else
        f.support.SendDataDownSocket(data,
                                     call == QLatin1String("send up") ? std::optional(false) : std::nullopt);
    QTEST(f.host.writes, "writes");
    QTEST(f.host.logs, "logs");
    static const char *const icons[] = {"none", "tick", "unplugged"};
    QStringList rows;
    for (int r = 0; r < f.list(mode).rowCount(); ++r)
        rows << QString::fromLatin1(icons[int(f.list(mode).icon(r))]) + QLatin1Char('|') +
                    f.list(mode).index(r, DataListModel::ColDirection).data().toString() + QLatin1Char('|') +
                    f.list(mode).index(r, DataListModel::ColSocket).data().toString();
    QTEST(rows, "row");
    const QString events = f.events.lines.join(QLatin1Char('\n'));
    if (event.startsWith(QLatin1Char('!')))
        QVERIFY2(!events.contains(event.mid(1)), qPrintable(events));
    else
        QVERIFY2(f.events.lines.contains(event), qPrintable(events));
    QTEST(f.host.sentLamp, "lamp");
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

    // Emptying it drops what it holds, lets the sockets go and tells how much went.
    f.support.blnReceivePaused = true;
    f.support.DataReceivedOnSocket(QByteArray(40, 'x'), QStringLiteral("2"), true);
    QVERIFY(f.host.held);
    f.support.DestroyReceiveBuffer();
    QVERIFY(f.support.strReceiveBuffer.isEmpty() && !f.host.held);
    QCOMPARE(f.events.lines.last(),
             QStringLiteral("40 bytes have been cleared out of the receive pause buffer."));
    QCOMPARE(f.host.gauge, 6);
    QCOMPARE(f.list(1).rowCount(), 1);
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
    QFETCH(QString, log);
    Fixture f;
    f.opts.verbose = true;
    f.host.mode = mode;
    f.host.client = 7;
    f.host.servers = servers;
    f.host.failing = QSet<int>(failing.begin(), failing.end());
    QVERIFY(!f.support.SendToSockets("x", true));
    QTEST(f.host.writes, "writes");
    QCOMPARE(f.host.failures, QList<int>{10054});
    QCOMPARE(f.host.sentLamp, 0);
    QCOMPARE(f.host.logs, QStringList{log});
    QVERIFY(!f.events.lines.join(QLatin1Char('\n')).contains(QStringLiteral(" bytes ")));
}

// A connection that ended before its polled state shows it takes nothing;
// as with any socket not connected, that is no failure: nothing is told, the
// lamp lights, and only what was written is announced.
void TestDataPath::endedConnectionIsNoFailure_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<int>>("servers");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("event"); // after "!": what no event may contain
    QTest::newRow("client") << 0 << QList<int>{0} << false << QStringLiteral("!Sent ");
    QTest::newRow("one of the clients") << 1 << QList<int>{2, 7, 7} << true
                                        << QStringLiteral("Sent 1 bytes to all of the socket clients.");
}

void TestDataPath::endedConnectionIsNoFailure()
{
    QFETCH(int, mode);
    QFETCH(QList<int>, servers);
    QFETCH(bool, result);
    QFETCH(QString, event);
    Fixture f;
    f.opts.verbose = true;
    f.host.mode = mode;
    f.host.client = 7;
    f.host.servers = servers;
    f.host.gone = {mode == 0 ? 0 : 1};
    QCOMPARE(f.support.SendToSockets("x"), result);
    QVERIFY(f.host.failures.isEmpty());
    QCOMPARE(f.host.sentLamp, 1);
    const QString events = f.events.lines.join(QLatin1Char('\n'));
    if (event.startsWith(QLatin1Char('!')))
        QVERIFY2(!events.contains(event.mid(1)), qPrintable(events));
    else
        QVERIFY2(f.events.lines.contains(event), qPrintable(events));
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
