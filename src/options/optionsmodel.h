#pragma once

#include "core/optionssource.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>

class frmTimer;

/// The sixteen options as the options window's controls hold them: check
/// states 0/1/2 and texts exactly as typed. The window writes every edit here
/// at once, so every getter sees it before OK; OK writes the store, Cancel
/// reloads from it.
///
/// Created on first use (install() makes tw::options() create it). Creating
/// it loads the store and writes the option block to the event history; the
/// instance is published before that, so the block's own AddEvent calls read
/// this model's row limit rather than creating a second model.
class OptionsModel : public QObject, public OptionsSource
{
    Q_OBJECT
public:
    /// The check boxes of the window.
    enum class Check
    {
        VerboseLogging,   // chkVerboseLogging
        CaseInsensitive,  // chkCaseInsensitive
        AutoDisconnect,   // chkAutoDisconnect
        ConcatMsgSeps,    // chkConcatMsgSeps
        FieldSeparator,   // chkFieldSeparator (display of the field separator)
        MessageSeparator, // chkMessageSeparator (display of the message separator)
        AutoReconnect,    // chkAutoReconnect
        IgnoreBetween,    // chkIgnoreBetween
        MultipleClients,  // chkMultipleClients
        ClearAllLists,    // chkClearAllLists
    };
    Q_ENUM(Check)
    static constexpr int kCheckCount = 10;

    /// The text boxes and combo boxes of the window.
    enum class Text
    {
        MaxListLength,     // txtMaxListLength (rows)
        MaxListSize,       // txtMaxListSize (kilobytes)
        ReconnectPeriod,   // txtReconnectPeriod (milliseconds)
        MessageSeparator,  // cboMessage (escape notation)
        FieldSeparator,    // cboField (escape notation or kNoSplitting)
        IgnoreBetweenText, // cboIgnoreBetween (escape notation)
    };
    Q_ENUM(Text)
    static constexpr int kTextCount = 6;

    static inline const QString kSection = QStringLiteral("Options");
    static inline const QString kNoSplitting = QStringLiteral("<No message splitting>");
    /// Why a send window made without the main window cannot open the options.
    static inline const QString kWindowUnavailable =
        QStringLiteral("The options are set from the main window's Tools menu");
    /// A separator edit reaches its getter this long after the last keystroke.
    static constexpr int kSeparatorDelayMs = 300;

    /// Publishes itself as tw::options(), then loads (see class comment).
    explicit OptionsModel(QObject *parent = nullptr);
    ~OptionsModel() override;

    /// Makes the first tw::options() call create the model (owned by the application).
    static void install();
    /// The published model, created now if there is none yet (the window's way in).
    static OptionsModel *current();

    // ---- control state, as the window shows it
    int check(Check c) const { return m_checks[size_t(c)]; }
    bool isChecked(Check c) const { return check(c) == 1; }
    QString text(Text t) const { return m_texts[size_t(t)]; }

    /// The check box's value changed (a click, or a value set by code): stores
    /// it, and unless loading adds its "... is ON/OFF" line. A state outside
    /// 0..2 is ignored; setting the current state again does nothing.
    void setCheck(Check c, int state);
    /// The box's text changed (typed or chosen). A separator combo starts its
    /// 300 ms change timer (converted at once while loading); the number boxes
    /// are converted by their getters.
    void setText(Text t, const QString &text);
    /// The box lost the focus, or its spinner changed: adds the box's line
    /// ("The maximum list length is 200 rows"), unless loading.
    void announce(Text t);

    // ---- enabling rules of the window
    /// chkIgnoreBetween: only while field splitting is on.
    bool chkIgnoreBetweenEnabled() const { return SpiltMessageIntoFields(); }
    /// cboIgnoreBetween and cmdIgnoreBetween.
    bool cboIgnoreBetweenEnabled() const
    {
        return chkIgnoreBetweenEnabled() && isChecked(Check::IgnoreBetween);
    }
    /// chkAutoReconnect.
    bool chkAutoReconnectEnabled() const { return isChecked(Check::AutoDisconnect); }
    /// txtReconnectPeriod and upReconnection.
    bool txtReconnectPeriodEnabled() const
    {
        return isChecked(Check::AutoDisconnect) && isChecked(Check::AutoReconnect);
    }

    bool mblnLoading() const { return m_loading; }

    // ---- operations of the window
    /// Reads the sixteen keys into the controls, writes the option block and
    /// converts the separators. Call with loading set (as Cancel does).
    void LoadOptions();
    /// Writes the sixteen keys in one save; when that fails the user is told
    /// and the result is false.
    bool SaveOptions();
    /// OK: saves, then asks the window to hide.
    void cmdOK_Click();
    /// Cancel: reloads (writing the option block again), then asks the window to hide.
    void cmdCancel_Click();
    /// The close box: unsaved edits are dropped and this model is deleted
    /// later; the next use creates a fresh one from the store.
    void discard();

    // ---- the window's fixed lists and object names
    static QStringList messageSeparatorChoices();
    static QStringList fieldSeparatorChoices();
    static QStringList ignoreBetweenChoices();
    /// The control's objectName ("chkVerboseLogging", "cboMessage", ...).
    static QString controlName(Check c);
    static QString controlName(Text t);
    static QString settingsKey(Check c);
    static QString settingsKey(Text t);

    // ---- OptionsSource
    bool VerboseLogging() const override { return isChecked(Check::VerboseLogging); }
    bool CaseSensitive() const override { return isChecked(Check::CaseInsensitive); }
    bool AutoCloseConnection() const override { return isChecked(Check::AutoDisconnect); }
    bool ConcatMesssageSeparators() const override { return isChecked(Check::ConcatMsgSeps); }
    bool DisplayFieldSeparator() const override { return isChecked(Check::FieldSeparator); }
    bool DisplayMessageSeparator() const override { return isChecked(Check::MessageSeparator); }
    qint32 GetMaxListLength() const override;
    qint32 GetMaxListSize() const override;
    bool AutoReconnect() const override { return isChecked(Check::AutoReconnect); }
    qint32 GetAutoReconnectPeriod() const override;
    QByteArray GetMessageSeparator() const override { return m_raw[kRawMessage]; }
    QByteArray GetFieldSeparator() const override { return m_raw[kRawField]; }
    bool SpiltMessageIntoFields() const override { return text(Text::FieldSeparator) != kNoSplitting; }
    QByteArray IgnoreFieldSepsBetweenText() const override { return m_raw[kRawIgnore]; }
    bool IgnoreFieldSepsBetween() const override
    {
        return isChecked(Check::IgnoreBetween) && chkIgnoreBetweenEnabled();
    }
    bool AllowMultipleClients() const override { return isChecked(Check::MultipleClients); }
    bool ClearBothLists() const override { return isChecked(Check::ClearAllLists); }

Q_SIGNALS:
    /// A control value changed (by the window, by code or by a reload).
    void checkChanged(OptionsModel::Check c);
    void textChanged(OptionsModel::Text t);
    /// An enabling rule may have changed its outcome; re-read the *Enabled() getters.
    void enablingChanged();
    /// A separator's raw bytes were converted anew.
    void separatorConverted(OptionsModel::Text t);
    /// OK or Cancel is done: the window hides itself.
    void hideRequested();
    /// discard() ran: the window drops its pointer to this model.
    void discarded();

private:
    enum RawField
    {
        kRawMessage,
        kRawField,
        kRawIgnore,
        kRawCount
    };

    void writeOptionBlock();
    void separatorChanged(Text t);
    void convertSeparator(Text t);
    static int rawIndex(Text t);

    std::array<int, kCheckCount> m_checks{};
    std::array<QString, kTextCount> m_texts;
    std::array<QByteArray, kRawCount> m_raw;
    // mtmrMessageSepChanged, mtmrFieldSepChanged, mtmrIgnoreCharChanged
    std::array<frmTimer *, kRawCount> m_timers{};
    bool m_loading = false;
};
