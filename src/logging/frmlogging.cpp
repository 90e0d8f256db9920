#include "logging/frmlogging.h"

#include "options/settingsstore.h"
#include "ui/frmhelp.h"
#include "ui/standardicons.h"
#include "ui/uiservice.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QVBoxLayout>
#include <cerrno>

namespace {
const QString kLogging = QStringLiteral("Logging");
const QString kInitReadDir = QStringLiteral("InitReadDir");
const QString kOpenTip = QStringLiteral("Choose the file for this log");
const QString kOpenLockedTip = QStringLiteral("Turn this log off to choose another file");

template <typename W> W *named(W *w, const char *name)
{
    w->setObjectName(QString::fromLatin1(name));
    return w;
}
} // namespace

frmLogging::frmLogging(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmLogging"));
    setWindowTitle(QStringLiteral("Logging"));

    tabMode = named(new QTabBar, "tabMode");
    tabMode->setUsesScrollButtons(false);
    tabMode->setElideMode(Qt::ElideNone);
    tabMode->setExpanding(false);
    for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n)
        tabMode->addTab(DataLogger::tabCaption(n));

    chkLog = named(new QCheckBox(QStringLiteral("&Log Data")), "chkLog");
    txtFileName = named(new QLineEdit, "txtFileName");
    txtFileName->setToolTip(QStringLiteral("The full path of the log file"));
    cmdOpen = named(new QPushButton(QStringLiteral("...")), "cmdOpen");
    cmdOpen->setToolTip(kOpenTip);
    cmdOpen->setFixedWidth(cmdOpen->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 20);
    chkIncludeDateTime =
        named(new QCheckBox(QStringLiteral("&Include the date/time at the beginning of each message.")),
              "chkIncludeDateTime");
    cmdView = named(new QPushButton(QStringLiteral("&View File...")), "cmdView");
    cmdView->setToolTip(QStringLiteral("Open the log file in the desktop's text viewer"));
    cmdDelete = named(new QPushButton(QStringLiteral("&Delete File")), "cmdDelete");
    cmdDelete->setToolTip(QStringLiteral("Delete the log file"));
    chkLogInHex = named(new QCheckBox(QStringLiteral("Log data in he&x.")), "chkLogInHex");
    chkLogInHex->setToolTip(QStringLiteral("Write the data of every log as a hex dump"));
    cmdStartAll = named(new QPushButton(QStringLiteral("&Start All")), "cmdStartAll");
    cmdStartAll->setToolTip(QStringLiteral("Turn every log on"));
    cmdStopAll = named(new QPushButton(QStringLiteral("S&top All")), "cmdStopAll");
    cmdStopAll->setToolTip(QStringLiteral("Turn every log off"));
    cmdOK = named(new QPushButton(QStringLiteral("OK")), "cmdOK");
    cmdOK->setDefault(true);

    // The fields below the tabs show the entry of the selected tab.
    auto *page = new QFrame;
    page->setFrameShape(QFrame::StyledPanel);
    auto *fields = new QGridLayout(page);
    fields->addWidget(chkLog, 0, 0, 1, 3);
    fields->addWidget(new QLabel(QStringLiteral("File name:")), 1, 0);
    fields->addWidget(txtFileName, 1, 1);
    fields->addWidget(cmdOpen, 1, 2);
    fields->addWidget(chkIncludeDateTime, 2, 0, 1, 3);
    auto *fileButtons = new QHBoxLayout;
    fileButtons->addWidget(cmdView);
    fileButtons->addWidget(cmdDelete);
    fileButtons->addStretch(1);
    fields->addLayout(fileButtons, 3, 0, 1, 3);
    fields->setColumnStretch(1, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdStartAll);
    buttons->addWidget(cmdStopAll);
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->addWidget(tabMode);
    layout->addWidget(page);
    layout->addSpacing(8);
    layout->addWidget(chkLogInHex);
    layout->addSpacing(8);
    layout->addLayout(buttons);

    connect(tabMode, &QTabBar::currentChanged, this, &frmLogging::tabMode_Click);
    connect(chkLog, &QCheckBox::clicked, this, &frmLogging::chkLog_Click);
    connect(chkIncludeDateTime, &QCheckBox::clicked, this, &frmLogging::chkIncludeDateTime_Click);
    connect(chkLogInHex, &QCheckBox::toggled, this, [this](bool on) { m_logger.setLogInHex(on); });
    connect(cmdOpen, &QPushButton::clicked, this, &frmLogging::cmdOpen_Click);
    connect(cmdView, &QPushButton::clicked, this, &frmLogging::cmdView_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &frmLogging::cmdDelete_Click);
    connect(cmdStartAll, &QPushButton::clicked, this, &frmLogging::cmdStartAll_Click);
    connect(cmdStopAll, &QPushButton::clicked, this, &frmLogging::cmdStopAll_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmLogging::cmdOK_Click);
    connect(&m_logger, &DataLogger::indicatorChanged, this, &frmLogging::logIndicatorChanged);
    connect(&m_logger, &DataLogger::loggingFailed, this, &frmLogging::onLoggingFailed);
    connect(&m_logger, &DataLogger::backlogChanged, this, &frmLogging::logBacklogged);

    frmHelp::installHelpKey(this, [] { return kHelpTopic; });

    showEntry(mintPrevTab);
    lockFileName(false);
}

void frmLogging::LoadLoggingInformation()
{
    m_logger.LoadLoggingInformation();
    {
        const QSignalBlocker block(chkLogInHex);
        chkLogInHex->setChecked(m_logger.IsLogInHex());
    }
    // Preparing the window: ticks, the first tab's entry, its lock.
    for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n)
        setTick(n, m_logger.GetLogInfo(n).LogOn);
    {
        const QSignalBlocker block(tabMode);
        tabMode->setCurrentIndex(0);
    }
    mintPrevTab = DataLogger::kFirstType;
    showEntry(mintPrevTab);
    chkLog_Click();
}

bool frmLogging::hasTick(int type) const
{
    return !tabMode->tabIcon(type - 1).isNull();
}

void frmLogging::setTick(int type, bool on)
{
    tabMode->setTabIcon(type - 1, on ? sharedStandardIcon(QStyle::SP_DialogApplyButton) : QIcon());
}

void frmLogging::storeFields()
{
    m_logger.SetLogInfo(mintPrevTab, chkLog->isChecked(), txtFileName->text(),
                        chkIncludeDateTime->isChecked());
    // The entry holds the full path; show the user where the log goes.
    const QString stored = m_logger.GetLogInfo(mintPrevTab).FileName;
    if (txtFileName->text() != stored)
        txtFileName->setText(stored);
}

void frmLogging::showEntry(int type)
{
    const DataLogger::LogInfo info = m_logger.GetLogInfo(type);
    chkLog->setChecked(info.LogOn);
    txtFileName->setText(info.FileName);
    chkIncludeDateTime->setChecked(info.IncludeDateTime);
    lockFileName(info.LogOn);
}

void frmLogging::lockFileName(bool locked)
{
    txtFileName->setReadOnly(locked);
    QPalette p = txtFileName->palette();
    p.setColor(QPalette::Base, locked ? palette().color(QPalette::Button) : QColor(Qt::white));
    txtFileName->setPalette(p);
    cmdOpen->setEnabled(!locked);
    cmdOpen->setToolTip(locked ? kOpenLockedTip : kOpenTip);
}

void frmLogging::tabMode_Click(int index)
{
    storeFields();
    mintPrevTab = index + 1;
    showEntry(mintPrevTab);
}

void frmLogging::chkLog_Click()
{
    const bool on = chkLog->isChecked();
    lockFileName(on);
    setTick(mintPrevTab, on);
    if (!on)
        m_logger.closeFile(mintPrevTab, true);
    storeFields();
    m_logger.UpdateLogIndicator();
}

void frmLogging::chkIncludeDateTime_Click()
{
    storeFields();
}

void frmLogging::cmdOpen_Click()
{
    SettingsStore &store = SettingsStore::instance();
    const QString start = store.Read(kLogging, kInitReadDir, DataLogger::logFolder());
    // The dialog opens in the log folder, so that one exists from now on.
    if (start == DataLogger::logFolder())
        QDir().mkpath(start);
    const QString chosen = tw::ui().openFileName(this, start, QStringLiteral("All files (*.*) | *.*"));
    if (chosen.isEmpty())
        return;
    const QString path = QFileInfo(chosen).absoluteFilePath();
    store.Save(kLogging, kInitReadDir, path);
    txtFileName->setText(path);
}

void frmLogging::cmdView_Click()
{
    m_logger.closeFile(mintPrevTab, false);
    const QString path = DataLogger::fullPath(txtFileName->text());
    const QString failure = QStringLiteral(
        "An error occurred while attempting to view the file.  The operating system reports: ");
    if (const OsError error = DataLogger::createIfMissing(path); error.isError()) {
        tw::ui().failure(this, failure, error);
        return;
    }
    if (!tw::ui().showFile(this, path))
        tw::ui().failure(
            this, failure,
            OsError{ENOENT, QStringLiteral("No program to show text files was found on this desktop.")});
}

void frmLogging::cmdDelete_Click()
{
    // Whatever the answer, the file on disk is whole while the user decides.
    m_logger.flush();
    if (!tw::ui().askYesNo(this, QStringLiteral("Are you sure you want to delete this file?")))
        return;
    m_logger.closeFile(mintPrevTab, false);
    if (const OsError error = DataLogger::removeFile(DataLogger::fullPath(txtFileName->text()));
        error.isError())
        tw::ui().failure(
            this,
            QStringLiteral(
                "An error occured while attempting to delete the file.  The operating system reports: "),
            error);
}

void frmLogging::cmdStartAll_Click()
{
    for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n) {
        const DataLogger::LogInfo info = m_logger.GetLogInfo(n);
        m_logger.SetLogInfo(n, true, info.FileName, info.IncludeDateTime);
        setTick(n, true);
    }
    chkLog->setChecked(true);
    chkLog_Click();
    m_logger.UpdateLogIndicator();
}

void frmLogging::cmdStopAll_Click()
{
    for (int n = DataLogger::kLastType; n >= DataLogger::kFirstType; --n) {
        const DataLogger::LogInfo info = m_logger.GetLogInfo(n);
        m_logger.SetLogInfo(n, false, info.FileName, info.IncludeDateTime);
        setTick(n, false);
    }
    chkLog->setChecked(false);
    chkLog_Click();
    for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n)
        m_logger.closeFile(n, false);
    m_logger.UpdateLogIndicator();
}

void frmLogging::cmdOK_Click()
{
    storeFields();
    hide();
}

void frmLogging::closeEvent(QCloseEvent *event)
{
    // The window lives for the whole run; the close box only hides it.
    storeFields();
    event->ignore();
    hide();
}

void frmLogging::onLoggingFailed(int type, const QString &message)
{
    setTick(type, false);
    if (type == mintPrevTab) {
        // The fields must not switch the log back on when they are next stored.
        chkLog->setChecked(false);
        lockFileName(false);
    }
    tw::ui().message(isVisible() ? this : nullptr, message, UiService::Icon::Exclamation);
}
