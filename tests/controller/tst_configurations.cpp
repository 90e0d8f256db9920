#include "controller/frmtarnwell.h"
#include "controller/mainwizardhost.h"
#include "display/datalistmodel.h"
#include "net/socketcontrol.h"
#include "options/frmoptions.h"
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
struct Step
{
    QString title;
    QString description;
    QString button;
};

// Each step as "title|button".
QStringList titles(const QList<Step> &steps)
{
    QStringList out;
    for (const Step &s : steps)
        out << s.title + QLatin1Char('|') + s.button;
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
    void setupAndDoubleClickRunTheSame_data();
    void setupAndDoubleClickRunTheSame();
    void busySocketRefusesTheWindow();
    // Last: closing the main window ends the application's event loops.
    void closingTheMainWindowEndsTheSetup();
};

void TestConfigurations::clientSetups_data()
{
    // answers: the input boxes' answers, "|" between (PEER: the peer's port, CANCEL: cancelled, LONG: a
    // 300-character site name, also in sendText); asked: titles of the input and message boxes; steps: the
    // step titles, each with "Next >>" but the last with "Finish"; mentions: a text one of the steps holds;
    // host: txtServer(0) afterwards; timing of the send window: "" plain, "pause", "periodic", "none": no
    // window.
    for (const char *column : {"key", "answers", "asked", "steps", "mentions", "host", "timing", "sendText"})
        QTest::addColumn<QString>(column);

    const QString request =
        QStringLiteral(" HTTP/1.1\r\nAccept: application/vnd.ms-excel, application/msword, "
                       "application/vnd.ms-powerpoint, */*\r\n"
                       "Accept -Language: en -au\r\nAccept -Encoding: gzip , deflate\r\n"
                       "User-Agent: Mozilla/4.0 (compatible; MSIE 4.01; Windows 98)\r\nHost: localhost\r\n"
                       "Connection: Keep -Alive\r\n\r\n");
    const QString mail = QStringLiteral(
        "helo\r\nMAIL From: <Senders E-mail Address>\r\nRCPT TO: <Recipients E-mail Address>\r\n"
        "Data\r\nFrom: <Senders E-mail Address>\r\nTo: <Recipients E-mail Address>\r\n"
        "Subject: <subject>\r\n\r\n<Insert body of message here. (Do not delete that blank line "
        "below the subject and be sure to keep that period ('.') on the line by itself after the "
        "message.)\r\n.\r\nQUIT\r\n");
    const QString keepAlive = QStringLiteral(
        "GET / HTTP/1.0\r\nUser-Agent: Mozilla/4.0 (compatible; Opera/3.0; Windows 4.10) 3.50\r\n"
        "Accept: image/gif, image/x-xbitmap, image/jpeg, */*\r\nHost: localhost\r\n\r\n");
    const char *browser = "Web Browser Setup - Step 1|Web Browser Setup - Step 3|Web Browser Setup - Step 4";
    const char *sendOnce = "close this window and press 'Send' to request the web page.";
    const struct
    {
        const char *name, *key, *answers, *asked, *steps, *mentions, *host, *timing;
        QString sendText;
    } rows[] = {
        {"web browser", "WebBrowser", "127.0.0.1", "Web Browser Setup - Step 2", browser, sendOnce,
         "127.0.0.1", "", QStringLiteral("GET /") + request},
        {"web browser, site question cancelled", "WebBrowser", "CANCEL", "Web Browser Setup - Step 2",
         browser, sendOnce, "<Web Site Name goes here>", "", QStringLiteral("GET /") + request},
        {"proxy, port asked until numeric", "WebBrowserViaProxy", "LONG|127.0.0.1|| |eighty|99999|PEER",
         "Web Browser Setup (via Proxy) - Step 2|Web Browser Setup (via Proxy) - Step 3|P|Tarnwell III|P|"
         "Tarnwell III|P|Tarnwell III|P|Tarnwell III|P",
         "Web Browser Setup (via Proxy) - Step 1|Web Browser Setup (via Proxy) - Step 5|"
         "Web Browser Setup (via Proxy) - Step 6",
         "Change to the 'Received' tab page to view the HTML.", "127.0.0.1", "",
         QStringLiteral("GET LONG/") + request},
        {"sending email", "SendingEmail", " 127.0.0.1 ", "E-mail Setup - Step 2",
         "Email Setup - Step 1|E-mail Setup - Step 3|E-mail Setup - Step 4", "set to connect to port 25.",
         "127.0.0.1", "pause", mail},
        {"keep alive", "KeepAlive", "", "",
         "Keep Alive Requests Setup - Step 1|Keep Alive Requests Setup - Step 2",
         "sent out once a minute.\r\n\r\nPress Finish to start retrieving the Keep-Alive Requests.",
         "127.0.0.1", "periodic", keepAlive},
        {"quote", "Quote", "", "", "Quote of the Day Setup - Step 1|Quote of the Day Setup - Step 2",
         "connect to port 17 on the Quillmoor web server.", "127.0.0.1", "none", QString()},
        {"time of day", "TimeOfDay", "", "", "Time of Day Setup - Step 1|Time of Day Setup - Step 2",
         "disconnects.\r\n\r\nPress Finish to start retrieving the Time of Day.", "127.0.0.1", "none",
         QString()},
    };
    const QString proxyPort = QStringLiteral("Web Browser Setup (via Proxy) - Step 4");
    for (const auto &r : rows)
        QTest::newRow(r.name) << QString::fromLatin1(r.key) << QString::fromLatin1(r.answers)
                              << QString::fromLatin1(r.asked).replace(QStringLiteral("|P"),
                                                                      QLatin1Char('|') + proxyPort)
                              << QString::fromLatin1(r.steps) << QString::fromLatin1(r.mentions)
                              << QString::fromLatin1(r.host) << QString::fromLatin1(r.timing) << r.sendText;
}

void TestConfigurations::clientSetups()
{
    QFETCH(QString, key);
    QFETCH(QString, answers);
    QFETCH(QString, asked);
    QFETCH(QString, steps);
    QFETCH(QString, mentions);
    QFETCH(QString, host);
    QFETCH(QString, timing);
    QFETCH(QString, sendText);

    Peer peer;
    const bool timeService = key == QLatin1String("Quote") || key == QLatin1String("TimeOfDay");
    if (timeService)
        peer.answer = "An answer\r\n";
    Harness h;
    QVERIFY(h.w);
    WizardTargets &targets = WizardTargets::current();
    targets.quoteHost = targets.timeHost = targets.keepAliveHost = QStringLiteral("127.0.0.1");
    for (int fixed : {80, 25, 17, 13})
        targets.ports[fixed] = peer.port();
    const QString longSite = QString(300, QLatin1Char('w')) + QStringLiteral(".example");
    sendText.replace(QStringLiteral("LONG"), longSite);
    for (const QString &a : answers.isEmpty() ? QStringList() : answers.split(QLatin1Char('|'))) {
        if (a == QLatin1String("CANCEL"))
            h.ui.inputAnswers.enqueue(std::nullopt);
        else
            h.ui.inputAnswers.enqueue(a == QLatin1String("PEER")   ? peer.port()
                                      : a == QLatin1String("LONG") ? longSite
                                                                   : a);
    }

    QVERIFY(h.run(key));

    QStringList expected = steps.split(QLatin1Char('|'));
    for (qsizetype i = 0; i < expected.size(); ++i)
        expected[i] += i + 1 < expected.size() ? QStringLiteral("|Next >>") : QStringLiteral("|Finish");
    QCOMPARE(titles(h.steps), expected);
    QString described;
    for (const Step &s : h.steps)
        described += s.description + QLatin1Char('|');
    QVERIFY2(described.contains(mentions), qPrintable(described));
    QStringList boxes;
    for (const ScriptedUi::Prompt &p : h.ui.prompts)
        boxes << p.title;
    QCOMPARE(boxes.join(QLatin1Char('|')), asked);
    if (asked.contains(QStringLiteral("Tarnwell III")))
        QVERIFY(h.ui.messages().contains(QStringLiteral("The Proxy port number must be numeric.")));
    if (key.startsWith(QLatin1String("WebBrowser")))
        QCOMPARE(h.ui.prompts.first().text,
                 QStringLiteral("What is the name web site you wish to connect to?  Do not include 'http://' "
                                "and do not include any sub-directories.  An example is 'www.example.com'"));
    QCOMPARE(h.w->intCurrentMode, 0);
    QCOMPARE(h.w->tabs[0].txtServer->text(), host);
    QCOMPARE(h.w->tabs[0].txtPortConnectTo->text(), peer.port());
    // The options went through the options window's OK into the store.
    QVERIFY(frmOptions::instance() && !frmOptions::instance()->isVisible());
    QVERIFY(frmOptions::instance()->chkAutoDisconnect->isChecked());
    QCOMPARE(h.stored(QStringLiteral("AutoDisconnect")), QStringLiteral("1"));
    const bool reconnects = timeService || key == QLatin1String("KeepAlive");
    QCOMPARE(h.stored(QStringLiteral("AutoReconnect")),
             reconnects ? QStringLiteral("1") : QStringLiteral("0"));
    if (reconnects)
        QCOMPARE(h.stored(QStringLiteral("AutoReconnectPeriod")), QStringLiteral("1000"));
    if (host == QLatin1String("127.0.0.1"))
        QTRY_VERIFY(!peer.clients.isEmpty());

    frmSend *send = h.sendWindow();
    QCOMPARE(send != nullptr, timing != QLatin1String("none"));
    if (send) {
        QCOMPARE(send->txtSend->text(), sendText);
        QVERIFY(send->IsNewWindow && !send->chkBinary->isChecked());
        QCOMPARE(send->chkPause->isChecked(), timing == QLatin1String("pause"));
        QCOMPARE(send->chkPeriodically->isChecked(), timing == QLatin1String("periodic"));
        QCOMPARE(send->timingShown(), !timing.isEmpty());
        if (timing == QLatin1String("pause")) {
            QCOMPARE(send->txtPause->text(), QStringLiteral("100"));
            QCOMPARE(send->cmdSend->text(), QStringLiteral("&Start Sending"));
            QVERIFY(send->txtTitle->text().startsWith(QStringLiteral("Sending Email - ")));
        } else if (timing == QLatin1String("periodic")) {
            QVERIFY(send->isSending());
            QCOMPARE(send->txtOnceEvery->text(), QStringLiteral("60000"));
        }
        // Closing it keeps its data as a saved state.
        send->close();
        QCOMPARE(h.lastSavedData(), sendText);
    }
    if (timeService) {
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
    QCOMPARE(titles(h.steps), (QStringList{QStringLiteral("Web Server Setup - Step 1|Next >>"),
                                           QStringLiteral("Web Server Setup - Step 2|Next >>"),
                                           QStringLiteral("Web Server Setup - Step 3|Next >>"),
                                           QStringLiteral("Web Server Setup - Step 4|Finish")}));
    QVERIFY(h.steps[1].description.contains(QStringLiteral("go to the URL 'http://") + name +
                                            QStringLiteral("'.")));
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
    window->chkShowAtStartup->setChecked(true);
    QListWidget *list = window->lvwConfig;
    QCOMPARE(list->currentRow(), 0);
    // The item under the pointer shows its description; empty space keeps it.
    window->lvwConfig_MouseMove(list->visualItemRect(list->item(6)).center());
    const QString time = QStringLiteral("This requests a servers time.");
    QCOMPARE(window->txtComment->toPlainText(), time);
    window->lvwConfig_MouseMove(QPoint(list->viewport()->width() - 2, list->viewport()->height() - 2));
    QCOMPARE(window->txtComment->toPlainText(), time);
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
