// The main window's controls: the three mode tabs, each with its end points,
// connection buttons and state, and its data area (show selector, pause
// buttons and gauge, lamps, the list and the text view, the send row).

#include "controller/frmtarnwell.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/indicators.h"
#include "sending/frmsend.h"
#include "ui/objectnames.h"
#include "ui/standardicons.h"
#include "ui/twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace {
const QStringList kShowClientServer = {QStringLiteral("Input & Output"), QStringLiteral("Input Only"),
                                       QStringLiteral("Output Only"), QStringLiteral("Nothing (Fast)!")};
const QStringList kShowPassThrough = {
    QStringLiteral("Both Directions"), QStringLiteral("Client to Server Only"),
    QStringLiteral("Server to Client Only"), QStringLiteral("Nothing (Fast)!")};

QToolButton *iconButton(QStyle::StandardPixmap icon, const QString &tip, const char *name, int index)
{
    auto *b = named(new QToolButton, name, index);
    b->setIcon(sharedStandardIcon(icon));
    b->setToolTip(tip);
    b->setAutoRaise(false);
    return b;
}
} // namespace

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
static void layoutOneSide(QGridLayout *grid, QWidget *nameLabel, QWidget *name, QWidget *nameButton,
                          QLineEdit *port, QPushButton *portButton, QPushButton *action, QLabel *state,
                          QPushButton *history)
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
    layoutOneSide(grid, t.lblServer, t.txtServer, t.cmdServer, t.txtPortConnectTo, t.cmdPortConnectTo,
                  t.cmdConnect, t.lblClientState, t.cmdState);
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
    layoutOneSide(grid, new QLabel(QStringLiteral("Server:")), t.lblServer, nullptr, t.txtPort,
                  t.cmdPortListen, t.cmdListen, t.lblState, t.cmdState);
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
    grid->addLayout(row({t.txtPort, t.cmdPortListen, t.cmdListen, t.lblState, cmdStateServer}, t.lblState), 0,
                    1);
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
        t.gauge = new PauseGauge(index);
        t.panReceivePausePerc = t.gauge->bar;
        t.lblReceivePausePerc = t.gauge->text;
        bar->addWidget(t.cmdReceivedPause);
        bar->addWidget(t.cmdEmptyReceived);
        bar->addWidget(t.gauge);
        bar->addStretch(1);
    }
    t.cmdReceivedClear = iconButton(QStyle::SP_DialogResetButton, QStringLiteral("Clear the list of data"),
                                    "cmdReceivedClear", index);
    t.cmdReceivedDetails =
        iconButton(QStyle::SP_FileDialogContentsView, QStringLiteral("Details of the socket data"),
                   "cmdReceivedDetails", index);
    bar->addWidget(t.cmdReceivedClear);
    bar->addWidget(t.cmdReceivedDetails);
    t.panReceived = named(new Lamp(QStringLiteral("Data received")), "panReceived", index);
    t.panSent = named(new Lamp(QStringLiteral("Data sent")), "panSent", index);
    bar->addWidget(t.panReceived);
    bar->addWidget(t.panSent);
    layout->addLayout(bar);

    auto *stack = new QStackedWidget(page);
    t.model = new DataListModel(this);
    t.lvwReceived = named(new QTreeView, "lvwReceived", index);
    t.model->attachView(t.lvwReceived);
    t.txtReceived = named(new DataTextView, "txtReceived", index);
    t.txtReceived->setToolTip(passThrough
                                  ? QStringLiteral("Data transmitted between the client and the server.")
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

    connect(t.chkReceivedFields, &QCheckBox::clicked, this,
            [this, index] { chkReceivedFields_Click(index); });
}

void frmTarnwell::setListColumns()
{
    using C = DataListModel::Column_;
    const QList<QList<C>> columns = {
        {{QStringLiteral("#"), 645},
         {QStringLiteral("Time"), 1170},
         {QStringLiteral("I/O"), 435},
         {QStringLiteral("Sock#"), 0},
         {QStringLiteral("Message"), 6180}},
        {{QStringLiteral("#"), 645},
         {QStringLiteral("Time"), 1170},
         {QStringLiteral("I/O"), 435},
         {QStringLiteral("Sock#"), 660},
         {QStringLiteral("Message"), 6180}},
        {{QStringLiteral("#"), 645},
         {QStringLiteral("Time"), 1170},
         {QStringLiteral("Dir"), 585},
         {QStringLiteral("Sock#"), 660},
         {QStringLiteral("Message"), 6180}},
    };
    for (int i = 0; i < 3; ++i) {
        tabs[i].model->setColumns(columns[i]);
        tabs[i].model->sizeColumns(tabs[i].lvwReceived);
    }
}
