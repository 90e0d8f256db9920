#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <array>

/// The receive filter's test, without its window: up to four strings, and
/// whether a message contains one of them.
///
/// Comparisons work on bytes. Without regard to case, bytes fold as Latin-1
/// letters (the program shows every byte as its Latin-1 character): A-Z with
/// a-z, and 0xC0-0xDE with 0xE0-0xFE except the signs 0xD7 and 0xF7. Bytes
/// with no single-byte partner (0xB5, 0xDF, 0xFF) and all others match only
/// themselves.
class MessageFilter
{
public:
    static constexpr int kStringCount = 4;

    /// The string of one box, as bytes.
    void setString(int box, const QByteArray &text);
    QByteArray string(int box) const { return m_strings[size_t(box)]; }

    /// True when a string that is not blank (spaces only) occurs in the
    /// message, blanks and all; false when every string is blank.
    bool passes(QByteArrayView message, bool caseSensitive) const;

    /// The Latin-1 lower case of a byte.
    static char foldCase(char c);

private:
    std::array<QByteArray, kStringCount> m_strings;
    std::array<QByteArray, kStringCount> m_folded;
    // Reused for the folded message, so each message costs no allocation.
    mutable QByteArray m_buffer;
};
