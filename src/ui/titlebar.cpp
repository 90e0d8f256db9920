#include "ui/titlebar.h"

#include <QApplication>
#include <QFontMetrics>
#include <QWidget>
#include <algorithm>

namespace {
// The window's icon and its minimise, maximise and close buttons, and the
// frame's margins around them.
constexpr int kFrameButtons = 4 * 28 + 16;
} // namespace

int tw::titleBarWidth(const QString &title)
{
    QFont font = QApplication::font();
    font.setBold(true);
    return QFontMetrics(font).horizontalAdvance(title) + kFrameButtons;
}

void tw::fitTitles(QWidget *window, const QStringList &titles)
{
    int need = window->minimumWidth();
    for (const QString &t : titles)
        need = std::max(need, titleBarWidth(t));
    window->setMinimumWidth(need);
}
