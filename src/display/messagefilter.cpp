#include "display/messagefilter.h"

#include <algorithm>

namespace {
// Messages up to this size are folded into a buffer that is kept; larger ones
// get their own, so the filter never holds on to a flood's largest message.
constexpr qsizetype kKeptBufferBytes = 64 * 1024;

constexpr std::array<char, 256> makeFoldTable()
{
    std::array<char, 256> table{};
    for (int b = 0; b < 256; ++b) {
        const bool upper = (b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7);
        table[size_t(b)] = char(upper ? b + 0x20 : b);
    }
    return table;
}
constexpr std::array<char, 256> kFold = makeFoldTable();

bool isBlank(const QByteArray &text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; });
}
} // namespace

char MessageFilter::foldCase(char c)
{
    return kFold[uchar(c)];
}

void MessageFilter::setString(int box, const QByteArray &text)
{
    if (box < 0 || box >= kStringCount)
        return;
    m_strings[size_t(box)] = text;
    QByteArray folded(text.size(), Qt::Uninitialized);
    std::transform(text.begin(), text.end(), folded.begin(), foldCase);
    m_folded[size_t(box)] = folded;
}

bool MessageFilter::passes(QByteArrayView message, bool caseSensitive) const
{
    QByteArrayView haystack = message;
    QByteArray own;
    bool folded = false;
    for (size_t i = 0; i < m_strings.size(); ++i) {
        if (isBlank(m_strings[i]))
            continue;
        if (caseSensitive) {
            if (haystack.indexOf(m_strings[i]) >= 0)
                return true;
            continue;
        }
        if (!folded) {
            QByteArray &buffer = message.size() <= kKeptBufferBytes ? m_buffer : own;
            buffer.resize(message.size());
            std::transform(message.begin(), message.end(), buffer.begin(), foldCase);
            haystack = buffer;
            folded = true;
        }
        if (haystack.indexOf(m_folded[i]) >= 0)
            return true;
    }
    return false;
}
