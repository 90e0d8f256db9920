#pragma once

#include "core/frmtimer.h"
#include "core/oserror.h"
#include "display/indicators.h"
#include "display/supporthost.h"
#include "options/settingsstore.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMovie;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QToolButton;
class QTreeView;

class QAbstractButton;
class DataListModel;
class Lamp;
class PauseGauge;
class SocketControl;
class SupportClass;
class DataTextView;
class frmDetails;
class frmEvent;
class frmFilter;
class frmHelp;
class frmLogging;
class frmProtocol;
class frmState;
class ProtocolHost;

/// The controls of one mode tab. Only the ones the mode needs exist; the
/// others stay null (the Client tab has the client side, the Server tab the
/// listening side, the Pass Through tab both).
struct ModeControls
{
    QWidget *page = nullptr;
    // Client side: where to connect to.
    QLabel *lblServer = nullptr;
    QLineEdit *txtServer = nullptr;
    QPushButton *cmdServer = nullptr;
    QLineEdit *txtPortConnectTo = nullptr;
    QPushButton *cmdPortConnectTo = nullptr; // cmdPort(0) / cmdPort(2)
    QPushButton *cmdConnect = nullptr;
    QLabel *lblClientState = nullptr;
    // Listening side.
    QLineEdit *txtPort = nullptr;
    QPushButton *cmdPortListen = nullptr; // cmdPort(1) / cmdPort(3)
    QPushButton *cmdListen = nullptr;
    QLabel *lblState = nullptr;
    // Connection animation.
    QWidget *panAniHolder = nullptr;
    QLabel *aniAnimation = nullptr;
    QMovie *movie = nullptr;
    // Data display.
    QComboBox *cboShow = nullptr;
    QCheckBox *chkReceivedFields = nullptr;
    QPushButton *cmdFilter = nullptr;
    QToolButton *cmdReceivedPause = nullptr;
    QToolButton *cmdEmptyReceived = nullptr;
    PauseGauge *gauge = nullptr;
    QLabel *lblReceivePausePerc = nullptr;       // the gauge's text
    QProgressBar *panReceivePausePerc = nullptr; // the gauge's bar
    QToolButton *cmdReceivedClear = nullptr;
    QToolButton *cmdReceivedDetails = nullptr;
    Lamp *panReceived = nullptr;
    Lamp *panSent = nullptr;
    QTreeView *lvwReceived = nullptr;
    DataListModel *model = nullptr;
    DataTextView *txtReceived = nullptr;
    // Sending and history.
    QPushButton *cmdSend = nullptr;
    QComboBox *cboSend = nullptr;
    QPushButton *cmdProtocols = nullptr;
    QPushButton *cmdState = nullptr;
};

/// How the start-up runs; tests switch off what would slow them or block.
struct StartupOptions
{
    bool showSplash = true;
    bool allowConfigurations = true;
    bool exitOnFatal = true;
};

/// The main window: three mode tabs with their connection controls and data
/// views, the status bar, the menus, and the objects everything else hangs off.
class frmTarnwell : public QMainWindow, public SupportHost
{
    Q_OBJECT
public:
    explicit frmTarnwell(QWidget *parent = nullptr);
    ~frmTarnwell() override;

    /// The load: checks the animation file, creates the shared objects and
    /// windows, restores the settings. False when start-up cannot go on (the
    /// fatal message has been shown).
    bool Load();
    /// The unload steps: saves the settings and stops the logs. Runs once.
    void Unload();
    bool isUnloaded() const { return m_unloaded; }

    // Mode and per-mode controls.
    int intCurrentMode = 0;
    bool blnAllowUnload = false;
    std::array<ModeControls, 3> tabs;
    QTabWidget *tabMode = nullptr;
    QStatusBar *barStatus = nullptr;
    void setStatusPanel(int panel, const QString &text);
    QString statusPanel(int panel) const;

    // Connection records.
    qint16 intLastClientState = -1;
    QList<qint16> aintLastServerState{-1};
    qint16 intClientCount = 0;
    bool blnSkipReconnect = true;
    bool blnClientOpen = false;
    qint16 intClientCountShown = 0;
    bool blnTabChangeGuard = false;

    // The main window's timers, created in this order at load.
    frmTimer *tmrResize = nullptr;
    frmTimer *tmrPollClientState = nullptr;
    frmTimer *tmrPollServerState = nullptr;
    frmTimer *tmrAutoDisconnect = nullptr;
    frmTimer *tmrReconnectTimer = nullptr;
    frmTimer *tmrReceiveDisplayTimer = nullptr;
    frmTimer *tmrSentDisplayTimer = nullptr;
    frmTimer *tmrClockTick = nullptr;

    // Sockets: the client, and the server set (element 0 listens).
    SocketControl *sckClient = nullptr;
    QList<SocketControl *> sckServer;
    /// The shared support object (objSupport).
    SupportClass *objSupport = nullptr;

    // Client connection.
    void cmdConnect_Click(int index);
    void ConnectDisconnectToSocket(bool blnAutoOccurred);
    void tmrPollClientState_TimerFired();
    void tmrAutoDisconnect_TimerFired();
    void tmrReconnectTimer_TimerFired();

    // Listening side and Pass Through.
    void cmdListen_Click(int index);
    void cmdStartBoth_Click();
    void cmdStopBoth_Click();
    void tmrPollServerState_TimerFired();
    /// The element with this index, created (Closed) if it does not exist yet.
    SocketControl *serverElement(int index);

    // Indicators and the pause gauge.
    void DataHasBeenReceived();
    void cmdReceivedPause_Click(int index);
    void cmdEmptyReceived_Click(int index);
    void cmdReceivedClear_Click(int index);
    void mnuCommonConfigs_Click();

    enum class Almanac { Servers, Ports };
    /// Shows an almanac; the host or port chosen there goes into box.
    void chooseFromAlmanac(Almanac which, QLineEdit *box);

    /// Hooks for the protocols window (merge with reconnection).
    std::function<void()> ConnectionReestablished;
    std::function<void()> MessageSuccessfullySent;

    /// The protocols window, made on first use (null after the unload).
    frmProtocol *protocols();
    /// The data lists and text views of the three tabs take the font.
    void SetUserFont(const QFont &font);

    // SupportHost.
    int currentMode() const override { return intCurrentMode; }
    int showPosition(int mode) const override;
    DataListModel *dataList(int mode) const override;
    DataTextView *textView(int mode) const override;
    bool filterOn() const override;
    bool passesFilter(const QByteArray &message) const override;
    int clientState() const override;
    int serverState(int index) const override;
    int highestServerIndex() const override { return int(sckServer.size()) - 1; }
    OsError writeClient(const QByteArray &data) override;
    OsError writeServer(int index, const QByteArray &data) override;
    void sendFailed(const OsError &error) override;
    void holdArrivals(int socket, bool held) override;
    void readArrival(int socket) override;
    void closeClient() override;
    void closeServer(int index) override;
    void holdReceiving(bool hold) override;
    void IncomingDataArrived(const QString &strSocket, const QByteArray &strData) override;
    void OutgoingDataArrived(const QByteArray &strData) override;
    void ClientToServerDataArrived(const QByteArray &strData) override;
    void ServerToClientDataArrived(const QByteArray &strData) override;
    void SentDataAdded() override;
    void ReceivedDataAdded() override;
    void DataHasBeenSent() override;
    void UpdateReceivePauseBufferIndicator() override;

    /// A button's caption without its access-key marker, in lower case.
    static QString captionKey(const QAbstractButton *button);

    // Companion windows.
    frmEvent *eventHistory() const { return m_frmEvent; }
    frmState *clientStateHistory() const { return m_frmStateClient; }
    frmState *serverStateHistory() const { return m_frmStateServer; }
    frmLogging *logging() const { return m_frmLogging; }
    frmFilter *filter() const { return m_frmFilter; }
    frmDetails *receivedDetails() const { return m_frmDetailsReceived; }
    frmDetails *sentDetails() const { return m_frmDetailsSent; }
    frmHelp *help();
    /// The protocols window if it was made.
    frmProtocol *protocolsWindow() const { return m_frmProtocol; }

    /// Routines other parts of the program call.
    void RefreshSendList();
    void StartPollTimers();
    void RefreshStatusLine();
    bool IsConnectionBusy() const;
    void chkReceivedFields_Click(int index);
    void tmrClockTick_TimerFired();
    /// Runs when the selected tab changes (by click, menu or settings load).
    void tabMode_Click(int previousTab);

    // Menu commands.
    void mnuNewInstance_Click();
    void mnuExit_Click();
    void mnuHelpTarnwell_Click();
    void mnuAbout_Click();

    /// The settings store value of "StartUp"/"ShowConfigurations".
    bool shouldShowConfigurations() const;

    /// The fatal load message (settings could not be opened, objects not made).
    static QString loadFailureText(const OsError &error);

    void tmrResize_TimerFired();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void createSockets();
    // The filter and details windows (dataviewers.cpp).
    void createFilterWindow();
    void wireDataViewers();
    void holdBackIfBacklogged();
    void wireWindowOpeners();
    void wireCompanions();
    void prepareCompanionsForUnload();
    void releaseCompanions();
    void releaseIfDrained();
    void applyReadHolds();
    bool serversHeld() const;
    void wireClientSocket();
    void wireServerElement(int index);
    SocketControl *dataSocket(int socket) const;
    void onClientDataArrival();
    void readClientArrival();
    void onServerConnectionRequest(qintptr requestID);
    bool clientsStillConnected(qintptr requestID);
    void onServerDataArrival(int index);
    void readServerArrival(int index);
    void onServerClosed(int index);
    void setLocked(QLineEdit *box, bool locked);
    void playAnimation(int index, bool play);
    void buildUi();
    void buildMenus();
    void buildClientTab();
    void buildServerTab();
    void buildPassThroughTab();
    void buildDataArea(int index, QWidget *page, class QVBoxLayout *layout);
    void setListColumns();
    void LoadMainSettings();
    /// Writes the keys of the table in one save; the result says why it failed.
    /// Writes the main window's keys, with the given others, in one write.
    OsError SaveMainSettings(SettingsStore::Changes c = {});
    void reportStoreProblems();

    frmEvent *m_frmEvent = nullptr;
    frmState *m_frmStateClient = nullptr;
    frmState *m_frmStateServer = nullptr;
    frmLogging *m_frmLogging = nullptr;
    frmFilter *m_frmFilter = nullptr;
    frmDetails *m_frmDetailsReceived = nullptr;
    frmDetails *m_frmDetailsSent = nullptr;
    frmProtocol *m_frmProtocol = nullptr;
    std::unique_ptr<ProtocolHost> m_protocolHost;
    std::array<QLabel *, 6> m_panels{};
    PauseGaugeScale m_gaugeScale;
    // When the lamps were last lit, and how long they stay lit.
    static constexpr int kLampMs = 50;
    QElapsedTimer m_receivedAt;
    QElapsedTimer m_sentAt;
    QPushButton *m_cmdFormHide = nullptr;
    // Relay flow control: backlog above which the fast side stops being read.
    static constexpr qint64 kRelayHighWater = 4 * 1024 * 1024;
    static constexpr qint64 kRelayLowWater = 1024 * 1024;
    static constexpr qint64 kReadBufferSize = 1024 * 1024;
    bool m_clientsHeldBack = false;
    bool m_serverHeldBack = false;
    // The pause buffer is full: what feeds it waits in the sockets.
    bool m_receiveHeld = false;
    // The logs wait for the disk: every socket waits for them.
    bool m_logsBacklogged = false;
    // Elements whose close is being handled are not handed to new clients.
    QSet<int> m_closingElements;
    // How long a Pass Through request may wait for a client's end that is
    // still behind its data, before it is decided as things stand.
    static constexpr int kRequestWaitMs = 1000;
    QTimer m_requestWait;
    bool m_requestWaitOver = false;
    int m_previousTab = 0;
    bool m_loaded = false;
    bool m_unloaded = false;
};

/// The program's entry: splash, main window, help, configurations. Returns
/// the main window (owned by the caller) or null when start-up failed.
std::unique_ptr<frmTarnwell> StartUp(const StartupOptions &options);
