#pragma once

#include <QDialog>
#include <functional>

class QEventLoop;
class QLabel;
class QPushButton;

/// One step of a guided set-up: an icon, a caption, a text and one button.
/// DisplayMessage shows the step and waits for the button (or the window's
/// close box) while the rest of the program goes on: sockets, timers and
/// other windows stay live, because the wait is a nested event loop.
class frmInstruction : public QDialog
{
    Q_OBJECT
public:
    explicit frmInstruction(QWidget *parent = nullptr);
    ~frmInstruction() override;

    QLabel *Picture1 = nullptr;
    QLabel *lblDescription = nullptr;
    QPushButton *cmdCommand = nullptr;

    /// Shows the step and returns once its button was clicked or its window
    /// closed: true then. False when the program is ending and the wait was
    /// cut short without an answer.
    bool DisplayMessage(const QString &strTitle, const QString &strDescription, const QString &strButton);

    /// The description exactly as given (line breaks CR LF).
    QString description() const { return m_description; }

    /// Called with each step once it is on show and waiting, from inside the
    /// wait; tests answer the step here (click, close, or act first).
    using ShownHook = std::function<void(frmInstruction &)>;
    static void setShownHook(ShownHook hook);

    /// Waits this long with the program live, as a step does; false when the
    /// program is ending.
    static bool waitLive(int ms);

    /// Escape answers the step like its button.
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void finish();

    QString m_description;
    QEventLoop *m_loop = nullptr;
    bool m_done = false;
};
