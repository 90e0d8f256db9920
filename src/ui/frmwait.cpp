#include "ui/frmwait.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

frmWait::frmWait(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmWait"));
    setWindowTitle(QStringLiteral("Processing"));
    setModal(false);
    m_pgrProgress = new QProgressBar;
    m_pgrProgress->setObjectName(QStringLiteral("pgrProgress"));
    m_pgrProgress->setRange(0, 100);
    m_pgrProgress->setValue(0);
    m_lblLabel = new QLabel(QStringLiteral("Wait..."));
    m_lblLabel->setObjectName(QStringLiteral("lblLabel"));
    m_cmdCancel = new QPushButton(QStringLiteral("Cancel"));
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_lblLabel);
    layout->addWidget(m_pgrProgress);
    layout->addWidget(m_cmdCancel, 0, Qt::AlignRight);
    setMinimumWidth(300);
    connect(m_cmdCancel, &QPushButton::clicked, this, &frmWait::Cancel);
}

void frmWait::SetPercent(int intPerc)
{
    m_pgrProgress->setValue(qBound(0, intPerc, 100));
}

int frmWait::percent() const
{
    return m_pgrProgress->value();
}

void frmWait::setLabel(const QString &text)
{
    m_lblLabel->setText(text);
}

QString frmWait::label() const
{
    return m_lblLabel->text();
}

void frmWait::closeEvent(QCloseEvent *event)
{
    // Closing the window by its close box means the same as Cancel.
    Q_EMIT Cancel();
    event->ignore();
}
