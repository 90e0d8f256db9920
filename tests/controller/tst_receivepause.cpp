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
// Switches the Input log on, without date stamps, into a file of the test's folder.
QString logInput(MainWindow &m)
{
    frmLogging *log = m.w->logging();
    const QString path = m.settings.dir() + QStringLiteral("/in.log");
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
    void pauseHoldsThenReleasesAndLogsTwice();
    void emptyAndClear_data();
    void emptyAndClear();
    void heldDataWaitsInTheSocket_data();
    void heldDataWaitsInTheSocket();
};

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
    // The buffer serves every mode; the Server tab's gauge shows it as well.
    QCOMPARE(gauge(t), QStringLiteral("4 bytes buffered/0"));
    QCOMPARE(gauge(m.w->tabs[1]), gauge(t));

    // Released as one arrival, shown and logged again.
    t.cmdReceivedPause->click();
    QCOMPARE(m.events().last(), QStringLiteral("The receive pause has been deactivated."));
    QCOMPARE(m.w->statusPanel(2), QString());
    QCOMPARE(t.model->rowCount(), 1);
    QCOMPARE(t.model->rawTag(0), QByteArray("ABCD"));
    QCOMPARE(gauge(t), QStringLiteral("/0"));
    m.w->logging()->logger().flush();
    QCOMPARE(fileBytes(log), QByteArray("ABCDABCD"));

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
        << "cmdEmptyReceived" << false << "10 bytes have been cleared out of the receive pause buffer.";
    QTest::newRow("clear") << "cmdReceivedClear" << false << "The Receive data has been cleared by the user.";
    QTest::newRow("clear, both lists")
        << "cmdReceivedClear" << true << "All the data has been cleared by the user.";
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

void TestReceivePause::heldDataWaitsInTheSocket_data()
{
    QTest::addColumn<bool>("slowLog");
    QTest::newRow("the pause buffer is full") << false;
    // The log is a pipe: it takes the data only as fast as the test reads it.
    QTest::newRow("the log waits for the disk") << true;
}

// While something holds the data back, it stays in the socket, so the peer
// is held back and nothing grows; once let go, every byte comes through once
// (held data is logged twice: on arrival and on release).
void TestReceivePause::heldDataWaitsInTheSocket()
{
    QFETCH(bool, slowLog);
    MainWindow m;
    const QString path = m.settings.dir() + QStringLiteral("/in.log");
    QVERIFY(!slowLog || ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    const int reader = slowLog ? ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK) : -1;
    const auto closeReader = qScopeGuard([reader] {
        if (reader >= 0)
            ::close(reader);
    });
    logInput(m);
    m.w->tabs[0].cboShow->setCurrentIndex(3); // nothing shown: only the log counts
    QTcpServer server;
    std::unique_ptr<QTcpSocket> peer = m.connectClient(server);
    QVERIFY(peer);
    if (!slowLog) {
        m.w->objSupport->pauseBufferLimit = 64 * 1024;
        m.w->tabs[0].cmdReceivedPause->click();
    }
    QByteArray stream;
    for (int i = 0; stream.size() < (slowLog ? 24 : 6) * 1024 * 1024; ++i)
        stream += QByteArray::number(i) + ' ';
    peer->write(stream);
    QTRY_VERIFY_WITH_TIMEOUT(m.w->sckClient->readingPaused(), 20000);
    qsizetype held = 0;
    if (!slowLog) {
        // However long the peer goes on, the buffer takes no more than the read that reached the bound.
        QTest::qWait(300);
        held = m.w->objSupport->strReceiveBuffer.size();
        QVERIFY(held >= 64 * 1024 && held < 64 * 1024 + 1024 * 1024);
        m.w->tabs[0].cmdReceivedPause->click();
    }
    QByteArray got;
    auto logged = [&] {
        if (!slowLog)
            return (got = fileBytes(path)).size();
        // Reads for as long as the writer keeps the pipe busy.
        char buffer[65536];
        for (pollfd p{reader, POLLIN, 0}; ::poll(&p, 1, 10) > 0;) {
            const ssize_t n = ::read(reader, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, n);
        }
        return got.size();
    };
    QTRY_COMPARE_WITH_TIMEOUT(logged(), held + stream.size(), 30000);
    QVERIFY(got == stream.left(held) + stream);
    QTRY_VERIFY(!m.w->sckClient->readingPaused());
}

QTEST_MAIN(TestReceivePause)
#include "tst_receivepause.moc"
