#pragma once

#include "core/eventlog.h"
#include "logging/historywindow.h"

#include <QStringList>

/// The event history (caption "Event History"): every event line of the run,
/// numbered and time-stamped, each also passed to the event log file.
class frmEvent : public HistoryWindow, public EventLog
{
    Q_OBJECT
public:
    enum Column
    {
        ColNumber,
        ColTime,
        ColEvent
    };
    static constexpr int kHelpTopic = 12;
    static inline const QString kClearedNotice =
        QStringLiteral("Event log cleared because it exceeded the maximum number of rows.");

    explicit frmEvent(QWidget *parent = nullptr);
    void AddEvent(const QString &strEvent) override;

    /// Texts of the event column of the rows in the list, oldest first.
    QStringList eventTexts() const;
};
