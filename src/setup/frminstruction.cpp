#include "setup/frminstruction.h"

#include "ui/standardicons.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace {
frmInstruction::ShownHook &shownHook()
{
    static frmInstruction::ShownHook hook;
    return hook;
}
} // namespace

frmInstruction::frmInstruction(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmInstruction"));
    setWindowTitle(QStringLiteral("<Title goes here>"));
    setModal(false);
    Picture1 = new QLabel;
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setPixmap(sharedStandardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    lblDescription = new QLabel;
    lblDescription->setObjectName(QStringLiteral("lblDescription"));
    lblDescription->setWordWrap(true);
    lblDescription->setTextFormat(Qt::PlainText);
    lblDescription->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblDescription->setMinimumWidth(380);
    cmdCommand = new QPushButton;
    cmdCommand->setObjectName(QStringLiteral("cmdCommand"));
    cmdCommand->setDefault(true);
    cmdCommand->setMinimumWidth(100);

    auto *row = new QHBoxLayout;
    row->addWidget(Picture1, 0, Qt::AlignTop);
    row->addSpacing(8);
    row->addWidget(lblDescription, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row, 1);
    layout->addWidget(cmdCommand, 0, Qt::AlignRight);
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    connect(cmdCommand, &QPushButton::clicked, this, &frmInstruction::finish);
}

frmInstruction::~frmInstruction()
{
    // A window destroyed while its step waits ends the wait.
    if (m_loop)
        m_loop->quit();
}

void frmInstruction::setShownHook(ShownHook hook)
{
    shownHook() = std::move(hook);
}

bool frmInstruction::DisplayMessage(const QString &strTitle, const QString &strDescription,
                                    const QString &strButton)
{
    setWindowTitle(strTitle);
    m_description = strDescription;
    lblDescription->setText(strDescription);
    cmdCommand->setText(strButton);
    m_done = false;
    adjustSize();
    show();
    raise();
    activateWindow();

    QPointer<frmInstruction> self(this);
    QEventLoop loop;
    m_loop = &loop;
    if (shownHook()) {
        QTimer::singleShot(0, this, [this] {
            if (!m_done && shownHook())
                shownHook()(*this);
        });
    }
    if (!m_done)
        loop.exec();
    if (!self)
        return false;
    m_loop = nullptr;
    const bool answered = m_done;
    // Closing when already closed (by its close box) does nothing more.
    m_done = true;
    close();
    return answered;
}

void frmInstruction::finish()
{
    m_done = true;
    if (m_loop)
        m_loop->quit();
}

void frmInstruction::done(int result)
{
    finish();
    QDialog::done(result);
}

void frmInstruction::closeEvent(QCloseEvent *event)
{
    // Closing the window by any means counts as clicking its button.
    finish();
    event->accept();
}

bool frmInstruction::waitLive(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    return loop.exec() == 0;
}
