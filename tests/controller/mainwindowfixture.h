#pragma once

#include "controller/frmtarnwell.h"
#include "core/optionssource.h"
#include "logging/frmevent.h"
#include "logging/frmlogging.h"
#include "net/socketcontrol.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

/// A loaded main window on a private settings file, with scripted dialogs
/// and options the test sets directly (or the real options model).
struct MainWindow
{
    TempSettings settings;
    ScriptedUi ui;
    DefaultOptions opts;
    std::unique_ptr<frmTarnwell> w;

    explicit MainWindow(int mode = 0, bool fixedOptions = true)
    {
        settings.writeIni(QByteArray("[StartUp]\nShowConfigurations=0\n[Mode]\nMode=") + QByteArray::number(mode) +
                          "\n");
        if (fixedOptions)
            tw::setOptions(&opts);
        w = std::make_unique<frmTarnwell>();
        QVERIFY(w->Load());
        // The first polls after start-up see Closed; only later closes reconnect.
        if (mode != 1)
            QTRY_COMPARE(w->intLastClientState, qint16(0));
        if (mode != 0)
            QTRY_COMPARE(w->aintLastServerState[0], qint16(0));
    }
    ~MainWindow()
    {
        w.reset();
        tw::setOptions(nullptr);
    }
    QStringList events() const { return w->eventHistory()->eventTexts(); }
    /// Whether an event so far holds the text.
    bool hasEvent(const QString &text) const { return !events().filter(text).isEmpty(); }
    /// The client side of a tab aims at 127.0.0.1 on this port.
    void target(quint16 port, int tab = 0)
    {
        w->tabs[tab].txtServer->setText(QStringLiteral("127.0.0.1"));
        w->tabs[tab].txtPortConnectTo->setText(QString::number(port));
    }
    /// Connects the client socket of a tab to a test server and returns the
    /// server's side of the connection once the socket is Connected (null on failure).
    std::unique_ptr<QTcpSocket> connectClient(QTcpServer &server, int tab = 0)
    {
        if (!server.isListening() && !server.listen(QHostAddress::LocalHost, 0))
            return nullptr;
        target(server.serverPort(), tab);
        if (tab == 2)
            w->tabs[2].txtPort->setText(QStringLiteral("0"));
        (tab == 2 ? w->findChild<QPushButton *>(QStringLiteral("cmdStartBoth")) : w->tabs[tab].cmdConnect)->click();
        if (!server.waitForNewConnection(5000))
            return nullptr;
        std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
        if (!QTest::qWaitFor([&] { return w->sckClient->State() == 7; }, 5000))
            return nullptr;
        return peer;
    }
    /// Pass Through between a test server and a test client: the server's side
    /// of the relay's connection (null on failure) and the client, once counted.
    std::pair<std::unique_ptr<QTcpSocket>, std::unique_ptr<QTcpSocket>> relay(QTcpServer &server)
    {
        std::unique_ptr<QTcpSocket> upstream = connectClient(server, 2), client(new QTcpSocket);
        client->connectToHost(QHostAddress::LocalHost, quint16(w->sckServer[0]->LocalPort()));
        if (!QTest::qWaitFor([&] { return w->intClientCount == 1; }, 5000))
            upstream.reset();
        return {std::move(upstream), std::move(client)};
    }
    /// Listens on a port the system chooses; returns it.
    quint16 listen(int tab)
    {
        w->tabs[tab].txtPort->setText(QStringLiteral("0"));
        w->tabs[tab].cmdListen->click();
        return quint16(w->sckServer[0]->LocalPort());
    }
    /// Switches a log type on without date stamps, into this test's folder
    /// unless a file is named; gives the file.
    QString logTo(int type, QString file = {})
    {
        frmLogging *log = w->logging();
        if (file.isEmpty())
            file = settings.path(QStringLiteral("log%1.log").arg(type));
        log->tabMode->setCurrentIndex(type - 1);
        log->txtFileName->setText(file);
        log->chkIncludeDateTime->setChecked(false);
        log->chkLog->click();
        return file;
    }
};
