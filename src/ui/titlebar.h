#pragma once

#include <QStringList>

class QWidget;

namespace tw {
/// The width a title bar needs to show this title whole beside the window's
/// icon and its buttons, in the bold desktop font title bars commonly use.
int titleBarWidth(const QString &title);
/// Keeps the window at least as wide as the longest of its titles needs.
void fitTitles(QWidget *window, const QStringList &titles);
} // namespace tw
