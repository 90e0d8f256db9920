#pragma once

#include <QByteArrayView>

/// Reads the parts of a fuzz input: option bits, short texts, the rest.
class FuzzInput
{
public:
    FuzzInput(const uint8_t *bytes, size_t size)
        : m_rest(reinterpret_cast<const char *>(bytes), qsizetype(size))
    {
    }

    uchar byte()
    {
        if (m_rest.isEmpty())
            return 0;
        const uchar b = static_cast<uchar>(m_rest[0]);
        m_rest = m_rest.sliced(1);
        return b;
    }
    /// A text of 0 to maxLength bytes, its length given by the next byte.
    QByteArrayView text(int maxLength)
    {
        const qsizetype n = qMin<qsizetype>(byte() % (maxLength + 1), m_rest.size());
        const QByteArrayView t = m_rest.first(n);
        m_rest = m_rest.sliced(n);
        return t;
    }
    QByteArrayView rest() const { return m_rest; }

private:
    QByteArrayView m_rest;
};
