// The main window's own settings: read once at load, written once at exit.

#include "controller/frmtarnwell.h"
#include "core/eventlog.h"
#include "options/settingsstore.h"
#include "ui/twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>

namespace {
// The default server for a fresh install: this machine, so a first Connect
// talks to something the user controls rather than a host on the Internet.
const QString kDefaultHost = QStringLiteral("localhost");
} // namespace

void frmTarnwell::reportStoreProblems()
{
    const QStringList problems = SettingsStore::instance().takeProblems();
    for (const QString &p : problems)
        tw::events().AddEvent(p);
}

void frmTarnwell::LoadMainSettings()
{
    SettingsStore &s = SettingsStore::instance();
    const QString mode = QStringLiteral("Mode");
    const QString endPoints = QStringLiteral("EndPoints");
    const QString show = QStringLiteral("Show");

    // 1-2. The tab, with the normal mode change, then the start event.
    const int m = s.ReadNumber(mode, mode, 0, 0, 2);
    m_previousTab = tabMode->currentIndex();
    if (m != tabMode->currentIndex()) {
        QSignalBlocker block(tabMode);
        tabMode->setCurrentIndex(m);
        tabMode_Click(m_previousTab);
    }
    intCurrentMode = m;
    static const char *const started[] = {"Client", "Server", "Pass Through"};
    tw::events().AddEvent(
        QStringLiteral("Tarnwell has been started in the %1 mode.").arg(QString::fromLatin1(started[m])));

    // 3. End points.
    tabs[0].txtServer->setText(s.Read(endPoints, QStringLiteral("ClientEP"), kDefaultHost));
    tabs[0].txtPortConnectTo->setText(s.Read(endPoints, QStringLiteral("ClientPort"), QStringLiteral("80")));
    tabs[1].txtPort->setText(s.Read(endPoints, QStringLiteral("ServerPort"), QStringLiteral("80")));
    tabs[2].txtPort->setText(s.Read(endPoints, QStringLiteral("ServerPortPS"), QStringLiteral("80")));
    tabs[2].txtServer->setText(s.Read(endPoints, QStringLiteral("PassThroughEP"), kDefaultHost));
    tabs[2].txtPortConnectTo->setText(
        s.Read(endPoints, QStringLiteral("PassThroughPort"), QStringLiteral("80")));

    // 4. Show selectors.
    tabs[0].cboShow->setCurrentIndex(s.ReadNumber(show, QStringLiteral("Client"), 0, 0, 3));
    tabs[1].cboShow->setCurrentIndex(s.ReadNumber(show, QStringLiteral("Server"), 0, 0, 3));
    tabs[2].cboShow->setCurrentIndex(s.ReadNumber(show, QStringLiteral("PassThrough"), 0, 0, 3));

    // 5. Size, stored in twips.
    const int w = s.ReadNumber(QStringLiteral("StartUp"), QStringLiteral("Width"), 6750, 1, 1000000);
    const int h = s.ReadNumber(QStringLiteral("Startup"), QStringLiteral("Height"), 6540, 1, 1000000);
    resize(Twips::toPixels(w, h));

    // 6. View toggles.
    for (int i = 0; i < 3; ++i) {
        const int v = s.ReadNumber(QStringLiteral("ReceiveDetails"), QString::number(i), 0, 0, 1);
        tabs[i].chkReceivedFields->setChecked(v == 1);
        chkReceivedFields_Click(i);
    }
}

OsError frmTarnwell::SaveMainSettings(SettingsStore::Changes c)
{
    const QString endPoints = QStringLiteral("EndPoints");
    const QString show = QStringLiteral("Show");
    // The normal (not minimised or maximised) size is what the next run restores.
    const QSize size = (isMinimized() || isMaximized()) ? normalGeometry().size() : this->size();
    c += SettingsStore::Changes{
        {QStringLiteral("Mode"), QStringLiteral("Mode"), QString::number(tabMode->currentIndex())},
        {endPoints, QStringLiteral("ClientEP"), tabs[0].txtServer->text()},
        {endPoints, QStringLiteral("ClientPort"), tabs[0].txtPortConnectTo->text()},
        {endPoints, QStringLiteral("ServerPort"), tabs[1].txtPort->text()},
        {endPoints, QStringLiteral("ServerPortPS"), tabs[2].txtPort->text()},
        {endPoints, QStringLiteral("PassThroughEP"), tabs[2].txtServer->text()},
        {endPoints, QStringLiteral("PassThroughPort"), tabs[2].txtPortConnectTo->text()},
        {show, QStringLiteral("Client"), QString::number(tabs[0].cboShow->currentIndex())},
        {show, QStringLiteral("Server"), QString::number(tabs[1].cboShow->currentIndex())},
        {show, QStringLiteral("PassThrough"), QString::number(tabs[2].cboShow->currentIndex())},
        {QStringLiteral("StartUp"), QStringLiteral("Width"),
         QString::number(Twips::fromPixelsX(size.width()))},
        {QStringLiteral("Startup"), QStringLiteral("Height"),
         QString::number(Twips::fromPixelsY(size.height()))},
    };
    for (int i = 0; i < 3; ++i)
        c.append({QStringLiteral("ReceiveDetails"), QString::number(i),
                  tabs[i].chkReceivedFields->isChecked() ? QStringLiteral("1") : QStringLiteral("0")});
    return SettingsStore::instance().SaveMany(c);
}

bool frmTarnwell::shouldShowConfigurations() const
{
    return SettingsStore::instance()
               .Read(QStringLiteral("StartUp"), QStringLiteral("ShowConfigurations"), 1)
               .trimmed() == QLatin1String("1");
}
