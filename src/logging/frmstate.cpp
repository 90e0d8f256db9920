#include "logging/frmstate.h"

#include "core/eventlog.h"
#include "logging/frmlogging.h"
#include "logging/historymodel.h"

frmState::frmState(QWidget *parent)
    : HistoryWindow(
          QStringLiteral("frmState"),
          {QStringLiteral("#"), QStringLiteral("Time"), QStringLiteral("Sock#"), QStringLiteral("State")},
          {500, 1000, 700}, kHelpTopic, parent)
{
}

void frmState::Initialise(bool blnShowSocketInstance, const QString &strCaption)
{
    // Both windows show the socket column; the flag is kept for callers that ask.
    m_showSocketInstance = blnShowSocketInstance;
    setWindowTitle(strCaption);
}

void frmState::clearIfFull()
{
    // The notice goes to the event history; this list starts again at "001".
    if (clearIfOverLimit())
        tw::events().AddEvent(kClearedNotice);
}

void frmState::addStateRow(const QString &strSocket, const QString &text)
{
    addLine({inClientMode() ? QStringLiteral("NA") : strSocket, text});
}

void frmState::AddState(const QString &strState, const QString &strSocket)
{
    clearIfFull();
    addStateRow(strSocket, strState);
    const QString logText = inClientMode() ? strState : strSocket + QStringLiteral("#, ") + strState;
    if (m_logging)
        m_logging->StateDataArrived(logText);
    Q_EMIT lineLogged(logText);
}

void frmState::AddError(int intError, const QString &strDescription, qint32 Scode, const QString &strSource,
                        const QString &strSocket)
{
    clearIfFull();
    // Joined, not formatted: a description may itself hold "%1".
    const QString text = QStringLiteral("Error Info: ") + QString::number(intError) + QStringLiteral(", ") +
                         strDescription + QStringLiteral(" SCode: ") + QString::number(Scode) +
                         QStringLiteral(" Source: ") + strSource;
    addStateRow(strSocket, text);
    if (m_logging)
        m_logging->StateDataArrived(text);
    Q_EMIT lineLogged(text);
}

QStringList frmState::stateTexts() const
{
    return model()->columnInAddedOrder(ColState);
}
