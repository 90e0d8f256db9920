#include "core/optionssource.h"
#include "logging/frmevent.h"
#include "logging/frmstate.h"
#include "logging/historymodel.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeView>
#include <QtTest>
#include <memory>

namespace {
QStringList column(const HistoryWindow &w, int col)
{
    QStringList out;
    for (int r = 0; r < w.rowCount(); ++r)
        out << w.model()->text(r, col);
    return out;
}

QStringList spied(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).toString();
    return out;
}

QStringList strings(std::initializer_list<const char *> texts)
{
    QStringList out;
    for (const char *t : texts)
        out << QString::fromLatin1(t);
    return out;
}
} // namespace

class TestHistories : public QObject
{
    Q_OBJECT
private:
    DefaultOptions m_options;
    std::unique_ptr<frmEvent> m_events;
    std::unique_ptr<QAbstractItemModelTester> m_tester;

    void addEvents(int count)
    {
        for (int i = 1; i <= count; ++i)
            m_events->AddEvent(QStringLiteral("line %1").arg(i));
    }

private Q_SLOTS:
    void init()
    {
        m_options = DefaultOptions();
        tw::setOptions(&m_options);
        m_events = std::make_unique<frmEvent>();
        tw::setEventLog(m_events.get());
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_events->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    void cleanup()
    {
        m_tester.reset();
        tw::setEventLog(nullptr);
        m_events.reset();
        tw::setOptions(nullptr);
    }

    void eventLimit_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("fullRows");
        QTest::newRow("100") << 100 << 101;
        QTest::newRow("0") << 0 << 1;
        // A negative limit behaves as 0 instead of clearing without end.
        QTest::newRow("negative") << -3 << 1;
    }

    void eventLimit()
    {
        QFETCH(int, limit);
        QFETCH(int, fullRows);
        m_options.maxListLength = limit;
        QSignalSpy logged(m_events.get(), &HistoryWindow::lineLogged);
        addEvents(fullRows);
        QCOMPARE(m_events->rowCount(), fullRows);
        // With a limit of 0 every further line clears again; with 100 once.
        for (const QString &next : {QStringLiteral("next"), QStringLiteral("after")}) {
            logged.clear();
            m_events->AddEvent(next);
            QCOMPARE(column(*m_events, frmEvent::ColNumber), strings({"001", "002"}));
            QCOMPARE(m_events->eventTexts(), QStringList({frmEvent::kClearedNotice, next}));
            QCOMPARE(spied(logged), QStringList({frmEvent::kClearedNotice, next}));
            if (limit > 1)
                break;
        }
    }

    void stateRowsByMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("socketColumn");
        QTest::addColumn<QString>("logText");
        QTest::newRow("no mode source") << -1 << QStringLiteral("NA") << QStringLiteral("Connected");
        QTest::newRow("server") << 1 << QStringLiteral("3") << QStringLiteral("3#, Connected");
        QTest::newRow("pass through") << 2 << QStringLiteral("3") << QStringLiteral("3#, Connected");
    }

    void stateRowsByMode()
    {
        QFETCH(int, mode);
        frmState state;
        state.Initialise(true, QStringLiteral("Server State History"));
        if (mode >= 0)
            state.setModeSource([mode] { return mode; });
        QSignalSpy logged(&state, &HistoryWindow::lineLogged);
        state.AddState(QStringLiteral("Connected"), QStringLiteral("3"));
        QTEST(column(state, frmState::ColSocket).value(0), "socketColumn");
        QCOMPARE(state.stateTexts(), QStringList{QStringLiteral("Connected")});
        QTEST(spied(logged).value(0), "logText");
    }

    void errorText()
    {
        frmState state;
        state.setModeSource([] { return 1; });
        QSignalSpy logged(&state, &HistoryWindow::lineLogged);
        state.AddError(10061, QStringLiteral("D"), 0, QStringLiteral("R"), QStringLiteral("2"));
        // A description that looks like a format placeholder is shown as given.
        state.AddError(-1, QStringLiteral("%1 %2"), -2147467259, QStringLiteral("sck"), QStringLiteral("4"));
        const QStringList texts{QStringLiteral("Error Info: 10061, D SCode: 0 Source: R"),
                                QStringLiteral("Error Info: -1, %1 %2 SCode: -2147467259 Source: sck")};
        QCOMPARE(state.stateTexts(), texts);
        QCOMPARE(column(state, frmState::ColSocket), strings({"2", "4"}));
        // The log gets the text without the socket.
        QCOMPARE(spied(logged), texts);
    }

    void fullStateListNoticeGoesToEvents()
    {
        m_options.maxListLength = 2;
        frmState state;
        QAbstractItemModelTester tester(state.model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (const char *s : {"s1", "s2", "s3"})
            state.AddState(QString::fromLatin1(s), QStringLiteral("1"));
        QVERIFY(m_events->eventTexts().isEmpty());
        state.AddError(1, QStringLiteral("x"), 0, QStringLiteral("y"), QStringLiteral("1"));
        QCOMPARE(column(state, frmState::ColNumber), QStringList{QStringLiteral("001")});
        QCOMPARE(m_events->eventTexts(), QStringList{frmState::kClearedNotice});

        m_options.maxListLength = -1;
        state.AddState(QStringLiteral("a"), QStringLiteral("1"));
        state.AddState(QStringLiteral("b"), QStringLiteral("1"));
        QCOMPARE(state.stateTexts(), QStringList{QStringLiteral("b")});
        // The event history is bounded too, so it holds its own notice and the latest state notice.
        QCOMPARE(m_events->eventTexts(), QStringList({frmEvent::kClearedNotice, frmState::kClearedNotice}));
    }

    void headerClicksSort()
    {
        m_events->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_events.get()));
        for (const char *t : {"bravo", "alpha", "Charlie", "alpha"})
            m_events->AddEvent(QString::fromLatin1(t));
        QHeaderView *header = m_events->list()->header();
        const auto clickHeader = [header](int section) {
            const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                            header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        };

        clickHeader(frmEvent::ColEvent);
        QCOMPARE(column(*m_events, frmEvent::ColEvent), strings({"alpha", "alpha", "bravo", "Charlie"}));
        // Equal texts keep the order they were added in.
        QCOMPARE(column(*m_events, frmEvent::ColNumber), strings({"002", "004", "001", "003"}));
        clickHeader(frmEvent::ColEvent);
        QCOMPARE(column(*m_events, frmEvent::ColEvent), strings({"Charlie", "bravo", "alpha", "alpha"}));

        // The list stays sorted: a new row takes its place and, the newest, is selected.
        m_events->AddEvent(QStringLiteral("delta"));
        QCOMPARE(m_events->model()->text(0, frmEvent::ColEvent), QStringLiteral("delta"));
        QCoreApplication::processEvents();
        QCOMPARE(m_events->list()->currentIndex().row(), 0);
        QCOMPARE(m_events->eventTexts(), strings({"bravo", "alpha", "Charlie", "alpha", "delta"}));
    }

    // Closing only hides: the history goes on filling while hidden.
    void closeOnlyHides()
    {
        QPointer<frmState> state = new frmState;
        state->show();
        QTest::mouseClick(state->findChild<QPushButton *>(QStringLiteral("cmdClose")), Qt::LeftButton);
        QVERIFY(!state->isVisible());
        state->show();
        state->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(state && !state->isVisible());
        state->AddState(QStringLiteral("Listening"), QStringLiteral("0"));
        QCOMPARE(state->rowCount(), 1);
        delete state;
    }
};

QTEST_MAIN(TestHistories)
#include "tst_histories.moc"
