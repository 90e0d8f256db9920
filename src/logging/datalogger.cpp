#include "logging/datalogger.h"

#include "core/bytes.h"
#include "core/programfolder.h"
#include "logging/logformat.h"
#include "options/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <cerrno>
#include <unistd.h>

namespace {
struct TypeInfo
{
    const char *caption;
    const char *fileName;
    const char *label;
};
// Indexed by type - 1.
constexpr TypeInfo kTypes[] = {
    {"Client to Server", "ClientToServer.log", "C2S "},
    {"Server to Client", "ServerToClient.log", "S2C "},
    {"All Application Events", "Tarnwell.log", "All "},
    {"Input", "Incoming.log", "In "},
    {"Output", "Outgoing.log", "Out "},
    {"Socket Events", "SocketEvents.log", "Events "},
    {"State", "States.log", "States "},
};

const QString kLogging = QStringLiteral("Logging");
const QString kFailureEnd =
    QStringLiteral("\r\n\r\nThe logging for this particular type of event has been turned off.");

bool validType(int type)
{
    return type >= DataLogger::kFirstType && type <= DataLogger::kLastType;
}

QString section(int type)
{
    return kLogging + QLatin1Char('\\') + QString::number(type);
}

// "1"/"0" settings are read as numbers: anything but zero is on.
bool readSwitch(const QString &section, const QString &key, bool defaultValue)
{
    bool ok = false;
    const double v =
        SettingsStore::instance().Read(section, key, defaultValue ? 1 : 0).trimmed().toDouble(&ok);
    return ok ? v != 0 : defaultValue;
}

QString switchText(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

QString failure(const char *action, const QString &fileName, const OsError &error)
{
    return QStringLiteral("An error occurred while attempting to ") + QLatin1String(action) +
           QStringLiteral(" '") + fileName + QStringLiteral("'.  The operating system reports: ") +
           QString::number(error.number) + QStringLiteral(", ") + error.description + kFailureEnd;
}

constexpr QByteArrayView kCrLf("\r\n");
} // namespace

DataLogger::DataLogger(QObject *parent) : QObject(parent)
{
    for (int n = kFirstType; n <= kLastType; ++n)
        m_info[n].FileName = defaultFileName(n);
    m_dateFormat = QLocale::system().dateFormat(QLocale::ShortFormat);
    m_clock = [] { return QDateTime::currentDateTime(); };
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kFlushMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &DataLogger::handOver);
    for (LogFile &file : m_files)
        file.setWriter(&m_writer);
    // The writer's thread only posts; the work is done on this one.
    m_writer.setNotifications(
        [this] { QMetaObject::invokeMethod(this, &DataLogger::reportFailures, Qt::QueuedConnection); },
        [this] { QMetaObject::invokeMethod(this, &DataLogger::onDrained, Qt::QueuedConnection); },
        kHighWaterBytes, kLowWaterBytes);
}

DataLogger::~DataLogger()
{
    m_writer.setNotifications({}, {}, 0, 0);
}

QString DataLogger::logFolder()
{
    return ProgramFolder::writableDir() + QStringLiteral("/log");
}

QString DataLogger::defaultFileName(int type)
{
    return validType(type) ? logFolder() + QLatin1Char('/') + QLatin1String(kTypes[type - 1].fileName)
                           : QString();
}

QString DataLogger::tabCaption(int type)
{
    return validType(type) ? QString::fromLatin1(kTypes[type - 1].caption) : QString();
}

QString DataLogger::indicatorLabel(int type)
{
    return validType(type) ? QString::fromLatin1(kTypes[type - 1].label) : QString();
}

QString DataLogger::fullPath(const QString &fileName)
{
    if (fileName.isEmpty())
        return fileName;
    QString name = fileName;
    if (name.startsWith(QStringLiteral("~/")))
        name = QDir::homePath() + name.mid(1);
    if (QDir::isRelativePath(name))
        name = logFolder() + QLatin1Char('/') + name;
    return QDir::cleanPath(name);
}

DataLogger::LogInfo DataLogger::GetLogInfo(int type) const
{
    return validType(type) ? m_info[type] : LogInfo();
}

void DataLogger::SetLogInfo(int type, bool logOn, const QString &fileName, bool includeDateTime)
{
    if (!validType(type))
        return;
    m_info[type] = LogInfo{logOn, includeDateTime, fullPath(fileName)};
}

void DataLogger::LoadLoggingInformation()
{
    SettingsStore &store = SettingsStore::instance();
    for (int n = kFirstType; n <= kLastType; ++n) {
        const QString name = store.Read(section(n), QStringLiteral("FileName"), defaultFileName(n));
        SetLogInfo(n, readSwitch(section(n), QStringLiteral("LogOn"), false),
                   name.isEmpty() ? defaultFileName(n) : name,
                   readSwitch(section(n), QStringLiteral("IncludeDateTime"), true));
    }
    m_logInHex = readSwitch(kLogging, QStringLiteral("LogInHex"), false);
}

SettingsStore::Changes DataLogger::loggingSettings() const
{
    SettingsStore::Changes c;
    for (int n = kFirstType; n <= kLastType; ++n) {
        c.append({section(n), QStringLiteral("LogOn"), switchText(m_info[n].LogOn)});
        c.append({section(n), QStringLiteral("FileName"), m_info[n].FileName});
        c.append({section(n), QStringLiteral("IncludeDateTime"), switchText(m_info[n].IncludeDateTime)});
    }
    c.append({kLogging, QStringLiteral("LogInHex"), switchText(m_logInHex)});
    return c;
}

OsError DataLogger::SaveLoggingInformation()
{
    return SettingsStore::instance().SaveMany(loggingSettings());
}

void DataLogger::StopAllLogging()
{
    for (int n = kFirstType; n <= kLastType; ++n)
        closeFile(n, true);
}

void DataLogger::IncomingDataArrived(const QString &strSocket, const QByteArray &strData)
{
    if (!m_info[Input].LogOn && !m_info[AllEvents].LogOn)
        return;
    dataArrived(Input, QByteArray("Data has arrived:") + Bytes::fromText(strSocket), strData);
}

void DataLogger::OutgoingDataArrived(const QByteArray &strData)
{
    dataArrived(Output, "Data has been sent:", strData);
}

void DataLogger::ClientToServerDataArrived(const QByteArray &strData)
{
    dataArrived(ClientToServer, "Data from client to server:", strData);
}

void DataLogger::ServerToClientDataArrived(const QByteArray &strData)
{
    dataArrived(ServerToClient, "Data from server to client:", strData);
}

void DataLogger::EventDataArrived(const QString &strText)
{
    if (!m_info[SocketEvents].LogOn && !m_info[AllEvents].LogOn)
        return;
    const QByteArray text = Bytes::fromText(strText);
    WriteToLog(SocketEvents, text);
    WriteToAllLog("Socket event occurred:", text);
}

void DataLogger::StateDataArrived(const QString &strText)
{
    if (!m_info[States].LogOn && !m_info[AllEvents].LogOn)
        return;
    const QByteArray text = Bytes::fromText(strText);
    WriteToLog(States, text);
    WriteToAllLog("Socket state changed:", text);
}

void DataLogger::dataArrived(int type, QByteArrayView header, const QByteArray &data)
{
    // Nothing to do when neither the type's log nor the combined one is on.
    if (!m_info[type].LogOn && !m_info[AllEvents].LogOn)
        return;
    if (m_logInHex) {
        // The combined log gets the same text, blank line included.
        QByteArray dump = LogFormat::HexDump(data);
        if (m_info[type].IncludeDateTime)
            dump += kCrLf;
        WriteToLog(type, dump);
        WriteToAllLog(header, dump);
    } else {
        WriteToLog(type, data);
        WriteToAllLog(header, data);
    }
}

void DataLogger::WriteToLog(int type, const QByteArray &text)
{
    const LogInfo &info = m_info[type];
    if (!info.LogOn)
        return;
    LogFile *file = openFile(type);
    if (!file)
        return;
    if (info.IncludeDateTime) {
        writeStamp(*file);
        file->advanceToNextZone();
    }
    file->write(text);
    // A data log without date and hex holds the data exactly as it passed.
    if (type == SocketEvents || type == States || (!m_logInHex && info.IncludeDateTime))
        file->write(kCrLf);
    afterWrite(type);
}

void DataLogger::WriteToAllLog(QByteArrayView header, const QByteArray &text)
{
    if (!m_info[AllEvents].LogOn)
        return;
    LogFile *file = openFile(AllEvents);
    if (!file)
        return;
    if (m_info[AllEvents].IncludeDateTime) {
        writeStamp(*file);
        file->advanceToNextZone();
    }
    file->write(header);
    file->advanceToNextZone();
    file->write(text);
    file->write(kCrLf);
    afterWrite(AllEvents);
}

void DataLogger::makeDefaultFolderFor(const QString &fileName)
{
    // The default folder is made on first use; any other folder must exist.
    if (!fileName.isEmpty() && QFileInfo(fileName).absolutePath() == QDir::cleanPath(logFolder()))
        QDir().mkpath(logFolder());
}

OsError DataLogger::createIfMissing(const QString &fileName)
{
    if (!fileName.isEmpty() && QFileInfo::exists(fileName))
        return OsError();
    makeDefaultFolderFor(fileName);
    return LogFile::touch(fileName);
}

OsError DataLogger::removeFile(const QString &fileName)
{
    if (fileName.isEmpty() || !QFileInfo(fileName).exists())
        return OsError();
    if (::unlink(QFile::encodeName(fileName).constData()) != 0) {
        const int e = errno;
        return OsError{e, qt_error_string(e)};
    }
    return OsError();
}

LogFile *DataLogger::openFile(int type)
{
    LogFile &file = m_files[type];
    if (file.isOpen())
        return &file;
    const QString &name = m_info[type].FileName;
    makeDefaultFolderFor(name);
    if (const OsError error = file.open(name); error.isError()) {
        turnOff(type, failure("open", name, error));
        return nullptr;
    }
    return &file;
}

void DataLogger::writeStamp(LogFile &file)
{
    const QDateTime now = m_clock();
    if (now.date() != m_stampDate || m_stampDateText.isEmpty()) {
        m_stampDate = now.date();
        m_stampDateText = Bytes::fromText(now.date().toString(m_dateFormat));
    }
    file.write(m_stampDateText);
    file.write(QByteArrayView(" "));
    file.write(Bytes::fromText(Bytes::GetTime(true, now.time())));
}

void DataLogger::setDateFormat(const QString &format)
{
    m_dateFormat = format;
    m_stampDateText.clear();
}

void DataLogger::afterWrite(int type)
{
    if (m_files[type].hasBuffered() && !m_flushTimer.isActive())
        m_flushTimer.start();
    const qint64 queued = m_writer.queuedBytes();
    if (queued > kHardLimitBytes)
        m_writer.waitBelow(kHighWaterBytes);
    if (!m_backlogged && queued > kHighWaterBytes) {
        m_backlogged = true;
        Q_EMIT backlogChanged(true);
    }
}

void DataLogger::onDrained()
{
    // Above the high water again by now, the writer tells again when drained.
    if (m_backlogged && m_writer.queuedBytes() <= kHighWaterBytes) {
        m_backlogged = false;
        Q_EMIT backlogChanged(false);
    }
}

bool DataLogger::isFileOpen(int type) const
{
    return validType(type) && m_files[type].isOpen();
}

void DataLogger::closeFile(int type, bool withStopLine)
{
    if (!isFileOpen(type))
        return;
    LogFile &file = m_files[type];
    if (withStopLine) {
        writeStamp(file);
        file.advanceToNextZone();
        file.write(QByteArrayView(LogFormat::kStopLine));
        file.write(kCrLf);
    }
    // Whole on disk, or its failure told, before the file is let go.
    file.submit();
    m_writer.waitIdle();
    reportFailures();
    if (file.isOpen())
        file.close();
}

void DataLogger::handOver()
{
    m_flushTimer.stop();
    for (LogFile &file : m_files)
        file.submit();
    reportFailures();
}

void DataLogger::flush()
{
    handOver();
    m_writer.waitIdle();
    reportFailures();
}

void DataLogger::reportFailures()
{
    for (const LogWriter::Failure &failure : m_writer.takeFailures()) {
        for (int n = kFirstType; n <= kLastType; ++n) {
            if (m_files[n].isOpen() && m_files[n].fd() == failure.fd)
                turnOff(n, ::failure("write to", m_info[n].FileName, failure.error));
        }
    }
}

void DataLogger::turnOff(int type, const QString &message)
{
    // Settled before anyone is told: the message may run events that log.
    m_files[type].discard();
    m_info[type].LogOn = false;
    SettingsStore::instance().Save(section(type), QStringLiteral("LogOn"), switchText(false));
    UpdateLogIndicator();
    Q_EMIT loggingFailed(type, message);
}

QString DataLogger::indicatorText() const
{
    QString labels;
    for (int n = kLastType; n >= kFirstType; --n) {
        if (m_info[n].LogOn)
            labels += indicatorLabel(n);
    }
    return labels.isEmpty() ? QString() : QStringLiteral("Log: ") + labels;
}

void DataLogger::UpdateLogIndicator()
{
    Q_EMIT indicatorChanged(indicatorText());
}
