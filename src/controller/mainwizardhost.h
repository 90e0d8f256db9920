#pragma once

#include "setup/wizardhost.h"

#include <QPointer>

class frmTarnwell;

/// The main window as the guided set-ups see it.
class MainWizardHost : public WizardHost
{
public:
    explicit MainWizardHost(frmTarnwell *main) : m_main(main) {}

    QWidget *mainWindow() const override;
    bool isClosing() const override;
    void selectMode(int tab) override;
    void setClientHost(const QString &host) override;
    void setClientPort(const QString &port) override;
    void setListenPort(const QString &port) override;
    QString computerName() const override;
    void connectClient() override;
    void startListening() override;
    void stopListening() override;

private:
    QPointer<frmTarnwell> m_main;
};
