#pragma once

#include <QObject>
#include <QTimer>
#include <QVariant>

/// The program's timer object: one-shot or repeating, with a caller-chosen id
/// handed back on every firing. Periods longer than one lap are split into
/// laps (the remainder first, then full laps), so any 32-bit period works.
class frmTimer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kLapMs = 65000;

    explicit frmTimer(QObject *parent = nullptr, int lapMs = kLapMs);

    /// Starts or restarts the object; any period in progress is cancelled.
    void StartTimer(int intMSec, bool blnOneShot, const QVariant &CallbackId = QVariant(qint16(0)));
    /// Disables the object; no notification follows.
    void StopTimer();

    bool isRunning() const { return m_timer.isActive(); }
    int interval() const { return m_interval; }
    bool isOneShot() const { return m_oneShot; }
    /// Inner lap state, exposed for checks of the lap arithmetic.
    int currentLapMs() const { return m_timer.interval(); }
    int lapsLeft() const { return m_lapsLeft; }

Q_SIGNALS:
    void TimerFired(const QVariant &CallbackId);

private:
    void onTick();
    void armLap(int ms);

    QTimer m_timer;
    int m_lapMs;
    int m_interval = 0;
    int m_lapsLeft = 0;
    bool m_oneShot = false;
    QVariant m_callbackId;
};
