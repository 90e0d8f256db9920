#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

/// The progress window: caption "Processing", a bar, a label and Cancel.
/// Cancel only raises the Cancel signal; the owner decides what it means.
class frmWait : public QDialog
{
    Q_OBJECT
public:
    explicit frmWait(QWidget *parent = nullptr);
    void SetPercent(int intPerc);
    int percent() const;
    void setLabel(const QString &text);
    QString label() const;

Q_SIGNALS:
    void Cancel();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QProgressBar *m_pgrProgress;
    QLabel *m_lblLabel;
    QPushButton *m_cmdCancel;
};
