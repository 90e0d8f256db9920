#include "ui/uiservice.h"

#include "core/oserror.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace {
DialogUiService g_dialogs;
UiService *g_ui = nullptr;

QMessageBox::Icon toQt(UiService::Icon icon)
{
    switch (icon) {
    case UiService::Icon::Information:
        return QMessageBox::Information;
    case UiService::Icon::Exclamation:
        return QMessageBox::Warning;
    case UiService::Icon::Question:
        return QMessageBox::Question;
    case UiService::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// Texts are built with CR LF as the system's line break; a label wants LF.
QString forDisplay(const QString &text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t;
}

QString dialogFilter(const QString &filter)
{
    // "All files (*.*) | *.*" is the program's filter text; Qt wants "All files (*)".
    if (filter.isEmpty() || filter.contains(QStringLiteral("*.*")))
        return QStringLiteral("All files (*)");
    return filter;
}
} // namespace

namespace tw {
UiService &ui()
{
    return g_ui ? *g_ui : g_dialogs;
}

void setUi(UiService *service)
{
    g_ui = service;
}
} // namespace tw

QString UiService::failureText(const QString &sentence, const OsError &error, const QString &suffix)
{
    return sentence + QString::number(error.number) + QStringLiteral(", ") + error.description + suffix;
}

void UiService::failure(QWidget *parent, const QString &sentence, const OsError &error, const QString &suffix)
{
    message(parent, failureText(sentence, error, suffix), Icon::Exclamation);
}

bool UiService::failureRetry(QWidget *parent, const QString &sentence, const OsError &error)
{
    return askYesNo(parent,
                    failureText(sentence, error, QStringLiteral("\r\n\r\nWould you like to retry this operation?")),
                    Icon::Exclamation);
}

void DialogUiService::message(QWidget *parent, const QString &text, Icon icon, const QString &title)
{
    QMessageBox box(toQt(icon), title, forDisplay(text), QMessageBox::Ok, parent);
    box.exec();
}

bool DialogUiService::askYesNo(QWidget *parent, const QString &text, Icon icon, const QString &title)
{
    QMessageBox box(toQt(icon), title, forDisplay(text), QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> DialogUiService::inputBox(QWidget *parent, const QString &prompt, const QString &title,
                                                 const QString &defaultText)
{
    bool ok = false;
    const QString s = QInputDialog::getText(parent, title, forDisplay(prompt), QLineEdit::Normal, defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return s;
}

QString DialogUiService::openFileName(QWidget *parent, const QString &startIn, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, QString(), startIn, dialogFilter(filter));
}

QString DialogUiService::saveFileName(QWidget *parent, const QString &startIn, const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, QString(), startIn, dialogFilter(filter));
}

std::optional<QFont> DialogUiService::chooseFont(QWidget *parent, const QFont &initial)
{
    bool ok = false;
    const QFont f = QFontDialog::getFont(&ok, initial, parent);
    if (!ok)
        return std::nullopt;
    return f;
}

bool DialogUiService::showFile(QWidget *, const QString &filePath)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(filePath));
}
