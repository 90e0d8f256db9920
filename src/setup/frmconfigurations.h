#pragma once

#include <QDialog>

class QCheckBox;

/// The common configurations window. Stand-in until the guided set-ups are
/// built: it shows the start-up switch and closes, enabling the main window.
class frmConfigurations : public QDialog
{
    Q_OBJECT
public:
    explicit frmConfigurations(QWidget *mainWindow, QWidget *parent = nullptr);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void saveStartupSwitch();
    QWidget *m_main;
    QCheckBox *m_chkShowAtStartup;
};
