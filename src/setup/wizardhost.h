#pragma once

#include <QString>

class QWidget;

/// What the guided set-ups drive in the main window: the mode tab, the
/// end-point boxes, the Connect and Listen buttons of the Client and Server
/// tabs, and the computer's name. The main window provides it.
class WizardHost
{
public:
    virtual ~WizardHost() = default;

    /// The main window; null once it is gone.
    virtual QWidget *mainWindow() const = 0;
    /// The main window is closing or closed: a set-up stops at its next step.
    virtual bool isClosing() const = 0;

    /// Selects a mode tab (0 Client, 1 Server), with the normal mode change.
    virtual void selectMode(int tab) = 0;
    virtual void setClientHost(const QString &host) = 0; // txtServer(0)
    virtual void setClientPort(const QString &port) = 0; // txtPortConnectTo(0)
    virtual void setListenPort(const QString &port) = 0; // txtPort(1)
    /// The computer's name as the Server tab shows it (lblServer(1)).
    virtual QString computerName() const = 0;

    /// Runs the Connect button handling of the Client tab when the button
    /// offers Connect (pressing it while connected would disconnect).
    virtual void connectClient() = 0;
    /// Runs the Listen button handling of the Server tab to start listening,
    /// or to stop: each only when the button offers that.
    virtual void startListening() = 0;
    virtual void stopListening() = 0;
};
