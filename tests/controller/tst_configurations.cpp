#include "controller/frmtarnwell.h"
#include "controller/mainwizardhost.h"
#include "display/datalistmodel.h"
#include "net/socketcontrol.h"
#include "options/optionsmodel.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "sending/sendlist.h"
#include "setup/configurationwizards.h"
#include "setup/frmconfigurations.h"
#include "setup/frminstruction.h"
#include "support/testenv.h"
#include "ui/frmhelp.h"
#include "ui/scriptedui.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

namespace {
const QString CRLF = QStringLiteral("\r\n");

struct Step
{
    QString title;
    QString description;
    QString button;
};

QStringList stepTexts(const QList<Step> &steps)
{
    QStringList out;
    for (const Step &s : steps)
        out << s.title + QLatin1Char('|') + s.description + QLatin1Char('|') + s.button;
    return out;
}

/// A loaded main window on a private settings file with the real options,
/// scripted dialogs, and every instruction step recorded and answered.
struct Harness
{
    TempSettings settings;
    ScriptedUi ui;
    std::unique_ptr<frmTarnwell> w;
    QList<Step> steps;
    /// Runs at each step before it is answered; returns false to leave the step unanswered.
    std::function<bool(int, frmInstruction &)> atStep;

    Harness()
    {
        settings.writeIni("[StartUp]\nShowConfigurations=0\n");
        w = std::make_unique<frmTarnwell>();
        if (!w->Load() || !QTest::qWaitFor([this] { return w->intLastClientState == 0; }, 5000)) {
            w.reset(); // the test sees no window and fails
            return;
        }
        // The first poll after start-up has seen Closed: later closes reconnect.
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
        for (frmSend *s : frmSend::openWindows())
            delete s;
        w.reset();
        delete OptionsModel::current(); // the next test's options come from its own store
    }
    bool run(const QString &key)
    {
        MainWizardHost host(w.get());
        return ConfigurationWizards(host).Run(key);
    }
    QString stored(const QString &key) { return settings.store().Read(QStringLiteral("Options"), key); }
    frmSend *sendWindow() const
    {
        const QList<frmSend *> open = frmSend::openWindows();
        return open.size() == 1 ? open.first() : nullptr;
    }
    /// The data of the newest saved send state.
    QString lastSavedData()
    {
        const QList<SavedSendState> states = savedSendStates(settings.store());
        if (states.isEmpty())
            return QString();
        return settings.store().Read(QStringLiteral("Send\\") + QString::number(states.last().number),
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
    void windowListsAndDescribes();
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
    QTest::addColumn<QStringList>("prompts"); // input boxes and messages, "title|text"
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("host");      // txtServer(0) afterwards; "PEER" is 127.0.0.1
    QTest::addColumn<bool>("connects");     // the peer sees the client
    QTest::addColumn<QString>("reconnect"); // stored AutoReconnect and period
    QTest::addColumn<QString>("sendText");  // the send window's data; empty: no window

    const QString next = QStringLiteral("Next >>");
    const QString finish = QStringLiteral("Finish");
    const QString site =
        QStringLiteral("What is the name web site you wish to connect to?  Do not include 'http://' "
                       "and do not include any sub-directories.  An example is 'www.example.com'");
    auto step = [](const QString &t, const QString &d, const QString &b) {
        return t + QLatin1Char('|') + d + QLatin1Char('|') + b;
    };
    const QString request = QStringLiteral(
        "Accept: application/vnd.ms-excel, application/msword, application/vnd.ms-powerpoint, */*\r\n"
        "Accept -Language: en -au\r\nAccept -Encoding: gzip , deflate\r\n"
        "User-Agent: Mozilla/4.0 (compatible; MSIE 4.01; Windows 98)\r\nHost: localhost\r\n"
        "Connection: Keep -Alive\r\n\r\n");
    const QStringList browserSteps = {
        step(QStringLiteral("Web Browser Setup - Step 1"),
             QStringLiteral("Tarnwell has been placed in Client mode and set to connect to port 80."), next),
        step(QStringLiteral("Web Browser Setup - Step 3"),
             QStringLiteral("Tarnwell is now going to attempt to connect to the web site."), next),
        step(QStringLiteral("Web Browser Setup - Step 4"),
             QStringLiteral(
                 "Once a connection has been established, close this window and press 'Send' to request "
                 "the web page."),
             finish)};
    const QString reconnectAfterClose = QStringLiteral(
        "The options have been changed so that once connected, the connection will be automatically "
        "re-established when the server disconnects.");

    QTest::newRow("web browser") << "WebBrowser" << QStringList{QStringLiteral("127.0.0.1")}
                                 << QStringList{QStringLiteral("Web Browser Setup - Step 2|") + site}
                                 << browserSteps << "PEER" << true << "0"
                                 << QStringLiteral("GET / HTTP/1.1\r\n") + request;
    QTest::newRow("web browser, site question cancelled")
        << "WebBrowser" << QStringList{QStringLiteral("CANCEL")}
        << QStringList{QStringLiteral("Web Browser Setup - Step 2|") + site} << browserSteps
        << "<Web Site Name goes here>" << false << "0" << QStringLiteral("GET / HTTP/1.1\r\n") + request;

    const QString longSite = QString(300, QLatin1Char('w')) + QStringLiteral(".example");
    const QString portQuestion = QStringLiteral(
        "Web Browser Setup (via Proxy) - Step 4|What is the HTTP Proxy port number? (Generally 80 or 8080)");
    const QString notNumeric = QStringLiteral("Tarnwell III|The Proxy port number must be numeric.");
    QTest::newRow("proxy, port asked until numeric")
        << "WebBrowserViaProxy"
        << QStringList{longSite,
                       QStringLiteral("127.0.0.1"),
                       QString(),
                       QStringLiteral(" "),
                       QStringLiteral("eighty"),
                       QStringLiteral("99999"),
                       QStringLiteral("PEER")}
        << QStringList{QStringLiteral("Web Browser Setup (via Proxy) - Step 2|") + site,
                       QStringLiteral(
                           "Web Browser Setup (via Proxy) - Step 3|What is the name of your proxy server?"),
                       portQuestion,
                       notNumeric,
                       portQuestion,
                       notNumeric,
                       portQuestion,
                       notNumeric,
                       portQuestion,
                       notNumeric,
                       portQuestion}
        << QStringList{step(QStringLiteral("Web Browser Setup (via Proxy) - Step 1"),
                            QStringLiteral(
                                "Tarnwell has been placed in Client mode and set to connect to your proxy "
                                "server."),
                            next),
                       step(QStringLiteral("Web Browser Setup (via Proxy) - Step 5"),
                            QStringLiteral("Tarnwell is now going to attempt to connect to the proxy."),
                            next),
                       step(QStringLiteral("Web Browser Setup (via Proxy) - Step 6"),
                            QStringLiteral(
                                "Once a connection has been established, close this window and press "
                                "'Send' to request the web page.  Change to the 'Received' tab page to "
                                "view the HTML."),
                            finish)}
        << "PEER" << true << "0"
        << QStringLiteral("GET ") + longSite + QStringLiteral("/ HTTP/1.1\r\n") + request;

    QTest::newRow("sending email")
        << "SendingEmail" << QStringList{QStringLiteral(" 127.0.0.1 ")}
        << QStringList{QStringLiteral("E-mail Setup - Step 2|What is the name of your E-mail server?")}
        << QStringList{step(QStringLiteral("Email Setup - Step 1"),
                            QStringLiteral(
                                "Tarnwell has been placed in Client mode and set to connect to port 25."),
                            next),
                       step(QStringLiteral("E-mail Setup - Step 3"),
                            QStringLiteral(
                                "Tarnwell is now going to attempt to connect to the E-mail server."),
                            next),
                       step(QStringLiteral("E-mail Setup - Step 4"),
                            QStringLiteral(
                                "Once a connection has been established, close this window, modify the "
                                "E-mail message and press 'Start Sending' to send the E-mail."),
                            finish)}
        << "PEER" << true << "0"
        << QStringLiteral(
               "helo\r\nMAIL From: <Senders E-mail Address>\r\nRCPT TO: <Recipients E-mail Address>\r\n"
               "Data\r\nFrom: <Senders E-mail Address>\r\nTo: <Recipients E-mail Address>\r\n"
               "Subject: <subject>\r\n\r\n<Insert body of message here. (Do not delete that blank line "
               "below the subject and be sure to keep that period ('.') on the line by itself after the "
               "message.)\r\n.\r\nQUIT\r\n");

    QTest::newRow("keep alive")
        << "KeepAlive" << QStringList{} << QStringList{}
        << QStringList{step(QStringLiteral("Keep Alive Requests Setup - Step 1"),
                            QStringLiteral(
                                "Tarnwell has been placed in Client mode and set to connect to port 80 on "
                                "the Microsoft web server."),
                            next),
                       step(QStringLiteral("Keep Alive Requests Setup - Step 2"),
                            reconnectAfterClose +
                                QStringLiteral("  The keep-alive requests are sent out once a minute.") +
                                CRLF + CRLF +
                                QStringLiteral("Press Finish to start retrieving the Keep-Alive Requests."),
                            finish)}
        << "PEER" << true << "1"
        << QStringLiteral(
               "GET / HTTP/1.0\r\nUser-Agent: Mozilla/4.0 (compatible; Opera/3.0; Windows 4.10) 3.50\r\n"
               "Accept: image/gif, image/x-xbitmap, image/jpeg, */*\r\nHost: localhost\r\n\r\n");

    for (const auto &[key, name, port] :
         {std::tuple{"Quote", "Quote of the Day", "17"}, std::tuple{"TimeOfDay", "Time of Day", "13"}}) {
        const QString n = QString::fromLatin1(name);
        QTest::newRow(key) << QString::fromLatin1(key) << QStringList{} << QStringList{}
                           << QStringList{step(n + QStringLiteral(" Setup - Step 1"),
                                               QStringLiteral(
                                                   "Tarnwell has been placed in Client mode and set to "
                                                   "connect to port ") +
                                                   QString::fromLatin1(port) +
                                                   QStringLiteral(" on the Quillmoor web server."),
                                               next),
                                          step(n + QStringLiteral(" Setup - Step 2"),
                                               reconnectAfterClose + CRLF + CRLF +
                                                   QStringLiteral("Press Finish to start retrieving the ") +
                                                   n + QLatin1Char('.'),
                                               finish)}
                           << "PEER" << true << "1" << QString();
    }
}

void TestConfigurations::clientSetups()
{
    QFETCH(QString, key);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, prompts);
    QFETCH(QStringList, steps);
    QFETCH(QString, host);
    QFETCH(bool, connects);
    QFETCH(QString, reconnect);
    QFETCH(QString, sendText);

    Peer peer;
    peer.answer = key == QLatin1String("Quote") || key == QLatin1String("TimeOfDay")
                      ? QByteArray("An answer\r\n")
                      : QByteArray();
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

    QCOMPARE(stepTexts(h.steps), steps);
    QStringList asked;
    for (const ScriptedUi::Prompt &p : h.ui.prompts)
        asked << p.title + QLatin1Char('|') + p.text;
    QCOMPARE(asked.mid(0, prompts.size()), prompts);
    QCOMPARE(h.w->intCurrentMode, 0);
    QCOMPARE(h.w->tabs[0].txtServer->text(),
             host == QLatin1String("PEER") ? QStringLiteral("127.0.0.1") : host);
    QCOMPARE(h.w->tabs[0].txtPortConnectTo->text(), peer.port());
    // The options went through OK into the store.
    QCOMPARE(h.stored(QStringLiteral("AutoDisconnect")), QStringLiteral("1"));
    QCOMPARE(h.stored(QStringLiteral("AutoReconnect")), reconnect);
    if (reconnect == QLatin1String("1"))
        QCOMPARE(h.stored(QStringLiteral("AutoReconnectPeriod")), QStringLiteral("1000"));
    if (connects)
        QTRY_VERIFY(!peer.clients.isEmpty());

    frmSend *send = h.sendWindow();
    QCOMPARE(send != nullptr, !sendText.isEmpty());
    if (send) {
        QCOMPARE(send->txtSend->text(), sendText);
        QVERIFY(send->IsNewWindow);
        QVERIFY(!send->chkBinary->isChecked());
        if (key == QLatin1String("SendingEmail")) {
            QVERIFY(send->timingShown());
            QVERIFY(send->chkPause->isChecked() && !send->chkPeriodically->isChecked());
            QCOMPARE(send->txtPause->text(), QStringLiteral("100"));
            QCOMPARE(send->cmdSend->text(), QStringLiteral("&Start Sending"));
            QVERIFY(send->txtTitle->text().startsWith(QStringLiteral("Sending Email - ")));
            QCOMPARE(send->txtTitle->text().size(),
                     QStringLiteral("Sending Email - 05 Dec 2026 10:11:12").size());
        } else if (key == QLatin1String("KeepAlive")) {
            QVERIFY(send->timingShown() && send->isSending());
            QVERIFY(send->chkPeriodically->isChecked() && !send->chkPause->isChecked());
            QCOMPARE(send->txtOnceEvery->text(), QStringLiteral("60000"));
            QCOMPARE(send->cmdSend->text(), QStringLiteral("&Stop"));
        } else {
            QVERIFY(!send->chkPause->isChecked() && !send->chkPeriodically->isChecked());
        }
        // Closing it keeps its data as a saved state.
        send->close();
        QCOMPARE(h.lastSavedData(), sendText);
    }
    if (!peer.answer.isEmpty()) {
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

    const QString name = h.w->tabs[1].lblServer->text();
    QCOMPARE(
        stepTexts(h.steps),
        (QStringList{
            QStringLiteral("Web Server Setup - Step 1|If you have a web server on this computer then "
                           "disable it now.\r\n\r\nPort 80 is going to be used by Tarnwell.|Next >>"),
            QStringLiteral("Web Server Setup - Step 2|Tarnwell is now in server mode and is listening "
                           "on port 80.\r\n\r\nStart your web browser and go to the URL 'http://") +
                name +
                QStringLiteral("'. Nothing will be displayed in the browser until the next step is "
                               "completed.\r\n\r\nNotice that when you go to that URL, the 'Clients' "
                               "changes from 0 to 1.|Next >>"),
            QStringLiteral("Web Server Setup - Step 3|Tarnwell is now ready to send the HTML to your "
                           "browser.  Press 'Next' to continue. |Next >>"),
            QStringLiteral("Web Server Setup - Step 4|Your browser should now be displaying the web page "
                           "sent from Tarnwell.|Finish")}));
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

void TestConfigurations::windowListsAndDescribes()
{
    Harness h;
    QVERIFY(h.w);
    frmConfigurations window(std::make_unique<MainWizardHost>(h.w.get()));
    window.show();
    QListWidget *list = window.lvwConfig;
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    QCOMPARE(texts.join(QLatin1Char('|')),
             QStringLiteral("Web Server|Web Browser|Web Browser (via Proxy)|Sending "
                            "Email|Keep Alive Request|Quote Of The Day|Time Of Day"));
    QCOMPARE(list->currentRow(), 0);
    QVERIFY(window.chkShowAtStartup->isChecked() == false); // the harness stored 0

    // The item under the pointer shows its description; empty space keeps it.
    window.lvwConfig_MouseMove(list->visualItemRect(list->item(5)).center());
    QCOMPARE(window.txtComment->toPlainText(),
             QStringLiteral("This requests the quote of the day from a server."));
    window.lvwConfig_MouseMove(QPoint(list->viewport()->width() - 2, list->viewport()->height() - 2));
    QCOMPARE(window.txtComment->toPlainText(),
             QStringLiteral("This requests the quote of the day from a server."));

    // Help opens its topic.
    window.cmdHelp->click();
    QCOMPARE(frmHelp::shared()->currentTopic(), 20);
    frmHelp::shared()->close();
    QVERIFY(h.ui.prompts.isEmpty());
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
    window->chkShowAtStartup->setChecked(true);
    QListWidget *list = window->lvwConfig;
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
