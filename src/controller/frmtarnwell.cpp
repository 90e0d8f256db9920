#include "controller/frmtarnwell.h"

#include "controller/frmabout.h"
#include "controller/frmnotabchange.h"
#include "core/eventlog.h"
#include "core/programfolder.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/frmdetails.h"
#include "display/frmfilter.h"
#include "display/supportclass.h"
#include "logging/frmevent.h"
#include "logging/frmlogging.h"
#include "logging/frmstate.h"
#include "net/socketcontrol.h"
#include "options/optionsmodel.h"
#include "options/settingsstore.h"
#include "sending/frmprotocol.h"
#include "sending/frmsend.h"
#include "sending/sendlist.h"
#include "ui/frmhelp.h"
#include "ui/objectnames.h"
#include "ui/twips.h"
#include "ui/uiservice.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMovie>
#include <QProcess>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QSysInfo>
#include <QTabWidget>
#include <QTime>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <cmath>

namespace {
const QString kAnimationFile = QStringLiteral("connected.gif");
} // namespace

frmTarnwell::frmTarnwell(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmTarnwell"));
    setWindowTitle(QStringLiteral("Tarnwell"));
    buildUi();
}

frmTarnwell::~frmTarnwell()
{
    frmSend::setRefreshSendListHook({});
    frmSend::setDefaultSendHook({});
    if (m_frmEvent)
        tw::setEventLog(nullptr);
    delete m_frmEvent;
    delete m_frmStateClient;
    delete m_frmStateServer;
    delete m_frmLogging;
    delete m_frmFilter;
    delete m_frmDetailsReceived;
    delete m_frmDetailsSent;
    releaseCompanions();
}

// ---------------------------------------------------------------- building

void frmTarnwell::buildUi()
{
    tabMode = named(new QTabWidget(this), "tabMode");
    setCentralWidget(tabMode);
    buildClientTab();
    buildServerTab();
    buildPassThroughTab();
    tabMode->addTab(tabs[0].page, QStringLiteral("Client"));
    tabMode->addTab(tabs[1].page, QStringLiteral("Server"));
    tabMode->addTab(tabs[2].page, QStringLiteral("Pass Through"));

    barStatus = named(new QStatusBar(this), "barStatus");
    setStatusBar(barStatus);
    for (int i = 0; i < 6; ++i) {
        m_panels[i] = named(new QLabel, "barStatus", i + 1);
        m_panels[i]->setFrameShape(QFrame::Panel);
        m_panels[i]->setFrameShadow(QFrame::Sunken);
        barStatus->addWidget(m_panels[i], i == 0 ? 1 : 0);
    }
    m_panels[5]->setMinimumWidth(70);
    m_cmdFormHide = named(new QPushButton(this), "cmdFormHide");
    m_cmdFormHide->setFlat(true);
    m_cmdFormHide->setFocusPolicy(Qt::NoFocus);
    m_cmdFormHide->hide();
    // Never smaller than the arrangement of the controls needs, either.
    setMinimumSize(Twips::toPixels(7275, 6255).expandedTo(minimumSizeHint()));
    m_panels[5]->setAlignment(Qt::AlignCenter);
    buildMenus();
}

void frmTarnwell::buildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction *a = file->addAction(QStringLiteral("&New Instance"), this, &frmTarnwell::mnuNewInstance_Click);
    a->setObjectName(QStringLiteral("mnuNewInstance"));
    file->addSeparator();
    a = file->addAction(QStringLiteral("E&xit"), this, &frmTarnwell::mnuExit_Click);
    a->setObjectName(QStringLiteral("mnuExit"));

    QMenu *mode = menuBar()->addMenu(QStringLiteral("&Mode"));
    a = mode->addAction(QStringLiteral("&Client"), this, [this] { tabMode->setCurrentIndex(0); });
    a->setObjectName(QStringLiteral("mnuClient"));
    a = mode->addAction(QStringLiteral("&Server"), this, [this] { tabMode->setCurrentIndex(1); });
    a->setObjectName(QStringLiteral("mnuServer"));
    a = mode->addAction(QStringLiteral("&Pass Through"), this, [this] { tabMode->setCurrentIndex(2); });
    a->setObjectName(QStringLiteral("mnuPassThrough"));

    QMenu *tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    a = tools->addAction(QStringLiteral("&Event History..."), this, [this] {
        m_frmEvent->show();
        m_frmEvent->raise();
    });
    a->setObjectName(QStringLiteral("mnuEvents"));
    a = tools->addAction(QStringLiteral("&Log Data..."), this, [this] {
        m_frmLogging->show();
        m_frmLogging->raise();
    });
    a->setObjectName(QStringLiteral("mnuLogData"));
    a = tools->addAction(QStringLiteral("&Options..."));
    a->setObjectName(QStringLiteral("mnuOptions"));
    a = tools->addAction(QStringLiteral("&Common Configurations..."));
    a->setObjectName(QStringLiteral("mnuCommonConfigs"));

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    a = help->addAction(QStringLiteral("&Contents and Index..."), this, &frmTarnwell::mnuHelpTarnwell_Click);
    a->setObjectName(QStringLiteral("mnuHelpTarnwell"));
    a = help->addAction(QStringLiteral("&About Tarnwell..."), this, &frmTarnwell::mnuAbout_Click);
    a->setObjectName(QStringLiteral("mnuAbout"));
}

// ---------------------------------------------------------------- load

QString frmTarnwell::loadFailureText(const OsError &error)
{
    return UiService::failureText(QStringLiteral("An error occurred while attempting to open the database at ") +
                                      QDir::toNativeSeparators(SettingsStore::instance().filePath()) +
                                      QStringLiteral(".  The operating system reports: "),
                                  error, QStringLiteral("\r\n\r\nTarnwell is not installed correctly and cannot continue."));
}

bool frmTarnwell::Load()
{
    // The first event line creates the options model, so its option block
    // stands first in the history.
    OptionsModel::install();

    // 1. The animation is the one file the program cannot run without.
    const QString animation = ProgramFolder::dataFile(kAnimationFile);
    if (!QFileInfo::exists(animation)) {
        tw::ui().message(this,
                         QStringLiteral("An essential Tarnwell file '") + QDir::toNativeSeparators(animation) +
                             QStringLiteral("' cannot be found. Tarnwell cannot continue."),
                         UiService::Icon::Exclamation);
        return false;
    }

    // 2. One animation per tab, stopped until a socket connects or listens.
    for (ModeControls &t : tabs) {
        t.movie = new QMovie(animation, QByteArray(), this);
        t.movie->setCacheMode(QMovie::CacheAll);
        t.aniAnimation->setMovie(t.movie);
        t.movie->jumpToFrame(0);
    }

    try {
        // 5. The main window's timers, in this order.
        tmrResize = new frmTimer(this);
        connect(tmrResize, &frmTimer::TimerFired, this, [this] { tmrResize_TimerFired(); });
        tmrPollClientState = new frmTimer(this);
        tmrPollServerState = new frmTimer(this);
        tmrAutoDisconnect = new frmTimer(this);
        tmrReconnectTimer = new frmTimer(this);
        tmrReceiveDisplayTimer = new frmTimer(this);
        tmrSentDisplayTimer = new frmTimer(this);
        tmrClockTick = new frmTimer(this);
        connect(tmrClockTick, &frmTimer::TimerFired, this, [this] { tmrClockTick_TimerFired(); });

        // 4. The shared support object, and the sockets it reaches.
        createSockets();

        // 6. Details and history windows, logging settings.
        m_frmEvent = new frmEvent;
        tw::setEventLog(m_frmEvent);
        reportStoreProblems();
        m_frmDetailsReceived = new frmDetails;
        m_frmDetailsSent = new frmDetails;
        m_frmStateServer = new frmState;
        m_frmStateClient = new frmState;
        m_frmLogging = new frmLogging;
        connect(m_frmLogging, &frmLogging::logIndicatorChanged, this,
                [this](const QString &text) { setStatusPanel(5, text); });
        connect(m_frmLogging, &frmLogging::logBacklogged, this, [this](bool backlogged) {
            m_logsBacklogged = backlogged;
            applyReadHolds();
        });
        m_frmLogging->LoadLoggingInformation();
        m_frmEvent->setLogging(m_frmLogging);
        for (frmState *s : {m_frmStateServer, m_frmStateClient}) {
            s->setLogging(m_frmLogging);
            s->setModeSource([this] { return intCurrentMode; });
        }
        m_frmStateServer->Initialise(true, QStringLiteral("Server State History"));
        m_frmStateClient->Initialise(false, QStringLiteral("Client State History"));

        // 7. The clock shows at once.
        tmrClockTick_TimerFired();

        // 8. Filter window, hidden.
        createFilterWindow();

        // 9-13.
        LoadMainSettings();
        intLastClientState = -1;
        aintLastServerState = {-1};
        intClientCount = 0;
        blnSkipReconnect = true;
        blnClientOpen = false;
        intClientCountShown = 0;
        blnTabChangeGuard = false;
        frmSend::setRefreshSendListHook([this] { RefreshSendList(); });
        // Send windows hand their bytes to the shared data path.
        frmSend::setDefaultSendHook([this](const QByteArray &bytes) { objSupport->SendDataDownSocket(bytes); });
        RefreshSendList();
        StartPollTimers();
        setListColumns();
    } catch (const std::exception &e) {
        tw::ui().message(this, loadFailureText(OsError{-1, QString::fromLocal8Bit(e.what())}),
                         UiService::Icon::Exclamation);
        return false;
    }

    // 14. The computer's name on the Server tab.
    QCoreApplication::processEvents();
    QString name = QSysInfo::machineHostName().left(255);
    if (const qsizetype nul = name.indexOf(QChar(0)); nul >= 0)
        name.truncate(nul);
    tabs[1].lblServer->setText(name.isEmpty() ? QStringLiteral("<Cannot Retrieve>") : name);

    connect(tabMode, &QTabWidget::currentChanged, this, [this](int) { tabMode_Click(m_previousTab); });
    wireCompanions();
    m_loaded = true;
    return true;
}

// ---------------------------------------------------------------- routines

void frmTarnwell::RefreshSendList()
{
    const QList<SavedSendState> states = savedSendStates(SettingsStore::instance());
    for (int i = 0; i < 2; ++i) {
        QComboBox *cbo = tabs[i].cboSend;
        QSignalBlocker block(cbo);
        cbo->clear();
        for (const SavedSendState &st : states)
            cbo->addItem(st.description, st.number);
        cbo->setCurrentIndex(-1);
    }
}

void frmTarnwell::StartPollTimers()
{
    switch (intCurrentMode) {
    case 0:
        tmrPollClientState->StartTimer(100, false);
        tmrPollServerState->StopTimer();
        break;
    case 1:
        tmrPollServerState->StartTimer(100, false);
        tmrPollClientState->StopTimer();
        break;
    default:
        tmrPollClientState->StartTimer(100, false);
        tmrPollServerState->StartTimer(100, false);
        break;
    }
}

bool frmTarnwell::IsConnectionBusy() const
{
    if (!sckClient)
        return false;
    auto idle = [](int s) { return s == 0 || s == 9; };
    const bool clientBusy =
        !idle(sckClient->State()) || tmrReconnectTimer->isRunning() || tmrAutoDisconnect->isRunning();
    const bool serverBusy = !idle(sckServer[0]->State());
    switch (intCurrentMode) {
    case 0:
        return clientBusy;
    case 1:
        return serverBusy;
    default:
        return clientBusy || serverBusy;
    }
}

void frmTarnwell::RefreshStatusLine()
{
    setStatusPanel(1, QString());
    setStatusPanel(2, objSupport && objSupport->blnReceivePaused ? QStringLiteral("Receive Pause On ") : QString());
    setStatusPanel(3, intCurrentMode != 2 && filterOn() ? QStringLiteral("Filtering On ") : QString());
}

void frmTarnwell::setStatusPanel(int panel, const QString &text)
{
    if (panel >= 1 && panel <= 6)
        m_panels[panel - 1]->setText(text);
}

QString frmTarnwell::statusPanel(int panel) const
{
    return (panel >= 1 && panel <= 6) ? m_panels[panel - 1]->text() : QString();
}

void frmTarnwell::tmrClockTick_TimerFired()
{
    setStatusPanel(6, QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
}

void frmTarnwell::chkReceivedFields_Click(int index)
{
    ModeControls &t = tabs[index];
    const bool list = t.chkReceivedFields->isChecked();
    auto *stack = qobject_cast<QStackedWidget *>(t.lvwReceived->parentWidget());
    if (stack)
        stack->setCurrentWidget(list ? static_cast<QWidget *>(t.lvwReceived) : static_cast<QWidget *>(t.txtReceived));
    if (t.cmdFilter)
        t.cmdFilter->setEnabled(list);
}

void frmTarnwell::tabMode_Click(int previousTab)
{
    const int tab = tabMode->currentIndex();
    if (blnTabChangeGuard) {
        blnTabChangeGuard = false;
        RefreshStatusLine();
        m_previousTab = tab;
        return;
    }
    if (IsConnectionBusy()) {
        blnTabChangeGuard = true;
        tabMode->setCurrentIndex(previousTab);
        auto *notice = new frmNoTabChange(this);
        notice->show();
        return;
    }
    // A client left in Error (automatic closing off) still shows Disconnect
    // with its boxes locked: disconnect it on the tab being left, so every tab
    // shows the truth and the client socket is free for the new mode.
    if (QPushButton *old = tabs[intCurrentMode].cmdConnect; old && captionKey(old) == QLatin1String("disconnect")) {
        blnSkipReconnect = true;
        ConnectDisconnectToSocket(false);
    }
    if (tmrReconnectTimer)
        tmrReconnectTimer->StopTimer();
    if (tmrAutoDisconnect)
        tmrAutoDisconnect->StopTimer();
    intCurrentMode = tab;
    static const char *const placed[] = {"Client", "Server", "Pass Through"};
    tw::events().AddEvent(QStringLiteral("Tarnwell has been placed in the %1 mode.")
                              .arg(QString::fromLatin1(placed[tab])));
    if (tmrPollClientState)
        StartPollTimers();
    blnTabChangeGuard = false;
    RefreshStatusLine();
    m_previousTab = tab;
}

// ---------------------------------------------------------------- menus

void frmTarnwell::mnuNewInstance_Click()
{
    QProcess proc;
    proc.setProgram(QCoreApplication::applicationFilePath());
    proc.setProcessChannelMode(QProcess::ForwardedChannels);
    qint64 pid = 0;
    if (!proc.startDetached(&pid)) {
        tw::ui().failure(this,
                         QStringLiteral("An error occurred while attempting to launch a new instance of Tarnwell.  "
                                        "The operating system reports: "),
                         OsError{int(proc.error()) + 1, proc.errorString()});
    }
}

frmHelp *frmTarnwell::help()
{
    return frmHelp::shared();
}

void frmTarnwell::mnuHelpTarnwell_Click()
{
    OsError error;
    frmHelp *viewer = frmHelp::shared(&error);
    if (!viewer) {
        tw::ui().failure(this,
                         QStringLiteral("An error occurred while attempting to load the help file.  "
                                        "The operating system reports: "),
                         error);
        return;
    }
    viewer->showTopics();
}

void frmTarnwell::mnuAbout_Click()
{
    frmAbout about(this);
    about.exec();
}

void frmTarnwell::mnuExit_Click()
{
    Unload();
    QCoreApplication::quit();
}

// ---------------------------------------------------------------- shutdown

void frmTarnwell::closeEvent(QCloseEvent *event)
{
    if (!m_unloaded) {
        blnAllowUnload = true;
        tw::events().AddEvent(QStringLiteral("Tarnwell is terminating"));
        if (m_frmEvent)
            m_frmEvent->close();
        if (m_frmFilter)
            m_frmFilter->close();
        Unload();
    }
    event->accept();
    QCoreApplication::quit();
}

void frmTarnwell::Unload()
{
    if (m_unloaded || !m_loaded)
        return;
    m_unloaded = true;
    // The exit's own steps let events run: no socket is read meanwhile.
    applyReadHolds();
    // Send windows stop their work and save their states first; the exit
    // tells one failed save, theirs or its own.
    const OsError sendError = frmSend::CloseAllForExit();
    prepareCompanionsForUnload();
    // The logging settings join the main window's keys: one write at exit.
    const SettingsStore::Changes logging = m_frmLogging->logger().loggingSettings();
    tw::events().AddEvent(QStringLiteral("Tarnwell terminated."));
    m_frmLogging->StopAllLogging();
    if (const OsError e = SaveMainSettings(logging); e.isError() || sendError.isError())
        tw::ui().failure(this, SettingsStore::kSaveFailure, e.isError() ? e : sendError);
    delete tmrResize;
    tmrResize = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w != this)
            w->close();
    }
}

void frmTarnwell::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (isMinimized() || !tmrResize || !m_cmdFormHide)
        return;
    // Cover the controls while the size changes; they are shown again once
    // the resizing has paused for 50 ms.
    m_cmdFormHide->setGeometry(centralWidget()->geometry());
    m_cmdFormHide->raise();
    m_cmdFormHide->show();
    tmrResize->StartTimer(50, true);
    setWindowTitle(QStringLiteral("Tarnwell"));
}

void frmTarnwell::tmrResize_TimerFired()
{
    if (m_cmdFormHide)
        m_cmdFormHide->hide();
}

void frmTarnwell::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange) {
        static const char *const shortCaption[] = {"TWL (Client)", "TWL (Server)", "TWL (Pass Through)"};
        setWindowTitle(isMinimized() ? QString::fromLatin1(shortCaption[qBound(0, intCurrentMode, 2)])
                                     : QStringLiteral("Tarnwell"));
    }
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && tmrClockTick)
        tmrClockTick->StartTimer(200, false);
    QMainWindow::changeEvent(event);
}
