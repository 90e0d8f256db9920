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
    void pauseThenAct_data();
    void pauseThenAct();
    void heldDataWaitsInTheSocket_data();
    void heldDataWaitsInTheSocket();
};

void TestReceivePause::pauseThenAct_data()
{
    QTest::addColumn<QString>("act"); // "resume", or the button pressed while paused
    QTest::addColumn<bool>("clearBoth");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QByteArray>("shown"); // the rows afterwards
    QTest::addColumn<QByteArray>("logged");
    // Released as one arrival, shown and logged again.
    QTest::newRow("resume") << "resume" << false << "The receive pause has been deactivated."
                            << QByteArray("shown\r\n|xxxx") << QByteArray("shown\r\nxxxxxxxx");
    // Each button does its own part only: the pause stays on.
    QTest::newRow("empty the buffer")
        << "cmdEmptyReceived" << false << "4 bytes have been cleared out of the receive pause buffer."
        << QByteArray("shown\r\n") << QByteArray("shown\r\nxxxx");
    QTest::newRow("clear") << "cmdReceivedClear" << false << "The Receive data has been cleared by the user."
                           << QByteArray() << QByteArray("shown\r\nxxxx");
    QTest::newRow("clear, both lists")
        << "cmdReceivedClear" << true << "All the data has been cleared by the user." << QByteArray()
        << QByteArray("shown\r\nxxxx");
}

// Paused, the Server tab holds what arrives, and its gauge says so on every
// tab, since the buffer serves every mode.
void TestReceivePause::pauseThenAct()
{
    QFETCH(QString, act);
    QFETCH(bool, clearBoth);
    QFETCH(QString, event);
    QFETCH(QByteArray, shown);
    QFETCH(QByteArray, logged);
    MainWindow m(1);
    m.opts.clearBoth = clearBoth;
    const QString log = logInput(m);
    QCOMPARE(m.w->statusPanel(5), QStringLiteral("Log: In "));
    ModeControls &t = m.w->tabs[1];
    QVERIFY(!t.cmdEmptyReceived->isEnabled());
    m.w->objSupport->DataReceivedOnSocket("shown\r\n", QStringLiteral("1"), true);
    t.cmdReceivedPause->click();
    QCOMPARE(m.events().last(), QStringLiteral("The receive pause has been activated."));
    QCOMPARE(m.w->statusPanel(2), QStringLiteral("Receive Pause On "));
    QVERIFY(m.w->tabs[0].cmdReceivedPause->isChecked());
    m.w->objSupport->DataReceivedOnSocket(QByteArray(2, 'x'), QStringLiteral("1"), true);
    m.w->objSupport->DataReceivedOnSocket(QByteArray(2, 'x'), QStringLiteral("1"), true);
    QCOMPARE(t.model->rowCount(), 1);
    QVERIFY(t.cmdEmptyReceived->isEnabled());
    QCOMPARE(gauge(t), QStringLiteral("4 bytes buffered/0"));
    QCOMPARE(gauge(m.w->tabs[0]), gauge(t));

    if (act == QLatin1String("resume"))
        t.cmdReceivedPause->click();
    else
        m.w->findChild<QToolButton *>(act + QStringLiteral("_1"))->click();
    QCOMPARE(m.events().last(), event);
    QCOMPARE(m.w->objSupport->blnReceivePaused, act != QLatin1String("resume"));
    QCOMPARE(m.w->statusPanel(2).isEmpty(), act == QLatin1String("resume"));
    // The gauge follows the buffer.
    QCOMPARE(gauge(t), act == QLatin1String("cmdReceivedClear") ? QStringLiteral("4 bytes buffered/0")
                                                                : QStringLiteral("/0"));
    QByteArrayList rows;
    for (int r = 0; r < t.model->rowCount(); ++r)
        rows << t.model->rawTag(r);
    QCOMPARE(rows.join('|'), shown);
    QCOMPARE(t.txtReceived->length(), shown.isEmpty() ? 0 : shown.size() - shown.count('|'));
    QCOMPARE(t.model->columnCount(), 5);
    m.w->logging()->logger().flush();
    QCOMPARE(fileBytes(log), logged);
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
