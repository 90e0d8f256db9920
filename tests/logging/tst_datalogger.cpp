#include "logging/datalogger.h"
#include "logging/logformat.h"
#include "support/testenv.h"

#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using Type = DataLogger::Type;

const QDateTime kNow(QDate(2024, 6, 11), QTime(13, 45, 7, 89));
// The date format dd/MM/yyyy makes the 23-character stamp of the layout.
const QByteArray kStamp = "11/06/2024 13:45:07.089";

QByteArray spaces(int n)
{
    return QByteArray(n, ' ');
}

QByteArray everyByte()
{
    QByteArray data;
    for (int b = 0; b < 256; ++b)
        data += char(b);
    return data;
}

// A logger on a private settings file and folder, with a fixed clock.
struct Fixture
{
    TempSettings settings;
    DataLogger log;
    Fixture()
    {
        log.setClock([] { return kNow; });
        log.setDateFormat(QStringLiteral("dd/MM/yyyy"));
    }
    QString path(int type) const { return settings.dir() + QStringLiteral("/t%1.log").arg(type); }
    void on(int type, bool date, const QString &fileName = QString())
    {
        log.SetLogInfo(type, true, fileName.isEmpty() ? path(type) : fileName, date);
    }
    // One exchange touching every operation.
    void exchange()
    {
        log.IncomingDataArrived(QString(), "AB");
        log.IncomingDataArrived(QStringLiteral("2#: "), "CD");
        log.OutgoingDataArrived(everyByte());
        log.ClientToServerDataArrived("up");
        log.ServerToClientDataArrived("down");
        log.EventDataArrived(QStringLiteral("Gr\u00fc\u00dfe \u2713"));
        log.StateDataArrived(QStringLiteral("3#, Connected"));
    }
};

const QByteArray kEventBytes = "Gr\xfc\xdf"
                               "e \xe2\x9c\x93";
} // namespace

class TestDataLogger : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void hexDump_data();
    void hexDump();
    void records_data();
    void records();
    void failuresTurnTheLogOff_data();
    void failuresTurnTheLogOff();
    void failedWriteKeepsWhatCameBefore();
    void settingsAndDefaultFolder();
    void stopLinesAndIndicator();
    void recordsReachTheFileOnTheirOwn();
    void aSlowFileAsksToHoldTheDataBack();
};

void TestDataLogger::hexDump_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("dump");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("ABC") << QByteArray("ABC")
                         << QByteArray("    414243.. ........ ........ ........ : ABC             \r\n");
    QTest::newRow("16 bytes") << QByteArray("ABCDEFGHIJKLMNOP")
                              << QByteArray("    41424344 45464748 494A4B4C 4D4E4F50 : ABCDEFGHIJKLMNOP\r\n");
    QTest::newRow("17 bytes, unprintable")
        << QByteArray("a\\b\0c\x7f\xff"
                      "defghijk\rZ",
                      17)
        << QByteArray("    615C6200 637FFF64 65666768 696A6B0D : a.b.c..defghijk.\r\n"
                      "    5A...... ........ ........ ........ : Z               \r\n");
}

void TestDataLogger::hexDump()
{
    QFETCH(QByteArray, data);
    QTEST(LogFormat::HexDump(data), "dump");
}

void TestDataLogger::records_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("date");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QByteArray>("file");

    const QByteArray zone = spaces(5); // after the 23-character stamp
    const QByteArray s = kStamp + zone;
    const QByteArray ab = LogFormat::HexDump("AB");
    const QByteArray cd = LogFormat::HexDump("CD");
    QTest::newRow("input, exactly as received") << int(Type::Input) << false << false << QByteArray("ABCD");
    QTest::newRow("input dated") << int(Type::Input) << true << false << s + "AB\r\n" + s + "CD\r\n";
    QTest::newRow("input hex") << int(Type::Input) << false << true << ab + cd;
    QTest::newRow("input hex dated") << int(Type::Input) << true << true << s + ab + "\r\n" + s + cd + "\r\n";
    QTest::newRow("output, every byte") << int(Type::Output) << false << false << everyByte();
    QTest::newRow("client to server") << int(Type::ClientToServer) << false << false << QByteArray("up");
    QTest::newRow("server to client dated") << int(Type::ServerToClient) << true << false << s + "down\r\n";
    QTest::newRow("events") << int(Type::SocketEvents) << false << true << kEventBytes + "\r\n";
    QTest::newRow("events dated") << int(Type::SocketEvents) << true << false << s + kEventBytes + "\r\n";
    QTest::newRow("states") << int(Type::States) << false << false << QByteArray("3#, Connected\r\n");
    QTest::newRow("all") << int(Type::AllEvents) << false << false
                         << "Data has arrived:" + spaces(11) + "AB\r\n" +
                                "Data has arrived:2#: " + spaces(7) + "CD\r\n" +
                                "Data has been sent:" + spaces(9) + everyByte() + "\r\n" +
                                "Data from client to server: up\r\n" +
                                "Data from server to client: down\r\n" +
                                "Socket event occurred:" + spaces(6) + kEventBytes + "\r\n" +
                                "Socket state changed:" + spaces(7) + "3#, Connected\r\n";
    // The stamp's zone ends at column 28; each header then runs to the next zone.
    QTest::newRow("all dated, hex") << int(Type::AllEvents) << true << true
                                    << s + "Data has arrived:" + spaces(11) + ab + "\r\n\r\n" + s +
                                           "Data has arrived:2#: " + spaces(7) + cd + "\r\n\r\n" + s +
                                           "Data has been sent:" + spaces(9) +
                                           LogFormat::HexDump(everyByte()) + "\r\n\r\n" + s +
                                           "Data from client to server: " + LogFormat::HexDump("up") +
                                           "\r\n\r\n" + s +
                                           "Data from server to client: " + LogFormat::HexDump("down") +
                                           "\r\n\r\n" + s + "Socket event occurred:" + spaces(6) +
                                           kEventBytes + "\r\n" + s + "Socket state changed:" + spaces(7) +
                                           "3#, Connected\r\n";
}

void TestDataLogger::records()
{
    QFETCH(int, type);
    QFETCH(bool, date);
    QFETCH(bool, hex);
    QFETCH(QByteArray, file);
    Fixture f;
    for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n)
        f.log.SetLogInfo(n, n == type, f.path(n), date);
    f.log.setLogInHex(hex);
    f.exchange();
    f.log.flush();
    QCOMPARE(fileBytes(f.path(type)), file);
    // No other file was even created.
    for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n)
        QCOMPARE(QFile::exists(f.path(n)), n == type);
}

void TestDataLogger::failuresTurnTheLogOff_data()
{
    QTest::addColumn<QString>("fileName"); // "@" stands for the temporary folder
    QTest::addColumn<QString>("message");
    const QString end =
        QStringLiteral("\r\n\r\nThe logging for this particular type of event has been turned off.");
    QTest::newRow("folder is a file")
        << QStringLiteral("@/plain/x.log")
        << QStringLiteral(
               "An error occurred while attempting to open '@/plain/x.log'.  The operating system reports: "
               "20, Not a directory") +
               end;
    QTest::newRow("missing folder")
        << QStringLiteral("@/no such folder/\u00e9t\u00e9 log.log")
        << QStringLiteral(
               "An error occurred while attempting to open '@/no such folder/\u00e9t\u00e9 log.log'.  The "
               "operating system reports: 2, No such file or directory") +
               end;
    QTest::newRow("full disk")
        << QStringLiteral("/dev/full")
        << QStringLiteral("An error occurred while attempting to write to '/dev/full'.  The operating system "
                          "reports: 28, No space left on device") +
               end;
}

void TestDataLogger::failuresTurnTheLogOff()
{
    QFETCH(QString, fileName);
    QFETCH(QString, message);
    Fixture f;
    f.settings.underAFile({});
    fileName.replace(QLatin1Char('@'), f.settings.dir());
    message.replace(QLatin1Char('@'), f.settings.dir());
    QSignalSpy failed(&f.log, &DataLogger::loggingFailed);
    QSignalSpy indicator(&f.log, &DataLogger::indicatorChanged);
    f.on(Type::Input, false, fileName);
    f.on(Type::Output, false);

    f.log.IncomingDataArrived(QString(), "lost");
    f.log.OutgoingDataArrived("kept");
    f.log.flush();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed[0][0].toInt(), int(Type::Input));
    QCOMPARE(failed[0][1].toString(), message);
    QVERIFY(!f.log.GetLogInfo(Type::Input).LogOn);
    QCOMPARE(f.settings.store().Read(QStringLiteral("Logging\\4"), QStringLiteral("LogOn")),
             QStringLiteral("0"));
    QCOMPARE(indicator.last()[0].toString(), QStringLiteral("Log: Out "));

    // The next record of that type is ignored; the other log goes on.
    f.log.IncomingDataArrived(QString(), "again");
    f.log.OutgoingDataArrived("!");
    f.log.flush();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(fileBytes(f.path(Type::Output)), QByteArray("kept!"));
}

void TestDataLogger::failedWriteKeepsWhatCameBefore()
{
    // A file-size limit fills the "disk" part-way through a write.
    constexpr rlim_t kLimit = 100000;
    rlimit old{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &old) == 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    Fixture f;
    QSignalSpy failed(&f.log, &DataLogger::loggingFailed);
    f.on(Type::Input, false);
    QByteArray stream;
    for (int i = 0; stream.size() < 3 * qsizetype(kLimit); ++i)
        stream += QByteArray::number(i) + ' ';

    rlimit limited = old;
    limited.rlim_cur = kLimit;
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
    f.log.IncomingDataArrived(QString(), stream.left(60000));
    f.log.flush();
    QCOMPARE(failed.size(), 0);
    f.log.IncomingDataArrived(QString(), stream.mid(60000, 1000));
    f.log.IncomingDataArrived(QString(), stream.mid(61000));
    f.log.flush();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(failed.size(), 1);
    QVERIFY(failed[0][1].toString().contains(QStringLiteral("write to '")));
    QVERIFY(failed[0][1].toString().contains(QStringLiteral("reports: 27, File too large")));
    QCOMPARE(fileBytes(f.path(Type::Input)), stream.left(qsizetype(kLimit)));
}

void TestDataLogger::settingsAndDefaultFolder()
{
    // Stored values; words where a number belongs give the defaults.
    Fixture f;
    f.settings.writeIni("[Logging\\1]\nLogOn=2\nIncludeDateTime=0\n"
                        "[Logging\\4]\nLogOn=abc\nIncludeDateTime=abc\nFileName=/elsewhere/in.log\n"
                        "[Logging]\nLogInHex=1\n");
    f.log.LoadLoggingInformation();
    const QString folder = f.settings.path(QStringLiteral("log"));
    QCOMPARE(DataLogger::logFolder(), folder);
    const auto info = [](const DataLogger &log, int type) {
        const DataLogger::LogInfo i = log.GetLogInfo(type);
        return QStringList{QString::number(i.LogOn), QString::number(i.IncludeDateTime), i.FileName};
    };
    QCOMPARE(info(f.log, Type::ClientToServer),
             (QStringList{QStringLiteral("1"), QStringLiteral("0"),
                          folder + QStringLiteral("/ClientToServer.log")}));
    QCOMPARE(info(f.log, Type::Input),
             (QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("/elsewhere/in.log")}));
    QCOMPARE(info(f.log, Type::AllEvents).last(), folder + QStringLiteral("/Tarnwell.log"));
    QVERIFY(f.log.IsLogInHex());

    // A bare name lands in the log folder, which is made on first use.
    QVERIFY(!QFileInfo::exists(folder));
    f.log.setLogInHex(false);
    f.log.SetLogInfo(Type::Input, true, QStringLiteral("mine.log"), false);
    f.log.IncomingDataArrived(QString(), "x");
    f.log.flush();
    QCOMPARE(fileBytes(folder + QStringLiteral("/mine.log")), QByteArray("x"));

    // What is saved reads back the same in the next run.
    f.log.SaveLoggingInformation();
    f.settings.reopen();
    DataLogger again;
    again.LoadLoggingInformation();
    for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n)
        QCOMPARE(info(again, n), info(f.log, n));
    QVERIFY(!again.IsLogInHex());
}

void TestDataLogger::stopLinesAndIndicator()
{
    Fixture f;
    for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n)
        f.on(n, false);
    QCOMPARE(f.log.indicatorText(), QStringLiteral("Log: States Events Out In All S2C C2S "));
    f.log.OutgoingDataArrived("x");
    f.log.StopAllLogging();
    // Only files that were written get the stop line; the switches stay on.
    const QByteArray stop = "--------------- Logging Stopped ---------\r\n";
    // The zones count from the line's start: "x" is on this line already.
    QCOMPARE(fileBytes(f.path(Type::Output)), "x" + kStamp + spaces(4) + stop);
    QCOMPARE(fileBytes(f.path(Type::AllEvents)),
             "Data has been sent:" + spaces(9) + "x\r\n" + kStamp + spaces(5) + stop);
    QVERIFY(!QFileInfo::exists(f.path(Type::Input)));
    QVERIFY(f.log.GetLogInfo(Type::Input).LogOn);

    // The next record opens the file again and appends.
    f.log.OutgoingDataArrived("y");
    f.log.closeFile(Type::Output, false);
    QCOMPARE(fileBytes(f.path(Type::Output)), "x" + kStamp + spaces(4) + stop + "y");
    for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n)
        f.log.SetLogInfo(n, false, f.path(n), false);
    QCOMPARE(f.log.indicatorText(), QString());
}

void TestDataLogger::recordsReachTheFileOnTheirOwn()
{
    Fixture f;
    f.on(Type::Input, false);
    f.log.IncomingDataArrived(QString(), "soon");
    QTRY_COMPARE(fileBytes(f.path(Type::Input)), QByteArray("soon"));
}

void TestDataLogger::aSlowFileAsksToHoldTheDataBack()
{
    // A pipe stands for a disk that takes the data only as fast as the test reads it.
    Fixture f;
    const QString pipe = f.settings.dir() + QStringLiteral("/pipe.log");
    QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    QSignalSpy failed(&f.log, &DataLogger::loggingFailed);
    f.on(Type::Input, false, pipe);
    f.log.IncomingDataArrived(QString(), "nobody reads");
    QCOMPARE(failed.size(), 1); // refused, not waited on

    const int reader = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    // Whatever happens, the reader goes first: the writer then stops waiting.
    const auto closeReader = qScopeGuard([reader] { ::close(reader); });
    QSignalSpy backlog(&f.log, &DataLogger::backlogChanged);
    f.on(Type::Input, false, pipe);
    QByteArray stream;
    for (int i = 0; stream.size() <= DataLogger::kHighWaterBytes + 1024 * 1024; ++i)
        stream += QByteArray::number(i) + ' ';
    f.log.IncomingDataArrived(QString(), stream.left(1000));
    f.log.IncomingDataArrived(QString(), stream.mid(1000));
    QCOMPARE(backlog.size(), 1);
    QCOMPARE(backlog[0][0].toBool(), true);

    // Once the file has taken most of it, the data may flow again.
    QByteArray got;
    // Reads for as long as the writer keeps the pipe busy.
    auto readSome = [&] {
        char buffer[65536];
        for (pollfd p{reader, POLLIN, 0}; ::poll(&p, 1, 10) > 0;) {
            const ssize_t n = ::read(reader, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, n);
        }
        return got.size();
    };
    QTRY_VERIFY_WITH_TIMEOUT((readSome(), backlog.size() == 2), 20000);
    QCOMPARE(backlog[1][0].toBool(), false);
    QTRY_COMPARE_WITH_TIMEOUT(readSome(), stream.size(), 20000);
    QCOMPARE(got, stream);
}

QTEST_GUILESS_MAIN(TestDataLogger)
#include "tst_datalogger.moc"
