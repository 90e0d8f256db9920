#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <vector>

/// The per-user settings store: sections of keys with text values, kept in an
/// INI file. Section and key names are compared without regard to case, and
/// a section name may contain "\" to form a nested section ("Send\3").
///
/// Every Save is written through at once, atomically (a temporary file
/// renamed over the old one), so a crash mid-save loses nothing. A file that
/// cannot be read or parsed is set aside under a new name before anything is
/// written, and the store starts empty; problems() says what happened.
class SettingsStore
{
public:
    explicit SettingsStore(const QString &filePath);

    /// The per-user file: $TARNWELL_CONFIG_DIR/tarnwell.ini if that variable is
    /// set, else the user's config folder + "/tarnwell/tarnwell.ini".
    static QString defaultFilePath();

    /// The program-wide store (created on first use at defaultFilePath()).
    static SettingsStore &instance();
    /// Replaces the program-wide store (tests point it at a temporary file).
    static void setInstance(SettingsStore *store);

    QString Read(const QString &section, const QString &key, const QString &defaultValue = QString()) const;
    QString Read(const QString &section, const QString &key, int defaultValue) const
    {
        return Read(section, key, QString::number(defaultValue));
    }
    bool Save(const QString &section, const QString &key, const QString &value);
    /// Every key and value of the section, in the order they were first written.
    QList<QPair<QString, QString>> ReadAll(const QString &section) const;
    bool contains(const QString &section, const QString &key) const;

    QString filePath() const { return m_path; }
    /// Notices about the file (unreadable, corrupt and set aside, not writable),
    /// for the event history. take clears them.
    QStringList takeProblems();
    QStringList problems() const { return m_problems; }

    /// Value encoding used in the file; public for tests.
    static QString encodeValue(const QString &value);
    static QString decodeValue(const QString &text, bool *ok = nullptr);

private:
    struct Entry
    {
        QString key;
        QString value;
    };
    struct Section
    {
        QString name;
        std::vector<Entry> entries;
        QHash<QString, int> index; // folded key -> position in entries
    };

    void load();
    bool parse(const QByteArray &bytes);
    bool write();
    void setAside(const QString &why);
    const Section *findSection(const QString &name) const;
    static QString fold(const QString &s) { return s.toCaseFolded(); }

    QString m_path;
    std::vector<Section> m_sections;
    QHash<QString, int> m_sectionIndex;
    QStringList m_problems;
    bool m_writeFailedReported = false;
};
