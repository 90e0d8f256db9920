#pragma once

#include "core/eventlog.h"

#include <QStringList>
#include <QWidget>

/// The event history. Stand-in until the history window is built: it keeps
/// the lines in memory and echoes them to standard error.
class frmEvent : public QWidget, public EventLog
{
    Q_OBJECT
public:
    explicit frmEvent(QWidget *parent = nullptr);
    void AddEvent(const QString &strEvent) override;
    void SetUserFont(const QFont &font) { Q_UNUSED(font); }

    /// Texts of the event column, oldest first (for checks and scripts).
    QStringList eventTexts() const { return m_lines; }

private:
    QStringList m_lines;
};
