#pragma once

#include "options/settingsstore.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

/// The bytes of a file, or nothing when it cannot be read.
QByteArray fileBytes(const QString &path);
/// Writes a test's input file whole and gives its path; a test that cannot stops at once.
QString putFile(const QString &path, const QByteArray &bytes);

/// Appends what a pipe holds, reading for as long as its writer keeps it
/// busy; gives the size of what has been read so far.
qsizetype drainPipe(int fd, QByteArray &into);

/// A figure of this process's memory from the system ("VmRSS:", "VmHWM:"), in MB.
double statusMiB(const char *field);

/// The 256 byte values in order.
QByteArray everyByte();

/// The given ASCII texts as a list.
QStringList texts(std::initializer_list<const char *> items);

/// Puts away the options window and every options model made so far; the
/// program is left on its built-in option values.
void dropOptions();

/// A private settings file and writable folder for one test: the program-wide
/// store points at a fresh INI file in a temporary folder until destroyed.
class TempSettings
{
public:
    TempSettings();
    ~TempSettings();

    QString dir() const { return m_dir.path(); }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString iniPath() const { return path(QStringLiteral("tarnwell.ini")); }
    SettingsStore &store() { return *m_store; }
    /// Writes raw INI text as the file, then reopens the store over it.
    void writeIni(const QByteArray &text);
    /// Reopens the store from the file (as the next run of the program would).
    void reopen();
    /// A path inside a folder that is a regular file ("plain"): nobody, root
    /// included, can create or open it.
    QString underAFile(const QString &name);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_store;
};

/// While it exists, the program-wide store is one that cannot be saved.
class UnwritableSettings
{
public:
    explicit UnwritableSettings(TempSettings &settings)
        : m_store(settings.underAFile(QStringLiteral("tarnwell.ini"))), m_back(&settings.store())
    {
        SettingsStore::setInstance(&m_store);
    }
    ~UnwritableSettings() { SettingsStore::setInstance(m_back); }
    /// What the failure message says for this store.
    static QString told() { return SettingsStore::kSaveFailure + QStringLiteral("20, Not a directory"); }

private:
    SettingsStore m_store;
    SettingsStore *m_back;
};
