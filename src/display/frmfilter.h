#pragma once

#include "display/messagefilter.h"

#include <QByteArray>
#include <QWidget>
#include <array>
#include <functional>

class QCheckBox;
class QLineEdit;
class QPushButton;

/// The receive filter window: four strings and a switch. The data list asks
/// it, message by message, whether a received message is shown. Created
/// hidden at start-up and kept for the life of the program; closing it from
/// the title bar only hides it.
class frmFilter : public QWidget
{
    Q_OBJECT
public:
    explicit frmFilter(QWidget *parent = nullptr);

    std::array<QLineEdit *, MessageFilter::kStringCount> txtFilter{};
    QCheckBox *chkFilterOn = nullptr;
    QPushButton *cmdOK = nullptr;

    /// Restores the strings ("Filter"/"Filter1".."Filter4") and then the
    /// switch ("FilterState") from the settings store. Each restored value
    /// is handled like the user's own change: FilterChanged and an event.
    void LoadSettings();
    /// The Close button: saves the strings and the switch, then hides.
    void cmdOK_Click();

    bool FilterOn() const;
    /// Whether a received message contains one of the strings, compared as
    /// the "Case sensitive comparisons" option says.
    bool PassesFilter(const QByteArray &strMessage) const;

    /// Asked when the window is closed from the title bar: true while the
    /// program shuts down, when the window really closes.
    void setAllowUnload(std::function<bool()> allowUnload) { m_allowUnload = std::move(allowUnload); }

Q_SIGNALS:
    /// The switch or a string changed; emitted before the event line is
    /// added, so the status line can be refreshed first.
    void FilterChanged();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void filterEdited();

    MessageFilter m_filter;
    std::function<bool()> m_allowUnload;
};
