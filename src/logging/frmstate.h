#pragma once

#include <QStringList>
#include <QWidget>

/// A state history (client or server sockets). Stand-in until the history
/// window is built: it keeps the rows' state texts in memory.
class frmState : public QWidget
{
    Q_OBJECT
public:
    explicit frmState(QWidget *parent = nullptr);

    void Initialise(bool blnShowSocketInstance, const QString &strCaption);
    void AddState(const QString &strState, const QString &strSocket);
    void AddError(int intError, const QString &strDescription, qint32 Scode, const QString &strSource,
                  const QString &strSocket);
    void SetUserFont(const QFont &font) { Q_UNUSED(font); }

    QStringList stateTexts() const { return m_rows; }

private:
    QStringList m_rows;
};
