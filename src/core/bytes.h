#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QTime>

/// Byte representations and the backslash escape notation. Data is a string
/// of 8-bit characters; every function here works on bytes and is pure.
namespace Bytes {

/// Code 32 to 126, except the backslash.
bool IsPrintable(char c);

/// Printable bytes unchanged, every other byte as "\" + two upper-case hex digits.
QByteArray GetChar(QByteArrayView raw);
/// As GetChar, but carriage return and line feed are kept as they are.
QByteArray GetChar2(QByteArrayView raw);
/// Per byte: three decimal digits and a blank.
QByteArray GetAscII(QByteArrayView raw);
/// Per byte: two upper-case hex digits and a blank.
QByteArray GetHex(QByteArrayView raw);
/// Two upper-case hex digits of 0..255.
QByteArray GetHexDigit(int value);
/// Per byte: eight binary digits (bit 7 first) and a blank.
QByteArray GetBinary(QByteArrayView raw);
/// Eight binary digits of a byte, bit 7 first.
QByteArray Bin(int value);
/// Per byte: three octal digits and a blank.
QByteArray GetOctal(QByteArrayView raw);

/// Escape notation to raw bytes, all at once: "\" + two hex digits (either
/// case) is one byte, "\\" is one backslash, anything else stands for itself.
QByteArray FromEscaped(QByteArrayView text);

/// The same conversion in steps, so a caller can stop between slices of
/// work; feeding a text slice by slice gives exactly FromEscaped's result.
class EscapeDecoder
{
public:
    explicit EscapeDecoder(QByteArrayView text);
    /// Converts up to maxChars input characters; returns true when done.
    bool step(qsizetype maxChars);
    bool done() const { return m_pos >= m_text.size(); }
    qsizetype position() const { return m_pos; }
    qsizetype length() const { return m_text.size(); }
    const QByteArray &result() const { return m_out; }
    QByteArray takeResult() { return std::move(m_out); }

private:
    QByteArrayView m_text;
    qsizetype m_pos = 0;
    QByteArray m_out;
};

/// "hh:mm:ss" of the given time, optionally with ".zzz".
QString GetTime(bool blnIncMilli, const QTime &time = QTime::currentTime());

/// The key code if it is backspace (8) or a digit, else 0.
int OnlyNumbersFilter(int keyAscii);

/// Bytes to text for a widget, one character per byte (codes 0 to 255).
QString toText(QByteArrayView bytes);
/// Text typed into a widget back to bytes: characters 0 to 255 are one byte
/// each; a character beyond that becomes its UTF-8 bytes, never "?".
QByteArray fromText(const QString &text);

} // namespace Bytes
