#pragma once

#include "core/oserror.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

/// The per-user settings store: sections of keys with text values, kept in an
/// INI file. Section and key names are compared without regard to case, and
/// a section name may contain "\" to form a nested section ("Send\3").
///
/// Reads come from memory. Every save works on the file as it is on disk at
/// that moment, so that several copies of the program can share it: under a
/// lock file it re-reads the file, changes only the keys it was given and
/// writes the whole file atomically (a temporary file renamed over the old
/// one); the view in memory is then what is on disk. A save that changes
/// nothing writes nothing. Lines the reader cannot make sense of are kept,
/// byte for byte, where they stand.
class SettingsStore
{
public:
    /// One key of a save: the value to store, or none to remove the key.
    struct Change
    {
        QString section;
        QString key;
        std::optional<QString> value;
    };
    using Changes = QList<Change>;

    /// The sentence of the failure message shown when a save fails.
    static inline const QString kSaveFailure = QStringLiteral(
        "An error occurred while attempting to save the settings.  The operating system reports: ");
    /// How long a save waits for another copy of the program to release the file.
    static constexpr int kLockTimeoutMs = 2000;

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
    /// A whole number from min to max (a decimal one is rounded). A value that
    /// is none gives the default and an event naming the key: a damaged value
    /// must not stop the program.
    int ReadNumber(const QString &section, const QString &key, int defaultValue, int min, int max) const;
    /// Every key and value of the section, in the order of the file.
    QList<QPair<QString, QString>> ReadAll(const QString &section) const;
    bool contains(const QString &section, const QString &key) const;

    /// Saves one key. The result says why the save failed (isError()).
    OsError Save(const QString &section, const QString &key, const QString &value);
    /// Saves the keys of one action in one write: all of them or, on
    /// failure, none.
    OsError SaveMany(const Changes &changes);
    /// Runs step under the lock, after the view in memory has been refreshed
    /// from the file, and writes the changes it returns before the lock is
    /// released: what step reads (through the store it is given) cannot be
    /// changed by another copy before its changes are written. step must not
    /// save, and must not wait for the user, since other copies wait for it.
    OsError Update(const std::function<Changes(const SettingsStore &)> &step);
    /// Whether a save could be written now: the folder, the lock, the file
    /// and a temporary file beside it. Writes nothing.
    OsError CheckWritable();

    QString filePath() const { return m_path; }
    /// Notices about the file found when it was first read (lines skipped, a
    /// file that cannot be read), for the event history. take clears them.
    QStringList takeProblems();
    QStringList problems() const { return m_problems; }
    /// Writes this object has made to the file.
    int writeCount() const { return m_writes; }

    /// A name or value as the file holds it (isKey: as the key of a line), and back.
    static QString encodeText(QStringView text, bool isKey = false);
    static QString decodeText(QStringView text);

private:
    /// A line of the file: kept as it was read unless its key is saved.
    struct Line
    {
        QByteArray raw; // without its line break
        bool entry = false;
        bool shadowed = false; // a key's earlier line, which a later one overrides
        QString key;
        qsizetype valueAt = 0; // where the value begins in raw
    };
    /// A heading and the lines up to the next one. The lines before the first
    /// heading, and those under a heading that cannot be read, belong to no
    /// section.
    struct Block
    {
        int section = -1;
        bool hasHeading = false;
        QByteArray heading;
        std::vector<Line> lines;
    };
    struct Section
    {
        QString name;
        std::vector<int> blocks;
        QHash<QString, std::pair<int, int>> index; // folded key -> (block, line)
    };
    struct Document
    {
        std::vector<Block> blocks = std::vector<Block>(1); // begins with the lines before any heading
        std::vector<Section> sections;
        QHash<QString, int> sectionIndex; // folded name -> position in sections
    };

    static Document parse(const QByteArray &bytes, std::vector<std::pair<int, int>> *skipped);
    static QByteArray serialize(const Document &doc, qsizetype sizeHint);
    static bool apply(Document &doc, const Change &change);
    static void reindex(const Document &doc, Section &section);
    static QString valueOf(const Line &line);
    static void setValue(Line &line, const QString &value);
    static int sectionFor(Document &doc, const QString &name);
    const Section *findSection(const QString &name) const;
    static QString fold(const QString &s) { return s.toCaseFolded(); }

    OsError refresh();
    OsError prepareFolder() const;

    QString m_path;
    Document m_doc;
    QByteArray m_known; // the file's bytes m_doc was read from or written as
    QStringList m_problems;
    int m_writes = 0;
    bool m_inUpdate = false;
};
