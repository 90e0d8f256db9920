#include "core/bytes.h"
#include "core/framing.h"
#include "core/optionssource.h"
#include "display/fakesupporthost.h"
#include "support/recordingevents.h"
#include "ui/frmwait.h"
#include "ui/scriptedui.h"

#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <memory>

namespace {

constexpr int kClient = 0;
constexpr int kServer = 1;
using Col = DataListModel::Column;

// One column's texts; by default the message or its fields, joined by "|".
QStringList messages(const DataListModel &m, int column = -1)
{
    const int first = column < 0 ? int(Col::ColMessage) : column;
    const int last = column < 0 ? m.columnCount() - 1 : column;
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r) {
        QStringList cells;
        for (int c = first; c <= last; ++c)
            cells << m.data(m.index(r, c), Qt::DisplayRole).toString();
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

QByteArray tags(const DataListModel &m)
{
    QByteArray out;
    for (int r = 0; r < m.rowCount(); ++r)
        out += m.rawTag(r);
    return out;
}

QStringList latin1(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *item : items)
        out << QString::fromLatin1(item);
    return out;
}

QByteArray crlfMessages(int count, const QByteArray &prefix = "m")
{
    QByteArray data;
    for (int i = 0; i < count; ++i)
        data += prefix + QByteArray::number(i) + "\r\n";
    return data;
}

} // namespace

class TestDisplayData : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void rowsOfOneArrival();
    void limitsClearBothViews();
    void limitsReadAtEveryMessage();
    void messageRows_data();
    void messageRows();
    void filterSkipsRowsNotText();
    void randomChunksFollowFraming();
    void arrivalsDuringADisplayKeepTheirOrder();
    void viewsOrSupportGoneDuringADisplay();
    void cancelStopsRowsButNotText();

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

    DataListModel &list(int mode = kClient) { return *m_host->lists[size_t(mode)]; }
    DataTextView &text(int mode = kClient) { return *m_host->texts[size_t(mode)]; }
    void display(const QByteArray &data, bool incoming = true, int mode = kClient, bool filter = true,
                 const QString &label = QString())
    {
        m_support->DisplayData(incoming, data, &list(mode), &text(mode), true, false, filter, label);
    }
};

void TestDisplayData::init()
{
    m_options = DefaultOptions();
    m_options.maxListLength = 1000000;
    m_options.maxListSize = 100 * 1024 * 1024;
    tw::setOptions(&m_options);
    m_events.lines.clear();
    m_host = std::make_unique<FakeSupportHost>();
    m_support = std::make_unique<SupportClass>();
    m_support->setHost(m_host.get());
}

void TestDisplayData::cleanup()
{
    m_support.reset();
    m_host.reset();
    tw::setOptions(nullptr);
}

void TestDisplayData::rowsOfOneArrival()
{
    display("a\r\nb\r\n", true, kClient, true, QStringLiteral("7"));
    QCOMPARE(messages(list()), latin1({"a", "b"}));
    QCOMPARE(messages(list(), Col::ColNumber), latin1({"001", "002"}));
    QCOMPARE(messages(list(), Col::ColSocket), latin1({"7", "7"}));
    QCOMPARE(list().rawTag(1), QByteArray("b\r\n"));

    // Unprintable bytes appear escaped in the row and the text view; the tag keeps them raw.
    display(QByteArray("x\x01\\y\r\n", 6), false);
    QCOMPARE(messages(list()).constLast(), QStringLiteral("x\\01\\5Cy"));
    QCOMPARE(list().rawTag(2), QByteArray("x\x01\\y\r\n", 6));
    QCOMPARE(text().bytes(), QByteArray("a\r\nb\r\nx\\01\\5Cy\r\n"));
    QVERIFY(text().isIncomingAt(0));
    QVERIFY(!text().isIncomingAt(text().length() - 1));
}

void TestDisplayData::limitsClearBothViews()
{
    m_options.maxListLength = 100;
    display(crlfMessages(100)); // at the limit, not over it
    QVERIFY(m_events.lines.isEmpty());
    // Within one arrival the list is emptied as often as it fills; the text
    // view is emptied too, before this arrival's text is added.
    const QByteArray next = crlfMessages(150, "n");
    display(next);
    QCOMPARE(m_events.lines,
             QStringList(2, QStringLiteral("Cleared the window because the amount of data exceeded 100 rows.")));
    QCOMPARE(messages(list()).constFirst(), QStringLiteral("n100"));
    QCOMPARE(messages(list(), Col::ColNumber).constLast(), QStringLiteral("050"));
    QCOMPARE(text().bytes(), next);

    // Escapes count in their shown length: 1018 + 3 + 2 is one short of the limit.
    m_options.maxListLength = 1000000;
    m_options.maxListSize = 1024;
    list().clear();
    text().clear();
    m_events.lines.clear();
    display(QByteArray(1018, 'y') + "\x01\r\n");
    display("x\r\n");
    QVERIFY(m_events.lines.isEmpty());
    display("fresh\r\n");
    QCOMPARE(m_events.lines,
             QStringList{QStringLiteral("Cleared the window because the amount of data exceeded 1024 bytes.")});
    QCOMPARE(messages(list()), latin1({"fresh"}));
    QCOMPARE(messages(list(), Col::ColNumber), latin1({"001"}));
    QCOMPARE(text().bytes(), QByteArray("fresh\r\n"));
}

void TestDisplayData::limitsReadAtEveryMessage()
{
    // A limit lowered while a display lets events run applies to its rest.
    slowFilter();
    QTimer::singleShot(0, [this] { m_options.maxListLength = 10; });
    display(crlfMessages(3000));
    QVERIFY(!m_events.lines.isEmpty());
    QVERIFY(list().rowCount() <= 10);
    QCOMPARE(messages(list()).constLast(), QStringLiteral("m2999"));
}

void TestDisplayData::messageRows_data()
{
    QTest::addColumn<QByteArray>("separator");
    // W whole messages (no splitting), F field separator shown, M message separator shown, Q quotes
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("whole, separator shown")
        << QByteArray() << QStringLiteral("WM") << QByteArray("a\r\nb") << latin1({"a\\0D\\0A", "b"});
    QTest::newRow("whole, joined separators: one dropped")
        << QByteArray() << QStringLiteral("W") << QByteArray("a\r\n\r\nb") << latin1({"a\\0D\\0A", "b"});
    QTest::newRow("whole, no data: one empty row")
        << QByteArray() << QStringLiteral("W") << QByteArray() << latin1({""});
    QTest::newRow("fewer fields leave cells empty")
        << QByteArray(",") << QString() << QByteArray("f1,f2,f3\r\ng1\r\n") << latin1({"f1|f2|f3", "g1||"});
    QTest::newRow("field separator shown")
        << QByteArray(";") << QStringLiteral("F") << QByteArray("a;b;c\r\n") << latin1({"a;|b;|c"});
    QTest::newRow("message separator shown")
        << QByteArray(";") << QStringLiteral("M") << QByteArray("x;y\r\n") << latin1({"x|y\\0D\\0A"});
    QTest::newRow("quoted separators ignored")
        << QByteArray(";") << QStringLiteral("Q") << QByteArray("p;\"q;r\";s\r\n") << latin1({"p|\"q;r\"|s"});
    // Each row shows its own message, never a previous one.
    QTest::newRow("empty separator: the whole message")
        << QByteArray() << QString() << QByteArray("first,message\r\nsecond\r\nthird")
        << latin1({"first,message", "second", "third"});
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

void TestDisplayData::messageRows()
{
    QFETCH(QByteArray, separator);
    QFETCH(QString, flags);
    QFETCH(QByteArray, data);
    m_options.splitFields = !flags.contains(QLatin1Char('W'));
    m_options.fieldSeparator = separator;
    m_options.displayFieldSep = flags.contains(QLatin1Char('F'));
    m_options.displayMessageSep = flags.contains(QLatin1Char('M'));
    m_options.ignoreBetween = flags.contains(QLatin1Char('Q'));
    display(data);
    QTEST(messages(list()), "rows");
    // Tags are whole: together they are the data.
    QCOMPARE(tags(list()), data);
    if (!m_options.splitFields)
        return;
    QCOMPARE(list().headerText(list().columnCount() - 1),
             QStringLiteral("Field %1").arg(list().columnCount() - Col::ColMessage));
    QCOMPARE(list().columnWidthTwips(Col::ColMessage), 1200);

    // Splitting off: the fifth header reads "Message" again, no column goes.
    const int columns = list().columnCount();
    m_options.splitFields = false;
    display("whole;line\r\n");
    QCOMPARE(list().headerText(Col::ColMessage), QStringLiteral("Message"));
    QCOMPARE(list().columnCount(), columns);
}

void TestDisplayData::filterSkipsRowsNotText()
{
    m_host->filter = true;
    m_host->filterText = "match";
    display("none\r\na match\r\nnot\r\n");
    QCOMPARE(messages(list()), latin1({"a match"}));
    QCOMPARE(text().bytes(), QByteArray("none\r\na match\r\nnot\r\n"));

    // Without the caller asking, or with the filter off, everything shows.
    display("not asked\r\n", true, kClient, false);
    m_host->filter = false;
    display("filter off\r\n");
    QCOMPARE(messages(list()), latin1({"a match", "not asked", "filter off"}));

    // With nothing passing, the text view still keeps to its size limit.
    m_options.maxListSize = 1024;
    m_host->filter = true;
    m_events.lines.clear();
    const QByteArray line = QByteArray(300, 'z') + "\r\n";
    for (int i = 0; i < 12; ++i) {
        display(line);
        QVERIFY(text().length() < 1024 + line.size());
    }
    QCOMPARE(list().rowCount(), 0);
    QCOMPARE(m_events.lines,
             QStringList(2, QStringLiteral("Cleared the window because the amount of data exceeded 1024 bytes.")));
}

void TestDisplayData::randomChunksFollowFraming()
{
    QRandomGenerator rng(2024);
    static const char *const kPieces[] = {"\r\n", "\r", "\n", "a", "bc", "\x01", "\r\n\r\n", "xyz,"};
    QByteArray data;
    for (int i = 0; i < 20000; ++i)
        data += kPieces[rng.bounded(8)];

    for (bool concat : {true, false}) {
        m_options.concat = concat;
        list().clear();
        text().clear();
        QStringList expected;
        for (qsizetype at = 0; at < data.size();) {
            const QByteArray chunk = data.mid(at, 1 + rng.bounded(300));
            at += chunk.size();
            display(chunk);
            // Each arrival is framed on its own.
            qint64 position = 0;
            for (bool more = true; more;) {
                QByteArray message;
                qint64 count = 0;
                more = Framing::GetNextMessage(chunk, position, message, true, count, "\r\n", concat);
                if (message.endsWith("\r\n"))
                    message.chop(2);
                expected << Bytes::toText(Bytes::GetChar(message));
            }
        }
        QCOMPARE(messages(list()), expected);
        QCOMPARE(tags(list()), data);
        QCOMPARE(text().bytes(), Bytes::GetChar2(data));
        QCOMPARE(messages(list(), Col::ColNumber).constLast(), DataListModel::formatNumber(list().rowCount()));
    }
}

void TestDisplayData::arrivalsDuringADisplayKeepTheirOrder()
{
    slowFilter();
    // Arrivals come in while the first display lets events run.
    int rowsWhenSecondArrived = -1;
    QTimer::singleShot(0, [this, &rowsWhenSecondArrived] {
        rowsWhenSecondArrived = list().heldRowCount();
        display("second\r\n");
        display("third\r\n", false);
    });
    const QByteArray first = crlfMessages(3000);
    display(first);
    QVERIFY(rowsWhenSecondArrived > 0 && rowsWhenSecondArrived < 3000);
    QCOMPARE(messages(list()).mid(2999), latin1({"m2999", "second", "third"}));
    QCOMPARE(text().bytes(), first + "second\r\nthird\r\n");

    // An arrival from inside the display itself (not through the event loop) waits its turn too.
    m_host->onFilter = [this](const QByteArray &message) {
        if (message == "m1\r\n")
            display("inner\r\n");
    };
    display(crlfMessages(3));
    QCOMPARE(messages(list()).mid(3002), latin1({"m0", "m1", "m2", "inner"}));
}

void TestDisplayData::viewsOrSupportGoneDuringADisplay()
{
    slowFilter();
    // The list and the text view go away in the middle of a display.
    QTimer::singleShot(0, [this] {
        m_host->lists[kClient].reset();
        m_host->texts[kClient].reset();
    });
    m_support->DisplayData(true, crlfMessages(3000), m_host->lists[kClient].get(), m_host->texts[kClient].get(),
                           true, false, true);
    QVERIFY(!m_host->lists[kClient]);

    // The support object itself goes away, with an arrival waiting.
    bool queued = false;
    QTimer::singleShot(0, [this, &queued] {
        display("waiting\r\n", true, kServer);
        queued = list(kServer).heldRowCount() < 3000;
        m_support.reset();
    });
    m_support->DisplayData(true, crlfMessages(3000), &list(kServer), &text(kServer), true, false, true);
    QVERIFY(queued);
    QVERIFY(!m_support);
    // The rows made so far reached the view; the waiting arrival never ran.
    QCOMPARE(list(kServer).rowCount(), list(kServer).heldRowCount());
    QVERIFY(list(kServer).rowCount() < 3000);
    QCOMPARE(text(kServer).length(), 0);
}

void TestDisplayData::cancelStopsRowsButNotText()
{
    const QByteArray data = crlfMessages(3000);
    // A slow filter makes the display outlast the progress delay.
    m_host->filter = true;
    m_host->filterText = "m";
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
    QVERIFY(cancelled);
    QVERIFY(list().rowCount() > 0 && list().rowCount() < 3000);
    QCOMPARE(text().bytes(), data);
    QVERIFY(!m_support->progressWindow()->isVisible());

    // The next display starts afresh and is not cancelled.
    m_host->onFilter = nullptr;
    const int before = list().rowCount();
    display(crlfMessages(5));
    QCOMPARE(list().rowCount(), before + 5);
}

QTEST_MAIN(TestDisplayData)
#include "tst_displaydata.moc"
