#pragma once

#include "ui/uiservice.h"

#include <QList>
#include <QQueue>

/// A ui service for tests: answers are queued in advance, every prompt is
/// recorded, and nothing ever blocks. An unscripted question answers No,
/// an unscripted input box or dialog is cancelled.
class ScriptedUi : public UiService
{
public:
    struct Prompt
    {
        QString kind; // "message", "question", "input", "open", "save", "font", "show"
        QString text;
        Icon icon = Icon::None;
        QString title;
    };

    ScriptedUi() { tw::setUi(this); }
    ~ScriptedUi() override { tw::setUi(nullptr); }

    QList<Prompt> prompts;
    QQueue<bool> yesNoAnswers;
    QQueue<std::optional<QString>> inputAnswers;
    QQueue<QString> fileAnswers;
    QQueue<std::optional<QFont>> fontAnswers;
    /// Whether the desktop could show a file (unscripted: it could).
    QQueue<bool> showAnswers;

    /// Texts of all prompts so far, in order.
    QStringList texts() const;
    /// The texts of the message boxes only.
    QStringList messages() const;
    void clear() { prompts.clear(); }

    void message(QWidget *parent, const QString &text, Icon icon, const QString &title) override;
    bool askYesNo(QWidget *parent, const QString &text, Icon icon, const QString &title) override;
    std::optional<QString> inputBox(QWidget *parent, const QString &prompt, const QString &title,
                                    const QString &defaultText) override;
    QString openFileName(QWidget *parent, const QString &startIn, const QString &filter) override;
    QString saveFileName(QWidget *parent, const QString &startIn, const QString &filter) override;
    std::optional<QFont> chooseFont(QWidget *parent, const QFont &initial) override;
    bool showFile(QWidget *parent, const QString &filePath) override;
};
