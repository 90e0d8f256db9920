#pragma once

#include <QHash>
#include <QList>
#include <QString>

class QDateTime;
class WizardHost;
class frmSend;

/// The hosts and ports the set-ups point at. The ports are fixed (80, 25,
/// 17, 13); tests map them to ports of their own loopback peers and replace
/// the default hosts, so no set-up under test reaches outside the machine.
struct WizardTargets
{
    QString quoteHost = QStringLiteral("djxmmx.net");
    QString timeHost = QStringLiteral("time.nist.gov");
    QString keepAliveHost = QStringLiteral("www.example.com");
    /// The example in the web-site question.
    QString exampleHost = QStringLiteral("www.example.com");
    /// The text typed into a port box instead of a fixed port.
    QHash<int, QString> ports;

    QString port(int fixed) const { return ports.value(fixed, QString::number(fixed)); }
    /// The targets in force (tests assign to it).
    static WizardTargets &current();
};

/// One of the seven set-ups offered by the configurations window.
struct Configuration
{
    QString key;
    QString text;
    QString description;
};

/// The guided set-ups: each switches the main window's mode, fills in the
/// server and port, changes the connection options, connects or listens,
/// opens a send window with suitable data, and guides the user through
/// instruction windows. Every step waits for its button while the program
/// stays live; a set-up ends early, without further changes, when the main
/// window closes during a step.
class ConfigurationWizards
{
public:
    explicit ConfigurationWizards(WizardHost &host);

    /// The set-ups in the order the window lists them.
    static const QList<Configuration> &configurations();

    /// Runs the set-up of this key (compared without regard to case); false
    /// for an unknown key or when it ended early.
    bool Run(const QString &key);
    /// A set-up is running (the configurations window is not offered twice).
    static bool isRunning();

    bool WebServer();
    bool WebBrowser();
    bool WebBrowserViaProxy();
    bool SendingEmail();
    bool KeepAlive();
    bool Quote();
    bool TimeOfDay();

    // The data the set-ups put into their send windows.
    static QString webPage(const QDateTime &now);
    static QString browserRequest(const QString &requestLine);
    static QString mailScript();
    static QString keepAliveRequest();
    /// The web-site question of both browser set-ups.
    static QString webSitePrompt();
    /// A proxy port answer is a whole number from 1 to 65535 (blanks around it allowed).
    static bool isPortNumber(const QString &answer);

    static inline const QString kNext = QStringLiteral("Next >>");
    static inline const QString kFinish = QStringLiteral("Finish");
    static inline const QString kCrLf = QStringLiteral("\r\n");

private:
    bool step(const QString &title, const QString &description, const QString &button);
    bool stillOn() const;
    /// An input box; an empty or blank answer (or Cancel) gives the placeholder.
    QString askName(const QString &prompt, const QString &title, const QString &placeholder);
    /// Auto disconnect on, auto reconnect as given (with its period), through the options' OK.
    void applyOptions(bool autoReconnect, const QString &reconnectPeriod = QString());
    frmSend *openSendWindow(const QString &data);
    bool timeService(bool quote);

    WizardHost &m_host;
};
