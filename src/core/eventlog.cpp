#include "core/eventlog.h"

#include <cstdio>

namespace {
class StderrEventLog final : public EventLog
{
public:
    void AddEvent(const QString &strEvent) override
    {
        std::fprintf(stderr, "tarnwell: %s\n", strEvent.toLocal8Bit().constData());
    }
};

StderrEventLog g_stderrLog;
EventLog *g_log = nullptr;
} // namespace

namespace tw {
EventLog &events()
{
    return g_log ? *g_log : g_stderrLog;
}

void setEventLog(EventLog *log)
{
    g_log = log;
}
} // namespace tw
