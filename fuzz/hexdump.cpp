// The hex dump of the logs: ceil(n/16) lines of one fixed width, from which
// the data can be read back, byte for byte.
#include "core/bytes.h"
#include "fuzzcheck.h"
#include "logging/logformat.h"

#include <QByteArray>
#include <cstring>

namespace {
constexpr qsizetype kWidth = 60; // 4 + 16 x 2 + 4 + 2 + 16 + CR LF
constexpr char kDigits[] = "0123456789ABCDEF";

int digit(char c)
{
    const char *at = std::strchr(kDigits, c);
    return c && at ? int(at - kDigits) : -1;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArrayView data(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const QByteArray dump = LogFormat::HexDump(data);

    const qsizetype lines = (data.size() + 15) / 16;
    FUZZ_CHECK(dump.size() == lines * kWidth);
    QByteArray back;
    for (qsizetype l = 0; l < lines; ++l) {
        const QByteArrayView line = QByteArrayView(dump).sliced(l * kWidth, kWidth);
        FUZZ_CHECK(line.startsWith("    ") && line.endsWith("\r\n"));
        FUZZ_CHECK(line.sliced(40, 2) == ": ");
        const qsizetype count = qMin<qsizetype>(16, data.size() - l * 16);
        for (int i = 0; i < 16; ++i) {
            const qsizetype at = 4 + i * 2 + i / 4; // a blank after every fourth byte
            if (i % 4 == 3)
                FUZZ_CHECK(line[at + 2] == ' ');
            const char shown = line[42 + i];
            if (i >= count) {
                FUZZ_CHECK(line.sliced(at, 2) == "..");
                FUZZ_CHECK(shown == ' ');
                continue;
            }
            const int hi = digit(line[at]), lo = digit(line[at + 1]);
            FUZZ_CHECK(hi >= 0 && lo >= 0);
            const char c = char(hi * 16 + lo);
            FUZZ_CHECK(shown == (Bytes::IsPrintable(c) ? c : '.'));
            back += c;
        }
    }
    FUZZ_CHECK(back == data);
    return 0;
}
