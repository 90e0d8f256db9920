// Cutting a message into fields: the fields joined with the separators that
// were cut give the message back, and each field ends where the rules say.
#include "core/framing.h"
#include "framinginput.h"
#include "fuzzcheck.h"

#include <QByteArray>

namespace {

// Where the field starting at `from` ends: the separator that ends it, or -1
// when it runs to the end. Literally: with the ignore text before the first
// separator, the separator after its closing occurrence ends the field.
qsizetype fieldEnd(QByteArrayView data, qsizetype from, QByteArrayView sep, bool ignore, QByteArrayView text)
{
    qsizetype p = data.indexOf(sep, from);
    if (ignore && !text.isEmpty() && p >= 0) {
        const qsizetype a = data.indexOf(text, from);
        if (a >= 0 && a < p) {
            const qsizetype b = data.indexOf(text, a + 1);
            p = b < 0 ? -1 : data.indexOf(sep, b + 1);
        }
    }
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzInput in(bytes, size);
    const bool ignore = in.byte() & 1;
    const QByteArrayView sep = in.text(4);
    const QByteArrayView ignoreText = in.text(3);
    const QByteArrayView data = in.rest();

    if (sep.isEmpty()) {
        // Nothing to cut at: false at once, field and position untouched.
        qint64 pos = 0;
        QByteArray field("before");
        FUZZ_CHECK(!Framing::GetNextField(data, pos, field, true, sep, ignore, ignoreText));
        FUZZ_CHECK(field == "before" && pos == 0);
        return 0;
    }

    qint64 posWith = 0, posWithout = 0;
    QByteArray joined;
    qsizetype pieces = 0;
    for (bool more = true; more;) {
        QByteArray with, without;
        const qsizetype start = joined.size();
        more = Framing::GetNextField(data, posWith, with, true, sep, ignore, ignoreText);
        FUZZ_CHECK(more == Framing::GetNextField(data, posWithout, without, false, sep, ignore, ignoreText));
        FUZZ_CHECK(posWith == posWithout);
        FUZZ_CHECK(++pieces <= data.size() + 1);

        const qsizetype end = fieldEnd(data, start, sep, ignore, ignoreText);
        if (end < 0) {
            FUZZ_CHECK(!more);
            FUZZ_CHECK(with == without && without == data.sliced(start));
        } else {
            FUZZ_CHECK(without == data.sliced(start, end - start));
            FUZZ_CHECK(with == without + sep.toByteArray());
        }
        joined += with;
        FUZZ_CHECK(more == (joined.size() < data.size())); // no empty piece after the end
    }
    FUZZ_CHECK(joined == data);
    FUZZ_CHECK(posWith == 0);
    return 0;
}
