#include "core/framing.h"

#include <cstring>

namespace Framing {

namespace {

// Needles up to this long are found byte by byte; a false start costs at
// most this many comparisons.
constexpr qsizetype kShortNeedle = 16;

// First occurrence of needle starting at or after from and ending at or
// before limit, or -1. Exact byte comparison.
qint64 find(QByteArrayView data, QByteArrayView needle, qint64 from, qint64 limit)
{
    limit = qMin<qint64>(limit, data.size());
    if (from < 0 || needle.isEmpty() || limit - from < needle.size())
        return -1;
    // Separators are a few bytes and a message is short: finding the first
    // byte and comparing the rest beats a general search, which sets up its
    // tables anew on every call (more than a line of text costs to scan).
    if (needle.size() > kShortNeedle)
        return data.first(limit).indexOf(needle, from);
    const char *base = data.data();
    const qint64 lastStart = limit - needle.size();
    for (qint64 at = from; at <= lastStart; ++at) {
        const void *hit = std::memchr(base + at, needle[0], size_t(lastStart - at + 1));
        if (!hit)
            return -1;
        at = static_cast<const char *>(hit) - base;
        if (std::memcmp(base + at + 1, needle.data() + 1, size_t(needle.size() - 1)) == 0)
            return at;
    }
    return -1;
}

qint64 find(QByteArrayView data, QByteArrayView needle, qint64 from)
{
    return find(data, needle, from, data.size());
}

bool occursAt(QByteArrayView data, QByteArrayView needle, qint64 at)
{
    return at + needle.size() <= data.size() && std::memcmp(data.data() + at, needle.data(), size_t(needle.size())) == 0;
}

// Hands out the piece from start: up to the separator at `at`, or through
// the separator(s) ending at `end` when they are included; with no separator
// (at < 0) the rest of the data. True while more follows, otherwise the
// position goes back to 0.
bool takePiece(QByteArrayView data, qint64 start, qint64 at, qint64 end, bool include, QByteArray &piece,
               qint64 &scannedUpTo)
{
    if (at < 0) {
        piece = data.sliced(start).toByteArray();
        scannedUpTo = 0;
        return false;
    }
    piece = data.sliced(start, (include ? end : at) - start).toByteArray();
    const bool more = end < data.size();
    scannedUpTo = more ? end : 0;
    return more;
}

} // namespace

bool GetNextMessage(QByteArrayView data, qint64 &scannedUpTo, QByteArray &message, bool includeSeparator,
                    qint64 &consecSeps, QByteArrayView separator, bool concat)
{
    consecSeps = 0;
    const qint64 length = data.size();
    const qint64 start = qMax<qint64>(scannedUpTo, 0);
    if (start > length) {
        scannedUpTo = 0;
        message.clear();
        return false;
    }
    // find() never matches an empty separator (it would match everywhere
    // without advancing), so the rest of the data is then one message.
    const qint64 at = find(data, separator, start);
    const qint64 k = separator.size();
    qint64 n = 0;
    if (at >= 0) {
        n = 1;
        while (concat && occursAt(data, separator, at + k * n))
            ++n;
    }
    consecSeps = n;
    return takePiece(data, start, at, at + k * n, includeSeparator, message, scannedUpTo);
}

bool GetNextField(QByteArrayView data, qint64 &scannedUpTo, QByteArray &field, bool includeSeparator,
                  QByteArrayView separator, bool ignoreBetween, QByteArrayView ignoreText)
{
    const qint64 length = data.size();
    const qint64 start = qMax<qint64>(scannedUpTo, 0);
    if (start > length) {
        scannedUpTo = 0;
        field.clear();
        return false;
    }
    if (separator.isEmpty())
        return false;

    qint64 at = find(data, separator, start);
    if (ignoreBetween && !ignoreText.isEmpty() && at >= 0) {
        // An opening ignore text only matters before the separator (without
        // a separator the rest is one field anyway), so the search for it
        // stops there and a long message is still scanned once.
        const qint64 open = find(data, ignoreText, start, at + ignoreText.size() - 1);
        if (open >= 0) {
            const qint64 close = find(data, ignoreText, open + 1);
            at = close < 0 ? -1 : find(data, separator, close + 1);
        }
    }

    return takePiece(data, start, at, at + separator.size(), includeSeparator, field, scannedUpTo);
}

} // namespace Framing
