#include "setup/frmconfigurations.h"

#include "options/settingsstore.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

frmConfigurations::frmConfigurations(QWidget *mainWindow, QWidget *parent) : QDialog(parent), m_main(mainWindow)
{
    setObjectName(QStringLiteral("frmConfigurations"));
    setWindowTitle(QStringLiteral("Predefined Configurations"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Select a common configuration:")));
    m_chkShowAtStartup = new QCheckBox(QStringLiteral("&Show this screen at start up"));
    m_chkShowAtStartup->setObjectName(QStringLiteral("chkShowAtStartup"));
    m_chkShowAtStartup->setChecked(SettingsStore::instance().Read(QStringLiteral("StartUp"),
                                                                  QStringLiteral("ShowConfigurations"), 1) ==
                                   QLatin1String("1"));
    layout->addWidget(m_chkShowAtStartup);
    auto *cmdCancel = new QPushButton(QStringLiteral("Close"));
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    layout->addWidget(cmdCancel);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::close);
}

void frmConfigurations::saveStartupSwitch()
{
    SettingsStore::instance().Save(QStringLiteral("StartUp"), QStringLiteral("ShowConfigurations"),
                                   m_chkShowAtStartup->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void frmConfigurations::closeEvent(QCloseEvent *event)
{
    saveStartupSwitch();
    if (m_main)
        m_main->setEnabled(true);
    event->accept();
}
