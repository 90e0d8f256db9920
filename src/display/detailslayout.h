#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <compare>
#include <vector>

/// How the details viewer lays out one text in one of its six
/// representations: rows at most a given number of characters wide, each
/// made only when it is asked for, so that a message of many megabytes shows
/// its first screen at once.
///
/// The rendered text is the concatenation of every byte's output: WYSIWYG the
/// byte itself, Chr the byte or its escape, Dec, Hex, Bin and Oct its code and
/// a blank. A Position is a place in it: a byte, and a character within that
/// byte's output. Rows of Dec, Hex, Bin and Oct hold whole codes and are
/// computed. Rows of WYSIWYG (which also ends a row after each line break:
/// CR LF, CR or LF) and of Chr are found by a scan, done in slices by
/// layOutSome(); the scan keeps the start of every 64th row.
class DetailsLayout
{
public:
    enum Representation
    {
        WYSIWYG,
        Chr,
        Dec,
        Hex,
        Bin,
        Oct
    };
    static constexpr int kRepresentationCount = 6;

    struct Position
    {
        qsizetype byte = 0;
        int offset = 0;
        auto operator<=>(const Position &) const = default;
    };

    /// The whole rendered text of raw.
    static QByteArray render(QByteArrayView raw, Representation representation);

    /// A new text or representation; the layout starts afresh. rowChars
    /// is at least one code of any representation wide.
    void setText(const QByteArray &text, Representation representation, int rowChars);
    void setRowChars(int rowChars);
    const QByteArray &text() const { return m_text; }
    Representation representation() const { return m_representation; }
    int rowChars() const { return m_rowChars; }

    /// Scans on for about budget more bytes; true once the layout is complete.
    bool layOutSome(qsizetype budget);
    bool complete() const { return m_complete; }
    /// Whether the row that holds a byte has been found.
    bool covers(qsizetype byte) const { return m_complete || m_scanAt > byte; }
    /// The rows found so far: all of them once complete, and at least one.
    qsizetype rowCount() const { return m_rowCount; }

    /// The bytes a row shows, [rowStart, rowEnd), line break included.
    qsizetype rowStart(qsizetype row) const;
    qsizetype rowEnd(qsizetype row) const;
    /// What a row shows: one character per byte of its output, no line break.
    QString rowText(qsizetype row) const;
    int rowLength(qsizetype row) const;

    /// The row that shows a position (the last row for the end); lays out
    /// as far as needed.
    qsizetype rowOf(Position p);
    /// The column of a position in a row: 0 before the row, its length after.
    int columnOf(qsizetype row, Position p) const;
    /// The position at a column of a row; past its end, the row's end.
    Position positionAt(qsizetype row, int column) const;
    Position end() const { return {m_text.size(), 0}; }
    /// The rendered text between two positions, as a copy gives it.
    QByteArray textBetween(Position from, Position to) const;

private:
    static constexpr qsizetype kRowsPerCheckpoint = 64;

    bool scanned() const { return m_representation == WYSIWYG || m_representation == Chr; }
    int itemChars() const;
    qsizetype bytesPerRow() const;
    qsizetype scanRowEnd(qsizetype start) const;
    int outputWidth(char c) const;
    int breakBytes(qsizetype start, qsizetype end) const;
    void restart();

    QByteArray m_text;
    Representation m_representation = WYSIWYG;
    int m_rowChars = 80;
    qsizetype m_rowCount = 1;
    bool m_complete = true;
    // Scanned representations: where the next row starts, and the start of
    // rows 0, 64, 128, ...
    qsizetype m_scanAt = 0;
    std::vector<qsizetype> m_checkpoints{0};
    // The last row looked up, so consecutive rows cost one row's scan each.
    mutable qsizetype m_cacheRow = -1;
    mutable qsizetype m_cacheStart = 0;
};
