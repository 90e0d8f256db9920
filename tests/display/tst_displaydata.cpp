#include "core/bytes.h"
#include "core/eventlog.h"
#include "support/recordingevents.h"
#include "core/framing.h"
#include "core/optionssource.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/supportclass.h"
#include "display/supporthost.h"
#include "ui/frmwait.h"
#include "ui/scriptedui.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <array>
#include <functional>
#include <memory>

namespace {

constexpr int kClient = 0;
constexpr int kPassThrough = 2;


// The main window as the display routine sees it: three lists and text
// views, the show selectors and a filter that can be switched and slowed.
class FakeHost : public SupportHost
{
public:
    FakeHost()
    {
        for (int i = 0; i < 3; ++i) {
            lists[i] = std::make_unique<DataListModel>();
            lists[i]->setColumns({{QStringLiteral("#"), 645},
                                  {QStringLiteral("Time"), 1170},
                                  {i == kPassThrough ? QStringLiteral("Dir") : QStringLiteral("I/O"), 435},
                                  {QStringLiteral("Sock#"), 660},
                                  {QStringLiteral("Message"), 6180}});
            texts[i] = std::make_unique<DataTextView>();
            // Every change the display makes is checked against the model rules.
            new QAbstractItemModelTester(lists[i].get(), QAbstractItemModelTester::FailureReportingMode::QtTest,
                                         lists[i].get());
        }
    }

    int currentMode() const override { return mode; }
    int showPosition(int m) const override { return show[size_t(m)]; }
    DataListModel *dataList(int m) const override { return lists[size_t(m)].get(); }
    DataTextView *textView(int m) const override { return texts[size_t(m)].get(); }
    bool filterOn() const override { return filter; }
    bool passesFilter(const QByteArray &message) const override
    {
        if (onFilter)
            onFilter(message);
        return message.contains(filterText);
    }

    int clientState() const override { return 0; }
    int serverState(int) const override { return 0; }
    int highestServerIndex() const override { return 0; }
    bool writeClient(const QByteArray &) override { return false; }
    bool writeServer(int, const QByteArray &) override { return false; }
    void closeClient() override {}
    void closeServer(int) override {}
    void IncomingDataArrived(const QString &, const QByteArray &) override {}
    void OutgoingDataArrived(const QByteArray &) override {}
    void ClientToServerDataArrived(const QByteArray &) override {}
    void ServerToClientDataArrived(const QByteArray &) override {}
    void SentDataAdded() override {}
    void ReceivedDataAdded() override {}
    void DataHasBeenSent() override {}
    void UpdateReceivePauseBufferIndicator() override {}

    int mode = kClient;
    std::array<int, 3> show{0, 0, 0};
    bool filter = false;
    QByteArray filterText;
    std::function<void(const QByteArray &)> onFilter;
    std::array<std::unique_ptr<DataListModel>, 3> lists;
    std::array<std::unique_ptr<DataTextView>, 3> texts;
};

QString cellText(const DataListModel &m, int row, int column)
{
    return m.data(m.index(row, column), Qt::DisplayRole).toString();
}

QStringList messages(const DataListModel &m, int column = DataListModel::ColMessage)
{
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out << cellText(m, r, column);
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

frmWait *visibleWaitWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *wait = qobject_cast<frmWait *>(w); wait && wait->isVisible())
            return wait;
    }
    return nullptr;
}

} // namespace

class TestDisplayData : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void shouldDisplay_data();
    void shouldDisplay();
    void rowsOfOneArrival();
    void messageSeparatorDisplay_data();
    void messageSeparatorDisplay();
    void directionLabelsAndIcons();
    void rowLimitClearsBothViews();
    void sizeLimitClearsBothViews();
    void limitsReadAtEveryMessage();
    void fieldsAppendColumns();
    void fieldSeparatorShownOrNot();
    void emptyFieldSeparatorShowsWholeMessage();
    void filterSkipsRowsNotText();
    void emptyDataGivesOneEmptyRow();
    void randomChunksFollowFraming();
    void arrivalsDuringADisplayKeepTheirOrder();
    void viewsOrSupportGoneDuringADisplay();
    void cancelStopsRowsButNotText();

private:
    DefaultOptions m_options;
    std::unique_ptr<FakeHost> m_host;
    std::unique_ptr<SupportClass> m_support;
    std::unique_ptr<RecordingEvents> m_events;
    std::unique_ptr<ScriptedUi> m_ui;

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
    tw::setOptions(&m_options);
    m_ui = std::make_unique<ScriptedUi>();
    m_events = std::make_unique<RecordingEvents>();
    m_host = std::make_unique<FakeHost>();
    m_support = std::make_unique<SupportClass>();
    m_support->setHost(m_host.get());
}

void TestDisplayData::cleanup()
{
    m_support.reset();
    m_host.reset();
    m_events.reset();
    m_ui.reset();
    tw::setOptions(nullptr);
}

void TestDisplayData::shouldDisplay_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("withTrue");
    QTest::addColumn<bool>("withFalse");
    QTest::newRow("Input & Output") << 0 << true << true;
    QTest::newRow("Input Only") << 1 << true << false;
    QTest::newRow("Output Only") << 2 << false << true;
    QTest::newRow("Nothing (Fast)!") << 3 << false << false;
}

void TestDisplayData::shouldDisplay()
{
    QFETCH(int, position);
    QFETCH(bool, withTrue);
    QFETCH(bool, withFalse);
    // Only the current mode's selector counts.
    m_host->mode = 1;
    m_host->show = {0, position, 3 - position};
    QCOMPARE(m_support->ShouldDisplay(true), withTrue);
    QCOMPARE(m_support->ShouldDisplay(false), withFalse);

    SupportClass alone;
    QVERIFY(!alone.ShouldDisplay(true));
    QVERIFY(!alone.ShouldDisplay(false));
}

void TestDisplayData::rowsOfOneArrival()
{
    display("a\r\nb\r\n", true, kClient, true, QStringLiteral("7"));
    QCOMPARE(messages(list()), latin1({"a", "b"}));
    QCOMPARE(messages(list(), DataListModel::ColNumber), latin1({"001", "002"}));
    QCOMPARE(messages(list(), DataListModel::ColSocket), latin1({"7", "7"}));
    QCOMPARE(list().rawTag(0), QByteArray("a\r\n"));
    QCOMPARE(list().rawTag(1), QByteArray("b\r\n"));
    QCOMPARE(list().headerText(DataListModel::ColMessage), QStringLiteral("Message"));
    QCOMPARE(text().bytes(), QByteArray("a\r\nb\r\n"));
    QVERIFY(text().isIncomingAt(0));

    // Unprintable bytes appear escaped in the row and the text view; the
    // tag keeps them raw.
    display(QByteArray("x\x01\\y\r\n", 6), false);
    QCOMPARE(cellText(list(), 2, DataListModel::ColMessage), QStringLiteral("x\\01\\5Cy"));
    QCOMPARE(list().rawTag(2), QByteArray("x\x01\\y\r\n", 6));
    QCOMPARE(text().bytes(), QByteArray("a\r\nb\r\nx\\01\\5Cy\r\n"));
    QVERIFY(!text().isIncomingAt(text().length() - 1));
    QVERIFY(m_events->lines.isEmpty());
}

void TestDisplayData::messageSeparatorDisplay_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("concat");
    QTest::addColumn<bool>("displaySeparator");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("hidden") << QByteArray("a\r\nb\r\n") << true << false << latin1({"a", "b"});
    QTest::newRow("shown") << QByteArray("a\r\nb") << true << true << latin1({"a\\0D\\0A", "b"});
    QTest::newRow("joined separators: one dropped")
        << QByteArray("a\r\n\r\nb") << true << false << latin1({"a\\0D\\0A", "b"});
    QTest::newRow("without joining: an empty row")
        << QByteArray("a\r\n\r\nb") << false << false << latin1({"a", "", "b"});
    QTest::newRow("unterminated rest") << QByteArray("a\r\nb\r") << true << false << latin1({"a", "b\\0D"});
}

void TestDisplayData::messageSeparatorDisplay()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, concat);
    QFETCH(bool, displaySeparator);
    QFETCH(QStringList, expected);
    m_options.concat = concat;
    m_options.displayMessageSep = displaySeparator;
    display(data);
    QCOMPARE(messages(list()), expected);
    // Tags are whole: together they are the data.
    QByteArray tags;
    for (int r = 0; r < list().rowCount(); ++r)
        tags += list().rawTag(r);
    QCOMPARE(tags, data);
}

void TestDisplayData::directionLabelsAndIcons()
{
    m_support->DisplayData(true, "in\r\n", &list(kClient), &text(kClient), true, false, true);
    m_support->DisplayData(false, "out\r\n", &list(kClient), &text(kClient), false, true, false,
                           QStringLiteral("ALL"));
    m_support->DisplayData(true, "s2c\r\n", &list(kPassThrough), &text(kPassThrough), true, true, false);
    m_support->DisplayData(false, "c2s\r\n", &list(kPassThrough), &text(kPassThrough), false, true, false,
                           QStringLiteral("ALL"));

    QCOMPARE(messages(list(kClient), DataListModel::ColDirection), latin1({"In", "Out"}));
    QCOMPARE(messages(list(kClient), DataListModel::ColSocket), latin1({"NA", "ALL"}));
    QCOMPARE(list(kClient).icon(0), DataListModel::RowIcon::None);
    QCOMPARE(list(kClient).icon(1), DataListModel::RowIcon::Unplugged);
    QVERIFY(list(kClient).isIncoming(0));
    QVERIFY(!list(kClient).isIncoming(1));
    QCOMPARE(messages(list(kPassThrough), DataListModel::ColDirection), latin1({"S2C", "C2S"}));
    QCOMPARE(list(kPassThrough).icon(0), DataListModel::RowIcon::Tick);
    QCOMPARE(list(kPassThrough).icon(1), DataListModel::RowIcon::Unplugged);
    QCOMPARE(text(kPassThrough).bytes(), QByteArray("s2c\r\nc2s\r\n"));
    QVERIFY(text(kPassThrough).isIncomingAt(0));
    QVERIFY(!text(kPassThrough).isIncomingAt(5));
}

void TestDisplayData::rowLimitClearsBothViews()
{
    m_options.maxListLength = 100;
    display(crlfMessages(60));
    display(crlfMessages(40, "n"));
    QCOMPARE(list().rowCount(), 100);
    QVERIFY(m_events->lines.isEmpty());

    display("next\r\nafter\r\n");
    QCOMPARE(m_events->lines,
             QStringList{QStringLiteral("Cleared the window because the amount of data exceeded 100 rows.")});
    QCOMPARE(messages(list()), latin1({"next", "after"}));
    QCOMPARE(cellText(list(), 0, DataListModel::ColNumber), QStringLiteral("001"));
    QCOMPARE(cellText(list(), 1, DataListModel::ColNumber), QStringLiteral("002"));
    // The text view was emptied before this arrival's text was added.
    QCOMPARE(text().bytes(), QByteArray("next\r\nafter\r\n"));

    // Within one arrival the list is emptied as often as it fills.
    m_events->lines.clear();
    display(crlfMessages(250));
    QCOMPARE(m_events->lines.size(), 2);
    QCOMPARE(list().rowCount(), 52);
    QCOMPARE(cellText(list(), 51, DataListModel::ColMessage), QStringLiteral("m249"));
    QCOMPARE(cellText(list(), 51, DataListModel::ColNumber), QStringLiteral("052"));
}

void TestDisplayData::sizeLimitClearsBothViews()
{
    m_options.maxListSize = 1024;
    const QByteArray filler = QByteArray(1022, 'x') + "\r\n"; // 1024 characters of text
    display(filler);
    QCOMPARE(text().length(), 1024);
    QVERIFY(m_events->lines.isEmpty());

    display("fresh\r\n");
    QCOMPARE(m_events->lines,
             QStringList{QStringLiteral("Cleared the window because the amount of data exceeded 1024 bytes.")});
    QCOMPARE(messages(list()), latin1({"fresh"}));
    QCOMPARE(cellText(list(), 0, DataListModel::ColNumber), QStringLiteral("001"));
    QCOMPARE(text().bytes(), QByteArray("fresh\r\n"));

    // One short of the limit does not clear; escapes count in their shown length.
    text().clear();
    list().clear();
    m_events->lines.clear();
    display(QByteArray(1018, 'y') + "\x01\r\n"); // 1018 + 3 + 2 = 1023 characters shown
    QCOMPARE(text().length(), 1023);
    display("ok\r\n");
    QVERIFY(m_events->lines.isEmpty());
    QCOMPARE(list().rowCount(), 2);
}

void TestDisplayData::limitsReadAtEveryMessage()
{
    // A limit lowered while a display lets events run applies to the rest
    // of that display.
    m_options.maxListLength = 100000;
    slowFilter();
    QTimer::singleShot(0, [this] { m_options.maxListLength = 10; });
    display(crlfMessages(3000));
    QVERIFY(!m_events->lines.isEmpty());
    QCOMPARE(m_events->lines.constLast(),
             QStringLiteral("Cleared the window because the amount of data exceeded 10 rows."));
    QVERIFY(list().rowCount() <= 10);
    QCOMPARE(cellText(list(), list().rowCount() - 1, DataListModel::ColMessage), QStringLiteral("m2999"));
}

void TestDisplayData::fieldsAppendColumns()
{
    m_options.splitFields = true;
    m_options.fieldSeparator = ",";
    QTreeView view;
    view.setModel(&list());
    list().attachView(&view);

    display("f1,f2,f3\r\n", true, kClient, true, QStringLiteral("2"));
    QCOMPARE(list().columnCount(), 7);
    QCOMPARE(list().headerText(4), QStringLiteral("Field 1"));
    QCOMPARE(list().headerText(5), QStringLiteral("Field 2"));
    QCOMPARE(list().headerText(6), QStringLiteral("Field 3"));
    QCOMPARE(list().columnWidthTwips(4), 1200);
    QCOMPARE(list().columnWidthTwips(6), 1200);
    QCOMPARE(cellText(list(), 0, 4), QStringLiteral("f1"));
    QCOMPARE(cellText(list(), 0, 5), QStringLiteral("f2"));
    QCOMPARE(cellText(list(), 0, 6), QStringLiteral("f3"));
    QCOMPARE(cellText(list(), 0, DataListModel::ColSocket), QStringLiteral("2"));
    QCOMPARE(list().rawTag(0), QByteArray("f1,f2,f3\r\n"));

    // Fewer fields leave the other cells empty; more add columns.
    display("g1\r\nh1,h2,h3,h4\r\n");
    QCOMPARE(list().columnCount(), 8);
    QCOMPARE(list().headerText(7), QStringLiteral("Field 4"));
    QCOMPARE(cellText(list(), 1, 4), QStringLiteral("g1"));
    QCOMPARE(cellText(list(), 1, 5), QString());
    QCOMPARE(cellText(list(), 2, 7), QStringLiteral("h4"));

    // Splitting off: the fifth header reads "Message" again, no column goes.
    m_options.splitFields = false;
    display("whole,line\r\n");
    QCOMPARE(list().headerText(4), QStringLiteral("Message"));
    QCOMPARE(list().columnCount(), 8);
    QCOMPARE(cellText(list(), 3, 4), QStringLiteral("whole,line"));
}

void TestDisplayData::fieldSeparatorShownOrNot()
{
    m_options.splitFields = true;
    m_options.fieldSeparator = ";";
    m_options.displayFieldSep = true;
    display("a;b;c\r\n");
    QCOMPARE(cellText(list(), 0, 4), QStringLiteral("a;"));
    QCOMPARE(cellText(list(), 0, 5), QStringLiteral("b;"));
    QCOMPARE(cellText(list(), 0, 6), QStringLiteral("c"));

    m_options.displayFieldSep = false;
    m_options.displayMessageSep = true;
    display("x;y\r\n");
    QCOMPARE(cellText(list(), 1, 4), QStringLiteral("x"));
    QCOMPARE(cellText(list(), 1, 5), QStringLiteral("y\\0D\\0A"));

    // Quoted separators are ignored when asked.
    m_options.displayMessageSep = false;
    m_options.ignoreBetween = true;
    display("p;\"q;r\";s\r\n");
    QCOMPARE(cellText(list(), 2, 4), QStringLiteral("p"));
    QCOMPARE(cellText(list(), 2, 5), QStringLiteral("\"q;r\""));
    QCOMPARE(cellText(list(), 2, 6), QStringLiteral("s"));
}

void TestDisplayData::emptyFieldSeparatorShowsWholeMessage()
{
    m_options.splitFields = true;
    m_options.fieldSeparator = "";
    display("first,message\r\nsecond\r\n");
    QCOMPARE(list().headerText(4), QStringLiteral("Field 1"));
    QCOMPARE(list().columnCount(), 5);
    // Each row shows its own message, never a previous one.
    QCOMPARE(messages(list()), latin1({"first,message", "second"}));
    display("third");
    QCOMPARE(cellText(list(), 2, 4), QStringLiteral("third"));
}

void TestDisplayData::filterSkipsRowsNotText()
{
    m_host->filter = true;
    m_host->filterText = "match";
    display("none\r\nhere\r\n");
    QCOMPARE(list().rowCount(), 0);
    QCOMPARE(text().bytes(), QByteArray("none\r\nhere\r\n"));

    display("a match\r\nnot\r\n");
    QCOMPARE(messages(list()), latin1({"a match"}));
    QCOMPARE(text().length(), 26);

    // Without the caller asking, or with the filter off, everything shows.
    display("not asked\r\n", true, kClient, false);
    QCOMPARE(list().rowCount(), 2);
    m_host->filter = false;
    display("filter off\r\n");
    QCOMPARE(messages(list()), latin1({"a match", "not asked", "filter off"}));
    QVERIFY(m_events->lines.isEmpty());
}

void TestDisplayData::emptyDataGivesOneEmptyRow()
{
    display(QByteArray());
    QCOMPARE(list().rowCount(), 1);
    QCOMPARE(cellText(list(), 0, 4), QString());
    QCOMPARE(list().rawTag(0), QByteArray());
    QCOMPARE(text().length(), 0);
}

void TestDisplayData::randomChunksFollowFraming()
{
    m_options.maxListLength = 1000000;
    m_options.maxListSize = 100 * 1024 * 1024;
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
        QByteArray expectedTags;
        qsizetype at = 0;
        while (at < data.size()) {
            const qsizetype size = qMin<qsizetype>(1 + rng.bounded(300), data.size() - at);
            const QByteArray chunk = data.mid(at, size);
            at += size;
            display(chunk);
            // Each arrival is framed on its own.
            qint64 position = 0;
            bool more = true;
            while (more) {
                QByteArray message;
                qint64 count = 0;
                more = Framing::GetNextMessage(chunk, position, message, true, count, "\r\n", concat);
                expectedTags += message;
                if (message.endsWith("\r\n"))
                    message.chop(2);
                expected << Bytes::toText(Bytes::GetChar(message));
            }
        }
        QCOMPARE(messages(list()), expected);
        QByteArray tags;
        for (int r = 0; r < list().rowCount(); ++r)
            tags += list().rawTag(r);
        QCOMPARE(tags, expectedTags);
        QCOMPARE(tags, data);
        QCOMPARE(text().bytes(), Bytes::GetChar2(data));
        QCOMPARE(cellText(list(), list().rowCount() - 1, 0), DataListModel::formatNumber(list().rowCount()));
    }
}

void TestDisplayData::arrivalsDuringADisplayKeepTheirOrder()
{
    m_options.maxListLength = 1000000;
    m_options.maxListSize = 100 * 1024 * 1024;
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

    QVERIFY(rowsWhenSecondArrived > 0);
    QVERIFY(rowsWhenSecondArrived < 3000);
    QCOMPARE(list().rowCount(), 3002);
    QCOMPARE(cellText(list(), 2999, 4), QStringLiteral("m2999"));
    QCOMPARE(cellText(list(), 3000, 4), QStringLiteral("second"));
    QCOMPARE(cellText(list(), 3001, 4), QStringLiteral("third"));
    QCOMPARE(cellText(list(), 3001, 2), QStringLiteral("Out"));
    QCOMPARE(text().bytes(), first + "second\r\nthird\r\n");

    // An arrival from inside the display itself (not through the event
    // loop) waits its turn as well.
    m_host->onFilter = [this](const QByteArray &message) {
        if (message == "m1\r\n")
            display("inner\r\n");
    };
    display(crlfMessages(3));
    QCOMPARE(messages(list()).mid(3002), latin1({"m0", "m1", "m2", "inner"}));

    // Once done, the next arrival is shown at once.
    m_host->onFilter = nullptr;
    display("last\r\n");
    QCOMPARE(list().rowCount(), 3007);
}

void TestDisplayData::viewsOrSupportGoneDuringADisplay()
{
    m_options.maxListLength = 1000000;
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
        display("waiting\r\n", true, kPassThrough);
        queued = list(kPassThrough).heldRowCount() < 3000;
        m_support.reset();
    });
    m_support->DisplayData(true, crlfMessages(3000), &list(kPassThrough), &text(kPassThrough), true, false, true);
    QVERIFY(queued);
    QVERIFY(!m_support);
    // The rows made so far reached the view; the waiting arrival never ran.
    QCOMPARE(list(kPassThrough).rowCount(), list(kPassThrough).heldRowCount());
    QVERIFY(list(kPassThrough).rowCount() < 3000);
    QCOMPARE(text(kPassThrough).length(), 0);
}

void TestDisplayData::cancelStopsRowsButNotText()
{
    m_options.maxListLength = 1000000;
    m_options.maxListSize = 100 * 1024 * 1024;
    const QByteArray data = crlfMessages(3000);
    // A slow filter makes the display outlast the progress delay.
    m_host->filter = true;
    m_host->filterText = "m";
    QString label;
    bool cancelled = false;
    m_host->onFilter = [&](const QByteArray &) {
        if (cancelled)
            return;
        if (frmWait *wait = visibleWaitWindow()) {
            label = wait->label();
            wait->findChild<QPushButton *>(QStringLiteral("cmdCancel"))->click();
            cancelled = true;
        } else {
            QThread::usleep(1000);
        }
    };
    display(data);
    QVERIFY(cancelled);
    QCOMPARE(label, QStringLiteral("Parsing the data..."));
    QVERIFY(list().rowCount() > 0);
    QVERIFY(list().rowCount() < 3000);
    QCOMPARE(text().bytes(), data);
    QVERIFY(!visibleWaitWindow());

    // The next display starts afresh and is not cancelled.
    m_host->onFilter = nullptr;
    const int before = list().rowCount();
    display(crlfMessages(5));
    QCOMPARE(list().rowCount(), before + 5);
}

QTEST_MAIN(TestDisplayData)
#include "tst_displaydata.moc"
