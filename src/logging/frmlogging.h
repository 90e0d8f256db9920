#pragma once

#include "logging/datalogger.h"

#include <QByteArray>
#include <QString>
#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabBar;

/// The logging window (caption "Logging"): one tab per log type, where each
/// type is switched on or off and given its file and its date/time choice,
/// plus the hex choice shared by all; its files can be viewed and deleted.
/// The logs themselves are kept by the DataLogger inside; the data path and
/// the histories call the operations below. Closing only hides the window.
class frmLogging : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kHelpTopic = 16;

    explicit frmLogging(QWidget *parent = nullptr);

    DataLogger &logger() { return m_logger; }

    /// Reads the settings and prepares the window (ticks, fields, indicator).
    void LoadLoggingInformation();
    OsError SaveLoggingInformation() { return m_logger.SaveLoggingInformation(); }
    void StopAllLogging() { m_logger.StopAllLogging(); }

    void IncomingDataArrived(const QString &strSocket, const QByteArray &strData)
    {
        m_logger.IncomingDataArrived(strSocket, strData);
    }
    void OutgoingDataArrived(const QByteArray &strData) { m_logger.OutgoingDataArrived(strData); }
    void ClientToServerDataArrived(const QByteArray &strData) { m_logger.ClientToServerDataArrived(strData); }
    void ServerToClientDataArrived(const QByteArray &strData) { m_logger.ServerToClientDataArrived(strData); }
    void EventDataArrived(const QString &strText) { m_logger.EventDataArrived(strText); }
    void StateDataArrived(const QString &strText) { m_logger.StateDataArrived(strText); }

    /// The type whose fields are on show (mintPrevTab).
    int currentType() const { return mintPrevTab; }
    bool hasTick(int type) const;

    void chkLog_Click();
    void chkIncludeDateTime_Click();
    void cmdOpen_Click();
    void cmdView_Click();
    void cmdDelete_Click();
    void cmdStartAll_Click();
    void cmdStopAll_Click();
    void cmdOK_Click();

    QTabBar *tabMode = nullptr;
    QCheckBox *chkLog = nullptr;
    QLineEdit *txtFileName = nullptr;
    QPushButton *cmdOpen = nullptr;
    QCheckBox *chkIncludeDateTime = nullptr;
    QPushButton *cmdView = nullptr;
    QPushButton *cmdDelete = nullptr;
    QCheckBox *chkLogInHex = nullptr;
    QPushButton *cmdStartAll = nullptr;
    QPushButton *cmdStopAll = nullptr;
    QPushButton *cmdOK = nullptr;

Q_SIGNALS:
    /// The text of the log indicator of the main window's status bar.
    void logIndicatorChanged(const QString &text);
    /// More is waiting for the disk than it should: the sources of the data
    /// are to be held back until this says false.
    void logBacklogged(bool backlogged);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void tabMode_Click(int index);
    void storeFields();
    void showEntry(int type);
    void setTick(int type, bool on);
    void lockFileName(bool locked);
    void onLoggingFailed(int type, const QString &message);

    DataLogger m_logger;
    int mintPrevTab = DataLogger::kFirstType;
};
