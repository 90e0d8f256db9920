#include "sending/sendschedule.h"

#include "core/framing.h"
#include "core/optionssource.h"

#include <QPointer>

namespace {
// A firing that meets a load or conversion of the same window tries again soon.
constexpr int kRetryMs = 10;
} // namespace

SendSchedule::SendSchedule(SendScheduleHost &host, QObject *parent) : QObject(parent), m_host(host) {}

qint64 SendSchedule::elapsedWholeSeconds() const
{
    return m_host.now().toSecsSinceEpoch() - StartTime.toSecsSinceEpoch();
}

void SendSchedule::timerFired(SendTimer timer)
{
    // A firing that was already due when the transmission stopped is dropped.
    if (!IsSending)
        return;
    if (timer == SendTimer::PauseAfterMessage)
        tmrPauseAfterMessage_TimerFired();
    else
        tmrPauseAfterData_TimerFired();
}

void SendSchedule::StartTransmittingData()
{
    StartTime = m_host.now();
    m_host.UpdateSendCaption();
    const SendScheduleHost::Options options = m_host.sendOptions();
    if (!options.pause && !options.periodically)
        return;
    if (!IsSending) {
        m_host.stopSendTimer(SendTimer::PauseAfterMessage);
        m_host.stopSendTimer(SendTimer::PauseAfterData);
        return;
    }
    m_host.setOptionControlsEnabled(false);
    m_host.stopSendTimer(SendTimer::PauseAfterMessage);
    m_host.stopSendTimer(SendTimer::PauseAfterData);
    QPointer<SendSchedule> self(this);
    if (options.pause) {
        const bool more = SendNextMessage();
        if (self && more && IsSending)
            m_host.startSendTimer(SendTimer::PauseAfterMessage, m_host.sendOptions().pauseMs, false);
    } else {
        tmrPauseAfterData_TimerFired();
        if (self && IsSending)
            m_host.startSendTimer(SendTimer::PauseAfterData, m_host.sendOptions().periodMs, false);
    }
}

bool SendSchedule::SendNextMessage()
{
    QPointer<SendSchedule> self(this);
    const QByteArray data = m_host.rawData();
    const OptionsSource &framing = tw::options();
    QByteArray message;
    qint64 separators = 0;
    const bool more =
        Framing::GetNextMessage(data, MessagePosition, message, true, separators,
                                framing.GetMessageSeparator(), framing.ConcatMesssageSeparators());
    m_host.transmit(message);
    if (!self)
        return false;
    if (more) {
        // Stopped during the hand-over: nothing is started again.
        if (IsSending)
            m_host.startSendTimer(SendTimer::PauseAfterMessage, m_host.sendOptions().pauseMs, true);
    } else {
        MessagePosition = 0;
        m_host.stopSendTimer(SendTimer::PauseAfterMessage);
        if (m_host.sendOptions().periodically) {
            if (IsSending)
                m_host.startSendTimer(SendTimer::PauseAfterData, m_host.sendOptions().periodMs, true);
        } else {
            StopTransmittingData();
        }
    }
    return more;
}

void SendSchedule::tmrPauseAfterMessage_TimerFired()
{
    if (m_host.isBusy()) {
        m_host.startSendTimer(SendTimer::PauseAfterMessage, kRetryMs, true);
        return;
    }
    SendNextMessage();
}

void SendSchedule::tmrPauseAfterData_TimerFired()
{
    if (m_host.isBusy()) {
        if (IsSending)
            m_host.startSendTimer(SendTimer::PauseAfterData, kRetryMs, true);
        return;
    }
    QPointer<SendSchedule> self(this);
    const bool transmitting = IsSending;
    if (transmitting) {
        // This pass sets the next firing itself; none may come while it
        // re-reads or converts the data.
        m_host.stopSendTimer(SendTimer::PauseAfterData);
        m_host.stopSendTimer(SendTimer::PauseAfterMessage);
    }
    if (!m_host.RefreshRawData() || !self)
        return;
    if (transmitting && !IsSending)
        return; // stopped while the data was being prepared
    if (m_host.sendOptions().pause) {
        m_host.stopSendTimer(SendTimer::PauseAfterData);
        const std::optional<double> duration = m_host.sendOptions().durationSeconds;
        if (duration && double(elapsedWholeSeconds()) >= *duration) {
            StopTransmittingData();
            return;
        }
        const bool more = SendNextMessage();
        if (!self || !IsSending)
            return;
        if (more)
            m_host.startSendTimer(SendTimer::PauseAfterMessage, m_host.sendOptions().pauseMs, false);
        else
            m_host.startSendTimer(SendTimer::PauseAfterData, m_host.sendOptions().periodMs, false);
        return;
    }
    m_host.transmit(m_host.rawData());
    if (!self)
        return;
    if (!m_host.sendOptions().periodically || !IsSending)
        return;
    m_host.startSendTimer(SendTimer::PauseAfterData, m_host.sendOptions().periodMs, false);
    const std::optional<double> duration = m_host.sendOptions().durationSeconds;
    if (duration && double(elapsedWholeSeconds()) > *duration)
        StopTransmittingData();
}

void SendSchedule::StopTransmittingData()
{
    m_host.stopSendTimer(SendTimer::PauseAfterData);
    m_host.stopSendTimer(SendTimer::PauseAfterMessage);
    QPointer<SendSchedule> self(this);
    m_host.stopPreparing();
    if (!self)
        return;
    IsSending = false;
    m_host.UpdateSendCaption();
    MessagePosition = 0;
    m_host.setOptionControlsEnabled(true);
}
