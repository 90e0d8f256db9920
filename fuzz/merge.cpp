// The merge of a template with a line of a merge file: fields fill their
// placeholders and nothing else changes; and a merge file read line by line
// gives its lines, whatever line ends it has and wherever its read blocks end.
#include "fuzzcheck.h"
#include "sending/mergefile.h"

#include <QByteArrayList>
#include <QFile>
#include <QTemporaryDir>

namespace {

bool isBlank(QByteArrayView s)
{
    return QByteArray(s.data(), s.size()).trimmed().isEmpty();
}

// The lines of a file: ended by CR LF, CR or LF; the last may have no end.
QByteArrayList linesOf(QByteArrayView file)
{
    QByteArrayList lines;
    qsizetype from = 0;
    for (qsizetype i = 0; i < file.size(); ++i) {
        if (file[i] != '\r' && file[i] != '\n')
            continue;
        lines << file.sliced(from, i - from).toByteArray();
        if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n')
            ++i;
        from = i + 1;
    }
    if (from < file.size())
        lines << file.sliced(from).toByteArray();
    return lines;
}

// The file's records and lines, read through MergeFile.
void checkFile(QByteArrayView templ, QByteArrayView data)
{
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("merge.txt"));

    // Read in blocks of 1 to 16 bytes, the template's length picks: line
    // ends, a CR LF among them, fall where blocks meet.
    const QByteArray file = data.toByteArray();
    {
        QFile f(path);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(file) == file.size());
    }
    const QByteArrayList lines = linesOf(file);

    MergeFile merge(1 + templ.size() % 16);
    FUZZ_CHECK(!merge.open(path).isError());
    QByteArrayList read;
    while (const std::optional<QByteArray> line = merge.readLine())
        read << *line;
    FUZZ_CHECK(!merge.error().isError() && merge.atEnd());
    FUZZ_CHECK(read == lines);

    // Records: each line merged, blank lines skipped while the template has
    // placeholders, empty records skipped. (Records past a small bound would
    // only make the run slow: their bound is checked above.)
    QByteArrayList expected;
    for (const QByteArray &line : lines) {
        if (Merge::hasPlaceholder(templ) && isBlank(line))
            continue;
        const std::optional<QByteArray> merged = Merge::mergeLine(templ, line, 1024 * 1024);
        if (!merged)
            return;
        if (!merged->isEmpty())
            expected << *merged;
    }
    FUZZ_CHECK(!merge.open(path).isError());
    QByteArrayList records;
    while (const std::optional<QByteArray> record = merge.nextRecord(templ))
        records << *record;
    FUZZ_CHECK(!merge.error().isError());
    FUZZ_CHECK(records == expected);
    FUZZ_CHECK(!merge.close().isError());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    // The template up to the first line feed, then one line of the merge file.
    const QByteArrayView data(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const qsizetype cut = data.indexOf('\n');
    const QByteArrayView templ = cut < 0 ? data : data.first(cut);
    QByteArrayView line = cut < 0 ? QByteArrayView() : data.sliced(cut + 1);
    if (const qsizetype end = line.indexOf('\r'); end >= 0)
        line = line.first(end); // a line of the file has no line end
    if (const qsizetype end = line.indexOf('\n'); end >= 0)
        line = line.first(end);

    // Any template and line: a template without placeholders and a blank line
    // leave the template as it is, and no record grows past the bound, though
    // fields may hold each other's placeholders (a small one, to stay fast).
    const qsizetype limit = 1024 * 1024;
    const std::optional<QByteArray> merged = Merge::mergeLine(templ, line, limit);
    if (!Merge::hasPlaceholder(templ) || isBlank(line))
        FUZZ_CHECK(merged == templ);
    if (merged)
        FUZZ_CHECK(merged->size() <= qMax(limit, templ.size()));

    // A template whose every "%" starts a placeholder %1 to %9, and fields
    // without "%": each placeholder becomes its field, or stays when the line
    // has no such field; earlier fields keep their blanks, the last is
    // trimmed, and a line of blanks after the last comma adds no field.
    QByteArray plain;
    for (qsizetype i = 0; i < templ.size(); ++i) {
        if (templ[i] != '%' || (i + 1 < templ.size() && templ[i + 1] >= '1' && templ[i + 1] <= '9'))
            plain += templ[i];
    }
    QByteArrayList fields = QByteArray(line.data(), line.size()).replace('%', "").split(',');
    while (!fields.isEmpty() && isBlank(fields.back()))
        fields.removeLast();
    if (!fields.isEmpty())
        fields.back() = fields.back().trimmed();
    QByteArray expected;
    for (qsizetype i = 0; i < plain.size(); ++i) {
        const int k = plain[i] == '%' ? plain[i + 1] - '0' : 0;
        if (k >= 1 && k <= fields.size()) {
            expected += fields[k - 1];
            ++i;
        } else {
            expected += plain[i];
        }
    }
    FUZZ_CHECK(Merge::mergeLine(plain, fields.join(',')) == expected);

    // The rest of the input as a merge file.
    checkFile(templ, cut < 0 ? QByteArrayView() : data.sliced(cut + 1));
    return 0;
}
