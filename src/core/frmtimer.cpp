#include "core/frmtimer.h"

#include <algorithm>

frmTimer::frmTimer(QObject *parent, int lapMs) : QObject(parent), m_lapMs(std::max(1, lapMs))
{
    // The interval must be a lower bound: coarse timers may fire a few percent early.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &frmTimer::onTick);
}

void frmTimer::StartTimer(int intMSec, bool blnOneShot, const QVariant &CallbackId)
{
    // A negative period has no meaning; treat it as "as soon as possible".
    m_interval = std::max(0, intMSec);
    m_timer.stop();
    m_lapsLeft = m_interval / m_lapMs;
    m_oneShot = blnOneShot;
    m_callbackId = CallbackId.isValid() ? CallbackId : QVariant(qint16(0));
    armLap(m_interval % m_lapMs);
    m_timer.start();
}

void frmTimer::StopTimer()
{
    m_timer.stop();
}

void frmTimer::armLap(int ms)
{
    // A repeating object with a zero lap would spin the event loop without
    // pause; one millisecond keeps it a timer rather than a busy loop.
    if (ms == 0 && !m_oneShot && m_lapsLeft == 0)
        ms = 1;
    if (m_timer.interval() != ms)
        m_timer.setInterval(ms);
}

void frmTimer::onTick()
{
    if (m_lapsLeft == 0) {
        if (m_oneShot) {
            m_timer.stop();
        } else {
            m_lapsLeft = m_interval / m_lapMs;
            armLap(m_interval % m_lapMs);
        }
        // Raised after re-arming so the owner may restart or stop us from the handler.
        Q_EMIT TimerFired(m_callbackId);
        return;
    }
    --m_lapsLeft;
    armLap(m_lapMs);
}
