#pragma once

#include "core/eventlog.h"

#include <QStringList>

/// Collects the program's event lines for a test while it exists.
class RecordingEvents : public EventLog
{
public:
    RecordingEvents() { tw::setEventLog(this); }
    ~RecordingEvents() override { tw::setEventLog(nullptr); }
    void AddEvent(const QString &strEvent) override { lines << strEvent; }
    QStringList lines;
};
