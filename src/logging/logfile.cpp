#include "logging/logfile.h"

#include "logging/logformat.h"
#include "logging/logwriter.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
int openForAppending(const QString &path, OsError &error)
{
    if (path.isEmpty()) {
        error = OsError{ENOENT, qt_error_string(ENOENT)};
        return -1;
    }
    // Not blocking while opening: a pipe nobody reads is refused rather than
    // waited on. Writes, made by the writer thread, may block.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        const int e = errno;
        error = OsError{e, qt_error_string(e)};
        return fd;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}
} // namespace

LogFile::~LogFile()
{
    close();
}

OsError LogFile::open(const QString &path)
{
    discard();
    m_column = 0;
    OsError error;
    m_fd = openForAppending(path, error);
    return error;
}

OsError LogFile::touch(const QString &path)
{
    OsError error;
    const int fd = openForAppending(path, error);
    if (fd >= 0)
        ::close(fd);
    return error;
}

void LogFile::advanceColumn(QByteArrayView bytes)
{
    const qsizetype lastLineFeed = bytes.lastIndexOf('\n');
    m_column = lastLineFeed >= 0 ? bytes.size() - 1 - lastLineFeed : m_column + bytes.size();
}

void LogFile::write(QByteArrayView bytes)
{
    if (bytes.isEmpty() || m_fd < 0)
        return;
    advanceColumn(bytes);
    if (m_buffer.size() + bytes.size() > kBufferBytes)
        submit();
    if (bytes.size() >= kBufferBytes) {
        m_writer->write(m_fd, bytes.toByteArray());
        return;
    }
    if (m_buffer.capacity() < kBufferBytes)
        m_buffer.reserve(kBufferBytes);
    m_buffer.append(bytes);
}

void LogFile::write(const QByteArray &bytes)
{
    if (bytes.size() < kBufferBytes || m_fd < 0) {
        write(QByteArrayView(bytes));
        return;
    }
    // Large records skip the buffer: no copy, and memory stays bounded.
    advanceColumn(bytes);
    submit();
    m_writer->write(m_fd, bytes);
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

void LogFile::submit()
{
    if (!m_buffer.isEmpty() && m_fd >= 0)
        m_writer->write(m_fd, std::exchange(m_buffer, QByteArray()));
}

void LogFile::close()
{
    submit();
    discard();
}

void LogFile::discard()
{
    m_buffer.clear();
    if (m_fd >= 0) {
        m_writer->close(m_fd);
        m_fd = -1;
    }
}
