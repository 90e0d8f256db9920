// The item syntax of the data files: every item the reader gives can be
// written back in the syntax, and what was written reads back the same.
#include "core/itemreader.h"
#include "fuzzcheck.h"

#include <QByteArrayList>

namespace {

struct Read
{
    QByteArrayList items;
    ItemReader::Status end = ItemReader::Status::End;
};

Read readAll(QByteArrayView data)
{
    Read out;
    ItemReader reader(data);
    QByteArray item;
    qsizetype before = 0;
    while ((out.end = reader.next(item)) == ItemReader::Status::Item) {
        FUZZ_CHECK(reader.position() > before); // every item moves on
        before = reader.position();
        out.items << item;
    }
    FUZZ_CHECK(reader.next(item) == out.end); // a finished reader stays finished
    return out;
}

bool isBlankOrBreak(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// An item in the syntax: in quotes when it holds no quote, else as it stands,
// which must then be possible (no separator, nothing the reader skips or trims).
QByteArray written(const QByteArray &item)
{
    if (!item.contains('"'))
        return '"' + item + '"';
    FUZZ_CHECK(!item.contains(',') && !item.contains('\r') && !item.contains('\n'));
    FUZZ_CHECK(!item.startsWith('"') && !isBlankOrBreak(item.front()));
    FUZZ_CHECK(item.back() != ' ' && item.back() != '\t');
    return item;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArrayView data(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const Read first = readAll(data);
    qsizetype itemBytes = 0;
    for (const QByteArray &item : first.items)
        itemBytes += item.size();
    FUZZ_CHECK(itemBytes <= data.size()); // items are cut from the data, never made up

    // Written back, between separators the data picks, the items read the same.
    static const char *const kSeparators[] = {",", "\r\n", ", ", "\n", "\r", " ,\t", ",\r\n\r\n"};
    QByteArray again;
    for (qsizetype i = 0; i < first.items.size(); ++i) {
        if (i > 0)
            again += kSeparators[static_cast<uchar>(data[i % data.size()]) % std::size(kSeparators)];
        again += written(first.items[i]);
    }
    const Read second = readAll(again);
    FUZZ_CHECK(second.end == ItemReader::Status::End);
    FUZZ_CHECK(second.items == first.items);

    // Records are the items in groups; an unclosed quote or a short record
    // is told with a line of the data.
    const int perRecord = size > 0 ? 1 + bytes[0] % 4 : 3;
    const ItemReader::Records records = ItemReader::readRecords(data, perRecord);
    QByteArrayList flat;
    for (const QByteArrayList &r : records.records) {
        FUZZ_CHECK(r.size() == perRecord);
        flat += r;
    }
    FUZZ_CHECK(flat + records.partial == first.items);
    using Problem = ItemReader::Records::Problem;
    const bool unclosed = first.end == ItemReader::Status::UnclosedQuote;
    FUZZ_CHECK((records.problem == Problem::UnclosedQuote) == unclosed);
    FUZZ_CHECK((records.problem == Problem::ShortRecord) == (!unclosed && !records.partial.isEmpty()));
    if (records.problem != Problem::None) {
        FUZZ_CHECK(records.problemOffset >= 0 && records.problemOffset < data.size());
        FUZZ_CHECK(records.problemLine == ItemReader::lineAt(data, records.problemOffset));
        FUZZ_CHECK(records.problemLine >= 1 &&
                   records.problemLine <= 1 + data.count('\r') + data.count('\n'));
    }
    if (unclosed)
        FUZZ_CHECK(data[records.problemOffset] == '"');
    return 0;
}
