#pragma once

#include "options/settingsstore.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

/// A private settings file and writable folder for one test: the program-wide
/// store points at a fresh INI file in a temporary folder until destroyed.
class TempSettings
{
public:
    TempSettings();
    ~TempSettings();

    QString dir() const { return m_dir.path(); }
    QString iniPath() const { return m_dir.path() + QStringLiteral("/tarnwell.ini"); }
    SettingsStore &store() { return *m_store; }
    /// Writes raw INI text as the file, then reopens the store over it.
    void writeIni(const QByteArray &text);
    /// Reopens the store from the file (as the next run of the program would).
    void reopen();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_store;
};
