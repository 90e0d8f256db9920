#pragma once

#include "core/oserror.h"
#include "sending/sendschedule.h"

#include <QByteArray>
#include <QDateTime>
#include <QVariant>
#include <QWidget>
#include <functional>
#include <optional>

class ByteTextEdit;
class ClickLabel;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class SupportClass;
class SendSchedule;
class UpDown;
class frmDetails;
class frmTimer;
class frmWait;

/// A send window: a description, the data to send (one character per byte,
/// optionally with backslash escapes) and its transmission options. Any
/// number may be open; each has its own data, timers, support object and
/// details viewer. The transmission itself is its SendSchedule; a modified
/// window saves its state through SendStateStore when it closes, and the
/// main window offers the saved states for reopening.
class frmSend : public QWidget, private SendScheduleHost
{
    Q_OBJECT
public:
    explicit frmSend(QWidget *parent = nullptr);
    ~frmSend() override;

    // --- What the main window and other windows call.
    /// A new, empty window, shown (cmdSend of the main window).
    static frmSend *OpenNewWindow();
    /// A window restored from saved state n, shown (cboSend of the main window).
    static frmSend *ReopenState(int stateNumber);
    /// Every send window that is open now.
    static QList<frmSend *> openWindows();
    /// At exit: every open window stops its work, saves its state and
    /// closes; none can refuse. The result is the first save that failed,
    /// for the exit to tell.
    static OsError CloseAllForExit();
    /// Called after every save of a state, so the main window rebuilds its lists.
    static void setRefreshSendListHook(std::function<void()> hook);
    /// Opens the options window (cmdPreferences, disabled in windows opened without one).
    static void setShowOptionsHook(std::function<void()> hook);
    /// Where the bytes of windows without a hook of their own go: the main
    /// window installs the shared support object's SendDataDownSocket here.
    using SendHook = std::function<void(const QByteArray &)>;
    static void setDefaultSendHook(SendHook hook);
    /// This window's own way out (tests route it to a loopback peer).
    void setSendHook(SendHook hook) { m_sendHook = std::move(hook); }

    // --- The window's state.
    bool IsNewWindow = true;
    qint16 StateNumber = 0;
    bool IsModified = false;
    bool DataChanged = false;
    bool IsLinked = false;
    QString LinkedFileName;
    QDateTime LinkedFileDate;
    QByteArray RawData;
    bool IsLoading = false;
    bool LoadCancelled = false;

    // --- Controls.
    QLabel *lblTitle = nullptr;
    QLineEdit *txtTitle = nullptr;
    QLabel *lblOptional = nullptr;
    QLabel *lblSend = nullptr;
    ByteTextEdit *txtSend = nullptr;
    QFrame *panTimingDetails = nullptr;
    QCheckBox *chkBinary = nullptr;
    ClickLabel *lblBinary = nullptr;
    QCheckBox *chkPause = nullptr;
    ClickLabel *lblPause2 = nullptr;
    QLabel *lblPause = nullptr;
    QLineEdit *txtPause = nullptr;
    UpDown *udPause = nullptr;
    QLabel *lblmSec = nullptr;
    QCheckBox *chkPeriodically = nullptr;
    ClickLabel *lblPeriodically = nullptr;
    QLabel *lblSendOnceEvery = nullptr;
    QLineEdit *txtOnceEvery = nullptr;
    UpDown *udOnceEvery = nullptr;
    QLabel *lblmSecFor = nullptr;
    QComboBox *cboSecs = nullptr;
    QLabel *lblSeconds = nullptr;
    QPushButton *cmdTiming = nullptr;
    QPushButton *cmdSend = nullptr;
    QFrame *panSending = nullptr;
    QToolButton *cmdOpen = nullptr;
    QPushButton *cmdSaveAs = nullptr;
    QToolButton *cmdCopyAll = nullptr;
    QToolButton *cmdClear = nullptr;
    QPushButton *cmdDetails = nullptr;
    QPushButton *cmdPreferences = nullptr;
    QPushButton *cmdClose = nullptr;

    // --- Companions.
    frmDetails *details() const { return m_frmDetails; }
    frmWait *frmLoadWait = nullptr;
    frmTimer *tmrTextChanged = nullptr;
    frmTimer *tmrPauseAfterMessage = nullptr;
    frmTimer *tmrPauseAfterData = nullptr;
    frmTimer *tmrDataTransmission = nullptr;
    SupportClass *support() const { return m_support; }
    /// The transmission: IsSending, MessagePosition, StartTime and its steps.
    SendSchedule *schedule() const { return m_schedule; }

    // --- Buttons and boxes (other windows press them directly).
    void cmdTiming_Click();
    void cmdSend_Click();
    void cmdOpen_Click();
    void cmdSaveAs_Click();
    void cmdCopyAll_Click();
    void cmdClear_Click();
    void cmdDetails_Click();
    void cmdPreferences_Click();
    void cmdClose_Click();
    void chkBinary_Click();
    void chkPause_Click();
    void chkPeriodically_Click();
    void frmLoadWait_Cancel() { LoadCancelled = true; }

    // --- Data and persistence.
    /// Reads a file into the data box; true when the whole file was read.
    bool LoadFile(const QString &path);
    void ShowLinkState();
    bool CanCloseWindow();
    bool SaveWindowState();
    void LoadWindowState();
    void SetUserFont(const QFont &font);
    /// The details viewer shows the data around the caret.
    void RefreshDetails();

    // --- Transmission.
    bool isSending() const;
    void StopTransmittingData();
    bool RefreshRawData() override;
    void tmrDataTransmission_TimerFired(const QVariant &id = QVariant());
    void tmrTextChanged_TimerFired(const QVariant &id = QVariant());
    void FlashSendingIndicator();
    void UpdateSendCaption() override;

    /// The pause and period in milliseconds, always 1 to 2147483647.
    int pauseInterval() const;
    int periodInterval() const;
    /// The duration in seconds, or nothing for "ever" and other non-numbers.
    std::optional<double> durationSeconds() const;
    /// A file is loading or the data is being converted.
    bool isBusy() const override { return IsLoading || m_busyDepth > 0; }
    /// Whether the options panel is shown.
    bool timingShown() const;

    /// Texts of a number box made sound: digits only, 1 to 2147483647.
    static QString soundIntervalText(const QString &text);
    /// Events run after at most this much loading work (0: after every block).
    void setLoadSliceMs(int ms) { m_loadSliceMs = ms; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Busy;
    void buildUi();
    void connectControls();
    void setCaption();
    bool prepareRawData();
    void sendBytes(const QByteArray &bytes);
    void intervalTextChanged(QLineEdit *box);
    void durationTextChanged(const QString &text);
    void busyEnded();
    OsError closeForExit();
    /// Writes the state, asking first when the data is too long to keep;
    /// keepClosing is false when the user answered No.
    OsError writeState(bool &keepClosing);
    QSize minimumWindowSize(bool panelShown) const;

    // What the transmission asks of the window.
    Options sendOptions() const override;
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    void startSendTimer(SendTimer timer, int ms, bool oneShot) override;
    void stopSendTimer(SendTimer timer) override;
    QByteArray rawData() const override { return RawData; }
    void transmit(const QByteArray &bytes) override;
    void stopPreparing() override;
    void setOptionControlsEnabled(bool enabled) override;

    SupportClass *m_support = nullptr;
    SendSchedule *m_schedule = nullptr;
    frmDetails *m_frmDetails = nullptr;
    SendHook m_sendHook;
    int m_busyDepth = 0;
    bool m_rawFresh = false;
    bool m_closeRequested = false;
    bool m_inClose = false;
    bool m_exiting = false;
    // A save failed and was told: the next close closes without saving.
    bool m_saveFailed = false;
    bool m_inSendClick = false;
    int m_lastSecsIndex = 0;
    int m_loadSliceMs = 8;
};
