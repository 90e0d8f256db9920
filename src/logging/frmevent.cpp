#include "logging/frmevent.h"

#include "logging/frmlogging.h"
#include "logging/historymodel.h"

#include <cstdio>

frmEvent::frmEvent(QWidget *parent)
    : HistoryWindow(QStringLiteral("frmEvent"),
                    {QStringLiteral("#"), QStringLiteral("Time"), QStringLiteral("Event")}, {500, 1000, 3000},
                    kHelpTopic, parent)
{
    setWindowTitle(QStringLiteral("Event History"));
}

void frmEvent::AddEvent(const QString &strEvent)
{
    if (clearIfOverLimit())
        AddEvent(kClearedNotice);
    addLine({strEvent});
    if (m_logging)
        m_logging->EventDataArrived(strEvent);
    Q_EMIT lineLogged(strEvent);
    if (qEnvironmentVariableIsSet("TARNWELL_EVENTS_TO_STDERR"))
        std::fprintf(stderr, "event: %s\n", strEvent.toLocal8Bit().constData());
}

QStringList frmEvent::eventTexts() const
{
    return model()->columnInAddedOrder(ColEvent);
}
