#pragma once

#include "core/oserror.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <optional>

/// Mail-merge of a message template with the records of a merge file: one
/// record per line (CR LF, a lone CR or a lone LF ends a line; a line end at
/// the very end of the file starts no further record), fields separated by
/// commas, without quoting. Field k fills the placeholder "%k".
namespace Merge {

/// The most a merge may make, one record or all of them together.
constexpr qsizetype kMaxMergedBytes = qsizetype(256) * 1024 * 1024;

/// The template with the fields of one line filled in, left to right: every
/// "%k" is replaced by field k, each search going on after the value just
/// inserted (so a field holding its own placeholder is inserted once).
/// Fields keep their blanks, except the last, which is trimmed; a trailing
/// comma adds no field; "%10" is field 1 followed by "0". Nothing when the
/// record would grow past limit: fields that hold later fields' placeholders
/// multiply them, so a short line could ask for more than memory holds.
std::optional<QByteArray> mergeLine(QByteArrayView templ, QByteArrayView line,
                                    qsizetype limit = kMaxMergedBytes);

/// Whether the template holds a placeholder ("%1" or above).
bool hasPlaceholder(QByteArrayView templ);

/// Why a file cannot be opened for reading, in the system's words.
OsError openError(const QString &path);

} // namespace Merge

/// A merge file open for reading, one record at a time; memory holds one
/// line at most (plus a read block).
class MergeFile
{
public:
    /// readBlock: the bytes read from the file at a time (small ones let
    /// tests put line ends where blocks meet).
    explicit MergeFile(qsizetype readBlock = 64 * 1024) : m_readBlock(qMax<qsizetype>(1, readBlock)) {}
    MergeFile(const MergeFile &) = delete;
    MergeFile &operator=(const MergeFile &) = delete;

    OsError open(const QString &path);
    bool isOpen() const { return m_file.isOpen(); }
    /// No line is left.
    bool atEnd() const;
    /// The next line without its line end; nothing at the end or when the
    /// file cannot be read (error() says why).
    std::optional<QByteArray> readLine();
    /// The next merged record. A blank line yields the template unchanged,
    /// except that it is skipped while the template holds a placeholder (it
    /// would go out with its placeholders unfilled); a record that comes out
    /// empty is skipped too. Nothing when no record is left, or when one
    /// would be larger than the bound of a merge (error() says so).
    std::optional<QByteArray> nextRecord(QByteArrayView templ);
    OsError error() const { return m_error; }
    OsError close();

private:
    bool fill();

    qsizetype m_readBlock;
    QFile m_file;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    OsError m_error;
};
