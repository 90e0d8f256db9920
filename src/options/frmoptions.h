#pragma once

#include "options/optionsmodel.h"

#include <QDialog>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QToolButton;
class UpDown;

/// The options window: three tabs over the options model, where every edit
/// is live at once (the model holds the controls' values), OK saves, Cancel
/// reloads from the store, and the close box drops the window together with
/// its unsaved edits. Shown without blocking; one window for the program.
class frmOptions : public QDialog
{
    Q_OBJECT
public:
    /// A details viewer for one separator; the viewers belong to the display
    /// room, so the program installs how one is made (setViewerFactory).
    class SeparatorViewer
    {
    public:
        virtual ~SeparatorViewer() = default;
        virtual QWidget *window() = 0;
        virtual void AddDetails(const QByteArray &bytes) = 0;
        /// Selects the "Chr" representation.
        virtual void showAsCharacters() = 0;
    };
    using ViewerFactory = std::function<std::unique_ptr<SeparatorViewer>(QWidget *owner)>;
    static void setViewerFactory(ViewerFactory factory);

    /// The window over the current options model, created when needed, shown
    /// without blocking and raised; on tab 0 to 2 when one is given.
    static frmOptions *open(int tab = -1);
    /// The window over the current options model, created when needed but
    /// not shown (the guided set-ups change options through it).
    static frmOptions *window();
    /// The window if it exists now, shown or hidden.
    static frmOptions *instance();

    explicit frmOptions(OptionsModel *model, QWidget *parent = nullptr);
    ~frmOptions() override;

    OptionsModel *model() const { return m_model; }
    int helpTopic() const;

    // "Appearance"
    QTabWidget *tabOption = nullptr;
    QLabel *lblFont = nullptr;
    QToolButton *cmdOpenFont = nullptr;
    QLineEdit *txtMaxListLength = nullptr;
    UpDown *upRows = nullptr;
    QLineEdit *txtMaxListSize = nullptr;
    UpDown *upKilobytes = nullptr;
    QCheckBox *chkClearAllLists = nullptr;
    QCheckBox *chkCaseInsensitive = nullptr;
    QCheckBox *chkVerboseLogging = nullptr;
    // "Details View"
    QComboBox *cboMessage = nullptr;
    QPushButton *cmdMessageDetails = nullptr;
    QComboBox *cboField = nullptr;
    QPushButton *cmdFieldDetails = nullptr;
    QCheckBox *chkIgnoreBetween = nullptr;
    QComboBox *cboIgnoreBetween = nullptr;
    QPushButton *cmdIgnoreBetween = nullptr;
    QCheckBox *chkMessageSeparator = nullptr;
    QCheckBox *chkFieldSeparator = nullptr;
    QCheckBox *chkConcatMsgSeps = nullptr;
    // "Socket Handling"
    QCheckBox *chkAutoDisconnect = nullptr;
    QCheckBox *chkAutoReconnect = nullptr;
    QLineEdit *txtReconnectPeriod = nullptr;
    UpDown *upReconnection = nullptr;
    QCheckBox *chkMultipleClients = nullptr;
    QPushButton *cmdHTTPPassThrough = nullptr;

    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;

    QCheckBox *checkBox(OptionsModel::Check c) const { return m_checks[size_t(c)]; }
    /// The text box or combo box of an option.
    QWidget *textControl(OptionsModel::Text t) const { return m_textControls[size_t(t)]; }
    /// The details viewer of a separator combo (null until first asked for).
    SeparatorViewer *viewer(OptionsModel::Text t) const;

    void cmdOK_Click();
    void cmdCancel_Click();
    void cmdHTTPPassThrough_Click();
    void cmdOpenFont_Click();
    /// cmdMessageDetails, cmdFieldDetails, cmdIgnoreBetween.
    void showSeparatorDetails(OptionsModel::Text t);
    /// lblFont as ShowFontDescription writes it.
    void ShowFontDescription();

    /// Esc is Cancel.
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildUi();
    void wireModel();
    void showCheck(OptionsModel::Check c);
    void showText(OptionsModel::Text t);
    void applyEnabling();
    void hideViewers();
    SeparatorViewer *ensureViewer(OptionsModel::Text t);

    QPointer<OptionsModel> m_model;
    std::array<QCheckBox *, OptionsModel::kCheckCount> m_checks{};
    std::array<QWidget *, OptionsModel::kTextCount> m_textControls{};
    // mfrmMessageDetails, mfrmFieldDetails, mfrmIgnoreDetails
    std::array<std::unique_ptr<SeparatorViewer>, 3> m_viewers;
    bool m_discarding = false;
};
