#pragma once

#include <QList>
#include <QPair>
#include <QString>

class SettingsStore;

/// The saved send-window states offered in the main window's send lists:
/// every numeric key of section "Send" with its description, in store order.
struct SavedSendState
{
    int number = 0;
    QString description;
};
QList<SavedSendState> savedSendStates(const SettingsStore &store);
