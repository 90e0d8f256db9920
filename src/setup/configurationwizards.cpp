#include "setup/configurationwizards.h"

#include "options/frmoptions.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "setup/frminstruction.h"
#include "setup/wizardhost.h"
#include "ui/uiservice.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>

namespace {
bool g_running = false;

// Marks a set-up as running for its whole length, however it ends.
struct RunningMark
{
    RunningMark() { g_running = true; }
    ~RunningMark() { g_running = false; }
};

void processEvents()
{
    QCoreApplication::processEvents();
}

// Each line followed by CR LF.
QString lines(std::initializer_list<QString> list)
{
    QString out;
    for (const QString &l : list)
        out += l + ConfigurationWizards::kCrLf;
    return out;
}
} // namespace

WizardTargets &WizardTargets::current()
{
    static WizardTargets targets;
    return targets;
}

ConfigurationWizards::ConfigurationWizards(WizardHost &host) : m_host(host) {}

const QList<Configuration> &ConfigurationWizards::configurations()
{
    static const QList<Configuration> list = {
        {QStringLiteral("WebServer"), QStringLiteral("Web Server"),
         QStringLiteral("This will configure Tarnwell in a mode that simulates a Web Server.")},
        {QStringLiteral("WebBrowser"), QStringLiteral("Web Browser"),
         QStringLiteral("This will configure Tarnwell in a mode that simulates a web browser.")},
        {QStringLiteral("WebBrowserViaProxy"), QStringLiteral("Web Browser (via Proxy)"),
         QStringLiteral(
             "This will configure Tarnwell in a mode that simulates a web broswser that needs to connect "
             "via a proxy server.")},
        {QStringLiteral("SendingEmail"), QStringLiteral("Sending Email"),
         QStringLiteral("This configations allows an analysis of the e-mail protocol.")},
        {QStringLiteral("KeepAlive"), QStringLiteral("Keep Alive Request"),
         QStringLiteral(
             "This configures Tarnwell to perform keep-alive requests that ensure that dial-up Internet "
             "connections do not time-out and disconnect.")},
        {QStringLiteral("Quote"), QStringLiteral("Quote Of The Day"),
         QStringLiteral("This requests the quote of the day from a server.")},
        {QStringLiteral("TimeOfDay"), QStringLiteral("Time Of Day"),
         QStringLiteral("This requests a servers time.")},
    };
    return list;
}

bool ConfigurationWizards::isRunning()
{
    return g_running;
}

bool ConfigurationWizards::Run(const QString &key)
{
    if (g_running)
        return false;
    RunningMark mark;
    const QString k = key.toLower();
    if (k == QLatin1String("webserver"))
        return WebServer();
    if (k == QLatin1String("webbrowser"))
        return WebBrowser();
    if (k == QLatin1String("webbrowserviaproxy"))
        return WebBrowserViaProxy();
    if (k == QLatin1String("sendingemail"))
        return SendingEmail();
    if (k == QLatin1String("keepalive"))
        return KeepAlive();
    if (k == QLatin1String("quote"))
        return Quote();
    if (k == QLatin1String("timeofday"))
        return TimeOfDay();
    return false;
}

// ---------------------------------------------------------------- the data

QString ConfigurationWizards::webPage(const QDateTime &now)
{
    return lines({QStringLiteral("<html><head><title>Simple Page</title></head>"),
                  QStringLiteral("<body bgcolor='#FFFF00'>"),
                  QStringLiteral("<p>This is a web page generated from Tarnwell.</p>"),
                  QStringLiteral("<p>Place your own HTML in the send window and see what happens!</p>"),
                  QStringLiteral("<p>The time is: ") + QLocale::system().toString(now, QLocale::ShortFormat) +
                      QStringLiteral("</p>"),
                  QStringLiteral("</body>"), QStringLiteral("</html>")});
}

QString ConfigurationWizards::browserRequest(const QString &requestLine)
{
    return lines({requestLine,
                  QStringLiteral("Accept: application/vnd.ms-excel, application/msword, "
                                 "application/vnd.ms-powerpoint, */*"),
                  QStringLiteral("Accept -Language: en -au"),
                  QStringLiteral("Accept -Encoding: gzip , deflate"),
                  QStringLiteral("User-Agent: Mozilla/4.0 (compatible; MSIE 4.01; Windows 98)"),
                  QStringLiteral("Host: localhost"), QStringLiteral("Connection: Keep -Alive")}) +
           kCrLf;
}

QString ConfigurationWizards::mailScript()
{
    return lines(
        {QStringLiteral("helo"), QStringLiteral("MAIL From: <Senders E-mail Address>"),
         QStringLiteral("RCPT TO: <Recipients E-mail Address>"), QStringLiteral("Data"),
         QStringLiteral("From: <Senders E-mail Address>"), QStringLiteral("To: <Recipients E-mail Address>"),
         QStringLiteral("Subject: <subject>"), QString(),
         QStringLiteral("<Insert body of message here. (Do not delete that blank line below the subject and "
                        "be sure to keep that period ('.') on the line by itself after the message.)"),
         QStringLiteral("."), QStringLiteral("QUIT")});
}

QString ConfigurationWizards::keepAliveRequest()
{
    return lines({QStringLiteral("GET / HTTP/1.0"),
                  QStringLiteral("User-Agent: Mozilla/4.0 (compatible; Opera/3.0; Windows 4.10) 3.50"),
                  QStringLiteral("Accept: image/gif, image/x-xbitmap, image/jpeg, */*"),
                  QStringLiteral("Host: localhost")}) +
           kCrLf;
}

QString ConfigurationWizards::webSitePrompt()
{
    return QStringLiteral(
               "What is the name web site you wish to connect to?  Do not include 'http://' and do not "
               "include any sub-directories.  An example is '") +
           WizardTargets::current().exampleHost + QLatin1Char('\'');
}

bool ConfigurationWizards::isPortNumber(const QString &answer)
{
    const QString t = answer.trimmed();
    if (t.isEmpty() || t.size() > 5)
        return false;
    for (QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int n = t.toInt();
    return n >= 1 && n <= 65535;
}

// ---------------------------------------------------------------- helpers

bool ConfigurationWizards::stillOn() const
{
    return m_host.mainWindow() && !m_host.isClosing();
}

bool ConfigurationWizards::step(const QString &title, const QString &description, const QString &button)
{
    if (!stillOn())
        return false;
    frmInstruction window;
    return window.DisplayMessage(title, description, button) && stillOn();
}

QString ConfigurationWizards::askName(const QString &prompt, const QString &title, const QString &placeholder)
{
    const std::optional<QString> answer = tw::ui().inputBox(m_host.mainWindow(), prompt, title);
    const QString name = answer.value_or(QString()).trimmed();
    return name.isEmpty() ? placeholder : name;
}

void ConfigurationWizards::applyOptions(bool autoReconnect, const QString &reconnectPeriod)
{
    // As the user would: the boxes of the options window (shown or not), then its OK.
    frmOptions *options = frmOptions::window();
    auto setBox = [](QCheckBox *box, bool on) {
        // A grey box takes two clicks to reach either state.
        for (int i = 0; i < 2 && box->isEnabled() && (box->checkState() == Qt::Checked) != on; ++i)
            box->click();
    };
    setBox(options->chkAutoDisconnect, true); // enables the reconnection boxes
    setBox(options->chkAutoReconnect, autoReconnect);
    if (!reconnectPeriod.isEmpty())
        options->txtReconnectPeriod->setText(reconnectPeriod);
    options->cmdOK_Click();
}

frmSend *ConfigurationWizards::openSendWindow(const QString &data)
{
    frmSend *send = frmSend::OpenNewWindow();
    send->txtSend->setText(data);
    send->chkBinary->setChecked(false);
    send->chkPause->setChecked(false);
    send->chkPeriodically->setChecked(false);
    return send;
}

// ---------------------------------------------------------------- the set-ups

bool ConfigurationWizards::WebServer()
{
    if (!step(QStringLiteral("Web Server Setup - Step 1"),
              QStringLiteral("If you have a web server on this computer then disable it now.") + kCrLf +
                  kCrLf + QStringLiteral("Port 80 is going to be used by Tarnwell."),
              kNext))
        return false;
    m_host.selectMode(1);
    m_host.setListenPort(WizardTargets::current().port(80));
    m_host.startListening();

    if (!step(QStringLiteral("Web Server Setup - Step 2"),
              QStringLiteral("Tarnwell is now in server mode and is listening on port 80.") + kCrLf + kCrLf +
                  QStringLiteral("Start your web browser and go to the URL 'http://") +
                  m_host.computerName() +
                  QStringLiteral(
                      "'. Nothing will be displayed in the browser until the next step is completed.") +
                  kCrLf + kCrLf +
                  QStringLiteral("Notice that when you go to that URL, the 'Clients' changes from 0 to 1."),
              kNext))
        return false;
    QPointer<frmSend> send = openSendWindow(webPage(QDateTime::currentDateTime()));
    send->setEnabled(false);

    if (!step(QStringLiteral("Web Server Setup - Step 3"),
              QStringLiteral(
                  "Tarnwell is now ready to send the HTML to your browser.  Press 'Next' to continue. "),
              kNext))
        return false;
    if (send)
        send->cmdSend_Click();
    processEvents();
    // The page is on its way; give the browser a second before the connection closes.
    if (!frmInstruction::waitLive(1000) || !stillOn())
        return false;
    processEvents();
    m_host.stopListening();

    if (!step(QStringLiteral("Web Server Setup - Step 4"),
              QStringLiteral("Your browser should now be displaying the web page sent from Tarnwell."),
              kFinish))
        return false;
    if (send) {
        send->setEnabled(true);
        send->close();
    }
    return true;
}

bool ConfigurationWizards::WebBrowser()
{
    m_host.selectMode(0);
    m_host.setClientPort(WizardTargets::current().port(80));
    processEvents();
    if (!step(QStringLiteral("Web Browser Setup - Step 1"),
              QStringLiteral("Tarnwell has been placed in Client mode and set to connect to port 80."),
              kNext))
        return false;
    const QString site = askName(webSitePrompt(), QStringLiteral("Web Browser Setup - Step 2"),
                                 QStringLiteral("<Web Site Name goes here>"));
    m_host.setClientHost(site);
    if (!step(QStringLiteral("Web Browser Setup - Step 3"),
              QStringLiteral("Tarnwell is now going to attempt to connect to the web site."), kNext))
        return false;
    applyOptions(false);
    m_host.connectClient();
    openSendWindow(browserRequest(QStringLiteral("GET / HTTP/1.1")));
    processEvents();
    return step(
        QStringLiteral("Web Browser Setup - Step 4"),
        QStringLiteral("Once a connection has been established, close this window and press 'Send' to "
                       "request the web page."),
        kFinish);
}

bool ConfigurationWizards::WebBrowserViaProxy()
{
    m_host.selectMode(0);
    processEvents();
    if (!step(QStringLiteral("Web Browser Setup (via Proxy) - Step 1"),
              QStringLiteral(
                  "Tarnwell has been placed in Client mode and set to connect to your proxy server."),
              kNext))
        return false;
    const QString site = askName(webSitePrompt(), QStringLiteral("Web Browser Setup (via Proxy) - Step 2"),
                                 QStringLiteral("<Web Site goes here>"));
    const QString proxy = askName(QStringLiteral("What is the name of your proxy server?"),
                                  QStringLiteral("Web Browser Setup (via Proxy) - Step 3"),
                                  QStringLiteral("<Proxy server goes here>"));
    QString port;
    for (;;) {
        const std::optional<QString> answer = tw::ui().inputBox(
            m_host.mainWindow(), QStringLiteral("What is the HTTP Proxy port number? (Generally 80 or 8080)"),
            QStringLiteral("Web Browser Setup (via Proxy) - Step 4"));
        // Cancel is the one way out of the question; it ends the set-up.
        if (!answer || !stillOn())
            return false;
        if (isPortNumber(*answer)) {
            port = answer->trimmed();
            break;
        }
        tw::ui().message(m_host.mainWindow(), QStringLiteral("The Proxy port number must be numeric."),
                         UiService::Icon::Exclamation);
    }
    m_host.setClientHost(proxy);
    m_host.setClientPort(port);
    if (!step(QStringLiteral("Web Browser Setup (via Proxy) - Step 5"),
              QStringLiteral("Tarnwell is now going to attempt to connect to the proxy."), kNext))
        return false;
    applyOptions(false);
    m_host.connectClient();
    openSendWindow(browserRequest(QStringLiteral("GET ") + site + QStringLiteral("/ HTTP/1.1")));
    processEvents();
    return step(
        QStringLiteral("Web Browser Setup (via Proxy) - Step 6"),
        QStringLiteral("Once a connection has been established, close this window and press 'Send' to "
                       "request the web page.  Change to the 'Received' tab page to view the HTML."),
        kFinish);
}

bool ConfigurationWizards::SendingEmail()
{
    const QString port = WizardTargets::current().port(25);
    m_host.selectMode(0);
    m_host.setClientHost(QString());
    m_host.setClientPort(port);
    processEvents();
    if (!step(QStringLiteral("Email Setup - Step 1"),
              QStringLiteral("Tarnwell has been placed in Client mode and set to connect to port 25."),
              kNext))
        return false;
    const QString server =
        askName(QStringLiteral("What is the name of your E-mail server?"),
                QStringLiteral("E-mail Setup - Step 2"), QStringLiteral("<E-mail server goes here>"));
    m_host.setClientHost(server);
    m_host.setClientPort(port);
    if (!step(QStringLiteral("E-mail Setup - Step 3"),
              QStringLiteral("Tarnwell is now going to attempt to connect to the E-mail server."), kNext))
        return false;
    applyOptions(false);
    m_host.connectClient();

    // Sent message by message, one line each, 100 ms apart.
    frmSend *send = frmSend::OpenNewWindow();
    send->cmdTiming_Click();
    send->txtSend->setText(mailScript());
    send->chkBinary->setChecked(false);
    send->chkPeriodically->setChecked(false);
    send->chkPause->setChecked(true);
    send->txtPause->setText(QStringLiteral("100"));
    send->txtTitle->setText(
        QStringLiteral("Sending Email - ") +
        QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("dd MMM yyyy hh:mm:ss")));
    processEvents();
    return step(
        QStringLiteral("E-mail Setup - Step 4"),
        QStringLiteral("Once a connection has been established, close this window, modify the E-mail message "
                       "and press 'Start Sending' to send the E-mail."),
        kFinish);
}

bool ConfigurationWizards::Quote()
{
    return timeService(true);
}

bool ConfigurationWizards::TimeOfDay()
{
    return timeService(false);
}

// The quote and time services answer once and close; the automatic
// reconnection fetches the next answer.
bool ConfigurationWizards::timeService(bool quote)
{
    const WizardTargets &targets = WizardTargets::current();
    const QString name = quote ? QStringLiteral("Quote of the Day") : QStringLiteral("Time of Day");
    const QString port = quote ? QStringLiteral("17") : QStringLiteral("13");
    m_host.selectMode(0);
    m_host.setClientHost(quote ? targets.quoteHost : targets.timeHost);
    m_host.setClientPort(targets.port(port.toInt()));
    if (!step(name + QStringLiteral(" Setup - Step 1"),
              QStringLiteral("Tarnwell has been placed in Client mode and set to connect to port ") + port +
                  QStringLiteral(" on the Quillmoor web server."),
              kNext))
        return false;
    applyOptions(true, QStringLiteral("1000"));
    if (!step(name + QStringLiteral(" Setup - Step 2"),
              QStringLiteral("The options have been changed so that once connected, the connection will be "
                             "automatically re-established when the server disconnects.") +
                  kCrLf + kCrLf + QStringLiteral("Press Finish to start retrieving the ") + name +
                  QLatin1Char('.'),
              kFinish))
        return false;
    m_host.connectClient();
    return true;
}

bool ConfigurationWizards::KeepAlive()
{
    m_host.selectMode(0);
    m_host.setClientHost(WizardTargets::current().keepAliveHost);
    m_host.setClientPort(WizardTargets::current().port(80));
    if (!step(QStringLiteral("Keep Alive Requests Setup - Step 1"),
              QStringLiteral(
                  "Tarnwell has been placed in Client mode and set to connect to port 80 on the Microsoft "
                  "web server."),
              kNext))
        return false;
    applyOptions(true, QStringLiteral("1000"));
    if (!step(QStringLiteral("Keep Alive Requests Setup - Step 2"),
              QStringLiteral(
                  "The options have been changed so that once connected, the connection will be "
                  "automatically re-established when the server disconnects.  The keep-alive requests are "
                  "sent out once a minute.") +
                  kCrLf + kCrLf + QStringLiteral("Press Finish to start retrieving the Keep-Alive Requests."),
              kFinish))
        return false;
    m_host.connectClient();

    // Periodic, once a minute for ever, started at once.
    frmSend *send = frmSend::OpenNewWindow();
    send->txtSend->setText(keepAliveRequest());
    send->chkBinary->setChecked(false);
    send->chkPause->setChecked(false);
    send->chkPeriodically->setChecked(true);
    send->txtOnceEvery->setText(QStringLiteral("60000"));
    send->cmdTiming_Click();
    send->cmdSend_Click();
    return true;
}
