#include "logging/logfile.h"

#include "logging/logformat.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
OsError errnoError(int e)
{
    return OsError{e, qt_error_string(e)};
}
} // namespace

LogFile::~LogFile()
{
    close();
}

OsError LogFile::open(const QString &path)
{
    discard();
    m_error = OsError();
    m_column = 0;
    if (path.isEmpty())
        return errnoError(ENOENT);
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return errnoError(errno);
    m_fd = fd;
    return OsError();
}

void LogFile::write(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    const qsizetype lastLineFeed = bytes.lastIndexOf('\n');
    m_column = lastLineFeed >= 0 ? bytes.size() - 1 - lastLineFeed : m_column + bytes.size();
    if (m_buffer.size() + bytes.size() <= kBufferBytes) {
        if (m_buffer.capacity() < kBufferBytes)
            m_buffer.reserve(kBufferBytes);
        m_buffer.append(bytes);
        return;
    }
    flush();
    // Large records skip the buffer: no copy, and memory stays bounded.
    if (bytes.size() >= kBufferBytes)
        writeOut(bytes.data(), bytes.size());
    else
        m_buffer.append(bytes);
}

void LogFile::writeSpaces(int count)
{
    static const QByteArray spaces(LogFormat::kZoneWidth, ' ');
    while (count > 0) {
        const int n = std::min(count, int(spaces.size()));
        write(QByteArrayView(spaces.constData(), n));
        count -= n;
    }
}

void LogFile::advanceToNextZone()
{
    writeSpaces(LogFormat::spacesToNextZone(m_column));
}

void LogFile::flush()
{
    if (!m_buffer.isEmpty()) {
        writeOut(m_buffer.constData(), m_buffer.size());
        m_buffer.resize(0);
    }
}

void LogFile::writeOut(const char *data, qsizetype size)
{
    if (m_fd < 0 || m_error.isError())
        return;
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = errnoError(n < 0 ? errno : ENOSPC);
            return;
        }
        data += n;
        size -= n;
    }
}

void LogFile::close()
{
    flush();
    discard();
}

void LogFile::discard()
{
    m_buffer.clear();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
