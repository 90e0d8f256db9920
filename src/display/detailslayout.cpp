#include "display/detailslayout.h"

#include "core/bytes.h"

#include <algorithm>

QByteArray DetailsLayout::render(QByteArrayView raw, Representation representation)
{
    switch (representation) {
    case WYSIWYG:
        return raw.toByteArray();
    case Chr:
        return Bytes::GetChar(raw);
    case Dec:
        return Bytes::GetAscII(raw);
    case Hex:
        return Bytes::GetHex(raw);
    case Bin:
        return Bytes::GetBinary(raw);
    case Oct:
        return Bytes::GetOctal(raw);
    }
    return QByteArray();
}

void DetailsLayout::setText(const QByteArray &text, Representation representation, int rowChars)
{
    m_text = text;
    m_representation = representation;
    m_rowChars = std::max(rowChars, 9);
    restart();
}

void DetailsLayout::setRowChars(int rowChars)
{
    rowChars = std::max(rowChars, 9);
    if (rowChars == m_rowChars)
        return;
    m_rowChars = rowChars;
    restart();
}

void DetailsLayout::restart()
{
    m_cacheRow = -1;
    m_checkpoints.clear();
    m_scanAt = 0;
    if (scanned()) {
        m_rowCount = 0;
        m_complete = false;
        layOutSome(0);
    } else {
        m_rowCount = std::max<qsizetype>(1, (m_text.size() + bytesPerRow() - 1) / bytesPerRow());
        m_complete = true;
    }
}

int DetailsLayout::itemChars() const
{
    switch (m_representation) {
    case Hex:
        return 3;
    case Bin:
        return 9;
    default:
        return 4;
    }
}

qsizetype DetailsLayout::bytesPerRow() const
{
    return std::max(1, m_rowChars / itemChars());
}

namespace {
// Bytes::IsPrintable, here where the scan of a long text runs it per byte.
inline bool printable(char c)
{
    const uchar u = uchar(c);
    return u >= 32 && u <= 126 && u != '\\';
}
} // namespace

int DetailsLayout::outputWidth(char c) const
{
    return m_representation == Chr && !printable(c) ? 3 : 1;
}

qsizetype DetailsLayout::scanRowEnd(qsizetype start) const
{
    const char *data = m_text.constData();
    const qsizetype size = m_text.size();
    if (m_representation == WYSIWYG) {
        // Up to a full row of characters, and a line break right after them.
        const qsizetype limit = std::min(size, start + m_rowChars);
        qsizetype at = start;
        while (at < limit && data[at] != '\r' && data[at] != '\n')
            ++at;
        if (at < size && data[at] == '\r')
            return at + 1 < size && data[at + 1] == '\n' ? at + 2 : at + 1;
        if (at < size && data[at] == '\n')
            return at + 1;
        return at;
    }
    int chars = 0;
    for (qsizetype at = start; at < size; ++at) {
        const int width = printable(data[at]) ? 1 : 3;
        if (chars > 0 && chars + width > m_rowChars)
            return at;
        chars += width;
    }
    return size;
}

bool DetailsLayout::layOutSome(qsizetype budget)
{
    if (m_complete)
        return true;
    const qsizetype stop = m_scanAt + std::max<qsizetype>(budget, 1);
    const qsizetype size = m_text.size();
    while (m_scanAt < size && m_scanAt < stop) {
        if (m_rowCount % kRowsPerCheckpoint == 0)
            m_checkpoints.push_back(m_scanAt);
        ++m_rowCount;
        m_scanAt = scanRowEnd(m_scanAt);
    }
    if (m_scanAt < size)
        return false;
    // After a final line break, and for no text at all, an empty last row.
    const bool emptyLast =
        size == 0 || (m_representation == WYSIWYG && (m_text.back() == '\r' || m_text.back() == '\n'));
    if (emptyLast) {
        if (m_rowCount % kRowsPerCheckpoint == 0)
            m_checkpoints.push_back(size);
        ++m_rowCount;
    }
    m_complete = true;
    return true;
}

qsizetype DetailsLayout::rowStart(qsizetype row) const
{
    row = std::clamp<qsizetype>(row, 0, m_rowCount - 1);
    if (!scanned())
        return std::min(m_text.size(), row * bytesPerRow());
    qsizetype at;
    qsizetype start;
    const qsizetype checkpoint = row / kRowsPerCheckpoint;
    if (m_cacheRow >= 0 && m_cacheRow <= row && m_cacheRow >= checkpoint * kRowsPerCheckpoint) {
        at = m_cacheRow;
        start = m_cacheStart;
    } else {
        at = checkpoint * kRowsPerCheckpoint;
        start = m_checkpoints[size_t(checkpoint)];
    }
    for (; at < row; ++at)
        start = scanRowEnd(start);
    m_cacheRow = row;
    m_cacheStart = start;
    return start;
}

qsizetype DetailsLayout::rowEnd(qsizetype row) const
{
    if (!scanned())
        return std::min(m_text.size(), rowStart(row) + bytesPerRow());
    return scanRowEnd(rowStart(row));
}

int DetailsLayout::breakBytes(qsizetype start, qsizetype end) const
{
    if (m_representation != WYSIWYG || end <= start)
        return 0;
    if (m_text[end - 1] == '\n')
        return end - 2 >= start && m_text[end - 2] == '\r' ? 2 : 1;
    return m_text[end - 1] == '\r' ? 1 : 0;
}

int DetailsLayout::rowLength(qsizetype row) const
{
    const qsizetype start = rowStart(row);
    const qsizetype end = rowEnd(row);
    switch (m_representation) {
    case WYSIWYG:
        return int(end - start) - breakBytes(start, end);
    case Chr: {
        int chars = 0;
        for (qsizetype at = start; at < end; ++at)
            chars += outputWidth(m_text[at]);
        return chars;
    }
    default:
        return int(end - start) * itemChars();
    }
}

QString DetailsLayout::rowText(qsizetype row) const
{
    const qsizetype start = rowStart(row);
    const qsizetype end = rowEnd(row);
    const QByteArrayView bytes = QByteArrayView(m_text).sliced(start, end - start);
    if (m_representation == WYSIWYG)
        return Bytes::toText(bytes.chopped(breakBytes(start, end)));
    return Bytes::toText(render(bytes, m_representation));
}

qsizetype DetailsLayout::rowOf(Position p)
{
    const qsizetype byte = std::clamp<qsizetype>(p.byte, 0, m_text.size());
    if (!scanned())
        return std::min(byte / bytesPerRow(), m_rowCount - 1);
    while (!m_complete && m_scanAt <= byte)
        layOutSome(byte - m_scanAt + 1);
    const auto after = std::upper_bound(m_checkpoints.begin(), m_checkpoints.end(), byte);
    qsizetype row = qsizetype(std::distance(m_checkpoints.begin(), after) - 1) * kRowsPerCheckpoint;
    qsizetype end = rowEnd(row);
    while (row + 1 < m_rowCount && end <= byte) {
        ++row;
        end = scanRowEnd(end);
    }
    return row;
}

int DetailsLayout::columnOf(qsizetype row, Position p) const
{
    const qsizetype start = rowStart(row);
    const qsizetype end = rowEnd(row);
    if (p.byte < start)
        return 0;
    if (p.byte >= end)
        return rowLength(row);
    switch (m_representation) {
    case WYSIWYG:
        return std::min(int(p.byte - start), rowLength(row));
    case Chr: {
        int chars = 0;
        for (qsizetype at = start; at < p.byte; ++at)
            chars += outputWidth(m_text[at]);
        return chars + p.offset;
    }
    default:
        return int(p.byte - start) * itemChars() + p.offset;
    }
}

DetailsLayout::Position DetailsLayout::positionAt(qsizetype row, int column) const
{
    const qsizetype start = rowStart(row);
    const qsizetype end = rowEnd(row);
    column = std::max(column, 0);
    switch (m_representation) {
    case WYSIWYG: {
        const int length = int(end - start) - breakBytes(start, end);
        return {start + std::min(column, length), 0};
    }
    case Chr:
        for (qsizetype at = start; at < end; ++at) {
            const int width = outputWidth(m_text[at]);
            if (column < width)
                return {at, column};
            column -= width;
        }
        return {end, 0};
    default: {
        const qsizetype byte = start + column / itemChars();
        if (byte >= end)
            return {end, 0};
        return {byte, column % itemChars()};
    }
    }
}

QByteArray DetailsLayout::textBetween(Position from, Position to) const
{
    if (to < from)
        std::swap(from, to);
    const qsizetype size = m_text.size();
    from.byte = std::clamp<qsizetype>(from.byte, 0, size);
    to.byte = std::clamp<qsizetype>(to.byte, 0, size);
    const QByteArrayView text(m_text);
    QByteArray out = render(text.sliced(from.byte, to.byte - from.byte), m_representation);
    if (to.byte < size && to.offset > 0)
        out += render(text.sliced(to.byte, 1), m_representation).left(to.offset);
    return out.mid(from.byte < size ? from.offset : 0);
}
