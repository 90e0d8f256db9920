#include "core/frmtimer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

class TestFrmTimer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void repeatingFiresUntilStopped();
    void oneShotFiresOnceAfterItsInterval();
    void longIntervalRunsInLaps();
    void restartPostponesAndStopPrevents();
    void handlerMayRestartItsOwnTimer();
    void callbackIdIsHandedBack();
};

void TestFrmTimer::repeatingFiresUntilStopped()
{
    frmTimer t;
    QSignalSpy spy(&t, &frmTimer::TimerFired);
    t.StartTimer(20, false);
    QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 3, 5000);
    t.StopTimer();
    const int n = spy.count();
    QTest::qWait(100);
    QCOMPARE(spy.count(), n);
    QVERIFY(!t.isRunning());
    t.StopTimer(); // stopping an idle object does nothing
}

void TestFrmTimer::oneShotFiresOnceAfterItsInterval()
{
    frmTimer t;
    QSignalSpy spy(&t, &frmTimer::TimerFired);
    QElapsedTimer clock;
    clock.start();
    t.StartTimer(150, true);
    QVERIFY(spy.wait(5000));
    // The interval is a lower bound.
    QVERIFY2(clock.elapsed() >= 150, qPrintable(QString::number(clock.elapsed())));
    QTest::qWait(300);
    QCOMPARE(spy.count(), 1);
    QVERIFY(!t.isRunning());
}

void TestFrmTimer::longIntervalRunsInLaps()
{
    // Laps of 40 ms stand for the real 65000 ms laps: 150 = 30 + 40 + 40 + 40.
    frmTimer t(nullptr, 40);
    QSignalSpy spy(&t, &frmTimer::TimerFired);
    QElapsedTimer clock;
    clock.start();
    t.StartTimer(150, true);
    QCOMPARE(t.currentLapMs(), 30);
    QCOMPARE(t.lapsLeft(), 3);
    QList<int> laps{t.currentLapMs()};
    int last = t.lapsLeft();
    while (spy.isEmpty() && clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (t.lapsLeft() != last) {
            last = t.lapsLeft();
            laps << t.currentLapMs();
        }
    }
    QCOMPARE(spy.count(), 1);
    QCOMPARE(laps, (QList<int>{30, 40, 40, 40}));
    QVERIFY(clock.elapsed() >= 150);

    // The real lap arithmetic: 150000 ms is 20000 + 65000 + 65000.
    frmTimer real;
    real.StartTimer(150000, true);
    QCOMPARE(real.currentLapMs(), 20000);
    QCOMPARE(real.lapsLeft(), 2);
    real.StopTimer();
}

void TestFrmTimer::restartPostponesAndStopPrevents()
{
    frmTimer t;
    QSignalSpy spy(&t, &frmTimer::TimerFired);
    QElapsedTimer clock;
    clock.start();
    t.StartTimer(200, true);
    QTest::qWait(100);
    t.StartTimer(200, true); // a full new interval from now
    QVERIFY(spy.wait(5000));
    QVERIFY(clock.elapsed() >= 300);

    t.StartTimer(50, true);
    t.StopTimer();
    QTest::qWait(150);
    QCOMPARE(spy.count(), 1);
}

void TestFrmTimer::handlerMayRestartItsOwnTimer()
{
    frmTimer t;
    int fired = 0;
    connect(&t, &frmTimer::TimerFired, &t, [&] {
        ++fired;
        if (fired == 1)
            t.StartTimer(30, true); // a repeating timer turned one-shot from its own handler
    });
    t.StartTimer(20, false);
    QTRY_COMPARE_WITH_TIMEOUT(fired, 2, 5000);
    QTest::qWait(150);
    QCOMPARE(fired, 2);
    QVERIFY(t.isOneShot());
}

void TestFrmTimer::callbackIdIsHandedBack()
{
    frmTimer t;
    QSignalSpy spy(&t, &frmTimer::TimerFired);
    t.StartTimer(10, true, QStringLiteral("reconnect"));
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.first().first().toString(), QStringLiteral("reconnect"));
    t.StartTimer(10, true);
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.last().first(), QVariant(qint16(0)));
}

QTEST_GUILESS_MAIN(TestFrmTimer)
#include "tst_frmtimer.moc"
