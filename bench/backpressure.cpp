// How much memory Pass Through holds when the side it delivers to reads ten
// times slower than the other side sends.
//
// One connection through the real main window: a sender thread writes the
// text stream as fast as it can, and the receiver first reads freely for a
// while, which gives the relay's own rate, then at a tenth of that rate. The
// process's peak resident memory over the run (the kernel's high-water mark,
// reset before the first byte, and the resident size sampled every 5 ms) is
// compared with its size before the first byte, and with the bytes sent but
// not yet received at the end (the backlog). The backlog waits in the
// kernel's socket buffers or in the relay: a relay that took in whatever it
// was offered would grow by the whole backlog, and would go on growing over
// the second half of the slow spell, which is told apart. A run whose memory
// grows by more than 1 GB is stopped and counted as unbounded.
//
// MB here is 10^6 bytes. The receiver checks every byte it gets. Each
// figure is the median of three runs, each with a fresh main window.
//
//   bench_backpressure [--seconds N] [--repeats N] [--only fast|s2c|display]

#include "benchsupport.h"
#include "controller/frmtarnwell.h"
#include "core/optionssource.h"
#include "net/socketcontrol.h"
#include "ui/scriptedui.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using bench::runEventsUntil;

constexpr qsizetype kChunk = 256 * 1024;
constexpr int kShowEverything = 0;
constexpr int kShowNothing = 3;
constexpr int kSetupTimeoutMs = 10000;
constexpr double kFreeSeconds = 2;
constexpr qint64 kRunawayKb = 1024 * 1024;

double g_slowSeconds = 8;

struct Setup
{
    std::string name;
    int show = kShowNothing;
    bool clientToServer = true;
};

struct Sample
{
    bool ok = false;
    bool runaway = false;
    double freeMBps = 0;
    double peakMB = 0;
    double growthMB = 0;
    // How much the peak rose over the second half of the slow spell.
    double lateGrowthMB = 0;
    double sentMB = 0;
    double receivedMB = 0;
};

// The two ends of a connection through a fresh main window in Pass Through.
struct Relay
{
    DefaultOptions opts;
    ScriptedUi ui;
    std::unique_ptr<frmTarnwell> w;
    int upstreamListener = -1;
    int client = -1;
    int server = -1;
    bool up = false;

    explicit Relay(int show)
    {
        tw::setOptions(&opts);
        quint16 upstreamPort = 0;
        upstreamListener = bench::listenLoopback(upstreamPort);
        w = std::make_unique<frmTarnwell>();
        if (upstreamListener < 0 || !w->Load())
            return;
        w->show();
        ModeControls &t = w->tabs[2];
        t.cboShow->setCurrentIndex(show);
        t.txtServer->setText(QStringLiteral("127.0.0.1"));
        t.txtPortConnectTo->setText(QString::number(upstreamPort));
        t.txtPort->setText(QStringLiteral("0"));
        w->findChild<QPushButton *>(QStringLiteral("cmdStartBoth"))->click();
        if (!runEventsUntil(
                 [&] {
                     if (server < 0)
                         server = bench::acceptWithin(upstreamListener, 0);
                     return server >= 0 && w->sckClient->State() == SocketControl::sckConnected;
                 },
                 kSetupTimeoutMs)
                 .ok)
            return;
        client = bench::connectLoopback(quint16(w->sckServer[0]->LocalPort()));
        if (client < 0 || !runEventsUntil([&] { return w->intClientCount == 1; }, kSetupTimeoutMs).ok)
            return;
        runEventsUntil([] { return false; }, 100);
        up = true;
    }
    ~Relay()
    {
        for (const int fd : {client, server, upstreamListener})
            if (fd >= 0)
                ::close(fd);
        // Let the window see the ends go before it is torn down.
        runEventsUntil([] { return false; }, 20);
        w.reset();
        tw::setOptions(nullptr);
    }
};

Sample measure(const Setup &setup, const QByteArray &pattern)
{
    Sample sample;
    Relay relay(setup.show);
    if (!relay.up)
        return sample;
    const int from = setup.clientToServer ? relay.client : relay.server;
    const int to = setup.clientToServer ? relay.server : relay.client;

    std::atomic<qint64> sent{0};
    std::atomic<qint64> received{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> corrupt{false};
    // Bytes per second the receiver keeps to; 0 while it reads freely.
    std::atomic<double> pace{0};
    std::atomic<qint64> sampledPeakKb{0};
    std::atomic<bool> runaway{false};

    // The memory is watched from before the first byte.
    const qint64 idleKb = bench::residentKb("VmRSS:");
    bench::resetPeakResident();
    const bool peakReset = bench::residentKb("VmHWM:") <= idleKb + 1024;
    std::thread tx([&] {
        while (!stop) {
            const qint64 at = sent;
            const ssize_t w =
                ::send(from, pattern.constData() + at % bench::kPatternBytes, size_t(kChunk), MSG_NOSIGNAL);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return;
            sent += w;
        }
    });
    std::thread rx([&] {
        std::vector<char> buffer(kChunk);
        Clock::time_point paceStart;
        qint64 atPaceStart = 0;
        while (!stop) {
            qint64 want = kChunk;
            const double rate = pace;
            if (rate > 0) {
                if (paceStart == Clock::time_point()) {
                    paceStart = Clock::now();
                    atPaceStart = received;
                }
                const double since = std::chrono::duration<double>(Clock::now() - paceStart).count();
                want = std::min<qint64>(kChunk, qint64(rate * since) - (received - atPaceStart));
                if (want <= 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
            }
            const ssize_t r = ::recv(to, buffer.data(), size_t(want), 0);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return;
            if (std::memcmp(buffer.data(), pattern.constData() + received % bench::kPatternBytes,
                            size_t(r)) != 0)
                corrupt = true;
            received += r;
        }
    });
    std::thread sampler([&] {
        while (!stop) {
            const qint64 kb = bench::residentKb("VmRSS:");
            sampledPeakKb = std::max<qint64>(sampledPeakKb, kb);
            if (kb - idleKb > kRunawayKb) {
                runaway = true;
                stop = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    // Free reading: the relay's own rate on this machine now.
    runEventsUntil([] { return false; }, int(kFreeSeconds * 500));
    const qint64 freeFrom = received;
    const Clock::time_point freeStart = Clock::now();
    runEventsUntil([] { return false; }, int(kFreeSeconds * 500));
    const double freeRate =
        double(received - freeFrom) / std::chrono::duration<double>(Clock::now() - freeStart).count();

    // Slow reading.
    pace = std::max(1.0, freeRate / 10);
    runEventsUntil([&] { return stop.load(); }, int(g_slowSeconds * 500), 10);
    const qint64 halfwayKb = sampledPeakKb;
    runEventsUntil([&] { return stop.load(); }, int(g_slowSeconds * 500), 10);
    const qint64 sentTotal = sent;
    const qint64 receivedTotal = received;
    qint64 peakKb = sampledPeakKb;
    if (peakReset)
        peakKb = std::max(peakKb, bench::residentKb("VmHWM:"));

    stop = true;
    ::shutdown(from, SHUT_RDWR);
    ::shutdown(to, SHUT_RDWR);
    tx.join();
    rx.join();
    sampler.join();

    sample.runaway = runaway;
    sample.ok = !corrupt && !runaway && receivedTotal > 0;
    sample.freeMBps = freeRate / 1e6;
    sample.peakMB = double(peakKb) * 1024 / 1e6;
    sample.growthMB = double(peakKb - idleKb) * 1024 / 1e6;
    sample.lateGrowthMB = double(sampledPeakKb - halfwayKb) * 1024 / 1e6;
    sample.sentMB = double(sentTotal) / 1e6;
    sample.receivedMB = double(receivedTotal) / 1e6;
    if (corrupt)
        std::fprintf(stderr, "%s: the receiver got other bytes than were sent\n", setup.name.c_str());
    if (sample.runaway)
        std::fprintf(stderr, "%s: memory grew by more than 1 GB: unbounded\n", setup.name.c_str());
    return sample;
}

} // namespace

int main(int argc, char **argv)
{
    bench::prepareProcess();
    QApplication app(argc, argv);
    keepHeapTrimmed(&app);
    const bench::Options options = bench::parseOptions(app.arguments(), bench::Options{0, 3, {}});
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i)
        if (args[i] == QLatin1String("--seconds"))
            g_slowSeconds = std::max(1.0, args[i + 1].toDouble());
    const bench::PrivateSettings settings(2);
    const QByteArray pattern = bench::doubledPattern();

    const std::vector<std::pair<QString, Setup>> setups{
        {QStringLiteral("fast"), {"relay_slow_reader", kShowNothing, true}},
        {QStringLiteral("s2c"), {"relay_slow_reader_s2c", kShowNothing, false}},
        {QStringLiteral("display"), {"relay_slow_reader_display", kShowEverything, true}},
    };
    std::map<std::string, std::vector<Sample>> samples;
    bool failed = false;
    for (int r = 0; r < options.repeats; ++r) {
        for (const auto &[part, setup] : setups) {
            if (!options.only.isEmpty() && options.only != part)
                continue;
            const Sample s = measure(setup, pattern);
            if (!s.ok) {
                if (!s.runaway)
                    std::fprintf(stderr, "%s: the run did not complete\n", setup.name.c_str());
                failed = true;
            }
            samples[setup.name].push_back(s);
        }
    }
    for (const auto &[part, setup] : setups) {
        const std::vector<Sample> &list = samples[setup.name];
        if (list.empty())
            continue;
        auto med = [&](double Sample::*field) {
            std::vector<double> v;
            for (const Sample &s : list)
                v.push_back(s.*field);
            return bench::median(v);
        };
        const char *name = setup.name.c_str();
        std::printf("%s_peak_rss: %.1f MB\n", name, med(&Sample::peakMB));
        std::printf("%s_rss_growth: %.1f MB\n", name, med(&Sample::growthMB));
        std::printf("%s_late_growth: %.1f MB\n", name, med(&Sample::lateGrowthMB));
        std::printf("%s_sent: %.1f MB\n", name, med(&Sample::sentMB));
        std::printf("%s_received: %.1f MB\n", name, med(&Sample::receivedMB));
        std::vector<double> backlog;
        for (const Sample &s : list)
            backlog.push_back(s.sentMB - s.receivedMB);
        std::printf("%s_backlog: %.1f MB\n", name, bench::median(backlog));
        std::printf("%s_free_rate: %.1f MB/s\n", name, med(&Sample::freeMBps));
        // Memory grown per byte left waiting: near 1 if the relay kept all of it.
        std::vector<double> share;
        for (const Sample &s : list)
            share.push_back(s.sentMB > s.receivedMB ? s.growthMB / (s.sentMB - s.receivedMB) : 0);
        std::printf("%s_growth_vs_backlog_ratio: %.3f ratio\n", name, bench::median(share));
    }
    std::fflush(stdout);
    return failed ? 1 : 0;
}
