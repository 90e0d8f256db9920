#include "core/frmtimer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

class TestFrmTimer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Repeating until stopped, one-shot once and never early; a restart
    // postpones, a stop prevents; the caller's id comes back with each firing.
    void firesAsStartedAndStopped()
    {
        frmTimer t;
        QSignalSpy spy(&t, &frmTimer::TimerFired);
        t.StartTimer(20, false, QStringLiteral("reconnect"));
        QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 3, 5000);
        t.StopTimer();
        const int n = spy.count();
        QTest::qWait(100);
        QCOMPARE(spy.count(), n);
        QCOMPARE(spy.last().first().toString(), QStringLiteral("reconnect"));

        spy.clear();
        QElapsedTimer clock;
        clock.start();
        t.StartTimer(200, true);
        QTest::qWait(100);
        t.StartTimer(200, true); // a full new interval from now
        QVERIFY(spy.wait(5000));
        QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(spy.last().first(), QVariant(qint16(0)));
        t.StartTimer(50, true);
        t.StopTimer();
        QTest::qWait(150);
        QCOMPARE(spy.count(), 1);
        QVERIFY(!t.isRunning());
    }

    void longIntervalRunsInLaps()
    {
        // Laps of 40 ms stand for the real 65000 ms laps: 150 = 30 + 40 + 40 + 40.
        frmTimer t(nullptr, 40);
        QSignalSpy spy(&t, &frmTimer::TimerFired);
        QElapsedTimer clock;
        clock.start();
        t.StartTimer(150, true);
        QList<int> laps{t.currentLapMs()};
        for (int last = t.lapsLeft(); spy.isEmpty() && clock.elapsed() < 5000;) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (t.lapsLeft() != last) {
                last = t.lapsLeft();
                laps << t.currentLapMs();
            }
        }
        QCOMPARE(spy.count(), 1);
        QCOMPARE(laps, (QList<int>{30, 40, 40, 40}));
        QVERIFY(clock.elapsed() >= 150);
    }

    void handlerMayRestartItsOwnTimer()
    {
        frmTimer t;
        int fired = 0;
        connect(&t, &frmTimer::TimerFired, &t, [&] {
            if (++fired == 1)
                t.StartTimer(30, true); // a repeating timer turned one-shot from its own handler
        });
        t.StartTimer(20, false);
        QTRY_COMPARE_WITH_TIMEOUT(fired, 2, 5000);
        QTest::qWait(150);
        QCOMPARE(fired, 2);
    }
};

QTEST_GUILESS_MAIN(TestFrmTimer)
#include "tst_frmtimer.moc"
