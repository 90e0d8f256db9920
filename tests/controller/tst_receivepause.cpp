#include "controller/mainwindowfixture.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/supportclass.h"
#include "logging/frmlogging.h"
#include "net/socketcontrol.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QScopeGuard>
#include <QTabBar>
#include <QToolButton>
#include <QtTest>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Switches the Input log on, without date stamps, into a file of the test's folder.
QString logInput(MainWindow &m, const QString &name = QStringLiteral("in.log"))
{
    frmLogging *log = m.w->logging();
    const QString path = m.settings.dir() + QLatin1Char('/') + name;
    log->tabMode->setCurrentIndex(3);
    log->txtFileName->setText(path);
    log->chkIncludeDateTime->setChecked(false);
    log->chkLog->click();
    return path;
}

QString gauge(const ModeControls &t)
{
    return t.lblReceivePausePerc->text() + QLatin1Char('/') + QString::number(t.panReceivePausePerc->value());
}
} // namespace

class TestReceivePause : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void gaugeFollowsTheBuffer_data();
    void gaugeFollowsTheBuffer();
    void pauseHoldsThenReleasesAndLogsTwice();
    void emptyAndClear_data();
    void emptyAndClear();
    void aFullPauseBufferLeavesDataInTheSocket();
    void logsWaitingForTheDiskHoldTheSocket();
};

void TestReceivePause::gaugeFollowsTheBuffer_data()
{
    QTest::addColumn<QList<int>>("steps"); // bytes arriving, or -1 for the empty-buffer button
    QTest::addColumn<QStringList>("gauges");
    QTest::newRow("three arrivals") << QList<int>{10, 20, 30}
                                    << QStringList{QStringLiteral("10 bytes buffered/1"),
                                                   QStringLiteral("30 bytes buffered/3"),
                                                   QStringLiteral("60 bytes buffered/6")};
    QTest::newRow("the scale grows and shrinks back")
        << QList<int>{2500, -1, 500}
        << QStringList{QStringLiteral("2500 bytes buffered/25"), QStringLiteral("/0"),
                       QStringLiteral("500 bytes buffered/50")};
}

void TestReceivePause::gaugeFollowsTheBuffer()
{
    QFETCH(QList<int>, steps);
    QFETCH(QStringList, gauges);
    MainWindow m;
    m.w->tabs[0].cmdReceivedPause->click();
    QStringList seen;
    for (int step : steps) {
        if (step < 0)
            m.w->tabs[0].cmdEmptyReceived->click();
        else
            m.w->objSupport->DataReceivedOnSocket(QByteArray(step, 'x'), QStringLiteral("NA"), true);
        seen << gauge(m.w->tabs[0]);
        // The buffer serves every mode; the Server tab shows it as well.
        QCOMPARE(gauge(m.w->tabs[1]), seen.last());
    }
    QCOMPARE(seen, gauges);
    QCOMPARE(m.w->tabs[0].model->rowCount(), 0);
}

void TestReceivePause::pauseHoldsThenReleasesAndLogsTwice()
{
    MainWindow m;
    const QString log = logInput(m);
    QCOMPARE(m.w->statusPanel(5), QStringLiteral("Log: In "));
    ModeControls &t = m.w->tabs[0];
    QVERIFY(!t.cmdEmptyReceived->isEnabled());

    t.cmdReceivedPause->click();
    QCOMPARE(m.events().last(), QStringLiteral("The receive pause has been activated."));
    QCOMPARE(m.w->statusPanel(2), QStringLiteral("Receive Pause On "));
    QVERIFY(m.w->tabs[1].cmdReceivedPause->isChecked());
    m.w->objSupport->DataReceivedOnSocket("AB", QStringLiteral("NA"), true);
    m.w->objSupport->DataReceivedOnSocket("CD", QStringLiteral("NA"), true);
    QCOMPARE(t.model->rowCount(), 0);
    QVERIFY(t.cmdEmptyReceived->isEnabled());

    // Released as one arrival, shown and logged again.
    t.cmdReceivedPause->click();
    QCOMPARE(m.events().last(), QStringLiteral("The receive pause has been deactivated."));
    QCOMPARE(m.w->statusPanel(2), QString());
    QCOMPARE(t.model->rowCount(), 1);
    QCOMPARE(t.model->rawTag(0), QByteArray("ABCD"));
    QCOMPARE(gauge(t), QStringLiteral("/0"));
    m.w->logging()->logger().flush();
    QCOMPARE(readFile(log), QByteArray("ABCDABCD"));

    // Nothing held: pausing and resuming only tells so.
    const int events = int(m.events().size());
    t.cmdReceivedPause->click();
    t.cmdReceivedPause->click();
    QCOMPARE(m.events().size(), events + 2);
    QCOMPARE(t.model->rowCount(), 1);
}

void TestReceivePause::emptyAndClear_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("clearBoth");
    QTest::addColumn<QString>("event");
    QTest::newRow("empty the buffer")
        << QStringLiteral("cmdEmptyReceived") << false
        << QStringLiteral("10 bytes have been cleared out of the receive pause buffer.");
    QTest::newRow("clear") << QStringLiteral("cmdReceivedClear") << false
                           << QStringLiteral("The Receive data has been cleared by the user.");
    QTest::newRow("clear, both lists") << QStringLiteral("cmdReceivedClear") << true
                                       << QStringLiteral("All the data has been cleared by the user.");
}

void TestReceivePause::emptyAndClear()
{
    QFETCH(QString, button);
    QFETCH(bool, clearBoth);
    QFETCH(QString, event);
    MainWindow m(1);
    m.opts.clearBoth = clearBoth;
    ModeControls &t = m.w->tabs[1];
    m.w->objSupport->DataReceivedOnSocket("shown\r\n", QStringLiteral("1"), true);
    t.cmdReceivedPause->click();
    m.w->objSupport->DataReceivedOnSocket(QByteArray(10, 'x'), QStringLiteral("1"), true);
    m.w->findChild<QToolButton *>(button + QStringLiteral("_1"))->click();

    QCOMPARE(m.events().last(), event);
    const bool emptied = button == QLatin1String("cmdEmptyReceived");
    // Each button does its own part only: the pause stays on.
    QCOMPARE(m.w->objSupport->strReceiveBuffer.size(), emptied ? 0 : 10);
    QCOMPARE(t.model->rowCount(), emptied ? 1 : 0);
    QCOMPARE(t.txtReceived->length(), emptied ? 7 : 0);
    QCOMPARE(t.model->columnCount(), 5);
    QVERIFY(m.w->objSupport->blnReceivePaused);
}

void TestReceivePause::aFullPauseBufferLeavesDataInTheSocket()
{
    MainWindow m;
    const QString log = logInput(m);
    m.w->tabs[0].cboShow->setCurrentIndex(3); // nothing shown: only the log counts
    QTcpServer server;
    std::unique_ptr<QTcpSocket> peer = m.connectClient(server);
    QVERIFY(peer);
    m.w->objSupport->pauseBufferLimit = 64 * 1024;
    m.w->tabs[0].cmdReceivedPause->click();

    QByteArray stream;
    for (int i = 0; stream.size() < 6 * 1024 * 1024; ++i)
        stream += QByteArray::number(i) + ' ';
    peer->write(stream);
    QTRY_VERIFY(m.w->objSupport->strReceiveBuffer.size() >= 64 * 1024);
    QVERIFY(m.w->sckClient->readingPaused());
    // However long the peer goes on, the buffer takes no more than the read
    // that reached the bound.
    QTest::qWait(300);
    const qsizetype held = m.w->objSupport->strReceiveBuffer.size();
    QVERIFY(held < 64 * 1024 + 1024 * 1024);

    // Released, then the rest in order: held data is logged twice.
    m.w->tabs[0].cmdReceivedPause->click();
    QVERIFY(!m.w->sckClient->readingPaused());
    QTRY_VERIFY_WITH_TIMEOUT(readFile(log).size() >= held + stream.size(), 30000);
    QCOMPARE(readFile(log), stream.left(held) + stream);
}

void TestReceivePause::logsWaitingForTheDiskHoldTheSocket()
{
    // The log is a pipe: it takes the data only as fast as the test reads it.
    MainWindow m;
    const QString pipe = m.settings.dir() + QStringLiteral("/pipe.log");
    QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    const int reader = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    const auto closeReader = qScopeGuard([reader] { ::close(reader); });
    logInput(m, QStringLiteral("pipe.log"));
    m.w->tabs[0].cboShow->setCurrentIndex(3);
    QTcpServer server;
    std::unique_ptr<QTcpSocket> peer = m.connectClient(server);
    QVERIFY(peer);

    QByteArray stream;
    for (int i = 0; stream.size() < 24 * 1024 * 1024; ++i)
        stream += QByteArray::number(i) + ' ';
    peer->write(stream);
    QTRY_VERIFY_WITH_TIMEOUT(m.w->sckClient->readingPaused(), 20000);

    // Read, the log lets the socket go again, and every byte comes through once.
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
    QTRY_COMPARE_WITH_TIMEOUT(readSome(), stream.size(), 30000);
    QCOMPARE(got, stream);
    QTRY_VERIFY(!m.w->sckClient->readingPaused());
}

QTEST_MAIN(TestReceivePause)
#include "tst_receivepause.moc"
