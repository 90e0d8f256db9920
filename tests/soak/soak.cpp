// `make soak`: the program under mixed traffic in its three modes, round
// after round for SOAK_MINUTES (default 60), every byte checked, its memory
// sampled every minute and printed as a curve. Once warm, memory must stay
// flat: the median sample of the last half may exceed the largest of the
// first quarter by at most kGrowthMiB.

#include "controller/mainwindowfixture.h"
#include "core/allocator.h"
#include "display/supportclass.h"
#include "logging/datalogger.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "support/streampeers.h"
#include "support/testenv.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QTabWidget>
#include <cstdio>
#include <malloc.h>

namespace {
constexpr qint64 kKiB = 1024;
constexpr qint64 kMiB = 1024 * kKiB;
constexpr double kGrowthMiB = 8;
constexpr int kWaitMs = 120000;

double residentMiB()
{
    return statusMiB("VmRSS:");
}
} // namespace

class Soak : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void memoryStaysFlatUnderMixedTraffic();

private:
    void clientRound(MainWindow &m, quint32 seed);
    void serverRound(MainWindow &m, quint32 seed);
    void passThroughRound(MainWindow &m, quint32 seed);
    static void toMode(MainWindow &m, int mode)
    {
        m.w->tabMode->setCurrentIndex(mode);
        QCOMPARE(m.w->intCurrentMode, mode);
    }
    qint64 m_bytes = 0;
};

void Soak::memoryStaysFlatUnderMixedTraffic()
{
    const int minutes =
        qEnvironmentVariableIsSet("SOAK_MINUTES") ? qEnvironmentVariableIntValue("SOAK_MINUTES") : 60;
    MainWindow m;
    // Lists far longer than the defaults, so that what they hold counts.
    m.opts.maxListLength = 5000;
    m.opts.maxListSize = 4 * int(kMiB);
    m.opts.multipleClients = true;
    for (ModeControls &t : m.w->tabs)
        t.cboShow->setCurrentIndex(0);
    for (int type : {DataLogger::ClientToServer, DataLogger::ServerToClient, DataLogger::AllEvents,
                     DataLogger::Input, DataLogger::Output})
        m.logTo(type, QStringLiteral("/dev/null"));

    // Each minute, memory is read at the end of the round under way, when
    // every connection of the round is closed: what the program keeps, not
    // what a transfer holds for a moment. Freed heap goes back to the system
    // first, so only memory still in use counts.
    QList<double> curve;
    std::printf("soak: %d minutes of mixed traffic; resident memory each minute, between rounds:\n", minutes);
    std::printf("minute 0: %.1f MB (before any traffic)\n", residentMiB());
    bool due = false;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &sampler, [&] { due = true; });
    sampler.start(60000);
    for (quint32 round = 0; curve.size() < minutes; ++round) {
        clientRound(m, round);
        if (QTest::currentTestFailed())
            return;
        serverRound(m, round);
        if (QTest::currentTestFailed())
            return;
        passThroughRound(m, round);
        if (QTest::currentTestFailed())
            return;
        if (std::exchange(due, false)) {
            ::malloc_trim(0);
            curve << residentMiB();
            std::printf("minute %lld: %.1f MB after %u rounds, %lld MB through\n", qlonglong(curve.size()),
                        curve.last(), round + 1, qlonglong(m_bytes / kMiB));
            std::fflush(stdout);
        }
    }
    sampler.stop();
    QVERIFY(m.ui.prompts.isEmpty());

    // A single sample swings by some MB with what the lists hold at that
    // moment; growth moves the middle of the late samples.
    const qsizetype quarter = (curve.size() + 3) / 4;
    const double warm = *std::max_element(curve.cbegin(), curve.cbegin() + quarter);
    QList<double> lateHalf = curve.sliced(curve.size() - curve.size() / 2);
    std::sort(lateHalf.begin(), lateHalf.end());
    const double late = lateHalf.isEmpty() ? 0 : lateHalf[lateHalf.size() / 2];
    std::printf("first quarter's largest: %.1f MB; last half's median: %.1f MB; allowed: %.1f MB; "
                "highest at any moment: %.1f MB\n",
                warm, late, warm + kGrowthMiB, statusMiB("VmHWM:"));
    QVERIFY2(late <= warm + kGrowthMiB, "memory grew after the first minutes");
}

// The server sends a stream the Client tab shows and logs while a send
// window pings it every few milliseconds.
void Soak::clientRound(MainWindow &m, quint32 seed)
{
    toMode(m, 0);
    const QByteArray down = randomBytes(seed, 8 * kMiB);
    StreamPeers peers(seed);
    quint16 port = 0;
    const int server = peers.accepting(&port, down, 0);
    QByteArray got;
    const auto arrivals = QObject::connect(m.w->objSupport, &SupportClass::received, m.w.get(),
                                           [&](const QString &, const QByteArray &data) { got += data; });
    peers.start();
    m.target(port);
    m.w->tabs[0].cmdConnect->click();
    QTRY_COMPARE_WITH_TIMEOUT(m.w->sckClient->State(), 7, kWaitMs);
    m.w->tabs[0].cmdSend->click();
    frmSend *send = frmSend::openWindows().constLast();
    send->txtSend->setData("ping\r\n");
    send->chkPeriodically->setChecked(true);
    send->txtOnceEvery->setText(QStringLiteral("5"));
    send->cmdSend_Click();
    QTRY_COMPARE_WITH_TIMEOUT(got.size(), down.size(), kWaitMs);
    send->cmdSend_Click();
    send->IsModified = false;
    send->close();
    QObject::disconnect(arrivals);
    QVERIFY(got == down);
    m.w->tabs[0].cmdConnect->click();
    QTRY_COMPARE(m.w->sckClient->State(), 0);
    peers.stop();
    const QByteArray &pings = peers.link(server).in;
    QVERIFY(pings.size() > 0 && pings == QByteArray("ping\r\n").repeated(pings.size() / 6));
    m_bytes += down.size() + pings.size();
}

// Clients knock on the Server tab, send, get a broadcast and leave, the
// even rounds with a reset.
void Soak::serverRound(MainWindow &m, quint32 seed)
{
    constexpr int kCount = 20;
    constexpr qint64 kEach = 512 * kKiB;
    toMode(m, 1);
    const quint16 port = m.listen(1);
    const QByteArray broadcast = randomBytes(seed, 256 * kKiB);
    StreamPeers peers(seed);
    for (int c = 0; c < kCount; ++c)
        peers.connecting(port, randomBytes(seed * kCount + quint32(c), kEach), broadcast.size());
    QHash<QString, QByteArray> byLabel;
    const auto arrivals =
        QObject::connect(m.w->objSupport, &SupportClass::received, m.w.get(),
                         [&](const QString &label, const QByteArray &data) { byLabel[label] += data; });
    peers.start();
    const auto arrived = [&] {
        qint64 n = 0;
        for (const QByteArray &b : std::as_const(byLabel))
            n += b.size();
        return n;
    };
    QTRY_COMPARE_WITH_TIMEOUT(m.w->intClientCount, qint16(kCount), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(arrived(), kCount * kEach, kWaitMs);
    QObject::disconnect(arrivals);
    m.w->objSupport->SendDataDownSocket(broadcast);
    QTRY_VERIFY_WITH_TIMEOUT(peers.done(), kWaitMs);
    peers.stop();
    for (int n = 1; n <= kCount; ++n) {
        int c = 0;
        while (c < kCount && peers.link(c).localPort != m.w->sckServer[n]->RemotePort())
            ++c;
        QVERIFY(c < kCount);
        QVERIFY(byLabel.value(QString::number(n)) == randomBytes(seed * kCount + quint32(c), kEach));
        QVERIFY(peers.link(c).in == broadcast);
    }
    peers.closeAll(seed % 2 == 0);
    QTRY_COMPARE_WITH_TIMEOUT(m.w->intClientCount, qint16(0), kWaitMs);
    m.w->tabs[1].cmdListen->click();
    QCOMPARE(m.w->sckServer[0]->State(), 0);
    m_bytes += kCount * (kEach + broadcast.size());
}

// Four clients and the server relay through the Pass Through tab both ways
// at once; each client's bytes carry its number, so the server's one stream
// can be taken apart.
void Soak::passThroughRound(MainWindow &m, quint32 seed)
{
    constexpr int kClients = 4;
    constexpr qint64 kEach = 2 * kMiB;
    toMode(m, 2);
    const QByteArray down = randomBytes(seed, 8 * kMiB);
    const auto tagged = [&](int client) {
        QByteArray b = randomBytes(seed * kClients + quint32(client), kEach);
        for (char &ch : b)
            ch = char((client << 6) | (uchar(ch) & 0x3F));
        return b;
    };
    StreamPeers peers(seed);
    peers.holdSending();
    quint16 serverPort = 0;
    const int server = peers.accepting(&serverPort, down, kEach * kClients);
    m.target(serverPort, 2);
    m.w->tabs[2].txtPort->setText(QStringLiteral("0"));
    m.w->findChild<QPushButton *>(QStringLiteral("cmdStartBoth"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(m.w->sckClient->State(), 7, kWaitMs);
    const quint16 port = quint16(m.w->sckServer[0]->LocalPort());
    for (int c = 0; c < kClients; ++c)
        peers.connecting(port, tagged(c), down.size());
    peers.start();
    QTRY_COMPARE_WITH_TIMEOUT(m.w->intClientCount, qint16(kClients), kWaitMs);
    peers.release();
    QTRY_VERIFY_WITH_TIMEOUT(peers.done(), kWaitMs);
    peers.stop();
    std::array<QByteArray, kClients> upstream;
    for (char ch : peers.link(server).in)
        upstream[size_t(uchar(ch) >> 6)] += ch;
    for (int c = 0; c < kClients; ++c) {
        QVERIFY(upstream[size_t(c)] == tagged(c));
        QVERIFY(peers.link(server + 1 + c).in == down);
    }
    m.w->findChild<QPushButton *>(QStringLiteral("cmdStopBoth"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!m.w->IsConnectionBusy(), kWaitMs);
    peers.closeAll();
    m_bytes += kEach * kClients + down.size() * kClients;
}

int main(int argc, char **argv)
{
    // The one test function is the whole soak: the watchdog must not cut it short.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number(48 * 3600 * 1000));
    // The allocator as the program sets it up: its memory is what is measured.
    settleAllocator();
    QApplication app(argc, argv);
    keepHeapTrimmed(&app);
    Soak soak;
    return QTest::qExec(&soak, argc, argv);
}

#include "soak.moc"
