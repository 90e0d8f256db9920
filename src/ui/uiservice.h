#pragma once

#include <QFont>
#include <QString>
#include <QStringList>
#include <optional>

class QWidget;
struct OsError;

/// Every message box, question, input box, file dialog and font dialog of the
/// program goes through this service, so that tests can script the answers
/// and no test ever waits on a modal dialog.
class UiService
{
public:
    enum class Icon { None, Information, Exclamation, Question };

    static inline const QString kTitle = QStringLiteral("Tarnwell III");

    virtual ~UiService() = default;

    virtual void message(QWidget *parent, const QString &text, Icon icon, const QString &title = kTitle) = 0;
    /// A Yes/No question; true for Yes.
    virtual bool askYesNo(QWidget *parent, const QString &text, Icon icon = Icon::Question,
                          const QString &title = kTitle) = 0;
    /// A one-line input box; nullopt when cancelled.
    virtual std::optional<QString> inputBox(QWidget *parent, const QString &prompt, const QString &title,
                                            const QString &defaultText = QString()) = 0;
    /// Open and save dialogs; an empty text when cancelled.
    virtual QString openFileName(QWidget *parent, const QString &startIn, const QString &filter) = 0;
    virtual QString saveFileName(QWidget *parent, const QString &startIn, const QString &filter) = 0;
    virtual std::optional<QFont> chooseFont(QWidget *parent, const QFont &initial) = 0;
    /// Opens a file in the desktop's viewer for its type; false when the
    /// desktop has none to start.
    virtual bool showFile(QWidget *parent, const QString &filePath) = 0;

    /// The failure message: sentence (which ends "...reports: ") + number + ", " +
    /// description + suffix, exclamation icon, title "Tarnwell III".
    static QString failureText(const QString &sentence, const OsError &error, const QString &suffix = QString());
    void failure(QWidget *parent, const QString &sentence, const OsError &error, const QString &suffix = QString());
    /// The failure message with the retry question; true for Yes.
    bool failureRetry(QWidget *parent, const QString &sentence, const OsError &error);
};

namespace tw {
/// The program's ui service (a real dialog service unless one was installed).
UiService &ui();
/// Installs a service (not owned); nullptr restores the real dialogs.
void setUi(UiService *service);
} // namespace tw

/// The real service: Qt's message boxes and dialogs.
class DialogUiService : public UiService
{
public:
    void message(QWidget *parent, const QString &text, Icon icon, const QString &title) override;
    bool askYesNo(QWidget *parent, const QString &text, Icon icon, const QString &title) override;
    std::optional<QString> inputBox(QWidget *parent, const QString &prompt, const QString &title,
                                    const QString &defaultText) override;
    QString openFileName(QWidget *parent, const QString &startIn, const QString &filter) override;
    QString saveFileName(QWidget *parent, const QString &startIn, const QString &filter) override;
    std::optional<QFont> chooseFont(QWidget *parent, const QFont &initial) override;
    bool showFile(QWidget *parent, const QString &filePath) override;
};
