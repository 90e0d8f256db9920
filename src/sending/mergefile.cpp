#include "sending/mergefile.h"

#include <QFileInfo>
#include <cerrno>
#include <cstdio>

namespace {
bool isBlankLine(QByteArrayView line)
{
    for (char c : line) {
        if (c != ' ' && c != '\t' && c != '\v' && c != '\f')
            return false;
    }
    return true;
}
} // namespace

namespace Merge {

std::optional<QByteArray> mergeLine(QByteArrayView templ, QByteArrayView line, qsizetype limit)
{
    QByteArray out = templ.toByteArray();
    int k = 1;
    while (!isBlankLine(line)) {
        QByteArray field;
        const qsizetype comma = line.indexOf(',');
        if (comma < 0) {
            field = line.toByteArray().trimmed();
            line = QByteArrayView();
        } else {
            field = line.first(comma).toByteArray();
            line = line.sliced(comma + 1);
        }
        // Left to right, each search going on after the value inserted; in
        // one pass, since a field may fill millions of placeholders.
        const QByteArray placeholder = '%' + QByteArray::number(k);
        const qsizetype growth = field.size() - placeholder.size();
        if (growth > 0) {
            const qsizetype n = out.count(placeholder);
            if (n > 0 && n > (limit - out.size()) / growth)
                return std::nullopt;
        }
        out.replace(placeholder, field);
        ++k;
    }
    return out;
}

bool hasPlaceholder(QByteArrayView templ)
{
    for (qsizetype at = templ.indexOf('%'); at >= 0 && at + 1 < templ.size();
         at = templ.indexOf('%', at + 1)) {
        if (templ[at + 1] >= '1' && templ[at + 1] <= '9')
            return true;
    }
    return false;
}

OsError openError(const QString &path)
{
    // fopen reports the reason as the system gives it.
    errno = 0;
    if (std::FILE *f = std::fopen(QFile::encodeName(path).constData(), "rb")) {
        std::fclose(f);
        if (QFileInfo(path).isDir())
            return OsError{EISDIR, qt_error_string(EISDIR)};
        return OsError{EIO, qt_error_string(EIO)};
    }
    const int e = errno ? errno : ENOENT;
    return OsError{e, qt_error_string(e)};
}

} // namespace Merge

OsError MergeFile::open(const QString &path)
{
    close();
    m_error = OsError();
    m_file.setFileName(path);
    if (QFileInfo(path).isDir() || !m_file.open(QIODevice::ReadOnly)) {
        m_error = Merge::openError(path);
        return m_error;
    }
    return OsError();
}

bool MergeFile::fill()
{
    if (!m_file.isOpen() || m_file.atEnd())
        return false;
    if (m_pos > 0) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    const qsizetype had = m_buffer.size();
    m_buffer.resize(had + m_readBlock);
    const qint64 n = m_file.read(m_buffer.data() + had, m_readBlock);
    if (n < 0) {
        m_buffer.resize(had);
        m_error = OsError{EIO, m_file.errorString()};
        return false;
    }
    m_buffer.resize(had + n);
    return n > 0;
}

bool MergeFile::atEnd() const
{
    return !m_file.isOpen() || m_error.isError() || (m_pos >= m_buffer.size() && m_file.atEnd());
}

std::optional<QByteArray> MergeFile::readLine()
{
    if (m_error.isError())
        return std::nullopt;
    qsizetype scanned = m_pos;
    for (;;) {
        qsizetype eol = -1;
        for (qsizetype i = scanned; i < m_buffer.size(); ++i) {
            if (m_buffer[i] == '\r' || m_buffer[i] == '\n') {
                eol = i;
                break;
            }
        }
        if (eol >= 0) {
            // A CR at the end of the block may be the first half of CR LF.
            if (m_buffer[eol] == '\r' && eol + 1 == m_buffer.size() && !m_file.atEnd()) {
                const qsizetype offset = eol - m_pos;
                if (!fill() && m_error.isError())
                    return std::nullopt;
                eol = m_pos + offset;
            }
            QByteArray line = m_buffer.mid(m_pos, eol - m_pos);
            qsizetype next = eol + 1;
            if (m_buffer[eol] == '\r' && next < m_buffer.size() && m_buffer[next] == '\n')
                ++next;
            m_pos = next;
            return line;
        }
        scanned = m_buffer.size() - m_pos; // relative, fill() moves the data to the front
        if (!fill()) {
            if (m_error.isError() || m_pos >= m_buffer.size())
                return std::nullopt;
            // The last line has no line end.
            QByteArray line = m_buffer.mid(m_pos);
            m_pos = m_buffer.size();
            return line;
        }
        scanned += m_pos;
    }
}

std::optional<QByteArray> MergeFile::nextRecord(QByteArrayView templ)
{
    const bool placeholders = Merge::hasPlaceholder(templ);
    while (std::optional<QByteArray> line = readLine()) {
        if (placeholders && isBlankLine(*line))
            continue;
        std::optional<QByteArray> merged = Merge::mergeLine(templ, *line);
        if (!merged) {
            m_error = OsError{EFBIG, QStringLiteral("The merged text would be larger than %1 MB.")
                                         .arg(Merge::kMaxMergedBytes / (1024 * 1024))};
            return std::nullopt;
        }
        if (!merged->isEmpty())
            return merged;
    }
    return std::nullopt;
}

OsError MergeFile::close()
{
    m_buffer.clear();
    m_pos = 0;
    if (!m_file.isOpen())
        return OsError();
    m_file.close();
    if (m_file.error() != QFileDevice::NoError && m_file.error() != QFileDevice::OpenError)
        return OsError{EIO, m_file.errorString()};
    return OsError();
}
