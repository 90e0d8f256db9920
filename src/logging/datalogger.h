#pragma once

#include "logging/logfile.h"
#include "logging/logwriter.h"
#include "options/settingsstore.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <functional>

/// The data logs: seven log types, each with its own file, on/off switch and
/// date/time choice, and one hex-dump choice for all data. Records are
/// written in the order the operations are called; files open on their
/// first record and append. Small records are buffered and handed to the
/// writer thread within kFlushMs; the writer writes everything in order. When
/// more than kHighWaterBytes wait for the disk, backlogChanged(true) asks for
/// the data to be held back until the writer has caught up.
///
/// A file that cannot be opened or written turns its type off (the setting
/// too) and loggingFailed() carries the message for the user.
class DataLogger : public QObject
{
    Q_OBJECT
public:
    enum Type
    {
        ClientToServer = 1,
        ServerToClient = 2,
        AllEvents = 3,
        Input = 4,
        Output = 5,
        SocketEvents = 6,
        States = 7
    };
    static constexpr int kFirstType = 1;
    static constexpr int kLastType = 7;
    static constexpr int kFlushMs = 200;
    static constexpr qint64 kHighWaterBytes = 16 * 1024 * 1024;
    static constexpr qint64 kLowWaterBytes = 4 * 1024 * 1024;
    /// Past this the caller waits for the disk: the data path is expected to
    /// have held its sources back long before.
    static constexpr qint64 kHardLimitBytes = 64 * 1024 * 1024;

    struct LogInfo
    {
        bool LogOn = false;
        bool IncludeDateTime = true;
        QString FileName;
    };

    explicit DataLogger(QObject *parent = nullptr);
    ~DataLogger() override;

    /// The default folder of the logs, inside the program's writable folder.
    static QString logFolder();
    /// The default full path of a type's file.
    static QString defaultFileName(int type);
    static QString tabCaption(int type);
    static QString indicatorLabel(int type);
    /// A file name as the settings keep it: a name without a folder lands in
    /// the log folder.
    static QString fullPath(const QString &fileName);

    /// Creates an empty file if there is none yet (the default folder too).
    static OsError createIfMissing(const QString &fileName);
    /// Deletes the file if it exists.
    static OsError removeFile(const QString &fileName);

    LogInfo GetLogInfo(int type) const;
    void SetLogInfo(int type, bool logOn, const QString &fileName, bool includeDateTime);
    bool IsLogInHex() const { return m_logInHex; }
    void setLogInHex(bool on) { m_logInHex = on; }

    /// Reads and writes sections "Logging\1" to "Logging\7" and "Logging".
    void LoadLoggingInformation();
    OsError SaveLoggingInformation();
    /// The keys SaveLoggingInformation writes, for a caller that saves them
    /// together with its own in one write.
    SettingsStore::Changes loggingSettings() const;
    /// Ends every open file with the stop line and closes it; the switches stay.
    void StopAllLogging();

    // Data operations (the data is not changed).
    void IncomingDataArrived(const QString &strSocket, const QByteArray &strData);
    void OutgoingDataArrived(const QByteArray &strData);
    void ClientToServerDataArrived(const QByteArray &strData);
    void ServerToClientDataArrived(const QByteArray &strData);
    // Text operations (one line each).
    void EventDataArrived(const QString &strText);
    void StateDataArrived(const QString &strText);

    bool isFileOpen(int type) const;
    /// Closes the file of a type if it is open, after the stop line when asked.
    void closeFile(int type, bool withStopLine);
    /// Writes every record so far to its file, and reports what failed.
    void flush();
    /// More is waiting for the disk than it should: hold the data back.
    bool backlogged() const { return m_backlogged; }

    /// "Log: " and the labels of the types that are on (7 down to 1), or empty.
    QString indicatorText() const;
    /// Announces the indicator text.
    void UpdateLogIndicator();

    /// Where the date stamps take the time from (the local clock unless set).
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    /// The date part of the stamps (the system's short date format unless set).
    void setDateFormat(const QString &format);

Q_SIGNALS:
    void indicatorChanged(const QString &text);
    /// A type's file could not be opened or written; its logging is now off.
    void loggingFailed(int type, const QString &message);
    void backlogChanged(bool backlogged);

private:
    static void makeDefaultFolderFor(const QString &fileName);
    void dataArrived(int type, QByteArrayView header, const QByteArray &data);
    void WriteToLog(int type, const QByteArray &text);
    void WriteToAllLog(QByteArrayView header, const QByteArray &text);
    /// The open file of a type, opened now if needed; null when that failed.
    LogFile *openFile(int type);
    void writeStamp(LogFile &file);
    void afterWrite(int type);
    void turnOff(int type, const QString &message);
    void handOver();
    void reportFailures();
    void onDrained();

    std::array<LogInfo, kLastType + 1> m_info;
    // Declared before the files: it outlives them and writes their last records.
    LogWriter m_writer;
    std::array<LogFile, kLastType + 1> m_files;
    bool m_backlogged = false;
    bool m_logInHex = false;
    QTimer m_flushTimer;
    std::function<QDateTime()> m_clock;
    QString m_dateFormat;
    QDate m_stampDate;
    QByteArray m_stampDateText;
};
