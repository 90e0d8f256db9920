#include "ui/scriptedui.h"

QStringList ScriptedUi::texts() const
{
    QStringList out;
    for (const Prompt &p : prompts)
        out << p.text;
    return out;
}

QStringList ScriptedUi::messages() const
{
    QStringList out;
    for (const Prompt &p : prompts) {
        if (p.kind == QLatin1String("message"))
            out << p.text;
    }
    return out;
}

void ScriptedUi::message(QWidget *, const QString &text, Icon icon, const QString &title)
{
    prompts.append({QStringLiteral("message"), text, icon, title});
}

bool ScriptedUi::askYesNo(QWidget *, const QString &text, Icon icon, const QString &title)
{
    prompts.append({QStringLiteral("question"), text, icon, title});
    return yesNoAnswers.isEmpty() ? false : yesNoAnswers.dequeue();
}

std::optional<QString> ScriptedUi::inputBox(QWidget *, const QString &prompt, const QString &title,
                                            const QString &)
{
    prompts.append({QStringLiteral("input"), prompt, Icon::None, title});
    return inputAnswers.isEmpty() ? std::nullopt : inputAnswers.dequeue();
}

QString ScriptedUi::openFileName(QWidget *, const QString &startIn, const QString &)
{
    prompts.append({QStringLiteral("open"), startIn, Icon::None, QString()});
    return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
}

QString ScriptedUi::saveFileName(QWidget *, const QString &startIn, const QString &)
{
    prompts.append({QStringLiteral("save"), startIn, Icon::None, QString()});
    return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
}

std::optional<QFont> ScriptedUi::chooseFont(QWidget *, const QFont &)
{
    prompts.append({QStringLiteral("font"), QString(), Icon::None, QString()});
    return fontAnswers.isEmpty() ? std::nullopt : fontAnswers.dequeue();
}

bool ScriptedUi::showFile(QWidget *, const QString &filePath)
{
    prompts.append({QStringLiteral("show"), filePath, Icon::None, QString()});
    return showAnswers.isEmpty() ? true : showAnswers.dequeue();
}
