#pragma once

#include "logging/historywindow.h"

#include <QStringList>
#include <functional>

/// A state history (client or server sockets): socket state changes and
/// socket errors, numbered and time-stamped, each also passed to the state
/// log file. In Client mode the socket column reads "NA".
class frmState : public HistoryWindow
{
    Q_OBJECT
public:
    enum Column
    {
        ColNumber,
        ColTime,
        ColSocket,
        ColState
    };
    static constexpr int kHelpTopic = 11;
    static inline const QString kClearedNotice =
        QStringLiteral("State log cleared because it exceeded the maximum number of rows.");

    explicit frmState(QWidget *parent = nullptr);

    void Initialise(bool blnShowSocketInstance, const QString &strCaption);
    void AddState(const QString &strState, const QString &strSocket);
    void AddError(int intError, const QString &strDescription, qint32 Scode, const QString &strSource,
                  const QString &strSocket);

    /// How the window learns the current mode (0 Client, 1 Server, 2 Pass
    /// Through); without one it takes Client mode.
    void setModeSource(std::function<int()> mode) { m_mode = std::move(mode); }
    bool showSocketInstance() const { return m_showSocketInstance; }

    /// Texts of the state column of the rows in the list, oldest first.
    QStringList stateTexts() const;

private:
    bool inClientMode() const { return !m_mode || m_mode() == 0; }
    void clearIfFull();
    void addStateRow(const QString &strSocket, const QString &text);

    std::function<int()> m_mode;
    bool m_showSocketInstance = false;
};
