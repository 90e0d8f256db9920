#include "logging/frmevent.h"

#include <cstdio>

frmEvent::frmEvent(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmEvent"));
    setWindowTitle(QStringLiteral("Event History"));
}

void frmEvent::AddEvent(const QString &strEvent)
{
    m_lines << strEvent;
    if (qEnvironmentVariableIsSet("TARNWELL_EVENTS_TO_STDERR"))
        std::fprintf(stderr, "event: %s\n", strEvent.toLocal8Bit().constData());
}
