#include "logging/frmlogging.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QtTest>

namespace {
// The logging window, prepared from a private settings file.
struct Fixture
{
    TempSettings settings;
    ScriptedUi ui;
    frmLogging w;
    QSignalSpy indicator{&w, &frmLogging::logIndicatorChanged};
    Fixture()
    {
        w.logger().setClock([] { return QDateTime(QDate(2024, 6, 11), QTime(13, 45, 7, 89)); });
        w.logger().setDateFormat(QStringLiteral("dd/MM/yyyy"));
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
    QString lastIndicator() const { return indicator.isEmpty() ? QString() : indicator.last()[0].toString(); }
};
} // namespace

class TestFrmLogging : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void tabsKeepTheirEntries();
    void switchingALogOffEndsItsFile();
    void startAllAndStopAll();
    void viewAndDelete_data();
    void viewAndDelete();
    void browseRemembersTheFolder();
    void aFailedLogLosesItsTick();
};

void TestFrmLogging::tabsKeepTheirEntries()
{
    Fixture f;
    f.setLog(4, QStringLiteral("in.log"), true, true);
    // A log that is on has its file name locked and its tick.
    QVERIFY(f.w.txtFileName->isReadOnly() && !f.w.cmdOpen->isEnabled() && f.w.hasTick(4));
    QCOMPARE(f.lastIndicator(), QStringLiteral("Log: In "));

    // A bare name typed on another tab is stored as a full path when the tab changes.
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

    // Closing stores the fields and only hides the window.
    f.w.show();
    f.w.chkIncludeDateTime->setChecked(false);
    f.w.close();
    QVERIFY(!f.w.isVisible());
    QVERIFY(!f.w.logger().GetLogInfo(4).IncludeDateTime);
}

void TestFrmLogging::switchingALogOffEndsItsFile()
{
    Fixture f;
    // A log that never wrote gets nothing when switched off.
    f.setLog(5, QStringLiteral("out.log"), true);
    f.w.chkLog->click();
    QVERIFY(!QFile::exists(f.path(QStringLiteral("out.log"))));

    f.setLog(4, QStringLiteral("in.log"), true);
    f.w.IncomingDataArrived(QString(), "AB");
    f.w.chkLog->click();
    const QByteArray in = fileBytes(f.path(QStringLiteral("in.log")));
    QVERIFY(in.startsWith("AB") && in.endsWith("--------------- Logging Stopped ---------\r\n"));
    QVERIFY(!f.w.hasTick(4));
    QCOMPARE(f.lastIndicator(), QString());
}

void TestFrmLogging::startAllAndStopAll()
{
    Fixture f;
    f.w.tabMode->setCurrentIndex(2);
    f.w.cmdStartAll->click();
    for (int n = 1; n <= 7; ++n)
        QVERIFY(f.w.hasTick(n) && f.w.logger().GetLogInfo(n).LogOn);
    QVERIFY(f.w.chkLog->isChecked() && f.w.txtFileName->isReadOnly());
    QCOMPARE(f.lastIndicator(), QStringLiteral("Log: States Events Out In All S2C C2S "));

    // Nothing arrived: no file is touched.
    f.w.cmdStopAll->click();
    for (int n = 1; n <= 7; ++n)
        QVERIFY(!f.w.hasTick(n) && !f.w.logger().GetLogInfo(n).LogOn);
    QVERIFY(!QDir(DataLogger::logFolder()).exists());
    QCOMPARE(f.lastIndicator(), QString());

    // Stopped with records: only the shown tab's file gets the stop line.
    f.w.cmdStartAll->click();
    f.w.OutgoingDataArrived("x");
    f.w.cmdStopAll->click();
    QVERIFY(fileBytes(DataLogger::logFolder() + QStringLiteral("/Tarnwell.log"))
                .endsWith("Logging Stopped ---------\r\n"));
    QVERIFY(fileBytes(DataLogger::logFolder() + QStringLiteral("/Outgoing.log")).endsWith("x\r\n"));
}

void TestFrmLogging::viewAndDelete_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("answer");    // the viewer started / Yes to the question
    QTest::addColumn<bool>("directory"); // the file name names a folder
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("left"); // what the file holds afterwards ("-" when gone)
    QTest::newRow("view") << QStringLiteral("cmdView") << true << false << QString() << QByteArray("AB");
    QTest::newRow("no viewer")
        << QStringLiteral("cmdView") << false << false
        << QStringLiteral(
               "An error occurred while attempting to view the file.  The operating system reports: 2, No "
               "program to show text files was found on this desktop.")
        << QByteArray("AB");
    QTest::newRow("delete") << QStringLiteral("cmdDelete") << true << false << QString() << QByteArray("-");
    QTest::newRow("delete, No") << QStringLiteral("cmdDelete") << false << false << QString()
                                << QByteArray("AB");
    QTest::newRow("delete a folder")
        << QStringLiteral("cmdDelete") << true << true
        << QStringLiteral(
               "An error occured while attempting to delete the file.  The operating system reports: 21, "
               "Is a directory")
        << QByteArray("AB");
}

void TestFrmLogging::viewAndDelete()
{
    QFETCH(QString, button);
    QFETCH(bool, answer);
    QFETCH(bool, directory);
    QFETCH(QString, message);
    Fixture f;
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
    if (button == QLatin1String("cmdView"))
        QCOMPARE(f.ui.prompts.constFirst().text, path);
    else
        QCOMPARE(f.ui.prompts.constFirst().text,
                 QStringLiteral("Are you sure you want to delete this file?"));

    // The log goes on: the next record opens the file again.
    f.w.IncomingDataArrived(QString(), "C");
    f.w.logger().flush();
    QVERIFY(fileBytes(path).endsWith('C'));
}

void TestFrmLogging::browseRemembersTheFolder()
{
    Fixture f;
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

void TestFrmLogging::aFailedLogLosesItsTick()
{
    Fixture f;
    f.settings.underAFile({}); // "plain" is a regular file
    f.setLog(6, QStringLiteral("plain/events.log"), true);
    f.w.EventDataArrived(QStringLiteral("Socket connected"));
    QCOMPARE(f.ui.messages().size(), 1);
    QVERIFY(!f.w.hasTick(6));
    QVERIFY(!f.w.chkLog->isChecked() && !f.w.txtFileName->isReadOnly());
    // The fields stored later do not switch it back on.
    f.w.tabMode->setCurrentIndex(0);
    QVERIFY(!f.w.logger().GetLogInfo(6).LogOn);
    f.w.EventDataArrived(QStringLiteral("again"));
    QCOMPARE(f.ui.messages().size(), 1);
}

QTEST_MAIN(TestFrmLogging)
#include "tst_frmlogging.moc"
