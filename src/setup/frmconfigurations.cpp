#include "setup/frmconfigurations.h"

#include "options/settingsstore.h"
#include "setup/configurationwizards.h"
#include "setup/wizardhost.h"
#include "ui/frmhelp.h"
#include "ui/standardicons.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {
const QString kSection = QStringLiteral("StartUp");
const QString kKey = QStringLiteral("ShowConfigurations");
constexpr int kKeyRole = Qt::UserRole;

QPushButton *button(const QString &caption, const char *name)
{
    auto *b = new QPushButton(caption);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}
} // namespace

frmConfigurations::frmConfigurations(std::unique_ptr<WizardHost> host, QWidget *parent)
    : QDialog(parent), m_host(std::move(host))
{
    setObjectName(QStringLiteral("frmConfigurations"));
    setWindowTitle(QStringLiteral("Predefined Configurations"));
    setAttribute(Qt::WA_DeleteOnClose);

    lvwConfig = new QListWidget;
    lvwConfig->setObjectName(QStringLiteral("lvwConfig"));
    lvwConfig->setViewMode(QListView::IconMode);
    lvwConfig->setMovement(QListView::Static);
    lvwConfig->setResizeMode(QListView::Adjust);
    lvwConfig->setWordWrap(true);
    lvwConfig->setIconSize(QSize(32, 32));
    lvwConfig->setGridSize(QSize(120, 76));
    lvwConfig->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwConfig->setMouseTracking(true);
    lvwConfig->viewport()->installEventFilter(this);
    const QIcon icon = sharedStandardIcon(QStyle::SP_DriveNetIcon);
    for (const Configuration &c : ConfigurationWizards::configurations()) {
        auto *item = new QListWidgetItem(icon, c.text, lvwConfig);
        item->setData(kKeyRole, c.key);
    }
    txtComment = new QPlainTextEdit;
    txtComment->setObjectName(QStringLiteral("txtComment"));
    txtComment->setReadOnly(true);
    txtComment->setFocusPolicy(Qt::NoFocus);
    txtComment->setFixedHeight(txtComment->fontMetrics().lineSpacing() * 3 + 12);
    chkShowAtStartup = new QCheckBox(QStringLiteral("&Show this screen at start up"));
    chkShowAtStartup->setObjectName(QStringLiteral("chkShowAtStartup"));
    chkShowAtStartup->setChecked(SettingsStore::instance().Read(kSection, kKey, 1).trimmed() ==
                                 QLatin1String("1"));
    cmdOK = button(QStringLiteral("Setup"), "cmdOK");
    cmdOK->setDefault(true);
    cmdCancel = button(QStringLiteral("Close"), "cmdCancel");
    cmdHelp = button(QStringLiteral("&Help"), "cmdHelp");

    auto *buttons = new QVBoxLayout;
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    buttons->addWidget(cmdHelp);
    buttons->addStretch(1);
    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Select a common configuration:")), 0, 0);
    grid->addWidget(lvwConfig, 1, 0);
    grid->addLayout(buttons, 1, 1);
    grid->addWidget(txtComment, 2, 0, 1, 2);
    grid->addWidget(chkShowAtStartup, 3, 0, 1, 2);
    grid->setRowStretch(1, 1);
    // Room for all seven items and for the whole caption.
    setMinimumSize(520, 360);
    resize(560, 400);

    lvwConfig->setCurrentRow(0);
    showDescription(lvwConfig->currentItem());

    // Keyboard users read the description of the item they move to.
    connect(lvwConfig, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem *item) { showDescription(item); });
    connect(lvwConfig, &QListWidget::itemDoubleClicked, this, [this] { cmdOK_Click(); });
    connect(cmdOK, &QPushButton::clicked, this, &frmConfigurations::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmConfigurations::cmdCancel_Click);
    connect(cmdHelp, &QPushButton::clicked, this, &frmConfigurations::cmdHelp_Click);
    frmHelp::installHelpKey(this, [] { return kHelpTopic; });
}

frmConfigurations::~frmConfigurations() = default;

void frmConfigurations::lvwConfig_MouseMove(const QPoint &pos)
{
    // Over empty space the description stays as it was.
    if (const QListWidgetItem *item = lvwConfig->itemAt(pos))
        showDescription(item);
}

void frmConfigurations::showDescription(const QListWidgetItem *item)
{
    if (!item)
        return;
    const QString key = item->data(kKeyRole).toString().toLower();
    for (const Configuration &c : ConfigurationWizards::configurations()) {
        if (c.key.toLower() == key) {
            txtComment->setPlainText(c.description);
            return;
        }
    }
}

void frmConfigurations::saveStartupSwitch()
{
    SettingsStore::instance().Save(kSection, kKey,
                                   chkShowAtStartup->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void frmConfigurations::releaseMainWindow()
{
    if (QWidget *main = m_host->mainWindow())
        main->setEnabled(true);
}

void frmConfigurations::cmdOK_Click()
{
    const QListWidgetItem *item = lvwConfig->currentItem();
    if (!item || ConfigurationWizards::isRunning())
        return;
    const QString key = item->data(kKeyRole).toString();
    hide();
    saveStartupSwitch();
    QPointer<frmConfigurations> self(this);
    ConfigurationWizards wizards(*m_host);
    wizards.Run(key);
    // The window may have been closed while the set-up ran (the program ending).
    if (!self)
        return;
    releaseMainWindow();
    QPointer<QWidget> main = m_host->mainWindow();
    close();
    if (main && !m_host->isClosing())
        main->activateWindow();
}

void frmConfigurations::cmdCancel_Click()
{
    close();
}

void frmConfigurations::reject()
{
    close();
}

void frmConfigurations::cmdHelp_Click()
{
    frmHelp::openTopicFor(this, kHelpTopic);
}

void frmConfigurations::closeEvent(QCloseEvent *event)
{
    // Close and the close box alike keep the switch and give the main window back.
    saveStartupSwitch();
    releaseMainWindow();
    event->accept();
}

bool frmConfigurations::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lvwConfig->viewport() && event->type() == QEvent::MouseMove)
        lvwConfig_MouseMove(static_cast<QMouseEvent *>(event)->position().toPoint());
    return QDialog::eventFilter(watched, event);
}
