#include "logging/frmstate.h"

frmState::frmState(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmState"));
}

void frmState::Initialise(bool, const QString &strCaption)
{
    setWindowTitle(strCaption);
}

void frmState::AddState(const QString &strState, const QString &)
{
    m_rows << strState;
}

void frmState::AddError(int intError, const QString &strDescription, qint32 Scode, const QString &strSource,
                        const QString &)
{
    m_rows << QStringLiteral("Error Info: %1, %2 SCode: %3 Source: %4")
                  .arg(intError)
                  .arg(strDescription)
                  .arg(Scode)
                  .arg(strSource);
}
