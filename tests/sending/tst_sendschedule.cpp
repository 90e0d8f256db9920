#include "sending/sendschedule.h"

#include <QTest>
#include <array>

namespace {
// A send window on a virtual clock: its timers fire only when run() says so,
// and every hand-over is noted with its time in milliseconds from the start.
class FakeWindow : public SendScheduleHost
{
public:
    struct Timer
    {
        bool armed = false;
        qint64 due = 0;
        int ms = 0;
        bool oneShot = true;
    };

    Options options;
    QByteArray raw;
    bool busy = false;
    bool optionsEnabled = true;
    qint64 ms = 0;
    QByteArrayList sent;
    std::array<Timer, 2> timers;

    Options sendOptions() const override { return options; }
    // Started 600 ms into a second, so whole seconds are second boundaries crossed.
    QDateTime now() const override { return QDateTime(QDate(2026, 3, 1), QTime(10, 0, 0, 600)).addMSecs(ms); }
    void startSendTimer(SendTimer t, int interval, bool oneShot) override
    {
        timers[size_t(t)] = {true, ms + interval, interval, oneShot};
    }
    void stopSendTimer(SendTimer t) override { timers[size_t(t)].armed = false; }
    bool isBusy() const override { return busy; }
    bool RefreshRawData() override { return true; }
    QByteArray rawData() const override { return raw; }
    void transmit(const QByteArray &bytes) override { sent << QByteArray::number(ms) + ':' + bytes; }
    void stopPreparing() override {}
    void UpdateSendCaption() override {}
    void setOptionControlsEnabled(bool enabled) override { optionsEnabled = enabled; }

    bool anyArmed() const { return timers[0].armed || timers[1].armed; }

    /// Fires the timers in time order up to `until` ms.
    void run(SendSchedule &s, qint64 until)
    {
        for (;;) {
            Timer *next = nullptr;
            for (Timer &t : timers) {
                if (t.armed && (!next || t.due < next->due))
                    next = &t;
            }
            if (!next || next->due > until)
                break;
            ms = next->due;
            if (next->oneShot)
                next->armed = false;
            else
                next->due += next->ms;
            s.timerFired(next == &timers[0] ? SendTimer::PauseAfterMessage : SendTimer::PauseAfterData);
        }
        ms = until;
    }
};
} // namespace

class tst_SendSchedule : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void timelines_data();
    void timelines();
    void firingsAfterAStopAreDropped();
    void aBusyWindowDelaysTheFiring();
};

void tst_SendSchedule::timelines_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("pause");
    QTest::addColumn<bool>("periodically");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<int>("periodMs");
    QTest::addColumn<QString>("duration");
    QTest::addColumn<QByteArrayList>("sent"); // within the first minute
    QTest::addColumn<bool>("stopsByItself");
    const QByteArray ab("A\r\nB\r\n");

    QTest::newRow("once") << ab << false << false << 0 << 0 << QString() << QByteArrayList{"0:A\r\nB\r\n"}
                          << true;
    QTest::newRow("messages") << QByteArray("A\r\nB\r\nC") << true << false << 150 << 0 << QString()
                              << QByteArrayList{"0:A\r\n", "150:B\r\n", "300:C"} << true;
    QTest::newRow("messages, no separator") << QByteArray("no separator") << true << false << 150 << 0
                                            << QString() << QByteArrayList{"0:no separator"} << true;
    // The send that first finds more than D whole seconds gone is the last.
    QTest::newRow("periodic, T 4000, D 10")
        << QByteArray("tick") << false << true << 0 << 4000 << QStringLiteral("10")
        << QByteArrayList{"0:tick", "4000:tick", "8000:tick", "12000:tick"} << true;
    QTest::newRow("periodic, D 1 counts second boundaries")
        << QByteArray("t") << false << true << 0 << 300 << QStringLiteral("1")
        << QByteArrayList{"0:t", "300:t", "600:t", "900:t", "1200:t", "1500:t"} << true;
    QTest::newRow("periodic for ever")
        << QByteArray("tick") << false << true << 0 << 25000 << QStringLiteral("ever")
        << QByteArrayList{"0:tick", "25000:tick", "50000:tick"} << false;
    // A pass is not begun once D whole seconds are reached; the next pass starts T after its last message.
    QTest::newRow("message passes, D 2")
        << ab << true << true << 100 << 1000 << QStringLiteral("2")
        << QByteArrayList{"0:A\r\n", "100:B\r\n", "1100:A\r\n", "1200:B\r\n"} << true;
    QTest::newRow("message passes, D 0") << ab << true << true << 100 << 1000 << QStringLiteral("0")
                                         << QByteArrayList{"0:A\r\n", "100:B\r\n"} << true;
}

void tst_SendSchedule::timelines()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, pause);
    QFETCH(bool, periodically);
    QFETCH(int, pauseMs);
    QFETCH(int, periodMs);
    QFETCH(QString, duration);
    FakeWindow w;
    w.raw = data;
    bool numeric = false;
    const double seconds = duration.toDouble(&numeric);
    w.options = {pause, periodically, pauseMs, periodMs, numeric ? std::optional(seconds) : std::nullopt};
    SendSchedule s(w);
    if (pause || periodically) {
        s.IsSending = true;
        s.StartTransmittingData();
        QCOMPARE(w.optionsEnabled, !s.IsSending); // locked while it runs
    } else {
        s.tmrPauseAfterData_TimerFired();
    }
    w.run(s, 60000);
    QTEST(w.sent, "sent");
    QTEST(!s.IsSending, "stopsByItself");
    if (s.IsSending)
        s.StopTransmittingData();
    QVERIFY(!w.anyArmed());
    QVERIFY(w.optionsEnabled);
    QCOMPARE(s.MessagePosition, 0);
}

void tst_SendSchedule::firingsAfterAStopAreDropped()
{
    FakeWindow w;
    w.raw = "A\r\nB\r\n";
    w.options = {true, true, 100, 1000, std::nullopt};
    SendSchedule s(w);
    s.IsSending = true;
    s.StartTransmittingData();
    s.StopTransmittingData();
    // Both were already due when the stop came.
    s.timerFired(SendTimer::PauseAfterMessage);
    s.timerFired(SendTimer::PauseAfterData);
    QCOMPARE(w.sent, QByteArrayList{"0:A\r\n"});
    QVERIFY(!w.anyArmed());
}

void tst_SendSchedule::aBusyWindowDelaysTheFiring()
{
    // While a file loads or data converts, the pass waits and tries again.
    FakeWindow w;
    w.raw = "x";
    w.options = {false, true, 0, 1000, std::nullopt};
    SendSchedule s(w);
    s.IsSending = true;
    s.StartTransmittingData();
    w.busy = true;
    w.run(s, 1005);
    QCOMPARE(w.sent, QByteArrayList{"0:x"});
    w.busy = false;
    w.run(s, 1010);
    QCOMPARE(w.sent, (QByteArrayList{"0:x", "1010:x"}));
}

QTEST_GUILESS_MAIN(tst_SendSchedule)
#include "tst_sendschedule.moc"
