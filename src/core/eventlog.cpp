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

QString invalidSettingEvent(const QString &section, const QString &key, const QString &value,
                            const QString &defaultValue)
{
    return QStringLiteral("The setting '%1' in section '%2' holds '%3', which is not valid; "
                          "the default %4 is used instead.")
        .arg(key, section, value, defaultValue);
}
} // namespace tw
