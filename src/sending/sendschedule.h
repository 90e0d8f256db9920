#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <optional>

/// The two timers that pace a transmission.
enum class SendTimer
{
    PauseAfterMessage, ///< between the messages of a pass
    PauseAfterData     ///< between passes (periodic sending)
};

/// What a transmission needs from its send window: the options of the
/// moment, the clock and timers, the prepared bytes and a way out for them.
class SendScheduleHost
{
public:
    struct Options
    {
        bool pause = false;
        bool periodically = false;
        int pauseMs = 200;
        int periodMs = 5000;
        /// Seconds; nothing for "ever" and other non-numbers.
        std::optional<double> durationSeconds;
    };

    virtual ~SendScheduleHost() = default;
    /// Read afresh at every step, so an edit takes effect at the next timer start.
    virtual Options sendOptions() const = 0;
    virtual QDateTime now() const = 0;
    /// Starting a running timer starts it again from now.
    virtual void startSendTimer(SendTimer timer, int ms, bool oneShot) = 0;
    virtual void stopSendTimer(SendTimer timer) = 0;
    /// A file is loading or data is converting: a firing waits a little.
    virtual bool isBusy() const = 0;
    /// Brings the prepared bytes up to date; false: send nothing. May let
    /// events run, and may stop the transmission or destroy the window.
    virtual bool RefreshRawData() = 0;
    virtual QByteArray rawData() const = 0;
    /// Hands bytes over to the socket and shows that they went.
    virtual void transmit(const QByteArray &bytes) = 0;
    /// Ends a conversion in progress and lets pending events run.
    virtual void stopPreparing() = 0;
    virtual void UpdateSendCaption() = 0;
    /// The option boxes are locked while a transmission runs.
    virtual void setOptionControlsEnabled(bool enabled) = 0;
};

/// The transmission of one send window: the whole data once, message by
/// message with a pause between messages, periodically for a duration, or
/// periodic passes of messages. The period rule: after each whole send, the
/// transmission stops once the whole seconds elapsed since its start (second
/// boundaries crossed) exceed the duration; a pass of messages is not begun
/// once they reach it.
class SendSchedule : public QObject
{
    Q_OBJECT
public:
    explicit SendSchedule(SendScheduleHost &host, QObject *parent = nullptr);

    bool IsSending = false;
    /// Scan position in the prepared bytes for the next message.
    qint64 MessagePosition = 0;
    QDateTime StartTime;

    /// Starts a transmission once IsSending is set (the start/stop button).
    void StartTransmittingData();
    /// Sends the next message of the pass; true when more follow.
    bool SendNextMessage();
    /// One pass: the whole data, or the first message of a periodic pass.
    /// A single send is one such pass.
    void tmrPauseAfterData_TimerFired();
    void tmrPauseAfterMessage_TimerFired();
    /// A timer of the window fired; firings after a stop are dropped.
    void timerFired(SendTimer timer);
    void StopTransmittingData();

    /// Second boundaries crossed since StartTime.
    qint64 elapsedWholeSeconds() const;

private:
    SendScheduleHost &m_host;
};
