// Cutting data into messages: the messages joined with the separators that
// were cut give the data back, and a message holds no separator of its own.
#include "core/framing.h"
#include "framinginput.h"
#include "fuzzcheck.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzInput in(bytes, size);
    const bool concat = in.byte() & 1;
    const QByteArrayView sep = in.text(4);
    const QByteArrayView data = in.rest();

    // The same scan with and without the separators, side by side.
    qint64 posWith = 0, posWithout = 0;
    QByteArray joined;
    qsizetype pieces = 0;
    for (bool more = true; more;) {
        QByteArray with, without;
        qint64 sepsWith = -1, sepsWithout = -1;
        more = Framing::GetNextMessage(data, posWith, with, true, sepsWith, sep, concat);
        const bool moreWithout =
            Framing::GetNextMessage(data, posWithout, without, false, sepsWithout, sep, concat);
        FUZZ_CHECK(more == moreWithout);
        FUZZ_CHECK(posWith == posWithout);
        FUZZ_CHECK(sepsWith == sepsWithout);
        FUZZ_CHECK(++pieces <= data.size() + 1); // the loop ends

        // The message with its separators is the message and n separators.
        FUZZ_CHECK(with == without + sep.toByteArray().repeated(sepsWith));
        if (!sep.isEmpty())
            FUZZ_CHECK(!without.contains(sep));
        if (sep.isEmpty())
            FUZZ_CHECK(sepsWith == 0);
        if (more)
            FUZZ_CHECK(sepsWith > 0); // only the last piece may be unterminated
        if (!concat)
            FUZZ_CHECK(sepsWith <= 1);
        joined += with;
        FUZZ_CHECK(more == (joined.size() < data.size())); // no empty piece after the end
        // With concatenation a run of separators is taken whole.
        if (concat && sepsWith > 0)
            FUZZ_CHECK(!data.sliced(joined.size()).startsWith(sep));
    }
    FUZZ_CHECK(joined == data);
    FUZZ_CHECK(posWith == 0);
    return 0;
}
