// The escape notation: what the escaped displays write, the decoder reads
// back byte for byte, however its work is cut into steps, and so does GetRaw,
// which the send windows convert their texts with.
#include "core/bytes.h"
#include "display/supportclass.h"
#include "fuzzcheck.h"

#include <QApplication>
#include <QByteArray>
#include <cstdlib>

namespace {

bool onlyPrintableOrEscapes(const QByteArray &text, bool lineEndsKept)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            // Always a full escape: a backslash and two upper-case hex digits.
            if (i + 2 >= text.size() || !QByteArrayView("0123456789ABCDEF").contains(text[i + 1]) ||
                !QByteArrayView("0123456789ABCDEF").contains(text[i + 2]))
                return false;
            i += 2;
        } else if (!Bytes::IsPrintable(c) && !(lineEndsKept && (c == '\r' || c == '\n'))) {
            return false;
        }
    }
    return true;
}

// Decodes in steps of the sizes the data itself picks (1 to 8 characters),
// as a caller does that lets events run between slices.
QByteArray decodeInSteps(QByteArrayView text, QByteArrayView sizes)
{
    Bytes::EscapeDecoder decoder(text);
    qsizetype i = 0;
    qsizetype guard = text.size() + 1;
    while (!decoder.done()) {
        const qsizetype before = decoder.position();
        const qsizetype step = sizes.isEmpty() ? 1 : 1 + static_cast<uchar>(sizes[i++ % sizes.size()]) % 8;
        decoder.step(step);
        FUZZ_CHECK(decoder.position() > before); // every step moves on
        FUZZ_CHECK(--guard >= 0);
    }
    FUZZ_CHECK(decoder.step(1)); // a finished decoder stays finished
    return decoder.takeResult();
}

SupportClass *g_support = nullptr;

// GetRaw of a text, checked to succeed; its result is also checked against a
// call that passes one variable as both text and result.
QByteArray getRaw(const QByteArray &text, bool convert)
{
    QByteArray raw;
    FUZZ_CHECK(g_support->GetRaw(text, convert, raw));
    QByteArray same = text;
    FUZZ_CHECK(g_support->GetRaw(same, convert, same));
    FUZZ_CHECK(same == raw);
    return raw;
}

} // namespace

// GetRaw shows a progress window for long texts: it needs an application.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QApplication app(*argc, *argv);
    static SupportClass support;
    g_support = &support;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray data(reinterpret_cast<const char *>(bytes), qsizetype(size));

    // Escaping then decoding gives the bytes back.
    const QByteArray escaped = Bytes::GetChar(data);
    const QByteArray escaped2 = Bytes::GetChar2(data);
    FUZZ_CHECK(onlyPrintableOrEscapes(escaped, false));
    FUZZ_CHECK(onlyPrintableOrEscapes(escaped2, true));
    FUZZ_CHECK(Bytes::FromEscaped(escaped) == data);
    FUZZ_CHECK(Bytes::FromEscaped(escaped2) == data);
    FUZZ_CHECK(decodeInSteps(escaped, data) == data);
    FUZZ_CHECK(getRaw(escaped, true) == data);
    FUZZ_CHECK(getRaw(escaped2, true) == data);

    // Any text, escapes well formed or not: the decoder never writes more
    // than it reads, text without a backslash is its own value, and the
    // result does not depend on how the work was cut into steps.
    const QByteArray decoded = Bytes::FromEscaped(data);
    FUZZ_CHECK(decoded.size() <= data.size());
    if (!data.contains('\\'))
        FUZZ_CHECK(decoded == data);
    FUZZ_CHECK(decodeInSteps(data, data) == decoded);
    FUZZ_CHECK(decodeInSteps(data, QByteArrayView()) == decoded);
    FUZZ_CHECK(getRaw(data, true) == decoded);
    FUZZ_CHECK(getRaw(data, false) == data); // without conversion, the text as it is
    return 0;
}
