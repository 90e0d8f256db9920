#pragma once

#include "core/oserror.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

/// One log file open for appending, with a bounded write buffer. Small
/// records collect in the buffer; a record larger than the buffer goes to the
/// file at once. The first failing write is kept as the file's error, and
/// nothing more is written after it, so what reached the file before stays
/// as it was. The column (characters since the last line feed, or since the
/// file was opened) is what print zones are counted from.
class LogFile
{
public:
    static constexpr qsizetype kBufferBytes = 64 * 1024;

    LogFile() = default;
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;
    /// Writes what is buffered and closes; errors are not reported any more.
    ~LogFile();

    /// Opens (creating it if missing) for appending.
    OsError open(const QString &path);
    bool isOpen() const { return m_fd >= 0; }

    void write(QByteArrayView bytes);
    void writeSpaces(int count);
    /// Spaces up to the start of the next print zone.
    void advanceToNextZone();
    qint64 column() const { return m_column; }
    bool hasBuffered() const { return !m_buffer.isEmpty(); }

    /// Hands the buffer to the system.
    void flush();
    /// The first write that failed (no error while all went well).
    const OsError &error() const { return m_error; }
    /// Flushes and closes.
    void close();
    /// Closes without writing what is buffered (after an error).
    void discard();

private:
    void writeOut(const char *data, qsizetype size);

    int m_fd = -1;
    QByteArray m_buffer;
    qint64 m_column = 0;
    OsError m_error;
};
