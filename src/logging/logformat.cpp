#include "logging/logformat.h"

#include "core/bytes.h"

#include <algorithm>

namespace LogFormat {

int spacesToNextZone(qint64 written)
{
    return int(kZoneWidth - written % kZoneWidth);
}

namespace {
constexpr int kBytesPerLine = 16;
// Four spaces, 16 x 2 digits with a space after every fourth byte, ": ",
// 16 characters, CR LF.
constexpr int kLineLength = 4 + kBytesPerLine * 2 + 4 + 2 + kBytesPerLine + 2;
constexpr char kDigits[] = "0123456789ABCDEF";
} // namespace

QByteArray HexDump(QByteArrayView data)
{
    const qsizetype lines = (data.size() + kBytesPerLine - 1) / kBytesPerLine;
    QByteArray out(lines * kLineLength, Qt::Uninitialized);
    char *o = out.data();
    const auto *bytes = reinterpret_cast<const uchar *>(data.data());
    for (qsizetype line = 0; line < lines; ++line) {
        const qsizetype start = line * kBytesPerLine;
        const qsizetype count = std::min<qsizetype>(kBytesPerLine, data.size() - start);
        o = std::fill_n(o, 4, ' ');
        for (int i = 0; i < kBytesPerLine; ++i) {
            if (i < count) {
                *o++ = kDigits[bytes[start + i] >> 4];
                *o++ = kDigits[bytes[start + i] & 0xF];
            } else {
                *o++ = '.';
                *o++ = '.';
            }
            if (i % 4 == 3)
                *o++ = ' ';
        }
        *o++ = ':';
        *o++ = ' ';
        for (int i = 0; i < kBytesPerLine; ++i) {
            if (i < count) {
                const char c = char(bytes[start + i]);
                *o++ = Bytes::IsPrintable(c) ? c : '.';
            } else {
                *o++ = ' ';
            }
        }
        *o++ = '\r';
        *o++ = '\n';
    }
    return out;
}

QByteArray dateStamp(const QDateTime &when, const QString &dateFormat)
{
    return Bytes::fromText(when.date().toString(dateFormat) + QLatin1Char(' ') +
                           Bytes::GetTime(true, when.time()));
}

} // namespace LogFormat
