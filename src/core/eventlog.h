#pragma once

#include <QString>

/// Where event lines go. The event history window implements it; until one is
/// installed, lines are written to standard error so nothing is lost.
class EventLog
{
public:
    virtual ~EventLog() = default;
    virtual void AddEvent(const QString &strEvent) = 0;
};

namespace tw {
/// The program's event log (never null).
EventLog &events();
/// Installs the event log; nullptr restores the standard-error fallback.
void setEventLog(EventLog *log);
/// The event told when a stored setting cannot be used and its default is.
QString invalidSettingEvent(const QString &section, const QString &key, const QString &value,
                            const QString &defaultValue);
} // namespace tw
