#include "core/bytes.h"
#include "core/optionssource.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/detailslayout.h"
#include "display/detailsview.h"
#include "display/frmdetails.h"
#include "display/frmfilter.h"
#include "display/indicators.h"
#include "display/messagefilter.h"
#include "display/supportclass.h"
#include "display/supporthost.h"
#include "support/recordingevents.h"
#include "support/testenv.h"
#include "ui/frmwait.h"
#include "ui/scriptedui.h"
#include "ui/twips.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <array>
#include <functional>
#include <memory>

namespace {

// A list with the load-time columns, every change checked against the model rules.
class Model : public DataListModel
{
public:
    Model()
    {
        for (const char *title : {"#", "Time", "I/O", "Sock#", "Message"})
            appendColumn(QString::fromLatin1(title), 1000);
    }
    QString text(int row, int column) const { return data(index(row, column), Qt::DisplayRole).toString(); }
    // One column's texts, or by default the message or its fields, joined by "|".
    QStringList messages(int first = ColMessage, int last = -1) const
    {
        QStringList out;
        for (int r = 0; r < rowCount(); ++r) {
            QStringList cells;
            for (int c = first; c <= (last < 0 ? columnCount() - 1 : last); ++c)
                cells << text(r, c);
            out << cells.join(u'|');
        }
        return out;
    }
    QStringList column(int c) const { return messages(c, c); }
    void add(const QByteArray &message, bool incoming = true, RowIcon rowIcon = RowIcon::None)
    {
        NewRow r;
        r.incoming = incoming;
        r.icon = rowIcon;
        r.direction = incoming ? QStringLiteral("In") : QStringLiteral("Out");
        r.socket = QStringLiteral("NA");
        r.raw = message + "\r\n";
        r.cells.append(message);
        appendRow(std::move(r));
    }

    QAbstractItemModelTester tester{this, QAbstractItemModelTester::FailureReportingMode::QtTest};
};

QStringList latin1(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *item : items)
        out << QString::fromLatin1(item);
    return out;
}

// What the document must show for a byte stream: one line per CR, LF or CR LF.
QStringList expectedLines(const QByteArray &bytes)
{
    return QString::fromLatin1(QByteArray(bytes).replace("\r\n", "\n").replace('\r', '\n')).split(u'\n');
}

QStringList documentLines(const DataTextView &view)
{
    QStringList lines;
    for (QTextBlock b = view.document()->begin(); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

QColor colourAt(const DataTextView &view, int position)
{
    QTextCursor after(view.document());
    after.setPosition(position + 1); // a cursor has the format of the character before it
    return after.charFormat().foreground().color();
}

using Rep = DetailsLayout::Representation;
using Pos = DetailsLayout::Position;

// Random bytes, with every kind of line break sprinkled in.
QByteArray randomData(quint32 seed, qsizetype size)
{
    QRandomGenerator rng(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char &c : out)
        c = char(rng.bounded(256));
    const char *const breaks[] = {"\r\n", "\r", "\n", "\n\r", "\r\r\n"};
    for (int i = 0; i < size / 40; ++i) {
        const QByteArray b(breaks[rng.bounded(5)]);
        const qsizetype at = rng.bounded(qMax<qsizetype>(1, size - b.size()));
        out.replace(at, b.size(), b);
    }
    return out;
}

// The main window as the display and data path see it: three lists and text
// views, a filter that can be switched and slowed, and sockets whose states
// the test sets and whose writes and log calls are recorded.
class FakeSupportHost : public SupportHost
{
public:
    int currentMode() const override { return mode; }
    int showPosition(int) const override { return 0; }
    DataListModel *dataList(int m) const override { return lists[size_t(m)].get(); }
    DataTextView *textView(int m) const override { return texts[size_t(m)].get(); }
    bool filterOn() const override { return filter; }
    bool passesFilter(const QByteArray &message) const override
    {
        if (onFilter)
            onFilter(message);
        return message.contains(filterText);
    }
    int clientState() const override { return client; }
    int serverState(int i) const override { return i < servers.size() ? servers[i] : 0; }
    int highestServerIndex() const override { return int(servers.size()) - 1; }
    OsError writeClient(const QByteArray &d) override { return write(QStringLiteral("client:"), 0, d); }
    OsError writeServer(int i, const QByteArray &d) override
    {
        return write(QStringLiteral("server%1:").arg(i), i, d);
    }
    OsError write(const QString &to, int socket, const QByteArray &d)
    {
        writes << to + QString::fromLatin1(d);
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
    void holdArrivals(int socket, bool isHeld) override
    {
        if (isHeld)
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
    void closeClient() override {}
    void closeServer(int) override {}
    void holdReceiving(bool hold) override { held = hold; }
    void log(const QString &tag, const QByteArray &d) { logs << tag + QString::fromLatin1(d); }
    void IncomingDataArrived(const QString &s, const QByteArray &d) override
    {
        log(QStringLiteral("in[%1]").arg(s), d);
    }
    void OutgoingDataArrived(const QByteArray &d) override { log(QStringLiteral("out "), d); }
    void ClientToServerDataArrived(const QByteArray &d) override { log(QStringLiteral("c2s "), d); }
    void ServerToClientDataArrived(const QByteArray &d) override { log(QStringLiteral("s2c "), d); }
    void SentDataAdded() override {}
    void ReceivedDataAdded() override
    {
        if (duringReceivedAdded)
            std::exchange(duringReceivedAdded, nullptr)();
    }
    void DataHasBeenSent() override { ++sentLamp; }
    void UpdateReceivePauseBufferIndicator() override {}

    int mode = 0;
    std::array<std::unique_ptr<Model>, 3> lists{std::make_unique<Model>(), std::make_unique<Model>(),
                                                std::make_unique<Model>()};
    std::array<std::unique_ptr<DataTextView>, 3> texts{
        std::make_unique<DataTextView>(), std::make_unique<DataTextView>(), std::make_unique<DataTextView>()};
    bool filter = false;
    QByteArray filterText;
    std::function<void(const QByteArray &)> onFilter;
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
    QStringList writes, logs;
    int sentLamp = 0;
    std::function<void()> duringReceivedAdded;
};

constexpr int kClient = 0;
constexpr int kServer = 1;
using Col = DataListModel::Column;

QByteArray crlfMessages(int count, const QByteArray &prefix = "m")
{
    QByteArray data;
    for (int i = 0; i < count; ++i)
        data += prefix + QByteArray::number(i) + "\r\n";
    return data;
}

bool noWaitWindow()
{
    const QWidgetList all = QApplication::topLevelWidgets();
    return std::none_of(all.begin(), all.end(), [](QWidget *w) { return qobject_cast<frmWait *>(w); });
}

// Sees a progress window shown, by the events that reach it, and runs the
// action on it then. Until one shows, every turn of the event loop sleeps,
// so the conversion outlasts the second before it appears.
class WaitWindowWatcher : public QObject
{
public:
    explicit WaitWindowWatcher(std::function<void(frmWait *)> act = {}) : m_act(std::move(act))
    {
        qApp->installEventFilter(this);
        connect(&m_timer, &QTimer::timeout, this, [this] { QThread::msleep(shown ? 0 : 100); });
        if (m_act)
            m_timer.start(0);
    }
    ~WaitWindowWatcher() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *wait = qobject_cast<frmWait *>(watched);
        if (wait && event->type() == QEvent::Show && !std::exchange(shown, wait) && m_act)
            m_act(wait);
        return false;
    }
    frmWait *shown = nullptr;
    std::function<void(frmWait *)> m_act;
    QTimer m_timer;
};

} // namespace

class TestDisplay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_options = DefaultOptions();
        m_options.maxListLength = 1000000;
        m_options.maxListSize = 100 * 1024 * 1024;
        tw::setOptions(&m_options);
        m_events.lines.clear();
        m_host = std::make_unique<FakeSupportHost>();
        m_support = std::make_unique<SupportClass>();
        m_support->setHost(m_host.get());
        m_host->support = m_support.get();
        m_ui.clear();
    }

    void cleanup()
    {
        m_support.reset();
        m_host.reset();
        tw::setOptions(nullptr);
    }

    void limitsClearBothViews_data()
    {
        QTest::addColumn<QString>("limit"); // as the event names it
        QTest::addColumn<QByteArray>("filter"); // what a message must hold to pass, if the filter is on
        QTest::addColumn<QByteArrayList>("arrivals");
        QTest::addColumn<int>("clears");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QByteArray>("text");
        // Within one arrival the list is emptied as often as it fills; the text
        // view is emptied too, before this arrival's text is added.
        QStringList lastRows;
        for (int i = 100; i < 150; ++i)
            lastRows << QStringLiteral("n%1").arg(i);
        QTest::newRow("rows: at the limit, then past it twice")
            << "100 rows" << QByteArray() << QByteArrayList{crlfMessages(100), crlfMessages(150, "n")} << 2
            << lastRows << crlfMessages(150, "n");
        // 1018 + 3 + 2 is one short of the limit.
        QTest::newRow("bytes: escapes count in their shown length")
            << "1024 bytes" << QByteArray()
            << QByteArrayList{QByteArray(1018, 'y') + "\x01\r\n", "x\r\n", "fresh\r\n"} << 1
            << latin1({"fresh"}) << QByteArray("fresh\r\n");
        const QByteArray line = QByteArray(300, 'z') + "\r\n";
        QTest::newRow("bytes: the text view's, with nothing passing the filter")
            << "1024 bytes" << QByteArray("match") << QByteArrayList(12, line) << 2 << QStringList()
            << line.repeated(4);
    }

    void limitsClearBothViews()
    {
        QFETCH(QString, limit);
        QFETCH(QByteArray, filter);
        QFETCH(QByteArrayList, arrivals);
        QFETCH(int, clears);
        const int bound = limit.section(u' ', 0, 0).toInt();
        (limit.endsWith(QLatin1String("rows")) ? m_options.maxListLength : m_options.maxListSize) = bound;
        m_host->filter = !filter.isEmpty();
        m_host->filterText = filter;
        for (const QByteArray &arrival : arrivals)
            display(arrival);
        const QString cleared = QStringLiteral("Cleared the window because the amount of data exceeded %1.");
        QCOMPARE(m_events.lines, QStringList(clears, cleared.arg(limit)));
        QTEST(list().messages(), "rows");
        QTEST(text().bytes(), "text");
    }

    void messageRows_data()
    {
        QTest::addColumn<QByteArray>("separator");
        // W whole messages (no splitting), F field separator shown, M message separator shown, Q quotes
        // (the options' own, here '), S separators apart (not concatenated), P messages end at "|"
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("rows");
        const auto row = [](const char *name, const char *flags, const QByteArray &separator,
                            const QByteArray &data, std::initializer_list<const char *> rows) {
            QTest::newRow(name) << separator << QString::fromLatin1(flags) << data << latin1(rows);
        };
        row("whole, separator shown", "WM", "", "a\r\nb", {"a\\0D\\0A", "b"});
        row("whole, joined separators: one dropped", "W", "", "a\r\n\r\nb", {"a\\0D\\0A", "b"});
        row("whole, separators apart", "WS", "", "a\r\n\r\nb\rc\n", {"a", "", "b\\0Dc\\0A"});
        row("whole, no data: one empty row", "W", "", "", {""});
        row("fewer fields leave cells empty", "", ",", "f1,f2,f3\r\ng1\r\n", {"f1|f2|f3", "g1||"});
        row("field separator shown", "F", ";", "a;b;c\r\n", {"a;|b;|c"});
        row("message separator shown", "M", ";", "x;y\r\n", {"x|y\\0D\\0A"});
        row("quoted separators ignored", "Q", ";", "p;'q;r';s\r\n", {"p|'q;r'|s"});
        row("message separator from the options", "WP", "", "a|b\r\nc|", {"a", "b\\0D\\0Ac"});
        // Each row shows its own message, never a previous one.
        row("empty separator: the whole message", "", "", "first,message\r\nsecond\r\nthird",
            {"first,message", "second", "third"});
        // The last column the list allows shows the rest of the message unsplit.
        QByteArrayList fields;
        for (int i = 1; i <= SupportClass::kMaxFieldColumns + 50; ++i)
            fields << QByteArray::number(i);
        const qsizetype split = SupportClass::kMaxFieldColumns - 1;
        QTest::newRow("more fields than columns")
            << QByteArray(",") << QString() << fields.join(',') + "\r\n"
            << QStringList{
                   QString::fromLatin1(fields.mid(0, split).join('|') + '|' + fields.mid(split).join(','))};
    }

    void messageRows()
    {
        QFETCH(QByteArray, separator);
        QFETCH(QString, flags);
        QFETCH(QByteArray, data);
        m_options.splitFields = !flags.contains(QLatin1Char('W'));
        m_options.fieldSeparator = separator;
        m_options.displayFieldSep = flags.contains(QLatin1Char('F'));
        m_options.displayMessageSep = flags.contains(QLatin1Char('M'));
        m_options.ignoreBetween = flags.contains(QLatin1Char('Q'));
        m_options.ignoreText = "'";
        m_options.messageSeparator = flags.contains(QLatin1Char('P')) ? "|" : "\r\n";
        m_options.concat = !flags.contains(QLatin1Char('S'));
        display(data);
        QTEST(list().messages(), "rows");
        // Tags are whole: together they are the data.
        QByteArray tags;
        for (int r = 0; r < list().rowCount(); ++r)
            tags += list().rawTag(r);
        QCOMPARE(tags, data);
        QCOMPARE(text().bytes(), Bytes::GetChar2(data));
        if (!m_options.splitFields)
            return;
        QCOMPARE(list().headerText(list().columnCount() - 1),
                 QStringLiteral("Field %1").arg(list().columnCount() - Col::ColMessage));

        // Splitting off: the fifth header reads "Message" again, no column goes.
        const int columns = list().columnCount();
        m_options.splitFields = false;
        display("whole;line\r\n");
        QCOMPARE(list().headerText(Col::ColMessage), QStringLiteral("Message"));
        QCOMPARE(list().columnCount(), columns);
    }

    void filterSkipsRowsNotText()
    {
        m_host->filter = true;
        m_host->filterText = "match";
        display("none\r\na match\r\nnot\r\n");
        QCOMPARE(list().messages(), latin1({"a match"}));
        QCOMPARE(text().bytes(), QByteArray("none\r\na match\r\nnot\r\n"));

        // Without the caller asking, or with the filter off, everything shows.
        display("not asked\r\n", true, kClient, false);
        m_host->filter = false;
        display("filter off\r\n");
        QCOMPARE(list().messages(), latin1({"a match", "not asked", "filter off"}));
    }

    void arrivalsDuringADisplayKeepTheirOrder()
    {
        slowFilter();
        // Arrivals come in while the first display lets events run.
        int rowsWhenSecondArrived = -1;
        QTimer::singleShot(0, [this, &rowsWhenSecondArrived] {
            rowsWhenSecondArrived = list().heldRowCount();
            display("second\r\n", true, kClient, true, QStringLiteral("7"));
            display("third\r\n", false);
        });
        const QByteArray first = crlfMessages(3000);
        display(first);
        QVERIFY(rowsWhenSecondArrived > 0 && rowsWhenSecondArrived < 3000);
        QCOMPARE(list().messages(Col::ColDirection).mid(2999),
                 latin1({"In|NA|m2999", "In|7|second", "Out|NA|third"}));
        QCOMPARE(text().bytes(), first + "second\r\nthird\r\n");
        QVERIFY(text().isIncomingAt(0) && !text().isIncomingAt(text().length() - 1));

        // An arrival from inside the display itself (not through the event loop) waits its turn too.
        m_host->onFilter = [this](const QByteArray &message) {
            if (message == "m1\r\n")
                display("inner\r\n");
        };
        display(crlfMessages(3));
        QCOMPARE(list().messages().mid(3002), latin1({"m0", "m1", "m2", "inner"}));
    }

    void changesDuringADisplay()
    {
        slowFilter();
        // A limit lowered while a display lets events run applies to its rest.
        QTimer::singleShot(0, [this] { m_options.maxListLength = 10; });
        display(crlfMessages(3000));
        QVERIFY(list().rowCount() <= 10);
        QCOMPARE(list().messages().constLast(), QStringLiteral("m2999"));

        // The list and the text view go away in the middle of a display.
        QTimer::singleShot(0, [this] {
            m_host->lists[kClient].reset();
            m_host->texts[kClient].reset();
        });
        display(crlfMessages(3000));
        QVERIFY(!m_host->lists[kClient]);

        // The support object itself goes away, with an arrival waiting.
        bool queued = false;
        QTimer::singleShot(0, [this, &queued] {
            display("waiting\r\n", true, kServer);
            queued = list(kServer).heldRowCount() < 3000;
            m_support.reset();
        });
        display(crlfMessages(3000), true, kServer);
        QVERIFY(queued);
        // The rows made so far reached the view; the waiting arrival never ran.
        QCOMPARE(list(kServer).rowCount(), list(kServer).heldRowCount());
        QVERIFY(list(kServer).rowCount() < 3000);
        QCOMPARE(text(kServer).length(), 0);
    }

    void cancelStopsRowsButNotText()
    {
        const QByteArray data = crlfMessages(3000);
        // A slow filter makes the display outlast the progress delay.
        slowFilter();
        bool cancelled = false;
        m_host->onFilter = [&](const QByteArray &) {
            if (cancelled)
                return;
            if (m_support->progressWindow()->isVisible()) {
                m_support->progressWindow()->findChild<QPushButton *>(QStringLiteral("cmdCancel"))->click();
                cancelled = true;
            } else {
                QThread::usleep(1000);
            }
        };
        display(data);
        QVERIFY(list().rowCount() > 0 && list().rowCount() < 3000);
        QCOMPARE(text().bytes(), data);
        QVERIFY(!m_support->progressWindow()->isVisible());

        // The next display starts afresh and is not cancelled.
        m_host->onFilter = nullptr;
        const int before = list().rowCount();
        display(crlfMessages(5));
        QCOMPARE(list().rowCount(), before + 5);
    }

    // Data sent or passed on, by mode and the sockets' states: what is written,
    // logged, shown (icon|direction|socket) and announced.
    void sendingByMode_data()
    {
        for (const char *column : {"mode", "client"})
            QTest::addColumn<int>(column);
        QTest::addColumn<QList<int>>("servers");
        QTest::addColumn<QString>(
            "faults"); // "failing" or "gone" (ended before the poll saw it), then sockets
        // "send", "send up" (from a client), "receive" (from the server), "to sockets" (the write alone)
        // or "to sockets up"; the last two return the result
        QTest::addColumn<QString>("call");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QByteArray>("data");
        for (const char *column : {"writes", "logs", "row"})
            QTest::addColumn<QStringList>(column);
        QTest::addColumn<QString>("event"); // an event logged, or after "!" what no event may contain
        QTest::addColumn<int>("lamp");
        using L = std::initializer_list<const char *>;
        const auto row = [](const char *name, int mode, int client, const QList<int> &servers,
                            const char *faults, const char *call, bool result, const char *data, L writes,
                            L logs, const char *shown, const char *event, int lamp) {
            QTest::newRow(name) << mode << client << servers << QString::fromLatin1(faults)
                                << QString::fromLatin1(call) << result << QByteArray(data) << latin1(writes)
                                << latin1(logs) << latin1(*shown ? L{shown} : L{})
                                << QString::fromLatin1(event) << lamp;
        };
        // Nothing was written, so nothing is announced as sent.
        row("client, closed", 0, 0, {0}, "", "send", true, "abc", {}, {"out abc"}, "unplugged|Out|NA",
            "!Sent ", 1);
        row("client, connected", 0, 7, {0}, "", "send", true, "hello", {"client:hello"}, {"out hello"},
            "tick|Out|NA", "Sent 5 bytes down the socket.", 1);
        row("server, none connected", 1, 0, {0}, "", "send", true, "xyz", {}, {"out xyz"},
            "unplugged|Out|ALL", "Sent 3 bytes to all of the socket clients.", 1);
        // Pass Through sends nothing that has no direction.
        row("pass through, no direction", 2, 7, {2, 7}, "", "send", true, "x", {}, {}, "", "!Passed", 0);
        // Relayed first, then shown.
        row("pass through, from a client", 2, 7, {2, 7, 7}, "", "send up", true, "up", {"client:up"},
            {"c2s up"}, "tick|C2S|ALL", "Passed 2 bytes of data to the socket client.", 1);
        row("pass through, from the server", 2, 7, {2, 7, 7}, "", "receive", true, "down",
            {"server1:down", "server2:down"}, {"s2c down", "in[]down"}, "tick|S2C|NA",
            "Passed 4 bytes of data to all of the socket clients.", 1);
        // A failed write lights nothing and announces nothing as sent; one client
        // that cannot be written to keeps nothing from the others, and the user is
        // told once.
        row("write fails: client", 0, 7, {0}, "failing 0", "to sockets up", false, "x", {"client:x"},
            {"out x"}, "", "! bytes ", 0);
        row("write fails: every client", 1, 7, {2, 7, 7, 0, 7}, "failing 1 2", "to sockets up", false, "x",
            {"server1:x", "server2:x", "server4:x"}, {"out x"}, "", "! bytes ", 0);
        row("write fails: relay to clients", 2, 7, {2, 7, 7}, "failing 1", "to sockets up", false, "x",
            {"server1:x", "server2:x"}, {"s2c x"}, "", "! bytes ", 0);
        // A connection that ended before its polled state shows it takes nothing;
        // as with any socket not connected, that is no failure: nothing is told,
        // the lamp lights, and only what was written is announced.
        row("ended: client", 0, 7, {0}, "gone 0", "to sockets", false, "x", {"client:x"}, {"out x"}, "",
            "!Sent ", 1);
        row("ended: one of the clients", 1, 7, {2, 7, 7, 0, 7}, "gone 1", "to sockets", true, "x",
            {"server1:x", "server2:x", "server4:x"}, {"out x"}, "",
            "Sent 1 bytes to all of the socket clients.", 1);
    }

    void sendingByMode()
    {
        QFETCH(int, mode);
        QFETCH(QString, faults);
        QFETCH(QString, call);
        QFETCH(QByteArray, data);
        QFETCH(QString, event);
        m_options.verbose = true;
        m_host->mode = mode;
        QFETCH(int, client);
        m_host->client = client;
        QFETCH(QList<int>, servers);
        m_host->servers = servers;
        const QStringList faulty = faults.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QSet<int> &sockets = faults.startsWith(QLatin1String("gone")) ? m_host->gone : m_host->failing;
        for (const QString &socket : faulty.mid(1))
            sockets.insert(socket.toInt());
        if (call.startsWith(QLatin1String("to sockets")))
            QTEST(m_support->SendToSockets(data, call.endsWith(QLatin1String("up")) ? std::optional(true)
                                                                                    : std::nullopt),
                  "result");
        else if (call == QLatin1String("receive"))
            m_support->DataReceivedOnSocket(data, QStringLiteral("NA"), true);
        else
            m_support->SendDataDownSocket(data, call == QLatin1String("send up") ? std::optional(false)
                                                                                 : std::nullopt);
        QTEST(m_host->writes, "writes");
        QTEST(m_host->logs, "logs");
        static const char *const icons[] = {"none", "tick", "unplugged"};
        QStringList rows = list(mode).messages(Col::ColDirection, Col::ColSocket);
        for (int r = 0; r < rows.size(); ++r)
            rows[r].prepend(QString::fromLatin1(icons[int(list(mode).icon(r))]) + u'|');
        QTEST(rows, "row");
        const QString events = m_events.lines.join(QLatin1Char('\n'));
        if (event.startsWith(QLatin1Char('!')))
            QVERIFY2(!events.contains(event.mid(1)), qPrintable(events));
        else
            QVERIFY2(m_events.lines.contains(event), qPrintable(events));
        QTEST(m_host->sentLamp, "lamp");
        QCOMPARE(m_host->failures, m_host->failing.isEmpty() ? QList<int>() : QList<int>{10054});
    }

    // The window-level table (resume, empty, clear) checks the events, the
    // gauge and the log; here the bound, the hold and the Pass Through relay.
    void pauseBufferRoundTrip()
    {
        m_host->mode = 1;
        m_support->blnReceivePaused = true;
        m_support->pauseBufferLimit = 30;
        m_support->DataReceivedOnSocket(QByteArray(10, 'a'), QStringLiteral("2"), true);
        m_support->DataReceivedOnSocket(QByteArray(19, 'b'), QStringLiteral("2"), true);
        QVERIFY(!m_host->held);
        // At its bound the buffer holds the sockets back; it takes the arrival whole.
        m_support->DataReceivedOnSocket(QByteArray(1, 'b') + QByteArray(30, 'c'), QStringLiteral("3"), true);
        QVERIFY(m_host->held);

        m_support->blnReceivePaused = false;
        m_support->ReleaseReceiveBuffer();
        QVERIFY(!m_host->held);
        QCOMPARE(list(1).column(Col::ColSocket), latin1({"NA"}));
        QCOMPARE(list(1).rawTag(0), QByteArray(10, 'a') + QByteArray(20, 'b') + QByteArray(30, 'c'));
        // Each arrival is logged, and the release; an empty buffer releases nothing.
        m_support->ReleaseReceiveBuffer();
        QCOMPARE(m_host->logs.size(), 4);

        // Emptying it lets the sockets go.
        m_support->blnReceivePaused = true;
        m_support->DataReceivedOnSocket(QByteArray(40, 'x'), QStringLiteral("2"), true);
        QVERIFY(m_host->held);
        m_support->DestroyReceiveBuffer();
        QVERIFY(m_support->strReceiveBuffer.isEmpty() && !m_host->held);

        // In Pass Through, what was held is relayed when released.
        m_host->mode = 2;
        m_host->client = 7;
        m_host->servers = {2, 7};
        m_support->DataReceivedOnSocket("held", QStringLiteral("NA"), true);
        QVERIFY(m_host->writes.isEmpty());
        m_support->blnReceivePaused = false;
        m_support->ReleaseReceiveBuffer();
        QCOMPARE(m_host->writes, QStringList{QStringLiteral("server1:held")});
    }

    void arrivalsWhileBusyWaitInTheirSockets()
    {
        m_host->mode = 1;
        m_host->servers = {2, 7, 7, 7};
        // While the first arrival is worked on (events run inside its display),
        // other sockets get data, the first socket more, and the user sends:
        // nothing more is read, the send waits its turn, the sockets are held.
        m_host->duringReceivedAdded = [this] {
            m_host->arrive(2, "b1\r\n");
            m_host->arrive(2, "b2\r\n");
            m_host->arrive(3, "c1\r\n");
            m_host->arrive(1, "a2\r\n");
            m_support->SendDataDownSocket("typed\r\n");
            QCOMPARE(m_host->heldSockets, (QSet<int>{1, 2, 3}));
        };
        m_host->arrive(1, "a1\r\n");
        QCOMPARE(m_host->logs, latin1({"in[1#: ]a1\r\n", "out typed\r\n"}));
        QCOMPARE(m_support->bytesHeld(), qint64(0));
        // Then one read per socket and turn, in the order their data arrived.
        QTRY_COMPARE(m_host->logs.size(), 6);
        QCOMPARE(m_host->logs.mid(2),
                 latin1({"in[2#: ]b1\r\n", "in[3#: ]c1\r\n", "in[1#: ]a2\r\n", "in[2#: ]b2\r\n"}));
        QVERIFY(m_host->heldSockets.isEmpty());
        QCOMPARE(m_support->mostBytesHeld(), qint64(4 + 7));
        QCOMPARE(list(1).cell(5, DataListModel::ColMessage), QByteArray("b2"));
    }

    void escapeConversions()
    {
        // One variable as both text and result.
        const QByteArray text("a\\0D\\0A\\\\b");
        QByteArray same = text;
        QVERIFY(m_support->GetRaw(same, false, same));
        QCOMPARE(same, text);
        QVERIFY(m_support->GetRaw(same, true, same));
        QCOMPARE(same, QByteArray("a\r\n\\b"));

        // A text long enough for a progress window, converted fast, never shows it.
        const QByteArray longer = QByteArray("\\41").repeated(333) + "xx";
        WaitWindowWatcher watcher;
        QVERIFY(m_support->GetRaw(longer, true, same));
        QVERIFY(!watcher.shown);
        QCOMPARE(same, Bytes::FromEscaped(longer));

        // A long conversion (of escapes, doubled and lone backslashes and plain
        // text) shows its progress and may be cancelled or stopped.
        const QByteArray escapes("\\0D\\0A\\5c\\\\abc\\G1\\ffx");
        for (bool cancel : {true, false}) {
            m_ui.clear();
            const QByteArray text = escapes.repeated(1 << 20);
            QString label;
            int percent = -1;
            WaitWindowWatcher watcher([&](frmWait *wait) {
                label = wait->label();
                percent = wait->percent();
                if (cancel)
                    QTest::mouseClick(wait->findChild<QPushButton *>(QStringLiteral("cmdCancel")),
                                      Qt::LeftButton);
                else
                    m_support->StopGettingRaw();
            });
            QByteArray out;
            QVERIFY(!m_support->GetRaw(text, true, out));
            QCOMPARE(label, QStringLiteral("Preparing data..."));
            QVERIFY(percent > 0 && percent < 100);
            const QString cancelled =
                QStringLiteral("You have cancelled the operation.  No data will be sent.");
            QCOMPARE(m_ui.messages(), cancel ? QStringList{cancelled} : QStringList());
            QVERIFY(!cancel || m_ui.prompts[0].icon == UiService::Icon::Information);
            // What was converted before is a true prefix of the result.
            const QByteArray full = Bytes::FromEscaped(text);
            QVERIFY(out.size() < full.size() && full.startsWith(out));
            QVERIFY(noWaitWindow());

            // The flags start afresh with the next conversion.
            QVERIFY(m_support->GetRaw("\\41", true, out));
        }

        // The owner of the support object may go away while events run.
        m_ui.clear();
        QTimer::singleShot(0, this, [this] { m_support.reset(); });
        QByteArray out;
        QVERIFY(!m_support->GetRaw(escapes.repeated(160 << 10), true, out));
        QVERIFY(!m_support);
        QVERIFY(m_ui.prompts.isEmpty());
        QVERIFY(noWaitWindow());
    }

    void rowContents()
    {
        Model m;
        m.add("hello", true, Model::RowIcon::Tick);
        m.add("bye", false, Model::RowIcon::Unplugged);
        m.add("plain", false);
        // The raw tag keeps the separator, whatever column is asked.
        QCOMPARE(m.data(m.index(0, 3), DataListModel::RawRole).toByteArray(), QByteArray("hello\r\n"));

        // Only the "#" cell is coloured by direction.
        QCOMPARE(m.data(m.index(0, 0), Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
        QCOMPARE(m.data(m.index(1, 0), Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
        QVERIFY(!m.data(m.index(0, 4), Qt::ForegroundRole).isValid());

        // Tick and unplugged cable differ; no icon shows nothing.
        const QIcon tick = m.data(m.index(0, 0), Qt::DecorationRole).value<QIcon>();
        const QIcon unplugged = m.data(m.index(1, 0), Qt::DecorationRole).value<QIcon>();
        QVERIFY(!tick.isNull() && !unplugged.isNull());
        QVERIFY(tick.pixmap(16, 16).toImage() != unplugged.pixmap(16, 16).toImage());
        QVERIFY(!m.data(m.index(2, 0), Qt::DecorationRole).isValid());

        // Out of range asks give nothing rather than garbage.
        QVERIFY(!m.data(m.index(5, 0), Qt::DisplayRole).isValid());
        QCOMPARE(m.rawTag(-1), QByteArray());
        QCOMPARE(m.rawTag(3), QByteArray());

        // Packed cells keep every byte (a row's missing fields: the message table).
        for (const char *field : {"Field 2", "Field 3", "Field 4"})
            m.appendColumn(QString::fromLatin1(field), 1200);
        DataListModel::NewRow r;
        r.time = QTime(14, 3, 9, 500);
        r.cells = {QByteArray("first"), QByteArray(), QByteArray("a\0b", 3)};
        m.appendRow(std::move(r));
        QCOMPARE(m.text(3, DataListModel::ColTime), QStringLiteral("14:03:09.500"));
        QCOMPARE(m.cell(3, 6), QByteArray("a\0b", 3));
        QCOMPARE(m.text(3, 6), QString::fromLatin1("a\0b", 3));
    }

    void longCellsShowABoundedPrefix_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<bool>("fromRaw");
        QTest::addColumn<QString>("shown");
        const qsizetype n = DataListModel::kCellChars;
        const QString more(QChar(DataListModel::kMoreMark));
        const QByteArray big(1 << 20, 'x');
        QTest::newRow("message at the bound") << QByteArray(n, 'a') << true << QString(n, u'a');
        QTest::newRow("1 MB message") << big << true << QString(n, u'x') + more;
        // Escaped, the bytes at the bound grow past it: the escape is not cut through.
        QTest::newRow("escape across the bound")
            << QByteArray(n - 2, 'a') + "\x01" << true << QString(n - 2, u'a') + more;
        QTest::newRow("1 MB field") << big << false << QString(n, u'x') + more;
        QTest::newRow("field of escapes")
            << QByteArray(n, '\x01') << false << QString(QStringLiteral("\\01")).repeated(n / 3) + more;
    }

    void longCellsShowABoundedPrefix()
    {
        QFETCH(QByteArray, raw);
        QFETCH(bool, fromRaw);
        QFETCH(QString, shown);
        Model m;
        DataListModel::NewRow r;
        r.raw = raw + "\r\n";
        if (fromRaw)
            r.cellFromRawChop = 2;
        else
            r.cells.append(Bytes::GetChar(raw));
        m.appendRow(std::move(r));
        QCOMPARE(m.text(0, DataListModel::ColMessage), shown);
        // The row keeps the whole: the details viewer's tag and the cell.
        QCOMPARE(m.rawTag(0), raw + "\r\n");
        QCOMPARE(m.cell(0, DataListModel::ColMessage), Bytes::GetChar(raw));
    }

    void batchAnnouncesOnceAtFlush()
    {
        Model m;
        QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
        m.beginBatch();
        m.beginBatch(); // nested: only the outermost end announces
        for (int i = 0; i < 50; ++i)
            m.add("a");
        // Held rows are numbered and reachable before views hear of them.
        QCOMPARE(m.numberText(49), QStringLiteral("050"));
        m.flush();
        QCOMPARE(inserted.count(), 1);

        // Columns may change while rows are held.
        m.add("b");
        m.appendColumn(QStringLiteral("Field 2"), 1200);
        m.setHeaderText(4, QStringLiteral("Field 1"));
        m.endBatch();
        QCOMPARE(m.rowCount(), 50);
        m.endBatch();
        QCOMPARE(m.rowCount(), 51);
        QCOMPARE(inserted.count(), 2);

        // Outside a batch every row is announced at once; an unbalanced end does no harm.
        m.endBatch();
        m.add("c");
        QCOMPARE(m.rowCount(), 52);
        QCOMPARE(inserted.count(), 3);
    }

    void sortByHeader_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("longCells"); // the messages behind a prefix longer than a cell shows
        // Messages added in this order: b, A, c, a, B (rows 001 to 005).
        QTest::newRow("message ascending, case ignored, ties keep order")
            << QList<int>{4} << 4 << latin1({"A", "a", "b", "B", "c"}) << false;
        const QStringList numbers = latin1({"002", "004", "001", "005", "003"});
        QTest::newRow("numbers keep their rows") << QList<int>{4} << 0 << numbers << false;
        QTest::newRow("long cells sort by the whole message") << QList<int>{4} << 0 << numbers << true;
        QTest::newRow("same column again reverses")
            << QList<int>{4, 4} << 4 << latin1({"c", "b", "B", "A", "a"}) << false;
        QTest::newRow("another column starts ascending")
            << QList<int>{4, 4, 0} << 0 << latin1({"001", "002", "003", "004", "005"}) << false;
    }

    void sortByHeader()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(int, column);
        QFETCH(bool, longCells);
        const QByteArray prefix(longCells ? DataListModel::kCellChars + 10 : 0, 'x');
        Model m;
        for (const char *s : {"b", "A", "c", "a", "B"})
            m.add(prefix + s);
        const QPersistentModelIndex kept(m.index(0, 4));
        for (int c : clicks)
            m.sortByHeader(c);
        QTEST(m.column(column), "expected");
        // Indexes held elsewhere follow their rows (the first is 001); a new
        // row goes at the end, numbered from the row count.
        QCOMPARE(m.text(kept.row(), 0), QStringLiteral("001"));
        m.add("z");
        QCOMPARE(m.text(5, 0), QStringLiteral("006"));
    }

    void attachedViewSortsSizesAndShowsLastRow()
    {
        Model m;
        QTreeView view;
        view.header()->setStretchLastSection(false);
        m.attachView(&view);
        view.resize(800, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        m.appendColumn(QStringLiteral("Field 2"), 1200);
        m.setColumnWidthTwips(4, 1500);
        QCOMPARE(view.columnWidth(4), Twips::toPixelsX(1500));
        QCOMPARE(view.columnWidth(5), Twips::toPixelsX(1200));

        // A message longer than its cell shows is copied whole.
        const QByteArray longest(DataListModel::kCellChars + 10, 'z');
        for (const QByteArray &s : {QByteArray("m"), longest, QByteArray("a")})
            m.add(s);
        QHeaderView *header = view.header();
        const QPoint at(header->sectionViewportPosition(4) + header->sectionSize(4) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(m.column(0), latin1({"002", "001", "003"}));
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        view.setCurrentIndex(m.index(0, 4));
        QTest::keySequence(&view, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), QString::fromLatin1(longest));

        m.beginBatch();
        for (int i = 0; i < 500; ++i)
            m.add(QByteArray::number(i));
        m.showLastRow(); // announces held rows first
        QCOMPARE(view.currentIndex().row(), 502);
        QVERIFY(view.selectionModel()->isRowSelected(502, QModelIndex()));
        QTRY_VERIFY(view.visualRect(m.index(502, 0)).intersects(view.viewport()->rect()));

        // Clearing, held rows too, goes without a reset, so the view keeps its
        // column widths and hidden columns; numbering starts again.
        view.setColumnWidth(1, 123);
        view.setColumnHidden(3, true);
        QSignalSpy reset(&m, &QAbstractItemModel::modelReset);
        m.clear();
        QCOMPARE(m.columnCount(), 6);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(view.columnWidth(1), 123);
        QVERIFY(view.isColumnHidden(3));
        m.add("new");
        m.endBatch();
        QTRY_COMPARE(m.column(0), latin1({"001"}));
    }

    void textViewBytesAndCaret_data()
    {
        QTest::addColumn<QList<QByteArray>>("appends");
        QTest::addColumn<int>("renderEvery"); // shown after every n-th append, or only at the end
        QTest::newRow("CR LF, lone CR and LF, blank lines") << QList<QByteArray>{"a\r\nb\rc\n\r\n\n\r"} << 0;
        QTest::newRow("escapes and empty appends") << QList<QByteArray>{"", "x\\0D", "", "y\\5C\r\n"} << 0;
        // A CR LF whose halves arrive apart is still one line break.
        const QList<QByteArray> split{"one\r", "\ntwo\r", "\r\nthree"};
        QTest::newRow("CR LF split") << split << 0;
        QTest::newRow("CR LF split, shown between") << split << 1;
        // Clearing drops what is shown and what waits to be.
        QTest::newRow("cleared") << QList<QByteArray>{"abc\r\ndef", "<clear>", "\nnew"} << 1;
        QRandomGenerator rng(7);
        static const char *const kPieces[] = {"\r\n", "\r", "\n", "ab", "\\0D", "xyz", "\r\n\r\n"};
        QList<QByteArray> pieces;
        for (int i = 0; i < 60; ++i)
            pieces << kPieces[rng.bounded(7)];
        QTest::newRow("random pieces") << pieces << 13;
    }

    void textViewBytesAndCaret()
    {
        QFETCH(QList<QByteArray>, appends);
        QFETCH(int, renderEvery);
        DataTextView view;
        QByteArray all;
        for (qsizetype i = 0; i < appends.size(); ++i) {
            if (appends[i] == "<clear>") {
                view.append("pending", true);
                view.clear();
                all.clear();
                continue;
            }
            view.append(appends[i], i % 2 == 0);
            all += appends[i];
            if (renderEvery && i % renderEvery == 0)
                view.renderAll();
        }
        QCOMPARE(view.bytes(), all);
        QCOMPARE(view.caretOffset(), all.size());
        // Beyond the ends the caret stops at the ends.
        for (qsizetype offset = -5; offset <= all.size() + 5; ++offset) {
            view.setCaretOffset(offset);
            const qsizetype at = qBound<qsizetype>(0, offset, all.size());
            QCOMPARE(view.caretOffset(), at);
            QCOMPARE(view.textAfterCaret(300), all.mid(at, 300));
            QCOMPARE(view.textAfterCaret(3), all.mid(at, 3));
        }
        view.renderAll();
        QCOMPARE(documentLines(view), expectedLines(all));
        // From the document side, as a click or a key places the caret: every
        // position is one byte, but a CR LF is one position (at its CR).
        QList<qsizetype> expected, offsets;
        for (qsizetype i = 0; i <= all.size(); ++i) {
            if (i == 0 || all[i - 1] != '\r' || i == all.size() || all[i] != '\n')
                expected << i;
        }
        for (int position = 0; position < view.document()->characterCount(); ++position) {
            QTextCursor c = view.textCursor();
            c.setPosition(position);
            view.setTextCursor(c);
            offsets << view.caretOffset();
        }
        QCOMPARE(offsets, expected);
    }

    // Hidden, a view renders nothing and catches up when shown. Each byte is
    // coloured by its direction, within a line too; a copy keeps the line
    // breaks' own bytes.
    void shownViewColoursAndCopies()
    {
        DataTextView view;
        view.append("ab\r\ncd", true);
        view.append("x\ref\n", false);
        view.append("gh", true);
        QVERIFY(view.document()->isEmpty());
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTRY_VERIFY(!view.hasPendingRender());
        const QTextDocument *document = view.document();
        QCOMPARE(colourAt(view, document->findBlockByNumber(1).position() + 1), QColor(255, 0, 0));
        QCOMPARE(colourAt(view, document->findBlockByNumber(1).position() + 2), QColor(0, 0, 255));
        QCOMPARE(colourAt(view, document->findBlockByNumber(2).position() + 1), QColor(0, 0, 255));
        QCOMPARE(colourAt(view, document->findBlockByNumber(3).position()), QColor(255, 0, 0));
        QVERIFY(view.isIncomingAt(5) && !view.isIncomingAt(6) && !view.isIncomingAt(10) &&
                view.isIncomingAt(11));
        QTextCursor c = view.textCursor();
        c.setPosition(1);
        c.setPosition(document->findBlockByNumber(3).position() + 1, QTextCursor::KeepAnchor);
        view.setTextCursor(c);
        view.copy();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("b\r\ncdx\ref\ng"));

        // A large append while shown reaches the document in slices, in order.
        const QByteArray big = crlfMessages(20000, "message ");
        view.append(big, false);
        QTRY_VERIFY(!view.hasPendingRender());
        QCOMPARE(documentLines(view), expectedLines("ab\r\ncdx\ref\ngh" + big));
    }

    void pauseGaugeScale()
    {
        // The gauge's scale grows by tens to hold the buffer and shrinks back when it empties.
        PauseGaugeScale scale;
        QList<int> seen;
        for (const qint64 length : {10, 30, 60, 1000, 1001, 2500, 12345678, 0, 500})
            seen << scale.percentFor(length);
        QCOMPARE(seen, (QList<int>{1, 3, 6, 100, 10, 25, 12, 0, 50}));
    }

    void representations_data()
    {
        QTest::addColumn<int>("rep");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("caption");

        // The worked example, A CR LF, random data and no data, in each representation.
        struct Case
        {
            const char *caption;
            QByteArray aCrLf;
            QByteArray (*convert)(QByteArrayView);
        };
        const Case cases[] = {
            {"Details - WYSIWYG", "A\r\n", nullptr},
            {"Details - Character", "A\\0D\\0A", Bytes::GetChar},
            {"Details - AscII (Decimal)", "065 013 010 ", Bytes::GetAscII},
            {"Details - AscII (Hexadecimal)", "41 0D 0A ", Bytes::GetHex},
            {"Details - AscII (Binary)", "01000001 00001101 00001010 ", Bytes::GetBinary},
            {"Details - AscII (Octal)", "101 015 012 ", Bytes::GetOctal},
        };
        const QByteArray random = randomData(14, 3000);
        for (int r = 0; r < DetailsLayout::kRepresentationCount; ++r) {
            const Case &c = cases[r];
            const QString caption = QString::fromLatin1(c.caption);
            QTest::addRow("%s: A CR LF", c.caption) << r << QByteArray("A\r\n") << c.aCrLf << caption;
            QTest::addRow("%s: random", c.caption)
                << r << random << (c.convert ? c.convert(random) : random) << caption;
            QTest::addRow("%s: nothing", c.caption) << r << QByteArray() << QByteArray() << caption;
        }
    }

    void representations()
    {
        QFETCH(int, rep);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, expected);

        // Switching representation renders the text the window holds anew.
        frmDetails window;
        window.AddDetails(data);
        window.optDetails[size_t(rep)]->click();
        QTEST(window.windowTitle(), "caption");
        QCOMPARE(window.txtDetails->renderedText(), expected);

        // At any width and however the scan is sliced, the rows together are
        // the text, no row is wider than asked, and every position addresses
        // its own character of the text.
        // Each byte renders on its own, so a position's offset in the text is
        // what the bytes before it render to, plus its offset in its byte's.
        std::vector<qsizetype> before{0};
        for (qsizetype i = 0; i < data.size(); ++i)
            before.push_back(before.back() + DetailsLayout::render(data.sliced(i, 1), Rep(rep)).size());
        const auto offsetOf = [&](Pos p) { return before[size_t(p.byte)] + p.offset; };
        for (int width : {9, 10, 47, 80}) {
            DetailsLayout layout;
            layout.setText(data, Rep(rep), width);
            while (!layout.layOutSome(97)) {
            }
            DetailsLayout atOnce;
            atOnce.setText(data, Rep(rep), width);
            atOnce.layOutSome(data.size() + 1);
            QCOMPARE(layout.rowCount(), atOnce.rowCount());

            QByteArray joined;
            for (qsizetype row = 0; row < layout.rowCount(); ++row) {
                QCOMPARE(layout.rowStart(row), atOnce.rowStart(row));
                const QString text = layout.rowText(row);
                QVERIFY(text.size() <= width);
                QCOMPARE(text.size(), qsizetype(layout.rowLength(row)));
                const QByteArray piece =
                    layout.textBetween({layout.rowStart(row), 0}, {layout.rowEnd(row), 0});
                // Only WYSIWYG rows carry a line break beyond what they show.
                const QByteArray rest = piece.mid(text.size());
                QCOMPARE(Bytes::toText(piece.first(text.size())), text);
                QVERIFY(rest.isEmpty() ||
                        (rep == Rep::WYSIWYG && (rest == "\r\n" || rest == "\r" || rest == "\n")));
                joined += piece;

                for (int column = 0; column <= text.size() + 1; ++column) {
                    const Pos p = layout.positionAt(row, column);
                    QCOMPARE(offsetOf(p) - offsetOf({layout.rowStart(row), 0}),
                             qsizetype(qMin(column, int(text.size()))));
                    QCOMPARE(layout.columnOf(row, p), qMin(column, int(text.size())));
                }
            }
            QCOMPARE(joined, expected);
            QCOMPARE(layout.rowOf(layout.end()), layout.rowCount() - 1);

            // Any stretch between two positions is that stretch of the text.
            QRandomGenerator rng{quint32(width)};
            for (int i = 0; i < 50 && layout.rowCount() > 0; ++i) {
                const qsizetype r1 = rng.bounded(int(layout.rowCount()));
                const qsizetype r2 = rng.bounded(int(layout.rowCount()));
                const Pos p1 = layout.positionAt(r1, rng.bounded(width + 1));
                const Pos p2 = layout.positionAt(r2, rng.bounded(width + 1));
                const qsizetype o1 = offsetOf(p1);
                const qsizetype o2 = offsetOf(p2);
                QCOMPARE(layout.textBetween(p1, p2), expected.mid(qMin(o1, o2), qAbs(o2 - o1)));
                QVERIFY(layout.rowOf(p1) == r1 ||
                        (layout.rowOf(p1) == r1 + 1 && p1.byte == layout.rowEnd(r1)));
            }
        }
    }

    void largeMessageShowsItsFirstScreenAtOnce()
    {
        const QByteArray big = randomData(10, 10 * 1024 * 1024);
        frmDetails window;
        window.resize(800, 600);
        window.show();
        for (Rep rep : {Rep::WYSIWYG, Rep::Chr, Rep::Bin}) {
            window.setRepresentation(rep);
            window.AddDetails(big);
            const DetailsLayout &layout = window.txtDetails->layout();
            // The first screen is there before the event loop has had a turn;
            // WYSIWYG and Chr find their remaining rows in later turns.
            QVERIFY(layout.rowCount() > 40);
            QCOMPARE(layout.complete(), rep == Rep::Bin);
            const qsizetype end = layout.rowEnd(39);
            QCOMPARE(layout.textBetween({0, 0}, {end, 0}), DetailsLayout::render(big.first(end), rep));
            window.txtDetails->grab();

            QTRY_VERIFY(layout.complete());
            const qsizetype last = layout.rowCount() - 1;
            const QByteArrayView tail = QByteArrayView(big).sliced(layout.rowStart(last));
            QCOMPARE(layout.textBetween({layout.rowStart(last), 0}, layout.end()),
                     DetailsLayout::render(tail, rep));

            // Rows wrap anew to a new width; the byte at the top stays at the top.
            window.txtDetails->verticalScrollBar()->setValue(int(last / 2));
            const qsizetype topByte = layout.rowStart(window.txtDetails->topRow());
            const int rowChars = layout.rowChars();
            window.resize(window.width() == 800 ? 500 : 800, 600);
            QTRY_VERIFY(layout.rowChars() != rowChars && layout.complete());
            const qsizetype top = window.txtDetails->topRow();
            QVERIFY(layout.rowStart(top) <= topByte && topByte < layout.rowEnd(top));
        }
    }

    // Opening takes the selected row or the text after the caret; tracking the
    // newest data takes the last row or the last 300 characters.
    void openAndFollow()
    {
        QTreeView view;
        list().attachView(&view);
        for (const char *message : {"r0", "r1", "r2"})
            list().add(message);
        view.setCurrentIndex(QModelIndex());
        const QByteArray all = QByteArray(200, 'a') + QByteArray(200, 'b');
        text().append(all, true);
        const frmDetails::DataTab rows{true, &view, &text()}, chars{false, &view, &text()};
        frmDetails window;
        window.AddDetails("before");
        window.OpenDetails(rows); // no row selected: the text is kept
        QCOMPARE(window.currentText(), QByteArray("before"));
        QVERIFY(window.isVisible());
        view.setCurrentIndex(list().index(1, 0));
        window.OpenDetails(rows);
        QCOMPARE(window.currentText(), QByteArray("r1\r\n"));
        for (int caret : {400, 300, 0}) {
            text().setCaretOffset(caret);
            window.OpenDetails(chars);
            QCOMPARE(window.currentText(), all.mid(caret, 300));
        }

        window.hide();
        window.LatestDataAdded(rows); // not ticked: nothing
        QCOMPARE(window.currentText(), all.first(300));
        window.chkTrackLatestData->setChecked(true);
        window.LatestDataAdded(rows); // the last row, whichever is selected, the window not shown
        QCOMPARE(window.currentText(), QByteArray("r2\r\n"));
        QVERIFY(!window.isVisible());
        window.LatestDataAdded(chars); // the window shown, the caret at the start of what it shows
        QCOMPARE(window.currentText(), all.last(300));
        QVERIFY(window.isVisible());
        QCOMPARE(text().caretOffset(), 100);
        text().clear();
        text().append("aaaaa", true);
        window.LatestDataAdded(chars);
        QCOMPARE(window.currentText(), QByteArray("aaaaa"));
    }

    void caseRules_data()
    {
        QTest::addColumn<QByteArrayList>("strings");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("passesInsensitive");
        QTest::addColumn<bool>("passesSensitive");
        const auto row = [](const char *name, const QByteArrayList &strings, const QByteArray &message,
                            bool insensitive, bool sensitive) {
            QTest::newRow(name) << strings << message << insensitive << sensitive;
        };
        row("GET: get", {"GET"}, "get /index.html HTTP/1.0\r\n", true, false);
        row("GET: POST fails", {"GET"}, "POST /\r\n", false, false);
        row("fourth box matches", {"x", "y", "", "POST"}, "POST /", true, true);
        row("all boxes empty: nothing passes", {}, "get /\r\n", false, false);
        row("blanks only are ignored", {"   ", "", " "}, "a b", false, false);
        row("blank kept: ' a' misses 'xa'", {" a"}, "xa", false, false);
        row("separator typed in the box", {"end\r\n"}, "the end\r\n", true, true);
        row("NUL and 255 compare as bytes", {QByteArray("\x00\xFF", 2)}, QByteArray("a\x00\xFFz", 4), true,
            true);
        // Latin-1 letters above 127 fold without regard to case, and only then.
        row("E acute", {"\xC9T\xC9"}, "l'\xE9t\xE9", true, false);
        row("times and divide never fold", {"\xD7"}, "\xF7", false, false);
    }

    void caseRules()
    {
        QFETCH(QByteArrayList, strings);
        QFETCH(QByteArray, message);
        MessageFilter filter;
        for (int i = 0; i < strings.size(); ++i)
            filter.setString(i, strings[i]);
        // A large message is folded in a buffer of its own, with the same result.
        const QByteArray padded = QByteArray(100 * 1024, '-') + message;
        QTEST(filter.passes(message, false), "passesInsensitive");
        QTEST(filter.passes(padded, false), "passesInsensitive");
        QTEST(filter.passes(message, true), "passesSensitive");
        QTEST(filter.passes(padded, true), "passesSensitive");
    }

    void foldingIsLatin1Lowering()
    {
        // Every byte folds to the lower case of its Latin-1 character.
        for (int b = 0; b < 256; ++b)
            QCOMPARE(int(uchar(MessageFilter::foldCase(char(b)))),
                     int(QChar(char16_t(b)).toLower().unicode()));
    }

    void settingsAndEvents()
    {
        TempSettings settings;
        m_options.caseSensitive = false;
        settings.writeIni("[Filter]\nFilter1=GET\nFilter2=\\x20caf\xC3\xA9\nFilterState=1\n");
        frmFilter window;
        QSignalSpy changed(&window, &frmFilter::FilterChanged);
        window.LoadSettings();
        // Restored like the user's own edits: the boxes while still off, then the switch.
        const QString on = QStringLiteral("The filtering has been enabled. ('GET', ' caf\u00E9', '' or '')");
        const QString off = QStringLiteral("The filtering has been disabled.");
        QCOMPARE(m_events.lines, (QStringList{off, off, on}));
        QCOMPARE(changed.count(), 3);
        QVERIFY(window.PassesFilter(" CAF\xC9 au lait"));
        QVERIFY(!window.PassesFilter("CAF\xC9 au lait")); // the blank typed is kept
        // The option is read at each message.
        m_options.caseSensitive = true;
        QVERIFY(!window.PassesFilter(" CAF\xC9 au lait"));

        // Each edit while on adds one enabled event.
        QTest::keyClicks(window.txtFilter[3], QStringLiteral("ab"));
        window.chkFilterOn->click();
        const QString typed = on.chopped(2); // up to the fourth box's text
        QCOMPARE(m_events.lines.mid(3),
                 (QStringList{typed + QStringLiteral("a')"), typed + QStringLiteral("ab')"), off}));

        // Only Close saves; the next run restores exactly what was saved.
        settings.reopen();
        QCOMPARE(settings.store().Read(QStringLiteral("Filter"), QStringLiteral("Filter4")), QString());
        window.show();
        window.cmdOK->click();
        QVERIFY(!window.isVisible());
        settings.reopen();
        const SettingsStore &store = settings.store();
        QCOMPARE(store.Read(QStringLiteral("Filter"), QStringLiteral("Filter2")),
                 QStringLiteral(" caf\u00E9"));
        QCOMPARE(store.Read(QStringLiteral("Filter"), QStringLiteral("Filter4")), QStringLiteral("ab"));
        QCOMPARE(store.Read(QStringLiteral("Filter"), QStringLiteral("FilterState")), QStringLiteral("0"));
    }

private:
    DefaultOptions m_options;
    std::unique_ptr<FakeSupportHost> m_host;
    std::unique_ptr<SupportClass> m_support;
    RecordingEvents m_events;
    ScriptedUi m_ui;

    // Every message passes, but slowly: a display then surely lets events
    // run between its messages.
    void slowFilter()
    {
        m_host->filter = true;
        m_host->filterText = "";
        m_host->onFilter = [](const QByteArray &) { QThread::usleep(20); };
    }

    Model &list(int mode = kClient) { return *m_host->lists[size_t(mode)]; }
    DataTextView &text(int mode = kClient) { return *m_host->texts[size_t(mode)]; }
    void display(const QByteArray &data, bool incoming = true, int mode = kClient, bool filter = true,
                 const QString &label = QString())
    {
        m_support->DisplayData(incoming, data, &list(mode), &text(mode), true, false, filter, label);
    }
};

QTEST_MAIN(TestDisplay)
#include "tst_display.moc"
