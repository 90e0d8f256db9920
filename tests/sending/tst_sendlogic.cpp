#include "sending/sendschedule.h"
#include "sending/sendstatestore.h"
#include "support/testenv.h"

#include <QTest>
#include <array>

// The send window's saved states and its transmission schedule, without a window.
namespace {
const QString kSend = QStringLiteral("Send");
const QDateTime kNow(QDate(2026, 12, 5), QTime(14, 3, 9));
QStringList cells(const char *row)
{
    return QString::fromLatin1(row).split(QLatin1Char('|'));
}

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
    std::pair<qint64, qint64> busy; // from, until: a file loads or data converts
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
    bool isBusy() const override { return ms >= busy.first && ms < busy.second; }
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

class tst_SendLogic : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void savedAndReadBack_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("linkedFile");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("keepStored");
        QTest::addColumn<QString>("storedDescription");
        QTest::addColumn<QByteArray>("storedData");
        const QByteArray bytes("GET / HTTP/1.0\r\n\0\xFF\xA0 \\41\r\n\r", 26);
        const auto row = [](const char *name, const char *description, const char *linkedFile,
                            const QByteArray &data, bool keepStored, const char *storedDescription,
                            const QByteArray &storedData) {
            QTest::newRow(name) << QString::fromLatin1(description) << QString::fromLatin1(linkedFile) << data
                                << keepStored << QString::fromLatin1(storedDescription) << storedData;
        };
        row("every byte kind", "HTTP probe", "", bytes, false, "HTTP probe", bytes);
        row("blank description", "  ", "", "x", false, "<No Desc 05 Dec 26>", "x");
        row("5000 characters", "d", "", QByteArray(5000, 'd'), true, "d", QByteArray(5000, 'd'));
        // The number may be an older state's: its data must not stay under these options.
        row("5001 characters", "d", "", QByteArray(5001, 'd'), false, "d", "");
        row("5001 characters, stored kept", "d", "", QByteArray(5001, 'd'), true, "d", "older data");
        row("linked", "l", "/data/script.txt", "", true, "l", "");
    }

    void savedAndReadBack()
    {
        QFETCH(QString, description);
        QFETCH(QString, linkedFile);
        QFETCH(QByteArray, data);
        QFETCH(bool, keepStored);
        TempSettings settings;
        settings.store().Save(QStringLiteral("Send\\4"), QStringLiteral("Data"),
                              QStringLiteral("older data"));
        SendWindowState st;
        st.description = description;
        st.binary = st.pause = true;
        st.pauseFor = QStringLiteral("350");
        st.duration = QStringLiteral("30");
        st.left = 1500;
        st.width = 7000;
        st.linkedFile = linkedFile;
        st.data = data;
        // The stamp has English month names whatever the user's language.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const int writes = settings.store().writeCount();
        QVERIFY(!SendStateStore(settings.store())
                     .save(4, st,
                           keepStored ? SendStateStore::DataTooLong::KeepStored
                                      : SendStateStore::DataTooLong::Clear,
                           kNow)
                     .isError());
        QLocale::setDefault(QLocale::c());
        QCOMPARE(settings.store().writeCount(), writes + 1); // every key in one write

        settings.reopen(); // as the next run of the program reads it
        QCOMPARE(settings.store().Read(QStringLiteral("Send\\4"), QStringLiteral("Modified")),
                 QStringLiteral("05 Dec 2026 14:03:09"));
        QTEST(settings.store().Read(kSend, QStringLiteral("4")), "storedDescription");
        const SendWindowState back = SendStateStore(settings.store()).load(4, QPoint(1, 2));
        QCOMPARE((QList<bool>{back.binary, back.pause, back.periodically}), (QList<bool>{true, true, false}));
        QCOMPARE((QStringList{back.pauseFor, back.onceEvery, back.duration, back.linkedFile}),
                 (QStringList{st.pauseFor, st.onceEvery, st.duration, linkedFile}));
        QCOMPARE((QList<int>{back.left, back.top, back.width, back.height}),
                 (QList<int>{1500, 0, 7000, 4020}));
        QTEST(back.data, "storedData");
    }

    void restored_data()
    {
        // Stored "Left", "Top", "Width", "Height" and "Binary" (empty: not stored) on a screen of
        // 20000 x 15000 twips, from a window at (300, 400); restored geometry and box.
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QList<int>>("restored");
        const auto row = [](const char *name, const char *stored, const QList<int> &restored) {
            QTest::newRow(name) << cells(stored) << restored;
        };
        row("on the screen", "100|200|6000|5000|True", {100, 200, 6000, 5000, 1});
        row("beyond right and bottom", "20001|15001|6000|5000| true", {19000, 14250, 6000, 5000, 1});
        row("above and left", "-300|-1|6000|5000|yes please", {0, 0, 6000, 5000, 0});
        row("too small, too large", "0|0|-5|9999999999999|False", {0, 0, 5730, 15000, 0});
        row("unreadable or missing", "left||||", {300, 400, 5730, 4020, 0});
    }

    void restored()
    {
        QFETCH(QStringList, stored);
        TempSettings settings;
        const QStringList keys = cells("Left|Top|Width|Height|Binary");
        for (qsizetype i = 0; i < keys.size(); ++i) {
            if (!stored[i].isEmpty())
                settings.store().Save(QStringLiteral("Send\\2"), keys[i], stored[i]);
        }
        settings.store().Save(kSend, QStringLiteral("2"), QStringLiteral("<No Description>"));
        SendWindowState st = SendStateStore(settings.store()).load(2, QPoint(300, 400));
        st.keepOnScreen(QSize(20000, 15000));
        QTEST((QList<int>{st.left, st.top, st.width, st.height, st.binary}), "restored");
        QCOMPARE(st.description, QString());
    }

    void findFreeStateNumber_data()
    {
        // Keys of section "Send" with the "Modified" stamp of each numeric one
        // ("-" for none, anything unreadable counts as now).
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("stamps");
        QTest::addColumn<int>("expected");
        QStringList ten, stamps;
        for (int i = 0; i < 10; ++i) {
            ten << QString::number(i);
            stamps << QStringLiteral("1%1 Mar 2024 08:00:00").arg(i);
        }
        QStringList oldest = stamps;
        oldest[6] = oldest[4] = QStringLiteral("28 Feb 2024 23:59:59"); // equal: the lower one
        QStringList missing = stamps;
        missing[0] = QStringLiteral("-");
        missing[1] = QStringLiteral("rubbish");
        QStringList edited = stamps;
        edited[7] = QStringLiteral(" 1 mar  2024 7:00:00"); // as a hand edit may leave it: still the oldest
        edited[2] = QStringLiteral("29 Feb 2023 06:00:00"); // no such day: counts as now
        QTest::newRow("empty section") << QStringList() << QStringList() << 0;
        QTest::newRow("hand-edited stamps") << ten << edited << 7;
        QTest::newRow("0..9 taken: oldest") << ten << oldest << 4;
        QTest::newRow("no stamp counts as now") << ten << missing << 2;
        QTest::newRow("other keys count") << (QStringList(ten) << QStringLiteral("InitReadDir"))
                                          << (QStringList(stamps) << QString()) << 10;
        QTest::newRow("gap") << texts({"0", "2"}) << QStringList{stamps[0], stamps[2]} << 1;
    }

    void findFreeStateNumber()
    {
        QFETCH(QStringList, keys);
        QFETCH(QStringList, stamps);
        TempSettings settings;
        SettingsStore &s = settings.store();
        for (qsizetype i = 0; i < keys.size(); ++i) {
            s.Save(kSend, keys[i], QStringLiteral("desc"));
            bool numeric = false;
            const int n = keys[i].toInt(&numeric);
            if (numeric && stamps[i] != QLatin1String("-"))
                s.Save(SendStateStore::stateSection(n), QStringLiteral("Modified"), stamps[i]);
        }
        QTEST(SendStateStore(s).FindFreeStateNumber(kNow), "expected");
    }

    void twoCopiesTakeTwoNumbers()
    {
        // Both copies read the file before either saved: each number is chosen
        // from what is on disk when its state is written.
        TempSettings settings;
        SettingsStore other(settings.iniPath());
        SendWindowState a, b;
        a.description = QStringLiteral("first copy");
        b.description = QStringLiteral("second copy");
        int na = -1, nb = -1;
        QVERIFY(!SendStateStore(settings.store()).saveNew(a, na, kNow).isError());
        QVERIFY(!SendStateStore(other).saveNew(b, nb, kNow).isError());
        QCOMPARE((QList<int>{na, nb}), (QList<int>{0, 1}));
        settings.reopen();
        QCOMPARE(settings.store().Read(kSend, QStringLiteral("0")), a.description);
        QCOMPARE(settings.store().Read(kSend, QStringLiteral("1")), b.description);
    }

    void timelines_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("pauseMs");  // 0: not message by message
        QTest::addColumn<int>("periodMs"); // 0: not periodic
        QTest::addColumn<QString>("duration");
        QTest::addColumn<QByteArrayList>("sent"); // within the first minute
        QTest::addColumn<bool>("stopsByItself");
        QTest::addColumn<QList<int>>("busy"); // from, until (ms)
        const auto row = [](const char *name, const QByteArray &data, int pauseMs, int periodMs,
                            const char *duration, const QByteArrayList &sent, bool stops = true,
                            const QList<int> &busy = {0, 0}) {
            QTest::newRow(name) << data << pauseMs << periodMs << QString::fromLatin1(duration) << sent
                                << stops << busy;
        };
        const QByteArray ab("A\r\nB\r\n");
        row("once", ab, 0, 0, "", {"0:A\r\nB\r\n"});
        row("messages", "A\r\nB\r\nC", 150, 0, "", {"0:A\r\n", "150:B\r\n", "300:C"});
        row("messages, no separator", "no separator", 150, 0, "", {"0:no separator"});
        // The send that first finds more than D whole seconds gone is the last.
        row("periodic, T 4000, D 10", "tick", 0, 4000, "10",
            {"0:tick", "4000:tick", "8000:tick", "12000:tick"});
        row("periodic, D 1 counts second boundaries", "t", 0, 300, "1",
            {"0:t", "300:t", "600:t", "900:t", "1200:t", "1500:t"});
        row("periodic for ever", "tick", 0, 25000, "ever", {"0:tick", "25000:tick", "50000:tick"}, false);
        // A pass is not begun once D whole seconds are reached; the next pass starts T after its last
        // message.
        row("message passes, D 2", ab, 100, 1000, "2", {"0:A\r\n", "100:B\r\n", "1100:A\r\n", "1200:B\r\n"});
        row("message passes, D 0", ab, 100, 1000, "0", {"0:A\r\n", "100:B\r\n"});
        // A pass due while the window is busy waits and tries again.
        row("periodic, busy at the second pass", "x", 0, 1000, "1", {"0:x", "1010:x", "2010:x"}, true,
            {1, 1005});
    }

    void timelines()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, pauseMs);
        QFETCH(int, periodMs);
        QFETCH(QString, duration);
        QFETCH(QList<int>, busy);
        FakeWindow w;
        w.raw = data;
        w.busy = {busy[0], busy[1]};
        bool numeric = false;
        const double seconds = duration.toDouble(&numeric);
        w.options = {pauseMs > 0, periodMs > 0, pauseMs, periodMs,
                     numeric ? std::optional(seconds) : std::nullopt};
        SendSchedule s(w);
        if (pauseMs > 0 || periodMs > 0) {
            s.IsSending = true;
            s.StartTransmittingData();
            QCOMPARE(w.optionsEnabled, !s.IsSending); // locked while it runs
        } else {
            s.tmrPauseAfterData_TimerFired();
        }
        w.run(s, 60000);
        QTEST(!s.IsSending, "stopsByItself");
        if (s.IsSending)
            s.StopTransmittingData();
        // Firings already due when it stopped are dropped.
        s.timerFired(SendTimer::PauseAfterMessage);
        s.timerFired(SendTimer::PauseAfterData);
        QTEST(w.sent, "sent");
        QVERIFY(!w.anyArmed());
        QVERIFY(w.optionsEnabled);
        QCOMPARE(s.MessagePosition, 0);
    }
};

QTEST_GUILESS_MAIN(tst_SendLogic)
#include "tst_sendlogic.moc"
