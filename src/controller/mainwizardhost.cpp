#include "controller/mainwizardhost.h"

#include "controller/frmtarnwell.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

QWidget *MainWizardHost::mainWindow() const
{
    return m_main.data();
}

bool MainWizardHost::isClosing() const
{
    return !m_main || m_main->isUnloaded();
}

void MainWizardHost::selectMode(int tab)
{
    if (m_main)
        m_main->tabMode->setCurrentIndex(tab);
}

void MainWizardHost::setClientHost(const QString &host)
{
    if (m_main)
        m_main->tabs[0].txtServer->setText(host);
}

void MainWizardHost::setClientPort(const QString &port)
{
    if (m_main)
        m_main->tabs[0].txtPortConnectTo->setText(port);
}

void MainWizardHost::setListenPort(const QString &port)
{
    if (m_main)
        m_main->tabs[1].txtPort->setText(port);
}

QString MainWizardHost::computerName() const
{
    return m_main ? m_main->tabs[1].lblServer->text() : QString();
}

void MainWizardHost::connectClient()
{
    if (m_main && frmTarnwell::captionKey(m_main->tabs[0].cmdConnect) == QLatin1String("connect"))
        m_main->cmdConnect_Click(0);
}

void MainWizardHost::startListening()
{
    if (m_main && frmTarnwell::captionKey(m_main->tabs[1].cmdListen) == QLatin1String("listen"))
        m_main->cmdListen_Click(1);
}

void MainWizardHost::stopListening()
{
    if (m_main && frmTarnwell::captionKey(m_main->tabs[1].cmdListen) != QLatin1String("listen"))
        m_main->cmdListen_Click(1);
}
