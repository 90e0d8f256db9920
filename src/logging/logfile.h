#pragma once

#include "core/oserror.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class LogWriter;

/// One log file open for appending. Small records collect in a bounded
/// buffer that is handed to the writer when full or when asked; a record
/// larger than the buffer is handed over as it is, without a copy. The column
/// (characters since the last line feed, or since the file was opened) is
/// what print zones are counted from.
class LogFile
{
public:
    static constexpr qsizetype kBufferBytes = 64 * 1024;

    LogFile() = default;
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;
    /// Hands over what is buffered and has the file closed after it.
    ~LogFile();

    void setWriter(LogWriter *writer) { m_writer = writer; }
    /// Opens (creating it if missing) for appending.
    OsError open(const QString &path);
    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    void write(QByteArrayView bytes);
    /// As above; a large record is shared with the writer rather than copied.
    void write(const QByteArray &bytes);
    void writeSpaces(int count);
    /// Spaces up to the start of the next print zone.
    void advanceToNextZone();
    qint64 column() const { return m_column; }
    bool hasBuffered() const { return !m_buffer.isEmpty(); }

    /// Hands the buffer to the writer.
    void submit();
    /// Hands over the buffer and has the file closed after it.
    void close();
    /// Has the file closed without what is buffered (after a failure).
    void discard();

    /// Opens (creating it if missing) and closes at once.
    static OsError touch(const QString &path);

private:
    void advanceColumn(QByteArrayView bytes);

    LogWriter *m_writer = nullptr;
    int m_fd = -1;
    QByteArray m_buffer;
    qint64 m_column = 0;
};
