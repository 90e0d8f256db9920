#include "controller/mainwindowfixture.h"
#include "controller/mainwizardhost.h"
#include "display/datalistmodel.h"
#include "options/optionsmodel.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "sending/sendlist.h"
#include "setup/configurationwizards.h"
#include "setup/frmconfigurations.h"
#include "setup/frminstruction.h"
#include "ui/frmhelp.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>

namespace {
struct Step
{
    QString title;
    QString description;
    QString button;
};

/// A loaded main window with the real options, and every instruction step
/// recorded and answered.
struct Harness : MainWindow
{
    QList<Step> steps;
    /// Runs at each step before it is answered; returns false to leave the step unanswered.
    std::function<bool(int, frmInstruction &)> atStep;

    Harness() : MainWindow(0, false)
    {
        frmInstruction::setShownHook([this](frmInstruction &step) {
            steps.append({step.windowTitle(), step.description(), step.cmdCommand->text()});
            if (!atStep || atStep(int(steps.size()), step))
                step.cmdCommand->click();
        });
    }
    ~Harness()
    {
        frmInstruction::setShownHook({});
        WizardTargets::current() = WizardTargets();
        qDeleteAll(frmSend::openWindows());
        w.reset();
        delete OptionsModel::current(); // the next test's options come from its own store
    }
    bool run(const QString &key)
    {
        MainWizardHost host(w.get());
        return ConfigurationWizards(host).Run(key);
    }
    QString stored(const QString &key) { return settings.store().Read(QStringLiteral("Options"), key); }
    /// The data of the newest saved send state.
    QString lastSavedData()
    {
        const QList<SavedSendState> states = savedSendStates(settings.store());
        return states.isEmpty()
                   ? QString()
                   : settings.store().Read(QStringLiteral("Send\\") + QString::number(states.last().number),
                                           QStringLiteral("Data"));
    }
};

// A loopback peer that counts its connections and can answer each once and close.
struct Peer
{
    QTcpServer server;
    QList<QTcpSocket *> clients;
    QByteArray answer;
    Peer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *c = server.nextPendingConnection()) {
                clients << c;
                if (!answer.isEmpty()) {
                    c->write(answer);
                    c->disconnectFromHost();
                }
            }
        });
    }
    QString port() const { return QString::number(server.serverPort()); }
};
} // namespace

class TestConfigurations : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void clientSetups_data();
    void clientSetups();
    void webServerServesThePage();
    void setupAndDoubleClickRunTheSame_data();
    void setupAndDoubleClickRunTheSame();
    void busySocketRefusesTheWindow();
    // Last: closing the main window ends the application's event loops.
    void closingTheMainWindowEndsTheSetup();
};

void TestConfigurations::clientSetups_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("answers"); // "PEER": the peer's port; "CANCEL": the box cancelled
    QTest::addColumn<QStringList>("prompts"); // titles of the input boxes and messages
    QTest::addColumn<QStringList>("steps");   // titles; each step's button is "Next >>", the last "Finish"
    QTest::addColumn<QString>("host");        // txtServer(0) afterwards
    QTest::addColumn<QString>("reconnect");   // stored AutoReconnect
    QTest::addColumn<QString>("sendText");    // the send window's data; empty: no window

    auto list = [](const char *titles) { return QString::fromLatin1(titles).split(QLatin1Char('|')); };
    const QString request = QStringLiteral(
        "Accept: application/vnd.ms-excel, application/msword, application/vnd.ms-powerpoint, */*\r\n"
        "Accept -Language: en -au\r\nAccept -Encoding: gzip , deflate\r\n"
        "User-Agent: Mozilla/4.0 (compatible; MSIE 4.01; Windows 98)\r\nHost: localhost\r\n"
        "Connection: Keep -Alive\r\n\r\n");
    const QStringList browserSteps = list("Web Browser Setup - Step 1|Web Browser Setup - Step 3|"
                                          "Web Browser Setup - Step 4");
    QTest::newRow("web browser") << "WebBrowser" << QStringList{QStringLiteral("127.0.0.1")}
                                 << list("Web Browser Setup - Step 2") << browserSteps << "127.0.0.1"
                                 << "0" << QStringLiteral("GET / HTTP/1.1\r\n") + request;
    QTest::newRow("web browser, site question cancelled")
        << "WebBrowser" << QStringList{QStringLiteral("CANCEL")} << list("Web Browser Setup - Step 2")
        << browserSteps << "<Web Site Name goes here>"
        << "0" << QStringLiteral("GET / HTTP/1.1\r\n") + request;

    const QString longSite = QString(300, QLatin1Char('w')) + QStringLiteral(".example");
    QTest::newRow("proxy, port asked until numeric")
        << "WebBrowserViaProxy"
        << QStringList{longSite,
                       QStringLiteral("127.0.0.1"),
                       QString(),
                       QStringLiteral(" "),
                       QStringLiteral("eighty"),
                       QStringLiteral("99999"),
                       QStringLiteral("PEER")}
        << list("Web Browser Setup (via Proxy) - Step 2|Web Browser Setup (via Proxy) - Step 3|"
                "Web Browser Setup (via Proxy) - Step 4|Tarnwell III|Web Browser Setup (via Proxy) - Step 4|"
                "Tarnwell III|Web Browser Setup (via Proxy) - Step 4|Tarnwell III|"
                "Web Browser Setup (via Proxy) - Step 4|Tarnwell III|Web Browser Setup (via Proxy) - Step 4")
        << list("Web Browser Setup (via Proxy) - Step 1|Web Browser Setup (via Proxy) - Step 5|"
                "Web Browser Setup (via Proxy) - Step 6")
        << "127.0.0.1"
        << "0" << QStringLiteral("GET ") + longSite + QStringLiteral("/ HTTP/1.1\r\n") + request;
    QTest::newRow("sending email")
        << "SendingEmail" << QStringList{QStringLiteral(" 127.0.0.1 ")} << list("E-mail Setup - Step 2")
        << list("Email Setup - Step 1|E-mail Setup - Step 3|E-mail Setup - Step 4") << "127.0.0.1"
        << "0"
        << QStringLiteral(
               "helo\r\nMAIL From: <Senders E-mail Address>\r\nRCPT TO: <Recipients E-mail Address>\r\n"
               "Data\r\nFrom: <Senders E-mail Address>\r\nTo: <Recipients E-mail Address>\r\n"
               "Subject: <subject>\r\n\r\n<Insert body of message here. (Do not delete that blank line "
               "below the subject and be sure to keep that period ('.') on the line by itself after the "
               "message.)\r\n.\r\nQUIT\r\n");
    QTest::newRow("keep alive")
        << "KeepAlive" << QStringList{} << QStringList{}
        << list("Keep Alive Requests Setup - Step 1|Keep Alive Requests Setup - Step 2") << "127.0.0.1"
        << "1"
        << QStringLiteral(
               "GET / HTTP/1.0\r\nUser-Agent: Mozilla/4.0 (compatible; Opera/3.0; Windows 4.10) 3.50\r\n"
               "Accept: image/gif, image/x-xbitmap, image/jpeg, */*\r\nHost: localhost\r\n\r\n");
    QTest::newRow("quote") << "Quote" << QStringList{} << QStringList{}
                           << list("Quote of the Day Setup - Step 1|Quote of the Day Setup - Step 2")
                           << "127.0.0.1"
                           << "1" << QString();
    QTest::newRow("time of day") << "TimeOfDay" << QStringList{} << QStringList{}
                                 << list("Time of Day Setup - Step 1|Time of Day Setup - Step 2")
                                 << "127.0.0.1"
                                 << "1" << QString();
}

void TestConfigurations::clientSetups()
{
    QFETCH(QString, key);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, prompts);
    QFETCH(QStringList, steps);
    QFETCH(QString, host);
    QFETCH(QString, reconnect);
    QFETCH(QString, sendText);

    Peer peer;
    const bool answered = key == QLatin1String("Quote") || key == QLatin1String("TimeOfDay");
    if (answered)
        peer.answer = "An answer\r\n";
    Harness h;
    QVERIFY(h.w);
    WizardTargets &targets = WizardTargets::current();
    targets.quoteHost = targets.timeHost = targets.keepAliveHost = QStringLiteral("127.0.0.1");
    for (int fixed : {80, 25, 17, 13})
        targets.ports[fixed] = peer.port();
    for (const QString &a : answers) {
        if (a == QLatin1String("CANCEL"))
            h.ui.inputAnswers.enqueue(std::nullopt);
        else
            h.ui.inputAnswers.enqueue(a == QLatin1String("PEER") ? peer.port() : a);
    }

    QVERIFY(h.run(key));

    QStringList titles, buttons;
    for (const Step &s : h.steps) {
        titles << s.title;
        buttons << s.button;
    }
    QCOMPARE(titles, steps);
    QCOMPARE(buttons, QStringList(steps.size() - 1, QStringLiteral("Next >>")) << QStringLiteral("Finish"));
    QStringList asked;
    for (const ScriptedUi::Prompt &p : h.ui.prompts) {
        asked << p.title;
        if (p.kind == QLatin1String("message"))
            QCOMPARE(p.text, QStringLiteral("The Proxy port number must be numeric."));
    }
    QCOMPARE(asked, prompts);
    QCOMPARE(h.w->intCurrentMode, 0);
    QCOMPARE(h.w->tabs[0].txtServer->text(), host);
    QCOMPARE(h.w->tabs[0].txtPortConnectTo->text(), peer.port());
    // The options went through OK into the store.
    QCOMPARE(h.stored(QStringLiteral("AutoDisconnect")), QStringLiteral("1"));
    QCOMPARE(h.stored(QStringLiteral("AutoReconnect")), reconnect);
    if (reconnect == QLatin1String("1"))
        QCOMPARE(h.stored(QStringLiteral("AutoReconnectPeriod")), QStringLiteral("1000"));
    if (host == QLatin1String("127.0.0.1"))
        QTRY_VERIFY(!peer.clients.isEmpty());

    QVERIFY(frmSend::openWindows().size() <= 1);
    frmSend *send = frmSend::openWindows().value(0);
    QCOMPARE(send != nullptr, !sendText.isEmpty());
    if (send) {
        QCOMPARE(send->txtSend->text(), sendText);
        QVERIFY(send->IsNewWindow && !send->chkBinary->isChecked());
        if (key == QLatin1String("SendingEmail")) {
            QVERIFY(send->timingShown() && send->chkPause->isChecked() &&
                    !send->chkPeriodically->isChecked());
            QCOMPARE(send->txtPause->text(), QStringLiteral("100"));
            QCOMPARE(send->cmdSend->text(), QStringLiteral("&Start Sending"));
            QVERIFY(send->txtTitle->text().startsWith(QStringLiteral("Sending Email - ")));
            QCOMPARE(send->txtTitle->text().size(),
                     QStringLiteral("Sending Email - 05 Dec 2026 10:11:12").size());
        } else if (key == QLatin1String("KeepAlive")) {
            QVERIFY(send->timingShown() && send->isSending());
            QVERIFY(send->chkPeriodically->isChecked() && !send->chkPause->isChecked());
            QCOMPARE(send->txtOnceEvery->text(), QStringLiteral("60000"));
        } else {
            QVERIFY(!send->chkPause->isChecked() && !send->chkPeriodically->isChecked());
        }
        // Closing it keeps its data as a saved state.
        send->close();
        QCOMPARE(h.lastSavedData(), sendText);
    }
    if (answered) {
        // The answer arrives, the server closes, and the client connects again for the next one.
        QTRY_VERIFY(h.w->tabs[0].model->rowCount() > 0);
        QTRY_VERIFY_WITH_TIMEOUT(peer.clients.size() >= 2, 10000);
    }
}

void TestConfigurations::webServerServesThePage()
{
    Harness h;
    QVERIFY(h.w);
    WizardTargets::current().ports[80] = QStringLiteral("0"); // a port the system picks
    QTcpSocket browser;
    QByteArray page;
    h.atStep = [&](int n, frmInstruction &) {
        if (n == 2) {
            // A browser connects while step 2 is shown, and the client count follows.
            browser.connectToHost(QHostAddress::LocalHost, quint16(h.w->sckServer[0]->LocalPort()));
            if (!QTest::qWaitFor([&] { return h.w->intClientCount == 1; }, 5000))
                qWarning("the browser was not accepted");
        }
        return true;
    };
    QObject::connect(&browser, &QTcpSocket::readyRead, [&] { page += browser.readAll(); });
    QVERIFY(h.run(QStringLiteral("WebServer")));

    QCOMPARE(h.steps.size(), 4);
    QCOMPARE(h.steps[3].title + QLatin1Char('|') + h.steps[3].button,
             QStringLiteral("Web Server Setup - Step 4|Finish"));
    // The address to browse to names this computer.
    QVERIFY(h.steps[1].description.contains(QStringLiteral("go to the URL 'http://") +
                                            h.w->tabs[1].lblServer->text() + QStringLiteral("'.")));
    QCOMPARE(h.w->intCurrentMode, 1);
    // The browser got the page, and listening stopped, closing its connection.
    QTRY_COMPARE(browser.state(), QAbstractSocket::UnconnectedState);
    page += browser.readAll();
    const QByteArray head =
        "<html><head><title>Simple Page</title></head>\r\n<body bgcolor='#FFFF00'>\r\n"
        "<p>This is a web page generated from Tarnwell.</p>\r\n"
        "<p>Place your own HTML in the send window and see what happens!</p>\r\n<p>The time is: ";
    QVERIFY2(page.startsWith(head), page.constData());
    QVERIFY(page.endsWith("</p>\r\n</body>\r\n</html>\r\n"));
    QCOMPARE(h.w->sckServer[0]->State(), int(SocketControl::sckClosed));
    // Its send window is closed and its data kept as a new saved state.
    QTRY_VERIFY(frmSend::openWindows().isEmpty());
    QCOMPARE(h.lastSavedData().toLatin1(), page);
}

void TestConfigurations::setupAndDoubleClickRunTheSame_data()
{
    QTest::addColumn<bool>("doubleClick");
    QTest::newRow("Setup") << false;
    QTest::newRow("double click") << true;
}

void TestConfigurations::setupAndDoubleClickRunTheSame()
{
    QFETCH(bool, doubleClick);
    Peer peer;
    peer.answer = "12:00:00\r\n";
    Harness h;
    QVERIFY(h.w);
    WizardTargets::current().timeHost = QStringLiteral("127.0.0.1");
    WizardTargets::current().ports[13] = peer.port();
    h.w->setEnabled(false); // as at start-up
    QPointer<frmConfigurations> window = new frmConfigurations(std::make_unique<MainWizardHost>(h.w.get()));
    window->show();
    QListWidget *list = window->lvwConfig;
    QVERIFY(!window->chkShowAtStartup->isChecked()); // the harness stored 0
    window->chkShowAtStartup->setChecked(true);
    // The item under the pointer shows its description; empty space keeps it.
    const QString quote = QStringLiteral("This requests the quote of the day from a server.");
    window->lvwConfig_MouseMove(list->visualItemRect(list->item(5)).center());
    QCOMPARE(window->txtComment->toPlainText(), quote);
    window->lvwConfig_MouseMove(QPoint(list->viewport()->width() - 2, list->viewport()->height() - 2));
    QCOMPARE(window->txtComment->toPlainText(), quote);
    window->cmdHelp->click();
    QCOMPARE(frmHelp::shared()->currentTopic(), 20);
    frmHelp::shared()->close();

    list->setCurrentRow(6);
    h.atStep = [&](int n, frmInstruction &step) {
        // The window is hidden while its set-up runs.
        if (window && window->isVisible())
            qWarning("the configurations window is on show during a step");
        // Escape answers a step like its button.
        if (n == 1)
            QTest::keyClick(&step, Qt::Key_Escape);
        return n != 1;
    };
    if (doubleClick)
        Q_EMIT list->itemDoubleClicked(list->item(6));
    else
        window->cmdOK->click();
    QCOMPARE(h.steps.size(), 2);
    QCOMPARE(h.steps.first().title, QStringLiteral("Time of Day Setup - Step 1"));
    QVERIFY(h.w->isEnabled());
    QTRY_VERIFY(!window);
    QCOMPARE(h.settings.store().Read(QStringLiteral("StartUp"), QStringLiteral("ShowConfigurations")),
             QStringLiteral("1"));
    QTRY_VERIFY(!peer.clients.isEmpty());
    QVERIFY(h.ui.prompts.isEmpty());
}

void TestConfigurations::busySocketRefusesTheWindow()
{
    Harness h;
    QVERIFY(h.w);
    h.w->tabMode->setCurrentIndex(1);
    h.w->tabs[1].txtPort->setText(QStringLiteral("0"));
    h.w->cmdListen_Click(1);
    QCOMPARE(h.w->sckServer[0]->State(), int(SocketControl::sckListening));
    h.w->mnuCommonConfigs_Click();
    QCOMPARE(h.ui.messages(), QStringList{QStringLiteral(
                                  "It is not possible to show the common configurations while the socket is "
                                  "listening or connected.")});
    QCOMPARE(h.ui.prompts.first().icon, UiService::Icon::Information);
    QVERIFY(!h.w->findChild<frmConfigurations *>());

    h.w->cmdListen_Click(1);
    h.w->mnuCommonConfigs_Click();
    auto *window = h.w->findChild<frmConfigurations *>();
    QVERIFY(window && window->isVisible());
    window->cmdCancel->click();
}

void TestConfigurations::closingTheMainWindowEndsTheSetup()
{
    Peer peer;
    Harness h;
    QVERIFY(h.w);
    WizardTargets::current().ports[80] = peer.port();
    h.ui.inputAnswers.enqueue(QStringLiteral("127.0.0.1"));
    h.atStep = [&](int n, frmInstruction &) {
        if (n == 2)
            h.w->close(); // closes the step's window too
        return n != 2;
    };
    QVERIFY(!h.run(QStringLiteral("WebBrowser")));
    // Nothing after the step: no connection, no options changed, no send window.
    QCOMPARE(h.steps.size(), 2);
    QVERIFY(frmSend::openWindows().isEmpty());
    QCOMPARE(h.w->tabs[0].cmdConnect->text(), QStringLiteral("&Connect"));
    QVERIFY(h.stored(QStringLiteral("AutoDisconnect")).isEmpty());
}

QTEST_MAIN(TestConfigurations)
#include "tst_configurations.moc"
