#include "core/bytes.h"

#include <algorithm>
#include <array>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace Bytes {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Every per-byte representation is a fixed-width cell, so each one is a
// table of 256 cells built at compile time and copied with memcpy.
template<size_t Width>
using CellTable = std::array<std::array<char, Width>, 256>;

constexpr bool printable(unsigned v)
{
    return v >= 32 && v <= 126 && v != '\\';
}

// Value of a hex digit in either case, -1 for anything else.
constexpr std::array<signed char, 256> kHexValue = [] {
    std::array<signed char, 256> t{};
    for (unsigned v = 0; v < 256; ++v)
        t[v] = -1;
    for (unsigned v = 0; v < 10; ++v)
        t['0' + v] = static_cast<signed char>(v);
    for (unsigned v = 0; v < 6; ++v) {
        t['A' + v] = static_cast<signed char>(10 + v);
        t['a' + v] = static_cast<signed char>(10 + v);
    }
    return t;
}();

// Escaping: each byte is a cell of one character or of three ("\" and
// two hex digits), padded to four so every cell is copied the same way.
struct EscapeTable
{
    CellTable<4> cell;
    std::array<unsigned char, 256> length;
};

constexpr EscapeTable makeEscapeTable(bool keepLineEnds)
{
    EscapeTable t{};
    for (unsigned v = 0; v < 256; ++v) {
        if (printable(v) || (keepLineEnds && (v == '\r' || v == '\n'))) {
            t.cell[v] = {char(v), 0, 0, 0};
            t.length[v] = 1;
        } else {
            t.cell[v] = {'\\', kHexDigits[v >> 4], kHexDigits[v & 15], 0};
            t.length[v] = 3;
        }
    }
    return t;
}

constexpr EscapeTable kEscapeAll = makeEscapeTable(false);
constexpr EscapeTable kEscapeKeepLineEnds = makeEscapeTable(true);

constexpr CellTable<3> kHexCells = [] {
    CellTable<3> t{};
    for (unsigned v = 0; v < 256; ++v)
        t[v] = {kHexDigits[v >> 4], kHexDigits[v & 15], ' '};
    return t;
}();

constexpr CellTable<4> kDecimalCells = [] {
    CellTable<4> t{};
    for (unsigned v = 0; v < 256; ++v)
        t[v] = {char('0' + v / 100), char('0' + v / 10 % 10), char('0' + v % 10), ' '};
    return t;
}();

constexpr CellTable<4> kOctalCells = [] {
    CellTable<4> t{};
    for (unsigned v = 0; v < 256; ++v)
        t[v] = {char('0' + (v >> 6)), char('0' + ((v >> 3) & 7)), char('0' + (v & 7)), ' '};
    return t;
}();

constexpr CellTable<9> kBinaryCells = [] {
    CellTable<9> t{};
    for (unsigned v = 0; v < 256; ++v) {
        for (int bit = 0; bit < 8; ++bit)
            t[v][bit] = (v >> (7 - bit)) & 1 ? '1' : '0';
        t[v][8] = ' ';
    }
    return t;
}();

template<size_t Width>
QByteArray cells(QByteArrayView raw, const CellTable<Width> &table)
{
    // Allocated exactly: growing would round a large block up to a power of
    // two, past what the allocator recycles, so every call would fault in
    // fresh pages.
    QByteArray out(raw.size() * qsizetype(Width), Qt::Uninitialized);
    char *o = out.data();
    for (const char c : raw) {
        std::memcpy(o, table[static_cast<uchar>(c)].data(), Width);
        o += Width;
    }
    return out;
}

constexpr quint64 kOnes = 0x0101010101010101ULL;
constexpr quint64 kLows = 0x7F7F7F7F7F7F7F7FULL;
constexpr quint64 kHighs = 0x8080808080808080ULL;

// The high bit of each byte of a word that is zero (exact: no carry crosses
// from one byte into the next).
constexpr quint64 zeroBytes(quint64 x)
{
    return ~(((x & kLows) + kLows) | x) & kHighs;
}

// The high bit of each byte of a word that its table escapes: below 32, 127
// and up, and the backslash; carriage return and line feed kept where the
// table keeps them. Exact, so the count of set bits sizes the result.
template <bool KeepLineEnds> constexpr quint64 escapedBytes(quint64 w)
{
    const quint64 low = w & kLows;
    const quint64 below32 = ~(low + kOnes * 0x60) & ~w & kHighs;
    const quint64 from127 = (w | (low + kOnes)) & kHighs;
    quint64 escaped = below32 | from127 | zeroBytes(w ^ (kOnes * '\\'));
    if constexpr (KeepLineEnds)
        escaped &= ~(zeroBytes(w ^ (kOnes * '\r')) | zeroBytes(w ^ (kOnes * '\n')));
    return escaped;
}

quint64 word(const char *at)
{
    quint64 w;
    std::memcpy(&w, at, sizeof w);
    return w;
}

#ifdef __SSE2__
// The same test on sixteen bytes at once: each byte that is escaped becomes
// 0xFF. As signed bytes, 128 and up are below 32, so two compares find what
// is not printable.
template <bool KeepLineEnds> __m128i escapedLanes(__m128i b)
{
    __m128i escaped =
        _mm_or_si128(_mm_cmplt_epi8(b, _mm_set1_epi8(32)), _mm_cmpgt_epi8(b, _mm_set1_epi8(126)));
    escaped = _mm_or_si128(escaped, _mm_cmpeq_epi8(b, _mm_set1_epi8('\\')));
    if constexpr (KeepLineEnds)
        escaped = _mm_andnot_si128(
            _mm_or_si128(_mm_cmpeq_epi8(b, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(b, _mm_set1_epi8('\n'))),
            escaped);
    return escaped;
}

__m128i load16(const char *at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
}
#endif

template <bool KeepLineEnds> QByteArray escape(QByteArrayView raw)
{
    static constexpr const EscapeTable &table = KeepLineEnds ? kEscapeKeepLineEnds : kEscapeAll;
    // Text is mostly shown as it is: it is checked sixteen or eight bytes at
    // a time, and a block is copied whole unless it holds a byte to escape.
    const char *in = raw.data();
    const qsizetype n = raw.size();
    [[maybe_unused]] const qsizetype blocks = n - n % 16;
    // Sized exactly first, with no branch per block, so the result is
    // allocated once. The three spare bytes let the last cell be copied
    // whole like all the others.
    qsizetype escapes = 0;
    qsizetype i = 0;
#ifdef __SSE2__
    // Each lane counts its escapes up to 255 blocks, then the lanes are summed.
    while (i < blocks) {
        const qsizetype stop = std::min(blocks, i + 255 * 16);
        __m128i counts = _mm_setzero_si128();
        for (; i < stop; i += 16)
            counts = _mm_sub_epi8(counts, escapedLanes<KeepLineEnds>(load16(in + i)));
        const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
        escapes += _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
    }
#endif
    // A word's escapes are counted by adding up its bytes' high bits in one
    // multiply.
    for (; i + 8 <= n; i += 8)
        escapes += qsizetype(((escapedBytes<KeepLineEnds>(word(in + i)) >> 7) * kOnes) >> 56);
    for (; i < n; ++i)
        escapes += table.length[static_cast<uchar>(in[i])] == 3;
    // Nothing to escape (plain text): one copy.
    if (escapes == 0)
        return raw.toByteArray();
    const qsizetype size = n + 2 * escapes;
    QByteArray out(size + 3, Qt::Uninitialized);
    char *o = out.data();
    const auto one = [&](qsizetype at) {
        const auto v = static_cast<uchar>(in[at]);
        std::memcpy(o, table.cell[v].data(), 4);
        o += table.length[v];
    };
    i = 0;
#ifdef __SSE2__
    for (; i < blocks; i += 16) {
        const __m128i b = load16(in + i);
        if (_mm_movemask_epi8(escapedLanes<KeepLineEnds>(b)) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(o), b);
            o += 16;
        } else {
            for (qsizetype j = i; j < i + 16; ++j)
                one(j);
        }
    }
#endif
    for (; i + 8 <= n; i += 8) {
        if (escapedBytes<KeepLineEnds>(word(in + i)) == 0) {
            std::memcpy(o, in + i, 8);
            o += 8;
        } else {
            for (qsizetype j = i; j < i + 8; ++j)
                one(j);
        }
    }
    for (; i < n; ++i)
        one(i);
    out.truncate(size);
    return out;
}

// Decodes the items that start in [pos, limit) of text into out; an escape
// may read up to two characters past limit. Returns the new position and
// the number of bytes written (never more than the characters consumed).
qsizetype decodeRange(QByteArrayView text, qsizetype pos, qsizetype limit, char *out, qsizetype &written)
{
    const char *s = text.data();
    const qsizetype n = text.size();
    char *o = out;
    while (pos < limit) {
        const void *hit = std::memchr(s + pos, '\\', size_t(limit - pos));
        const qsizetype next = hit ? static_cast<const char *>(hit) - s : limit;
        if (next > pos) {
            std::memcpy(o, s + pos, size_t(next - pos));
            o += next - pos;
            pos = next;
        }
        if (pos >= limit)
            break;
        // s[pos] is a backslash. A complete escape wins over a doubled
        // backslash, so "\\41" is a backslash then the digits 4 and 1.
        if (pos + 2 < n) {
            const int hi = kHexValue[static_cast<uchar>(s[pos + 1])];
            const int lo = kHexValue[static_cast<uchar>(s[pos + 2])];
            if (hi >= 0 && lo >= 0) {
                *o++ = static_cast<char>(hi * 16 + lo);
                pos += 3;
                continue;
            }
        }
        *o++ = '\\';
        pos += (pos + 1 < n && s[pos + 1] == '\\') ? 2 : 1;
    }
    written = o - out;
    return pos;
}

} // namespace

bool IsPrintable(char c)
{
    return printable(static_cast<uchar>(c));
}

QByteArray GetChar(QByteArrayView raw)
{
    return escape<false>(raw);
}

QByteArray GetChar2(QByteArrayView raw)
{
    return escape<true>(raw);
}

QByteArray GetAscII(QByteArrayView raw)
{
    return cells(raw, kDecimalCells);
}

QByteArray GetHex(QByteArrayView raw)
{
    return cells(raw, kHexCells);
}

QByteArray GetHexDigit(int value)
{
    // Only the low byte has a two-digit form.
    const auto &cell = kHexCells[static_cast<uchar>(value)];
    return QByteArray(cell.data(), 2);
}

QByteArray GetBinary(QByteArrayView raw)
{
    return cells(raw, kBinaryCells);
}

QByteArray Bin(int value)
{
    const auto &cell = kBinaryCells[static_cast<uchar>(value)];
    return QByteArray(cell.data(), 8);
}

QByteArray GetOctal(QByteArrayView raw)
{
    return cells(raw, kOctalCells);
}

QByteArray FromEscaped(QByteArrayView text)
{
    EscapeDecoder decoder(text);
    decoder.step(text.size());
    return decoder.takeResult();
}

EscapeDecoder::EscapeDecoder(QByteArrayView text) : m_text(text)
{
    // The result is never longer than the text.
    m_out.reserve(text.size());
}

bool EscapeDecoder::step(qsizetype maxChars)
{
    if (done())
        return true;
    const qsizetype limit = maxChars >= m_text.size() - m_pos ? m_text.size() : m_pos + qMax<qsizetype>(maxChars, 1);
    // Room for the worst case (no escapes, plus an escape reaching past limit).
    const qsizetype before = m_out.size();
    const qsizetype room = qMin(m_text.size(), limit + 2) - m_pos;
    m_out.resize(before + room);
    qsizetype written = 0;
    m_pos = decodeRange(m_text, m_pos, limit, m_out.data() + before, written);
    m_out.truncate(before + written);
    return done();
}

QString GetTime(bool blnIncMilli, const QTime &time)
{
    return time.toString(blnIncMilli ? QStringLiteral("hh:mm:ss.zzz") : QStringLiteral("hh:mm:ss"));
}

int OnlyNumbersFilter(int keyAscii)
{
    if (keyAscii == 8 || (keyAscii >= '0' && keyAscii <= '9'))
        return keyAscii;
    return 0;
}

QString toText(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.data(), bytes.size());
}

QByteArray fromText(const QString &text)
{
    const QChar *s = text.constData();
    const qsizetype n = text.size();
    qsizetype firstWide = 0;
    while (firstWide < n && s[firstWide].unicode() <= 0xFF)
        ++firstWide;
    if (firstWide == n)
        return text.toLatin1();

    QByteArray out = QStringView(s, firstWide).toLatin1();
    out.reserve(n + (n - firstWide) * 3);
    for (qsizetype i = firstWide; i < n; ++i) {
        char32_t u = s[i].unicode();
        if (u <= 0xFF) {
            out.append(static_cast<char>(u));
            continue;
        }
        if (QChar::isHighSurrogate(u) && i + 1 < n && s[i + 1].isLowSurrogate())
            u = QChar::surrogateToUcs4(char16_t(u), s[++i].unicode());
        else if (QChar::isSurrogate(u))
            u = 0xFFFD; // half a pair is no character; Qt's encoder would give "?"
        if (u < 0x800) {
            out.append(char(0xC0 | (u >> 6)));
        } else if (u < 0x10000) {
            out.append(char(0xE0 | (u >> 12)));
            out.append(char(0x80 | ((u >> 6) & 0x3F)));
        } else {
            out.append(char(0xF0 | (u >> 18)));
            out.append(char(0x80 | ((u >> 12) & 0x3F)));
            out.append(char(0x80 | ((u >> 6) & 0x3F)));
        }
        out.append(char(0x80 | (u & 0x3F)));
    }
    return out;
}

} // namespace Bytes
