#pragma once

#include <QDialog>
#include <memory>

class QCheckBox;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QPushButton;
class WizardHost;

/// The common configurations window: the seven guided set-ups with their
/// descriptions, the start-up switch, and Setup, Close and Help. Shown at
/// start-up with the main window disabled until it closes, or from the menu.
class frmConfigurations : public QDialog
{
    Q_OBJECT
public:
    /// The window drives the main window through host (owned).
    explicit frmConfigurations(std::unique_ptr<WizardHost> host, QWidget *parent = nullptr);
    ~frmConfigurations() override;

    static constexpr int kHelpTopic = 20;

    QListWidget *lvwConfig = nullptr;
    QPlainTextEdit *txtComment = nullptr;
    QCheckBox *chkShowAtStartup = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
    QPushButton *cmdHelp = nullptr;

    /// Setup (or a double click on an item): hides the window, stores the
    /// switch, runs the selected set-up, then enables and activates the main
    /// window and closes.
    void cmdOK_Click();
    /// Close: stores the switch, enables the main window, closes.
    void cmdCancel_Click();
    void cmdHelp_Click();
    /// The mouse is over a point of the list: the item there, if any, shows its description.
    void lvwConfig_MouseMove(const QPoint &pos);
    /// Escape is Close.
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void saveStartupSwitch();
    void showDescription(const QListWidgetItem *item);
    void releaseMainWindow();

    std::unique_ptr<WizardHost> m_host;
};
