#include "controller/frmtarnwell.h"

#include "controller/frmabout.h"
#include "controller/frmnotabchange.h"
#include "net/socketcontrol.h"
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
#include <QProgressBar>
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

const QStringList kShowClientServer = {QStringLiteral("Input & Output"), QStringLiteral("Input Only"),
                                       QStringLiteral("Output Only"), QStringLiteral("Nothing (Fast)!")};
const QStringList kShowPassThrough = {QStringLiteral("Both Directions"), QStringLiteral("Client to Server Only"),
                                      QStringLiteral("Server to Client Only"), QStringLiteral("Nothing (Fast)!")};

// The default server for a fresh install: this machine, so a first Connect
// talks to something the user controls rather than a host on the Internet.
const QString kDefaultHost = QStringLiteral("localhost");

template <typename W> W *named(W *w, const char *name, int index = -1)
{
    w->setObjectName(index < 0 ? QString::fromLatin1(name) : indexedName(name, index));
    return w;
}

QToolButton *iconButton(QStyle::StandardPixmap icon, const QString &tip, const char *name, int index)
{
    auto *b = named(new QToolButton, name, index);
    b->setIcon(QApplication::style()->standardIcon(icon));
    b->setToolTip(tip);
    b->setAutoRaise(false);
    return b;
}

QFrame *lamp(const char *name, int index, const QString &tip)
{
    auto *f = named(new QFrame, name, index);
    f->setFrameShape(QFrame::Panel);
    f->setFrameShadow(QFrame::Sunken);
    f->setFixedSize(14, 14);
    f->setAutoFillBackground(true);
    f->setToolTip(tip);
    return f;
}
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

// The connection animation sits in a holder of 630 x 630 twips.
static void addAnimation(ModeControls &t, int index, QGridLayout *grid, int row, int col, int rowSpan)
{
    t.panAniHolder = named(new QFrame, "panAniHolder", index);
    t.panAniHolder->setFixedSize(Twips::toPixels(630, 630));
    t.aniAnimation = named(new QLabel(t.panAniHolder), "aniAnimation", index);
    t.aniAnimation->setGeometry(QRect(QPoint(0, 0), Twips::toPixels(600, 600)));
    t.aniAnimation->setScaledContents(true);
    grid->addWidget(t.panAniHolder, row, col, rowSpan, 1, Qt::AlignTop | Qt::AlignRight);
}

static QPushButton *almanacButton(const char *name, int index, const QString &tip)
{
    auto *b = named(new QPushButton(QStringLiteral("...")), name, index);
    b->setToolTip(tip);
    b->setFixedWidth(28);
    return b;
}

static QLineEdit *portBox(const char *name, int index)
{
    auto *box = named(new QLineEdit, name, index);
    box->setMaximumWidth(80);
    return box;
}

static QPushButton *stateButton(const char *name, int index, const QString &tip)
{
    auto *b = named(new QPushButton(QStringLiteral("State...")), name, index);
    b->setToolTip(tip);
    return b;
}

// Where to connect to: host, port and their almanac buttons, Connect, state.
static void createClientSide(ModeControls &t, int index, int portButton, const QString &hostTip)
{
    t.txtServer = named(new QLineEdit, "txtServer", index);
    t.txtServer->setToolTip(hostTip);
    t.cmdServer = almanacButton("cmdServer", index, QStringLiteral("Select a common server"));
    t.txtPortConnectTo = portBox("txtPortConnectTo", index);
    t.cmdPortConnectTo = almanacButton("cmdPort", portButton, QStringLiteral("Select a well-known port"));
    t.cmdConnect = named(new QPushButton(QStringLiteral("&Connect")), "cmdConnect", index);
    t.lblClientState = named(new QLabel(QStringLiteral("Closed")), "lblClientState", index);
}

// The port to listen on, its almanac button, Listen, state.
static void createListenSide(ModeControls &t, int index, int portButton)
{
    t.txtPort = portBox("txtPort", index);
    t.cmdPortListen = almanacButton("cmdPort", portButton, QStringLiteral("Select a well-known port"));
    t.cmdListen = named(new QPushButton(QStringLiteral("&Listen")), "cmdListen", index);
    t.lblState = named(new QLabel(QStringLiteral("Closed (0 clients)")), "lblState", index);
}

// The Client and Server tabs share one arrangement: name and port on the
// first row, state and the action button on the second.
static void layoutOneSide(QGridLayout *grid, QWidget *nameLabel, QWidget *name, QWidget *nameButton, QLineEdit *port,
                          QPushButton *portButton, QPushButton *action, QLabel *state, QPushButton *history)
{
    grid->addWidget(nameLabel, 0, 0);
    grid->addWidget(name, 0, 1);
    if (nameButton)
        grid->addWidget(nameButton, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Port:")), 0, 3);
    grid->addWidget(port, 0, 4);
    grid->addWidget(portButton, 0, 5);
    grid->addWidget(action, 1, 4, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("State:")), 1, 0);
    auto *stateRow = new QHBoxLayout;
    stateRow->addWidget(state, 1);
    stateRow->addWidget(history);
    grid->addLayout(stateRow, 1, 1, 1, 3);
    grid->setColumnStretch(1, 1);
}

void frmTarnwell::buildClientTab()
{
    ModeControls &t = tabs[0];
    t.page = named(new QWidget, "tabClient");
    auto *v = new QVBoxLayout(t.page);
    auto *grid = new QGridLayout;
    t.lblServer = named(new QLabel(QStringLiteral("Server:")), "lblServer", 0);
    createClientSide(t, 0, 0, QStringLiteral("Name or address of the server to connect to"));
    t.cmdState = stateButton("cmdState", 0, QStringLiteral("Show the state history of the socket"));
    layoutOneSide(grid, t.lblServer, t.txtServer, t.cmdServer, t.txtPortConnectTo, t.cmdPortConnectTo, t.cmdConnect,
                  t.lblClientState, t.cmdState);
    addAnimation(t, 0, grid, 0, 6, 2);
    v->addLayout(grid);
    buildDataArea(0, t.page, v);
}

void frmTarnwell::buildServerTab()
{
    ModeControls &t = tabs[1];
    t.page = named(new QWidget, "tabServer");
    auto *v = new QVBoxLayout(t.page);
    auto *grid = new QGridLayout;
    t.lblServer = named(new QLabel, "lblServer", 1);
    t.lblServer->setToolTip(QStringLiteral("The name of this computer"));
    createListenSide(t, 1, 1);
    t.cmdState = stateButton("cmdState", 1, QStringLiteral("Show the state history of the sockets"));
    layoutOneSide(grid, new QLabel(QStringLiteral("Server:")), t.lblServer, nullptr, t.txtPort, t.cmdPortListen,
                  t.cmdListen, t.lblState, t.cmdState);
    addAnimation(t, 1, grid, 0, 6, 2);
    v->addLayout(grid);
    buildDataArea(1, t.page, v);
}

void frmTarnwell::buildPassThroughTab()
{
    ModeControls &t = tabs[2];
    t.page = named(new QWidget, "tabPassThrough");
    auto *v = new QVBoxLayout(t.page);
    auto *grid = new QGridLayout;
    createListenSide(t, 2, 3);
    createClientSide(t, 2, 2, QStringLiteral("Name or address of the server to relay to"));
    auto *cmdStartBoth = named(new QPushButton(QStringLiteral("Start Both")), "cmdStartBoth");
    auto *cmdStopBoth = named(new QPushButton(QStringLiteral("Stop Both")), "cmdStopBoth");
    auto *cmdStateClient =
        stateButton("cmdStateClient", -1, QStringLiteral("Show the state history of the server connection"));
    auto *cmdStateServer =
        stateButton("cmdStateServer", -1, QStringLiteral("Show the state history of the client connections"));

    // Each side on rows of its own, so the host box keeps its room.
    auto row = [](std::initializer_list<QWidget *> widgets, QWidget *stretch) {
        auto *h = new QHBoxLayout;
        for (QWidget *w : widgets)
            h->addWidget(w, w == stretch ? 1 : 0);
        return h;
    };
    grid->addWidget(new QLabel(QStringLiteral("Listen on port:")), 0, 0);
    grid->addLayout(row({t.txtPort, t.cmdPortListen, t.cmdListen, t.lblState, cmdStateServer}, t.lblState), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Relay to server:")), 1, 0);
    grid->addLayout(row({t.txtServer, t.cmdServer, new QLabel(QStringLiteral("Port:")), t.txtPortConnectTo,
                         t.cmdPortConnectTo},
                        t.txtServer),
                    1, 1);
    grid->addLayout(row({t.cmdConnect, t.lblClientState, cmdStateClient}, t.lblClientState), 2, 1);
    grid->addLayout(row({cmdStartBoth, cmdStopBoth}, nullptr), 3, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    addAnimation(t, 2, grid, 0, 2, 4);
    v->addLayout(grid);
    buildDataArea(2, t.page, v);
}

void frmTarnwell::buildDataArea(int index, QWidget *page, QVBoxLayout *layout)
{
    ModeControls &t = tabs[index];
    const bool passThrough = index == 2;

    auto *bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Show:")));
    t.cboShow = named(new QComboBox, "cboShow", index);
    t.cboShow->addItems(passThrough ? kShowPassThrough : kShowClientServer);
    t.cboShow->setToolTip(QStringLiteral("Select the data to be displayed on the screen"));
    t.cboShow->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    t.cboShow->setMinimumWidth(t.cboShow->sizeHint().width());
    bar->addWidget(t.cboShow);
    t.chkReceivedFields = named(new QCheckBox(QStringLiteral("Details")), "chkReceivedFields", index);
    t.chkReceivedFields->setToolTip(QStringLiteral("Toggles the level of detail"));
    bar->addWidget(t.chkReceivedFields);
    if (!passThrough) {
        t.cmdFilter = named(new QPushButton(QStringLiteral("Filter...")), "cmdFilter", index);
        t.cmdFilter->setToolTip(QStringLiteral("Filters the incoming data"));
        bar->addWidget(t.cmdFilter);
    }
    if (passThrough)
        bar->addStretch(1);
    if (!passThrough) {
        t.cmdReceivedPause = iconButton(QStyle::SP_MediaPause, QStringLiteral("Toggle the receive pause"),
                                        "cmdReceivedPause", index);
        t.cmdReceivedPause->setCheckable(true);
        t.cmdEmptyReceived = iconButton(QStyle::SP_TrashIcon, QStringLiteral("Clear the pause buffer"),
                                        "cmdEmptyReceived", index);
        t.panReceivePausePerc = named(new QProgressBar, "panReceivePausePerc", index);
        t.panReceivePausePerc->setRange(0, 100);
        t.panReceivePausePerc->setValue(0);
        t.panReceivePausePerc->setTextVisible(false);
        t.panReceivePausePerc->setFixedWidth(50);
        t.panReceivePausePerc->setToolTip(QStringLiteral("Size of pause buffer"));
        t.lblReceivePausePerc = named(new QLabel, "lblReceivePausePerc", index);
        t.lblReceivePausePerc->setToolTip(QStringLiteral("Size of pause buffer"));
        // The gauge text has its place from the start: when it appears, no
        // button beside it may move under the pointer.
        t.lblReceivePausePerc->setFixedWidth(
            t.lblReceivePausePerc->fontMetrics().horizontalAdvance(QStringLiteral("99999999 bytes buffered")) + 4);
        bar->addWidget(t.cmdReceivedPause);
        bar->addWidget(t.cmdEmptyReceived);
        bar->addWidget(t.panReceivePausePerc);
        bar->addWidget(t.lblReceivePausePerc);
        bar->addStretch(1);
    }
    t.cmdReceivedClear = iconButton(QStyle::SP_DialogResetButton, QStringLiteral("Clear the list of data"),
                                    "cmdReceivedClear", index);
    t.cmdReceivedDetails = iconButton(QStyle::SP_FileDialogContentsView, QStringLiteral("Details of the socket data"),
                                      "cmdReceivedDetails", index);
    bar->addWidget(t.cmdReceivedClear);
    bar->addWidget(t.cmdReceivedDetails);
    t.panReceived = lamp("panReceived", index, QStringLiteral("Data received"));
    t.panSent = lamp("panSent", index, QStringLiteral("Data sent"));
    bar->addWidget(t.panReceived);
    bar->addWidget(t.panSent);
    layout->addLayout(bar);

    auto *stack = new QStackedWidget(page);
    t.model = new DataListModel(this);
    t.lvwReceived = named(new QTreeView, "lvwReceived", index);
    t.lvwReceived->setModel(t.model);
    t.lvwReceived->setRootIsDecorated(false);
    t.lvwReceived->setUniformRowHeights(true);
    t.lvwReceived->setAlternatingRowColors(false);
    t.lvwReceived->setSelectionBehavior(QAbstractItemView::SelectRows);
    t.lvwReceived->header()->setSectionsClickable(true);
    t.lvwReceived->header()->setStretchLastSection(false);
    // Header clicks sort, field columns get their widths, new rows are revealed.
    t.model->attachView(t.lvwReceived);
    t.txtReceived = named(new DataTextView, "txtReceived", index);
    t.txtReceived->setToolTip(passThrough ? QStringLiteral("Data transmitted between the client and the server.")
                                          : QStringLiteral("Data sent or received on the socket"));
    stack->addWidget(t.txtReceived);
    stack->addWidget(t.lvwReceived);
    layout->addWidget(stack, 1);

    if (!passThrough) {
        auto *send = new QHBoxLayout;
        t.cmdSend = named(new QPushButton(QStringLiteral("Send...")), "cmdSend", index);
        t.cmdSend->setToolTip(QStringLiteral("Send user defined data through the socket"));
        t.cboSend = named(new QComboBox, "cboSend", index);
        t.cboSend->setToolTip(QStringLiteral("Retrieve data previously sent through the socket"));
        t.cboSend->setMinimumContentsLength(16);
        t.cmdProtocols = named(new QPushButton(QStringLiteral("Common Protocols...")), "cmdProtocols", index);
        t.cmdProtocols->setToolTip(QStringLiteral("Select from common socket protocols"));
        send->addWidget(t.cmdSend);
        send->addWidget(t.cboSend, 1);
        send->addWidget(t.cmdProtocols);
        layout->addLayout(send);
        connect(t.cmdSend, &QPushButton::clicked, this, [] { frmSend::OpenNewWindow(); });
        QComboBox *cbo = t.cboSend;
        connect(cbo, &QComboBox::activated, this, [cbo](int entry) {
            if (entry >= 0)
                frmSend::ReopenState(cbo->itemData(entry).toInt());
        });
    }

    connect(t.chkReceivedFields, &QCheckBox::clicked, this, [this, index] { chkReceivedFields_Click(index); });
}

void frmTarnwell::setListColumns()
{
    using C = DataListModel::Column_;
    const QList<QList<C>> columns = {
        {{QStringLiteral("#"), 645}, {QStringLiteral("Time"), 1170}, {QStringLiteral("I/O"), 435},
         {QStringLiteral("Sock#"), 0}, {QStringLiteral("Message"), 6180}},
        {{QStringLiteral("#"), 645}, {QStringLiteral("Time"), 1170}, {QStringLiteral("I/O"), 435},
         {QStringLiteral("Sock#"), 660}, {QStringLiteral("Message"), 6180}},
        {{QStringLiteral("#"), 645}, {QStringLiteral("Time"), 1170}, {QStringLiteral("Dir"), 585},
         {QStringLiteral("Sock#"), 660}, {QStringLiteral("Message"), 6180}},
    };
    for (int i = 0; i < 3; ++i) {
        tabs[i].model->setColumns(columns[i]);
        for (int c = 0; c < columns[i].size(); ++c) {
            const int w = columns[i][c].widthTwips;
            if (w == 0)
                tabs[i].lvwReceived->setColumnHidden(c, true);
            else if (c == DataListModel::ColNumber)
                // The number shares its cell with the row's icon.
                tabs[i].lvwReceived->setColumnWidth(c, Twips::toPixelsX(w) +
                                                       style()->pixelMetric(QStyle::PM_SmallIconSize) + 8);
            else if (c == DataListModel::ColTime)
                // Room for the milliseconds, whatever the font.
                tabs[i].lvwReceived->setColumnWidth(
                    c, std::max(Twips::toPixelsX(w),
                                tabs[i].lvwReceived->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000")) + 24));
            else
                tabs[i].lvwReceived->setColumnWidth(c, Twips::toPixelsX(w));
        }
    }
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

void frmTarnwell::reportStoreProblems()
{
    const QStringList problems = SettingsStore::instance().takeProblems();
    for (const QString &p : problems)
        tw::events().AddEvent(p);
}

int frmTarnwell::readSettingNumber(const QString &section, const QString &key, int defaultValue, int min, int max)
{
    const QString text = SettingsStore::instance().Read(section, key, defaultValue);
    bool ok = false;
    qint64 v = text.trimmed().toLongLong(&ok);
    if (!ok) {
        const double d = text.trimmed().toDouble(&ok);
        if (ok && d >= double(min) && d <= double(max))
            v = qint64(std::nearbyint(d));
        else
            ok = false;
    }
    if (!ok || v < min || v > max) {
        // A damaged value must not stop the program: use the default and say so.
        tw::events().AddEvent(tw::invalidSettingEvent(section, key, text, QString::number(defaultValue)));
        return defaultValue;
    }
    return int(v);
}

void frmTarnwell::LoadMainSettings()
{
    SettingsStore &s = SettingsStore::instance();
    const QString mode = QStringLiteral("Mode");
    const QString endPoints = QStringLiteral("EndPoints");
    const QString show = QStringLiteral("Show");

    // 1-2. The tab, with the normal mode change, then the start event.
    const int m = readSettingNumber(mode, mode, 0, 0, 2);
    m_previousTab = tabMode->currentIndex();
    if (m != tabMode->currentIndex()) {
        QSignalBlocker block(tabMode);
        tabMode->setCurrentIndex(m);
        tabMode_Click(m_previousTab);
    }
    intCurrentMode = m;
    static const char *const started[] = {"Client", "Server", "Pass Through"};
    tw::events().AddEvent(QStringLiteral("Tarnwell has been started in the %1 mode.")
                              .arg(QString::fromLatin1(started[m])));

    // 3. End points.
    tabs[0].txtServer->setText(s.Read(endPoints, QStringLiteral("ClientEP"), kDefaultHost));
    tabs[0].txtPortConnectTo->setText(s.Read(endPoints, QStringLiteral("ClientPort"), QStringLiteral("80")));
    tabs[1].txtPort->setText(s.Read(endPoints, QStringLiteral("ServerPort"), QStringLiteral("80")));
    tabs[2].txtPort->setText(s.Read(endPoints, QStringLiteral("ServerPortPS"), QStringLiteral("80")));
    tabs[2].txtServer->setText(s.Read(endPoints, QStringLiteral("PassThroughEP"), kDefaultHost));
    tabs[2].txtPortConnectTo->setText(s.Read(endPoints, QStringLiteral("PassThroughPort"), QStringLiteral("80")));

    // 4. Show selectors.
    tabs[0].cboShow->setCurrentIndex(readSettingNumber(show, QStringLiteral("Client"), 0, 0, 3));
    tabs[1].cboShow->setCurrentIndex(readSettingNumber(show, QStringLiteral("Server"), 0, 0, 3));
    tabs[2].cboShow->setCurrentIndex(readSettingNumber(show, QStringLiteral("PassThrough"), 0, 0, 3));

    // 5. Size, stored in twips.
    const int w = readSettingNumber(QStringLiteral("StartUp"), QStringLiteral("Width"), 6750, 1, 1000000);
    const int h = readSettingNumber(QStringLiteral("Startup"), QStringLiteral("Height"), 6540, 1, 1000000);
    resize(Twips::toPixels(w, h));

    // 6. View toggles.
    for (int i = 0; i < 3; ++i) {
        const int v = readSettingNumber(QStringLiteral("ReceiveDetails"), QString::number(i), 0, 0, 1);
        tabs[i].chkReceivedFields->setChecked(v == 1);
        chkReceivedFields_Click(i);
    }
}

OsError frmTarnwell::SaveMainSettings(SettingsStore::Changes c)
{
    const QString endPoints = QStringLiteral("EndPoints");
    const QString show = QStringLiteral("Show");
    // The normal (not minimised or maximised) size is what the next run restores.
    const QSize size = (isMinimized() || isMaximized()) ? normalGeometry().size() : this->size();
    c += SettingsStore::Changes{
        {QStringLiteral("Mode"), QStringLiteral("Mode"), QString::number(tabMode->currentIndex())},
        {endPoints, QStringLiteral("ClientEP"), tabs[0].txtServer->text()},
        {endPoints, QStringLiteral("ClientPort"), tabs[0].txtPortConnectTo->text()},
        {endPoints, QStringLiteral("ServerPort"), tabs[1].txtPort->text()},
        {endPoints, QStringLiteral("ServerPortPS"), tabs[2].txtPort->text()},
        {endPoints, QStringLiteral("PassThroughEP"), tabs[2].txtServer->text()},
        {endPoints, QStringLiteral("PassThroughPort"), tabs[2].txtPortConnectTo->text()},
        {show, QStringLiteral("Client"), QString::number(tabs[0].cboShow->currentIndex())},
        {show, QStringLiteral("Server"), QString::number(tabs[1].cboShow->currentIndex())},
        {show, QStringLiteral("PassThrough"), QString::number(tabs[2].cboShow->currentIndex())},
        {QStringLiteral("StartUp"), QStringLiteral("Width"),
         QString::number(Twips::fromPixelsX(size.width()))},
        {QStringLiteral("Startup"), QStringLiteral("Height"),
         QString::number(Twips::fromPixelsY(size.height()))},
    };
    for (int i = 0; i < 3; ++i)
        c.append({QStringLiteral("ReceiveDetails"), QString::number(i),
                  tabs[i].chkReceivedFields->isChecked() ? QStringLiteral("1") : QStringLiteral("0")});
    return SettingsStore::instance().SaveMany(c);
}

bool frmTarnwell::shouldShowConfigurations() const
{
    return SettingsStore::instance().Read(QStringLiteral("StartUp"), QStringLiteral("ShowConfigurations"), 1).trimmed() ==
           QLatin1String("1");
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

QString frmTarnwell::StateText(int state)
{
    static const char *const texts[] = {"Closed",     "Open",           "Listening",
                                        "Connection pending", "Resolving host", "Host resolved",
                                        "Connecting", "Connected",      "Peer is closing the connection",
                                        "Error"};
    if (state < 0 || state > 9)
        return QString();
    return QString::fromLatin1(texts[state]);
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
