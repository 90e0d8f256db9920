#include "core/optionssource.h"
#include "logging/datalogger.h"
#include "logging/frmevent.h"
#include "logging/frmlogging.h"
#include "logging/frmstate.h"
#include "logging/historymodel.h"
#include "logging/logformat.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTreeView>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using Type = DataLogger::Type;

// The date format dd/MM/yyyy makes the 23-character stamp of the layout.
const QByteArray kStamp = "11/06/2024 13:45:07.089";
const QByteArray kStop = "--------------- Logging Stopped ---------\r\n";
const QByteArray kEventBytes = "Gr\xfc\xdf"
                               "e \xe2\x9c\x93";

QByteArray spaces(int n)
{
    return QByteArray(n, ' ');
}

void fixClock(DataLogger &log)
{
    log.setClock([] { return QDateTime(QDate(2024, 6, 11), QTime(13, 45, 7, 89)); });
    log.setDateFormat(QStringLiteral("dd/MM/yyyy"));
}

// A logger on a private settings file and folder, with a fixed clock.
struct Fixture
{
    TempSettings settings;
    DataLogger log;
    QSignalSpy failed{&log, &DataLogger::loggingFailed};
    Fixture() { fixClock(log); }
    QString path(int type) const { return settings.dir() + QStringLiteral("/t%1.log").arg(type); }
    void on(int type, const QString &fileName = QString())
    {
        log.SetLogInfo(type, true, fileName.isEmpty() ? path(type) : fileName, false);
    }
};

// The logging window, prepared from a private settings file.
struct Window
{
    TempSettings settings;
    ScriptedUi ui;
    frmLogging w;
    Window()
    {
        fixClock(w.logger());
        w.LoadLoggingInformation();
    }
    QString path(const QString &name) const { return settings.path(name); }
    // Shows a tab's fields, points its log at a file and switches it on or off.
    void setLog(int type, const QString &name, bool on, bool date = false)
    {
        w.tabMode->setCurrentIndex(type - 1);
        if (w.chkLog->isChecked())
            w.chkLog->click();
        w.txtFileName->setText(path(name));
        w.chkIncludeDateTime->setChecked(date);
        if (on)
            w.chkLog->click();
    }
};

QStringList column(const HistoryWindow &w, int col)
{
    QStringList out;
    for (int r = 0; r < w.rowCount(); ++r)
        out << w.model()->text(r, col);
    return out;
}

QStringList spied(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).toString();
    return out;
}
} // namespace

class TestLogging : public QObject
{
    Q_OBJECT
private:
    // The histories' options and event window.
    DefaultOptions m_options;
    std::unique_ptr<frmEvent> m_events;
    std::unique_ptr<QAbstractItemModelTester> m_tester;

private Q_SLOTS:
    void init()
    {
        m_options = DefaultOptions();
        tw::setOptions(&m_options);
        m_events = std::make_unique<frmEvent>();
        tw::setEventLog(m_events.get());
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_events->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    void cleanup()
    {
        m_tester.reset();
        tw::setEventLog(nullptr);
        m_events.reset();
        tw::setOptions(nullptr);
    }

    void hexDump_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("dump");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("ABC") << QByteArray("ABC")
                             << QByteArray("    414243.. ........ ........ ........ : ABC             \r\n");
        QTest::newRow("16 bytes") << QByteArray("ABCDEFGHIJKLMNOP")
                                  << QByteArray(
                                         "    41424344 45464748 494A4B4C 4D4E4F50 : ABCDEFGHIJKLMNOP\r\n");
        QTest::newRow("17 bytes, unprintable")
            << QByteArray("a\\b\0c\x7f\xff"
                          "defghijk\rZ",
                          17)
            << QByteArray("    615C6200 637FFF64 65666768 696A6B0D : a.b.c..defghijk.\r\n"
                          "    5A...... ........ ........ ........ : Z               \r\n");
    }
    void hexDump()
    {
        QFETCH(QByteArray, data);
        QTEST(LogFormat::HexDump(data), "dump");
    }

    void records_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("date");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QByteArray>("file");
        const QByteArray s = kStamp + spaces(5); // the stamp's zone ends at column 28
        const QByteArray ab = LogFormat::HexDump("AB");
        const QByteArray cd = LogFormat::HexDump("CD");
        QTest::newRow("input, exactly as received")
            << int(Type::Input) << false << false << QByteArray("ABCD");
        QTest::newRow("input dated") << int(Type::Input) << true << false << s + "AB\r\n" + s + "CD\r\n";
        QTest::newRow("input hex") << int(Type::Input) << false << true << ab + cd;
        QTest::newRow("input hex dated")
            << int(Type::Input) << true << true << s + ab + "\r\n" + s + cd + "\r\n";
        QTest::newRow("output, every byte") << int(Type::Output) << false << false << everyByte();
        QTest::newRow("client to server") << int(Type::ClientToServer) << false << false << QByteArray("up");
        QTest::newRow("server to client dated")
            << int(Type::ServerToClient) << true << false << s + "down\r\n";
        QTest::newRow("events") << int(Type::SocketEvents) << false << true << kEventBytes + "\r\n";
        QTest::newRow("events dated") << int(Type::SocketEvents) << true << false << s + kEventBytes + "\r\n";
        QTest::newRow("states") << int(Type::States) << false << false << QByteArray("3#, Connected\r\n");
        // In the all-events log each header runs to the zone at column 28; data is dumped in hex.
        QByteArray all, allDatedHex;
        const std::pair<QByteArray, QByteArray> kinds[] = {{"Data has arrived:", "AB"},
                                                           {"Data has arrived:2#: ", "CD"},
                                                           {"Data has been sent:", everyByte()},
                                                           {"Data from client to server: ", "up"},
                                                           {"Data from server to client: ", "down"},
                                                           {"Socket event occurred:", kEventBytes},
                                                           {"Socket state changed:", "3#, Connected"}};
        for (const auto &[header, payload] : kinds) {
            all += header.leftJustified(28) + payload + "\r\n";
            allDatedHex +=
                s + header.leftJustified(28) +
                (header.startsWith("Data") ? LogFormat::HexDump(payload) + "\r\n\r\n" : payload + "\r\n");
        }
        QTest::newRow("all") << int(Type::AllEvents) << false << false << all;
        QTest::newRow("all dated, hex") << int(Type::AllEvents) << true << true << allDatedHex;
    }
    void records()
    {
        QFETCH(int, type);
        QFETCH(bool, date);
        QFETCH(bool, hex);
        Fixture f;
        for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n)
            f.log.SetLogInfo(n, n == type, f.path(n), date);
        f.log.setLogInHex(hex);
        f.log.IncomingDataArrived(QString(), "AB");
        f.log.IncomingDataArrived(QStringLiteral("2#: "), "CD");
        f.log.OutgoingDataArrived(everyByte());
        f.log.ClientToServerDataArrived("up");
        f.log.ServerToClientDataArrived("down");
        f.log.EventDataArrived(QStringLiteral("Gr\u00fc\u00dfe \u2713"));
        f.log.StateDataArrived(QStringLiteral("3#, Connected"));
        f.log.flush();
        QTEST(fileBytes(f.path(type)), "file");
        // No other file was even created.
        for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n)
            QCOMPARE(QFile::exists(f.path(n)), n == type);
    }

    void failuresTurnTheLogOff_data()
    {
        QTest::addColumn<QString>("fileName"); // "@" stands for the temporary folder
        QTest::addColumn<QString>("message");  // after "An error occurred while attempting to "
        const auto row = [](const char *name, const char *verb, const QString &file, const char *reason) {
            QTest::newRow(name) << file
                                << QString::fromLatin1(verb) + QStringLiteral(" '") + file +
                                       QStringLiteral("'.  The operating system reports: ") +
                                       QString::fromLatin1(reason);
        };
        row("folder is a file", "open", QStringLiteral("@/plain/x.log"), "20, Not a directory");
        row("missing folder", "open", QStringLiteral("@/no such folder/\u00e9t\u00e9 log.log"),
            "2, No such file or directory");
        row("full disk", "write to", QStringLiteral("/dev/full"), "28, No space left on device");
    }
    void failuresTurnTheLogOff()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, message);
        Fixture f;
        f.settings.underAFile({});
        fileName.replace(QLatin1Char('@'), f.settings.dir());
        message.replace(QLatin1Char('@'), f.settings.dir());
        QSignalSpy indicator(&f.log, &DataLogger::indicatorChanged);
        f.on(Type::Input, fileName);
        f.on(Type::Output);
        f.log.IncomingDataArrived(QString(), "lost");
        f.log.OutgoingDataArrived("kept");
        f.log.flush();
        QCOMPARE(f.failed.size(), 1);
        QCOMPARE(f.failed[0][0].toInt(), int(Type::Input));
        QCOMPARE(
            f.failed[0][1].toString(),
            QStringLiteral("An error occurred while attempting to ") + message +
                QStringLiteral("\r\n\r\nThe logging for this particular type of event has been turned off."));
        QVERIFY(!f.log.GetLogInfo(Type::Input).LogOn);
        QCOMPARE(f.settings.store().Read(QStringLiteral("Logging\\4"), QStringLiteral("LogOn")),
                 QStringLiteral("0"));
        QCOMPARE(indicator.last()[0].toString(), QStringLiteral("Log: Out "));

        // The next record of that type is ignored; the other log goes on.
        f.log.IncomingDataArrived(QString(), "again");
        f.log.OutgoingDataArrived("!");
        f.log.flush();
        QCOMPARE(f.failed.size(), 1);
        QCOMPARE(fileBytes(f.path(Type::Output)), QByteArray("kept!"));
    }

    void failedWriteKeepsWhatCameBefore()
    {
        // A file-size limit fills the "disk" part-way through a write.
        constexpr rlim_t kLimit = 100000;
        rlimit old{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &old) == 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        Fixture f;
        f.on(Type::Input);
        QByteArray stream;
        for (int i = 0; stream.size() < 3 * qsizetype(kLimit); ++i)
            stream += QByteArray::number(i) + ' ';
        rlimit limited = old;
        limited.rlim_cur = kLimit;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
        f.log.IncomingDataArrived(QString(), stream.left(60000));
        f.log.flush();
        QCOMPARE(f.failed.size(), 0);
        f.log.IncomingDataArrived(QString(), stream.mid(60000, 1000));
        f.log.IncomingDataArrived(QString(), stream.mid(61000));
        f.log.flush();
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QCOMPARE(f.failed.size(), 1);
        QVERIFY(f.failed[0][1].toString().contains(QStringLiteral("write to '")));
        QVERIFY(f.failed[0][1].toString().contains(QStringLiteral("reports: 27, File too large")));
        QCOMPARE(fileBytes(f.path(Type::Input)), stream.left(qsizetype(kLimit)));
    }

    void settingsAndDefaultFolder()
    {
        // Stored values; words where a number belongs give the defaults.
        Fixture f;
        f.settings.writeIni("[Logging\\1]\nLogOn=2\nIncludeDateTime=0\n"
                            "[Logging\\4]\nLogOn=abc\nIncludeDateTime=abc\nFileName=/elsewhere/in.log\n"
                            "[Logging]\nLogInHex=1\n");
        f.log.LoadLoggingInformation();
        const QString folder = f.settings.path(QStringLiteral("log"));
        const auto info = [](const DataLogger &log, int type) {
            const DataLogger::LogInfo i = log.GetLogInfo(type);
            return QStringList{QString::number(i.LogOn), QString::number(i.IncludeDateTime), i.FileName};
        };
        QCOMPARE(info(f.log, Type::ClientToServer),
                 (QStringList{QStringLiteral("1"), QStringLiteral("0"),
                              folder + QStringLiteral("/ClientToServer.log")}));
        QCOMPARE(info(f.log, Type::Input), texts({"0", "1", "/elsewhere/in.log"}));
        QVERIFY(f.log.IsLogInHex());

        // A bare name lands in the log folder, which is made on first use;
        // records reach the file on their own, without a flush.
        QVERIFY(!QFileInfo::exists(folder));
        f.log.setLogInHex(false);
        f.log.SetLogInfo(Type::Input, true, QStringLiteral("mine.log"), false);
        f.log.IncomingDataArrived(QString(), "x");
        QTRY_COMPARE(fileBytes(folder + QStringLiteral("/mine.log")), QByteArray("x"));

        // What is saved reads back the same in the next run.
        f.log.SaveLoggingInformation();
        f.settings.reopen();
        DataLogger again;
        again.LoadLoggingInformation();
        for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n)
            QCOMPARE(info(again, n), info(f.log, n));
        QVERIFY(!again.IsLogInHex());
    }

    void stopLinesAndIndicator()
    {
        Fixture f;
        for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n)
            f.on(n);
        QCOMPARE(f.log.indicatorText(), QStringLiteral("Log: States Events Out In All S2C C2S "));
        f.log.OutgoingDataArrived("x");
        f.log.StopAllLogging();
        // Only files that were written get the stop line; the switches stay on.
        // The zones count from the line's start: "x" is on this line already.
        QCOMPARE(fileBytes(f.path(Type::Output)), "x" + kStamp + spaces(4) + kStop);
        QCOMPARE(fileBytes(f.path(Type::AllEvents)),
                 "Data has been sent:" + spaces(9) + "x\r\n" + kStamp + spaces(5) + kStop);
        QVERIFY(!QFileInfo::exists(f.path(Type::Input)));
        QVERIFY(f.log.GetLogInfo(Type::Input).LogOn);

        // The next record opens the file again and appends.
        f.log.OutgoingDataArrived("y");
        f.log.closeFile(Type::Output, false);
        QCOMPARE(fileBytes(f.path(Type::Output)), "x" + kStamp + spaces(4) + kStop + "y");
        for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n)
            f.log.SetLogInfo(n, false, f.path(n), false);
        QCOMPARE(f.log.indicatorText(), QString());
    }

    void aSlowFileAsksToHoldTheDataBack()
    {
        // A pipe stands for a disk that takes the data only as fast as the test reads it.
        Fixture f;
        const QString pipe = f.settings.dir() + QStringLiteral("/pipe.log");
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        f.on(Type::Input, pipe);
        f.log.IncomingDataArrived(QString(), "nobody reads");
        QCOMPARE(f.failed.size(), 1); // refused, not waited on

        const int reader = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        // Whatever happens, the reader goes first: the writer then stops waiting.
        const auto closeReader = qScopeGuard([reader] { ::close(reader); });
        QSignalSpy backlog(&f.log, &DataLogger::backlogChanged);
        f.on(Type::Input, pipe);
        QByteArray stream;
        for (int i = 0; stream.size() <= DataLogger::kHighWaterBytes + 1024 * 1024; ++i)
            stream += QByteArray::number(i) + ' ';
        f.log.IncomingDataArrived(QString(), stream.left(1000));
        f.log.IncomingDataArrived(QString(), stream.mid(1000));
        QCOMPARE(backlog.size(), 1);
        QCOMPARE(backlog[0][0].toBool(), true);

        // Once the file has taken most of it, the data may flow again.
        QByteArray got;
        auto readSome = [&] { return drainPipe(reader, got); };
        QTRY_VERIFY_WITH_TIMEOUT((readSome(), backlog.size() == 2), 20000);
        QCOMPARE(backlog[1][0].toBool(), false);
        QTRY_COMPARE_WITH_TIMEOUT(readSome(), stream.size(), 20000);
        QCOMPARE(got, stream);
    }

    // The window's fields: a log that is on has its file name locked and its
    // tick; a bare name typed on another tab becomes a full path when the tab
    // changes; closing stores the fields and only hides the window.
    void windowTabsKeepTheirEntries()
    {
        Window f;
        f.setLog(4, QStringLiteral("in.log"), true, true);
        QVERIFY(f.w.txtFileName->isReadOnly() && !f.w.cmdOpen->isEnabled() && f.w.hasTick(4));
        f.w.tabMode->setCurrentIndex(5);
        QVERIFY(!f.w.txtFileName->isReadOnly());
        f.w.txtFileName->setText(QStringLiteral("typed.log"));
        f.w.chkIncludeDateTime->click();
        f.w.tabMode->setCurrentIndex(3);
        QCOMPARE(f.w.txtFileName->text(), f.path(QStringLiteral("in.log")));
        QVERIFY(f.w.chkLog->isChecked() && f.w.chkIncludeDateTime->isChecked());
        const DataLogger::LogInfo events = f.w.logger().GetLogInfo(6);
        QCOMPARE(events.FileName, DataLogger::logFolder() + QStringLiteral("/typed.log"));
        QVERIFY(!events.LogOn && !events.IncludeDateTime);
        f.w.show();
        f.w.chkIncludeDateTime->setChecked(false);
        f.w.close();
        QVERIFY(!f.w.isVisible());
        QVERIFY(!f.w.logger().GetLogInfo(4).IncludeDateTime);

        // Switched off, a log that wrote ends its file; one that never wrote gets nothing.
        f.setLog(5, QStringLiteral("out.log"), true);
        f.w.chkLog->click();
        QVERIFY(!QFile::exists(f.path(QStringLiteral("out.log"))));
        f.setLog(4, QStringLiteral("in.log"), true);
        f.w.IncomingDataArrived(QString(), "AB");
        f.w.chkLog->click();
        QCOMPARE(fileBytes(f.path(QStringLiteral("in.log"))), "AB" + kStamp + spaces(3) + kStop);
        QVERIFY(!f.w.hasTick(4));

        // Start All and Stop All: a file that took no record is left alone, and
        // of the others only the shown tab's file gets the stop line (the
        // other files are the ones named above, without the date).
        f.w.tabMode->setCurrentIndex(2);
        f.w.cmdStartAll->click();
        for (int n = 1; n <= 7; ++n)
            QVERIFY(f.w.hasTick(n) && f.w.logger().GetLogInfo(n).LogOn);
        QVERIFY(f.w.chkLog->isChecked() && f.w.txtFileName->isReadOnly());
        f.w.OutgoingDataArrived("x");
        f.w.cmdStopAll->click();
        for (int n = 1; n <= 7; ++n)
            QVERIFY(!f.w.hasTick(n) && !f.w.logger().GetLogInfo(n).LogOn);
        QCOMPARE(fileBytes(f.path(QStringLiteral("in.log"))), "AB" + kStamp + spaces(3) + kStop);
        QVERIFY(fileBytes(DataLogger::logFolder() + QStringLiteral("/Tarnwell.log")).endsWith(kStop));
        QCOMPARE(fileBytes(f.path(QStringLiteral("out.log"))), QByteArray("x"));
    }

    void windowViewAndDelete_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("answer");    // the viewer started / Yes to the question
        QTest::addColumn<bool>("directory"); // the file name names a folder
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("left"); // what the file holds afterwards ("-" when gone)
        const auto row = [](const char *name, const char *button, bool answer, bool directory,
                            const char *message, const char *left) {
            QTest::newRow(name) << QString::fromLatin1(button) << answer << directory
                                << QString::fromLatin1(message) << QByteArray(left);
        };
        row("view", "cmdView", true, false, "", "AB");
        row("no viewer", "cmdView", false, false,
            "An error occurred while attempting to view the file.  The operating system reports: 2, No "
            "program to show text files was found on this desktop.",
            "AB");
        row("delete", "cmdDelete", true, false, "", "-");
        row("delete, No", "cmdDelete", false, false, "", "AB");
        row("delete a folder", "cmdDelete", true, true,
            "An error occured while attempting to delete the file.  The operating system reports: 21, Is a "
            "directory",
            "AB");
    }
    void windowViewAndDelete()
    {
        QFETCH(QString, button);
        QFETCH(bool, answer);
        QFETCH(bool, directory);
        QFETCH(QString, message);
        Window f;
        const QString name = QStringLiteral("my log \u00e9.log");
        f.setLog(4, name, true);
        f.w.IncomingDataArrived(QString(), "AB");
        if (directory) {
            QDir().mkdir(f.path(QStringLiteral("folder")));
            f.w.txtFileName->setText(f.path(QStringLiteral("folder")));
        }
        (button == QLatin1String("cmdView") ? f.ui.showAnswers : f.ui.yesNoAnswers).enqueue(answer);
        f.w.findChild<QPushButton *>(button)->click();

        // Either way the buffered record is in the file first.
        QCOMPARE(f.ui.messages(), message.isEmpty() ? QStringList() : QStringList{message});
        const QString path = f.path(name);
        QTEST(QFile::exists(path) ? fileBytes(path) : QByteArray("-"), "left");
        QCOMPARE(f.ui.prompts.constFirst().text,
                 button == QLatin1String("cmdView")
                     ? path
                     : QStringLiteral("Are you sure you want to delete this file?"));
        // The log goes on: the next record opens the file again.
        f.w.IncomingDataArrived(QString(), "C");
        f.w.logger().flush();
        QVERIFY(fileBytes(path).endsWith('C'));
    }

    void windowBrowseRemembersTheFolder()
    {
        Window f;
        f.ui.fileAnswers.enqueue(QString()); // cancelled
        f.w.cmdOpen->click();
        QCOMPARE(f.ui.prompts.last().text, DataLogger::logFolder());
        QVERIFY(QDir(DataLogger::logFolder()).exists());
        QCOMPARE(f.w.txtFileName->text(), DataLogger::logFolder() + QStringLiteral("/ClientToServer.log"));
        const QString chosen = f.path(QStringLiteral("chosen.log"));
        f.ui.fileAnswers.enqueue(chosen);
        f.w.cmdOpen->click();
        QCOMPARE(f.w.txtFileName->text(), chosen);
        QCOMPARE(f.settings.store().Read(QStringLiteral("Logging"), QStringLiteral("InitReadDir")), chosen);
    }

    void windowFailedLogLosesItsTick()
    {
        Window f;
        f.settings.underAFile({}); // "plain" is a regular file
        f.setLog(6, QStringLiteral("plain/events.log"), true);
        f.w.EventDataArrived(QStringLiteral("Socket connected"));
        QCOMPARE(f.ui.messages().size(), 1);
        QVERIFY(!f.w.hasTick(6));
        QVERIFY(!f.w.chkLog->isChecked() && !f.w.txtFileName->isReadOnly());
        // The fields stored later do not switch it back on.
        f.w.tabMode->setCurrentIndex(0);
        QVERIFY(!f.w.logger().GetLogInfo(6).LogOn);
    }

    void eventLimit_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("fullRows");
        QTest::newRow("100") << 100 << 101;
        QTest::newRow("0") << 0 << 1;
        // A negative limit behaves as 0 instead of clearing without end.
        QTest::newRow("negative") << -3 << 1;
    }

    void eventLimit()
    {
        QFETCH(int, limit);
        QFETCH(int, fullRows);
        m_options.maxListLength = limit;
        QSignalSpy logged(m_events.get(), &HistoryWindow::lineLogged);
        for (int i = 1; i <= fullRows; ++i)
            m_events->AddEvent(QStringLiteral("line %1").arg(i));
        QCOMPARE(m_events->rowCount(), fullRows);
        // With a limit of 0 every further line clears again; with 100 once.
        for (const QString &next : {QStringLiteral("next"), QStringLiteral("after")}) {
            logged.clear();
            m_events->AddEvent(next);
            QCOMPARE(column(*m_events, frmEvent::ColNumber), texts({"001", "002"}));
            QCOMPARE(m_events->eventTexts(), QStringList({frmEvent::kClearedNotice, next}));
            QCOMPARE(spied(logged), QStringList({frmEvent::kClearedNotice, next}));
            if (limit > 1)
                break;
        }
        // The state history clears at the same limit, on an error too; its notice goes to the events.
        frmState state;
        for (int i = 0; i < fullRows; ++i)
            state.AddState(QStringLiteral("s"), QStringLiteral("1"));
        QVERIFY(!m_events->eventTexts().contains(frmState::kClearedNotice));
        state.AddError(1, QStringLiteral("x"), 0, QStringLiteral("y"), QStringLiteral("1"));
        QCOMPARE(column(state, frmState::ColNumber), QStringList{QStringLiteral("001")});
        QCOMPARE(m_events->eventTexts().last(), frmState::kClearedNotice);
    }

    // Client mode shows no socket; the other modes (Server's row stands for
    // both) log the socket with the state, never with an error. An error's
    // description is shown as given, even one that looks like a format placeholder.
    void stateRowsByMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("sockets");
        QTest::addColumn<QString>("logText");
        QTest::newRow("no mode source") << -1 << texts({"NA", "NA"}) << QStringLiteral("Connected");
        QTest::newRow("server") << 1 << texts({"3", "4"}) << QStringLiteral("3#, Connected");
    }

    void stateRowsByMode()
    {
        QFETCH(int, mode);
        QFETCH(QString, logText);
        frmState state;
        if (mode >= 0)
            state.setModeSource([mode] { return mode; });
        QSignalSpy logged(&state, &HistoryWindow::lineLogged);
        state.AddState(QStringLiteral("Connected"), QStringLiteral("3"));
        state.AddError(-1, QStringLiteral("%1 %2"), -2147467259, QStringLiteral("sck"), QStringLiteral("4"));
        const QString error = QStringLiteral("Error Info: -1, %1 %2 SCode: -2147467259 Source: sck");
        QTEST(column(state, frmState::ColSocket), "sockets");
        QCOMPARE(state.stateTexts(), QStringList({QStringLiteral("Connected"), error}));
        QCOMPARE(spied(logged), QStringList({logText, error}));
    }

    void headerClicksSort()
    {
        m_events->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_events.get()));
        for (const char *t : {"bravo", "alpha", "Charlie", "alpha"})
            m_events->AddEvent(QString::fromLatin1(t));
        QHeaderView *header = m_events->list()->header();
        const auto clickHeader = [header](int section) {
            const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                            header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        };

        clickHeader(frmEvent::ColEvent);
        QCOMPARE(column(*m_events, frmEvent::ColEvent), texts({"alpha", "alpha", "bravo", "Charlie"}));
        // Equal texts keep the order they were added in.
        QCOMPARE(column(*m_events, frmEvent::ColNumber), texts({"002", "004", "001", "003"}));
        clickHeader(frmEvent::ColEvent);
        QCOMPARE(column(*m_events, frmEvent::ColEvent), texts({"Charlie", "bravo", "alpha", "alpha"}));

        // The list stays sorted: a new row takes its place and, the newest, is selected.
        m_events->AddEvent(QStringLiteral("delta"));
        QCOMPARE(m_events->model()->text(0, frmEvent::ColEvent), QStringLiteral("delta"));
        QCoreApplication::processEvents();
        QCOMPARE(m_events->list()->currentIndex().row(), 0);
        QCOMPARE(m_events->eventTexts(), texts({"bravo", "alpha", "Charlie", "alpha", "delta"}));
    }

    // Closing only hides: the history goes on filling while hidden.
    void closeOnlyHides()
    {
        QPointer<frmState> state = new frmState;
        state->show();
        QTest::mouseClick(state->findChild<QPushButton *>(QStringLiteral("cmdClose")), Qt::LeftButton);
        QVERIFY(!state->isVisible());
        state->show();
        state->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(state && !state->isVisible());
        state->AddState(QStringLiteral("Listening"), QStringLiteral("0"));
        QCOMPARE(state->rowCount(), 1);
        delete state;
    }
};

QTEST_MAIN(TestLogging)
#include "tst_logging.moc"
