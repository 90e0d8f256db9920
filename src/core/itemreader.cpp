#include "core/itemreader.h"

namespace {
bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}
bool isLineBreak(char c)
{
    return c == '\r' || c == '\n';
}
} // namespace

void ItemReader::skipLineBreak()
{
    if (m_pos < m_data.size() && m_data[m_pos] == '\r')
        ++m_pos;
    if (m_pos < m_data.size() && m_data[m_pos] == '\n')
        ++m_pos;
}

ItemReader::Status ItemReader::next(QByteArray &item)
{
    item.clear();
    const qsizetype n = m_data.size();
    if (m_problem >= 0)
        return Status::UnclosedQuote;
    while (m_pos < n && (isBlank(m_data[m_pos]) || isLineBreak(m_data[m_pos])))
        ++m_pos;
    if (m_pos >= n)
        return Status::End;

    if (m_data[m_pos] == '"') {
        const qsizetype open = m_pos;
        const qsizetype close = m_data.indexOf('"', open + 1);
        if (close < 0) {
            m_problem = open;
            m_pos = n;
            return Status::UnclosedQuote;
        }
        item = m_data.sliced(open + 1, close - open - 1).toByteArray();
        m_pos = close + 1;
        // Whatever stands between the closing quote and the separator is not part of any item.
        while (m_pos < n && m_data[m_pos] != ',' && !isLineBreak(m_data[m_pos]))
            ++m_pos;
    } else {
        const qsizetype start = m_pos;
        while (m_pos < n && m_data[m_pos] != ',' && !isLineBreak(m_data[m_pos]))
            ++m_pos;
        qsizetype end = m_pos;
        while (end > start && isBlank(m_data[end - 1]))
            --end;
        item = m_data.sliced(start, end - start).toByteArray();
    }
    if (m_pos < n && m_data[m_pos] == ',')
        ++m_pos;
    else
        skipLineBreak();
    return Status::Item;
}

ItemReader::Records ItemReader::readRecords(QByteArrayView data, int itemsPerRecord)
{
    Records out;
    if (itemsPerRecord <= 0)
        return out;
    ItemReader reader(data);
    QByteArrayList record;
    qsizetype recordStart = 0;
    for (;;) {
        QByteArray item;
        const qsizetype before = reader.position();
        const Status s = reader.next(item);
        if (s == Status::UnclosedQuote) {
            out.problem = Records::Problem::UnclosedQuote;
            out.problemOffset = reader.problemOffset();
            break;
        }
        if (s == Status::End) {
            if (!record.isEmpty()) {
                out.problem = Records::Problem::ShortRecord;
                out.problemOffset = recordStart;
            }
            break;
        }
        if (record.isEmpty()) {
            // The record begins at its first item, past the blanks before it.
            recordStart = before;
            while (recordStart < data.size() &&
                   (isBlank(data[recordStart]) || isLineBreak(data[recordStart])))
                ++recordStart;
        }
        record.append(item);
        if (record.size() == itemsPerRecord) {
            out.records.append(record);
            record.clear();
        }
    }
    out.partial = record;
    if (out.problem != Records::Problem::None)
        out.problemLine = lineAt(data, out.problemOffset);
    return out;
}

int ItemReader::lineAt(QByteArrayView data, qsizetype offset)
{
    int line = 1;
    const qsizetype end = std::min(offset, data.size());
    for (qsizetype i = 0; i < end; ++i) {
        if (data[i] == '\n' || (data[i] == '\r' && (i + 1 >= data.size() || data[i + 1] != '\n')))
            ++line;
    }
    return line;
}
