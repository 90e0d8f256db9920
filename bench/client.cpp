// How fast a Client-mode main window takes in a stream from a loopback
// server, with the show selector at "Nothing (Fast)!" and with everything
// displayed (default limits), and how long its GUI thread goes without a
// turn meanwhile.
//
// The server is a plain blocking socket on a thread of its own that sends
// the stream (lines of printable text of 16 to 160 characters ending in
// CR LF) and then closes. The stream counts as received when the window's
// socket reports the close, which it does only after every byte before it
// was handed to the window. Each figure is the median of three runs.
//
//   bench_client [--mib N] [--repeats N] [--only fast|display]

#include "benchsupport.h"
#include "controller/frmtarnwell.h"
#include "core/optionssource.h"
#include "net/socketcontrol.h"
#include "ui/scriptedui.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr qsizetype kChunk = 256 * 1024;
constexpr int kShowEverything = 0;
constexpr int kShowNothing = 3;
constexpr int kSetupTimeoutMs = 10000;
constexpr int kTransferTimeoutMs = 120000;

qint64 g_streamBytes = qint64(1) << 30;
int g_repeats = 3;

using bench::runEventsUntil;
using bench::Watch;

using bench::threadCpuSeconds;

struct Run
{
    bool ok = false;
    double mbps = 0;
    double maxStallMs = 0;
    double cpuPerGB = 0;
};

Run receive(int show, const QByteArray &doubledPattern)
{
    Run run;
    quint16 port = 0;
    const int listener = bench::listenLoopback(port);
    if (listener < 0)
        return run;

    DefaultOptions opts;
    ScriptedUi ui;
    tw::setOptions(&opts);
    {
        auto w = std::make_unique<frmTarnwell>();
        if (w->Load()) {
            w->show();
            ModeControls &t = w->tabs[0];
            t.cboShow->setCurrentIndex(show);
            t.txtServer->setText(QStringLiteral("127.0.0.1"));
            t.txtPortConnectTo->setText(QString::number(port));
            t.cmdConnect->click();
            int server = -1;
            const bool connected = runEventsUntil(
                                       [&] {
                                           if (server < 0)
                                               server = bench::acceptWithin(listener, 0);
                                           return server >= 0 && w->sckClient->State() == SocketControl::sckConnected;
                                       },
                                       kSetupTimeoutMs)
                                       .ok;
            // The window is up and painted before the stream starts.
            runEventsUntil([] { return false; }, 100);

            if (connected) {
                bool closed = false;
                Clock::time_point end;
                QObject::connect(w->sckClient, &SocketControl::Closed, w.get(), [&] {
                    end = Clock::now();
                    closed = true;
                });
                std::atomic<bool> failed{false};
                const double cpuBefore = threadCpuSeconds();
                const Clock::time_point start = Clock::now();
                std::thread sender([&] {
                    for (qint64 sent = 0; sent < g_streamBytes;) {
                        const qint64 n = std::min<qint64>(kChunk, g_streamBytes - sent);
                        const ssize_t wrote =
                            ::send(server, doubledPattern.constData() + sent % bench::kPatternBytes,
                                   size_t(n), MSG_NOSIGNAL);
                        if (wrote < 0 && errno == EINTR)
                            continue;
                        if (wrote <= 0) {
                            failed = true;
                            break;
                        }
                        sent += wrote;
                    }
                    ::shutdown(server, SHUT_WR);
                });
                const Watch watch = runEventsUntil([&] { return closed; }, kTransferTimeoutMs);
                const double cpu = threadCpuSeconds() - cpuBefore;
                if (!watch.ok)
                    ::shutdown(server, SHUT_RDWR);
                sender.join();
                run.ok = watch.ok && !failed;
                run.maxStallMs = watch.maxGapMs;
                run.mbps = double(g_streamBytes) / 1e6 / std::chrono::duration<double>(end - start).count();
                run.cpuPerGB = cpu / (double(g_streamBytes) / 1e9);
            }
            if (server >= 0)
                ::close(server);
            runEventsUntil([] { return false; }, 20);
        }
    }
    tw::setOptions(nullptr);
    ::close(listener);
    return run;
}

using bench::median;

} // namespace

int main(int argc, char **argv)
{
    bench::prepareProcess();
    QApplication app(argc, argv);
    keepHeapTrimmed(&app);

    const bench::Options options =
        bench::parseOptions(app.arguments(), bench::Options{g_streamBytes, g_repeats, QString()});
    g_streamBytes = options.streamBytes;
    g_repeats = options.repeats;
    const QString only = options.only;

    const bench::PrivateSettings settings(0);
    const QByteArray pattern = bench::doubledPattern();
    struct Kind
    {
        const char *name;
        int show;
        std::vector<double> mbps, stalls, cpu;
    };
    std::vector<Kind> kinds{{"client_fast", kShowNothing, {}, {}, {}},
                            {"client_display", kShowEverything, {}, {}, {}}};
    bool failed = false;
    for (int r = 0; r < g_repeats; ++r) {
        for (Kind &k : kinds) {
            if (!only.isEmpty() && QLatin1String(k.name).sliced(7) != only)
                continue;
            const Run run = receive(k.show, pattern);
            if (!run.ok) {
                std::fprintf(stderr, "%s: the stream did not get through\n", k.name);
                failed = true;
                continue;
            }
            k.mbps.push_back(run.mbps);
            k.stalls.push_back(run.maxStallMs);
            k.cpu.push_back(run.cpuPerGB);
        }
    }
    for (const Kind &k : kinds) {
        if (k.mbps.empty())
            continue;
        std::printf("%s: %.1f MB/s\n", k.name, median(k.mbps));
        std::printf("%s_cpu: %.2f s/GB\n", k.name, median(k.cpu));
        std::printf("%s_max_stall: %.2f ms\n", k.name, median(k.stalls));
        std::printf("%s_max_stall_worst: %.2f ms\n", k.name, *std::max_element(k.stalls.begin(), k.stalls.end()));
    }
    return failed ? 1 : 0;
}
