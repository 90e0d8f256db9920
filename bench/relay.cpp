// Pass Through on loopback: how fast the main window relays a stream in each
// direction, with the show selector at "Nothing (Fast)!" and with everything
// displayed (in the text view, and in the list with "Details" ticked),
// beside socat relaying the same stream (plain, and with its text dump
// written to /dev/null) and the bare loopback; and what each relay adds to
// the round trip of a 100-byte request. With logging: the two relay logs
// (no date, no hex) and all seven logs with date stamps, beside socat
// writing its raw dump of each direction to files. The log files of both go
// to a folder in memory (/dev/shm where there is one, TARNWELL_BENCH_LOGS
// to choose another): the figures are about the programs, and on a disk
// the one that must write four times the bytes (the logs' own layout in
// the server-to-client direction) would measure the disk's sustained speed.
//
// The display figures are taken on the platform of this process (offscreen
// unless told) and, when an X display is at hand, again on xcb by a child
// copy of this program, turn about, so both platforms see the same load.
// Under xcb it also takes how late a timer fires during the list flood, and
// how long a posted event and opening a menu take once a 1 MB message
// without a separator has been listed.
//
// The traffic ends are plain blocking sockets on threads of their own, so
// the GUI thread belongs to the main window alone, and the sink checks every
// byte it receives. The stream is lines of printable text of 16 to 160
// characters ending in CR LF. Each figure is the median of three runs, and
// every run gets a fresh main window or socat.
//
//   bench_relay [--mib N] [--display-mib N] [--repeats N]
//               [--only fast|display|views|socat|latency|logs|ui]
// (smaller runs are for profiling; --only views takes the display figures
// on this process's platform alone).

#include "benchsupport.h"
#include "controller/frmtarnwell.h"
#include "core/optionssource.h"
#include "display/datalistmodel.h"
#include "logging/frmlogging.h"
#include "net/socketcontrol.h"
#include "options/settingsstore.h"
#include "ui/scriptedui.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr qsizetype kChunk = 256 * 1024;
// Not a multiple of the chunk, so reads and writes wander across the pattern.
using bench::kPatternBytes;
constexpr int kPingBytes = 100;
constexpr int kPingWarmup = 200;
constexpr int kPings = 3000;
constexpr int kShowEverything = 0;
constexpr int kShowNothing = 3;
constexpr int kSetupTimeoutMs = 10000;
constexpr int kTransferTimeoutMs = 120000;

qint64 g_streamBytes = qint64(1) << 30;
// The displayed relays and socat's text dump are far slower than the others:
// they get a shorter stream.
qint64 g_displayBytes = qint64(128) << 20;
int g_repeats = 3;
// Run by another copy of this program: print every sample, no summary.
bool g_child = false;

// --- Plain sockets for the traffic ends -------------------------------------

class Fd
{
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(Fd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd &operator=(Fd &&other) noexcept
    {
        reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { reset(); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

sockaddr_in loopback(quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

Fd listenLoopback(quint16 &port)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopback(0);
    if (::bind(fd.get(), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd.get(), 16) != 0)
        return Fd();
    socklen_t len = sizeof a;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

quint16 freePort()
{
    quint16 port = 0;
    listenLoopback(port);
    return port;
}

Fd acceptWithin(int listener, int ms)
{
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1)
        return Fd();
    return Fd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

Fd connectLoopback(quint16 port)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in a = loopback(port);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0)
        return Fd();
    return fd;
}

void setNoDelay(int fd)
{
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool readExactly(int fd, char *data, qint64 n)
{
    while (n > 0) {
        const ssize_t r = ::recv(fd, data, size_t(n), 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        data += r;
        n -= r;
    }
    return true;
}

// --- The stream -------------------------------------------------------------

// A pattern of text lines, held twice in a row so that any piece of up to one
// pattern length starting anywhere in it is contiguous.
class Stream
{
public:
    Stream()
        : m_doubled(bench::doubledPattern())
    {
    }
    const char *at(qint64 offset) const { return m_doubled.constData() + offset % kPatternBytes; }

private:
    QByteArray m_doubled;
};

void source(int fd, qint64 total, const Stream &stream, std::atomic<bool> &failed)
{
    for (qint64 sent = 0; sent < total;) {
        const qint64 n = std::min<qint64>(kChunk, total - sent);
        const ssize_t w = ::send(fd, stream.at(sent), size_t(n), MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            failed = true;
            return;
        }
        sent += w;
    }
}

void sink(int fd, qint64 total, const Stream &stream, std::atomic<bool> &failed)
{
    std::vector<char> buffer(kChunk);
    for (qint64 got = 0; got < total;) {
        const ssize_t r = ::recv(fd, buffer.data(), size_t(std::min<qint64>(kChunk, total - got)), 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0 || std::memcmp(buffer.data(), stream.at(got), size_t(r)) != 0) {
            failed = true;
            return;
        }
        got += r;
    }
}

// --- The GUI thread's turn --------------------------------------------------

using bench::runEventsUntil;
using bench::Watch;

// --- What carries the stream ------------------------------------------------

enum class Via { Direct, Window, Socat };
// Which logs the window writes, or whether socat dumps both directions.
enum class Logs
{
    None,
    Relay,
    All
};

struct Setup
{
    Via via = Via::Direct;
    int show = kShowNothing;
    QStringList socatOptions;
    Logs logs = Logs::None;
    // "Details" ticked: the list is shown instead of the text view.
    bool list = false;
    // The stream's length; 0 for the common one.
    qint64 bytes = 0;
};

QString logsFolder()
{
    const QString chosen = qEnvironmentVariable("TARNWELL_BENCH_LOGS");
    if (!chosen.isEmpty())
        return chosen;
    const QFileInfo memory(QStringLiteral("/dev/shm"));
    return memory.isDir() && memory.isWritable() ? memory.filePath() : QDir::tempPath();
}

// A main window in Pass Through mode with its own options and scripted dialogs.
struct WindowRelay
{
    DefaultOptions opts;
    ScriptedUi ui;
    std::unique_ptr<frmTarnwell> w;

    WindowRelay() { tw::setOptions(&opts); }
    ~WindowRelay()
    {
        w.reset();
        tw::setOptions(nullptr);
    }
};

// The two ends of one connection through the relay under test: what the
// client end writes reaches the server end, and back.
struct Path
{
    Fd client;
    Fd server;
    std::unique_ptr<WindowRelay> window;
    std::unique_ptr<QProcess> socat;
    // The log files of the run; they go with it.
    std::unique_ptr<QTemporaryDir> logs;

    ~Path()
    {
        client.reset();
        server.reset();
        if (window) {
            // Let the window see the ends go before it is torn down.
            runEventsUntil([] { return false; }, 20);
            window.reset();
        }
        if (socat && !socat->waitForFinished(3000)) {
            socat->kill();
            socat->waitForFinished(1000);
        }
    }
};

bool socatAvailable()
{
    return !QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty();
}

std::unique_ptr<Path> openPath(const Setup &setup)
{
    auto path = std::make_unique<Path>();
    quint16 upstreamPort = 0;
    Fd upstream = listenLoopback(upstreamPort);
    if (!upstream)
        return nullptr;

    if (setup.logs != Logs::None)
        path->logs = std::make_unique<QTemporaryDir>(logsFolder() + QStringLiteral("/bench_relay-XXXXXX"));
    if (setup.via == Via::Direct) {
        path->client = connectLoopback(upstreamPort);
        path->server = acceptWithin(upstream.get(), kSetupTimeoutMs);
    } else if (setup.via == Via::Socat) {
        const quint16 port = freePort();
        path->socat = std::make_unique<QProcess>();
        // socat -v writes its text dump to its error output.
        if (setup.socatOptions.contains(QStringLiteral("-v"))) {
            path->socat->setProcessChannelMode(QProcess::ForwardedOutputChannel);
            path->socat->setStandardErrorFile(QProcess::nullDevice());
        } else {
            path->socat->setProcessChannelMode(QProcess::ForwardedChannels);
        }
        QStringList dumps;
        if (path->logs)
            dumps << QStringLiteral("-r") << path->logs->filePath(QStringLiteral("c2s.raw"))
                  << QStringLiteral("-R") << path->logs->filePath(QStringLiteral("s2c.raw"));
        path->socat->start(QStringLiteral("socat"),
                           QStringList(setup.socatOptions) + dumps
                               << QStringLiteral("TCP-LISTEN:%1,reuseaddr,bind=127.0.0.1").arg(port)
                               << QStringLiteral("TCP:127.0.0.1:%1").arg(upstreamPort));
        if (!path->socat->waitForStarted(kSetupTimeoutMs))
            return nullptr;
        // socat serves one connection; the first one that gets through is ours.
        QElapsedTimer t;
        t.start();
        while (!path->client && t.elapsed() < kSetupTimeoutMs) {
            path->client = connectLoopback(port);
            if (!path->client)
                ::usleep(2000);
        }
        if (path->client)
            path->server = acceptWithin(upstream.get(), kSetupTimeoutMs);
    } else {
        path->window = std::make_unique<WindowRelay>();
        frmTarnwell *w = nullptr;
        path->window->w = std::make_unique<frmTarnwell>();
        w = path->window->w.get();
        if (!w->Load())
            return nullptr;
        w->show();
        if (path->logs) {
            DataLogger &logger = w->logging()->logger();
            for (int n = DataLogger::kFirstType; n <= DataLogger::kLastType; ++n) {
                const bool on = setup.logs == Logs::All || n == DataLogger::ClientToServer ||
                                n == DataLogger::ServerToClient;
                logger.SetLogInfo(n, on, path->logs->filePath(QStringLiteral("%1.log").arg(n)),
                                  setup.logs == Logs::All);
            }
            logger.setLogInHex(false);
        }
        ModeControls &t = w->tabs[2];
        t.cboShow->setCurrentIndex(setup.show);
        if (t.chkReceivedFields->isChecked() != setup.list)
            t.chkReceivedFields->click();
        t.txtServer->setText(QStringLiteral("127.0.0.1"));
        t.txtPortConnectTo->setText(QString::number(upstreamPort));
        t.txtPort->setText(QStringLiteral("0"));
        w->findChild<QPushButton *>(QStringLiteral("cmdStartBoth"))->click();
        Path *p = path.get();
        const int upstreamFd = upstream.get();
        if (!runEventsUntil(
                 [&] {
                     if (!p->server)
                         p->server = acceptWithin(upstreamFd, 0);
                     return p->server && w->sckClient->State() == SocketControl::sckConnected;
                 },
                 kSetupTimeoutMs)
                 .ok)
            return nullptr;
        path->client = connectLoopback(quint16(w->sckServer[0]->LocalPort()));
        if (!runEventsUntil([&] { return w->intClientCount == 1; }, kSetupTimeoutMs).ok)
            return nullptr;
        // The window is up and painted before the stream starts.
        runEventsUntil([] { return false; }, 100);
    }
    if (!path->client || !path->server)
        return nullptr;
    return path;
}

// --- Measurements -----------------------------------------------------------

struct Flow
{
    bool ok = false;
    double gbps = 0;
    double maxStallMs = 0;
    // How late the 1 ms tick fired, at the 99th percentile.
    double p99LateMs = 0;
    // CPU time the relay spent on the stream, per GB: on a busy machine this
    // tells the relays' cost apart better than the rate does.
    double cpuPerGB = -1;
};

using bench::threadCpuSeconds;

// User and system time of a child so far, from /proc; negative if unknown.
double processCpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // Fields after the command name (which may hold spaces) start at ") ".
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

Flow transfer(const Setup &setup, bool clientToServer, const Stream &stream)
{
    Flow flow;
    std::unique_ptr<Path> path = openPath(setup);
    if (!path)
        return flow;
    const int from = clientToServer ? path->client.get() : path->server.get();
    const int to = clientToServer ? path->server.get() : path->client.get();
    std::atomic<bool> failed{false};
    std::atomic<bool> done{false};
    const qint64 total = setup.bytes > 0 ? setup.bytes : g_streamBytes;

    const qint64 socatPid = path->socat ? path->socat->processId() : 0;
    const double cpuBefore = path->socat ? processCpuSeconds(socatPid) : threadCpuSeconds();
    double cpuAfter = -1;
    const Clock::time_point start = Clock::now();
    Clock::time_point end;
    std::thread rx([&] {
        sink(to, total, stream, failed);
        end = Clock::now();
        done = true;
    });
    std::thread tx([&] { source(from, total, stream, failed); });
    const Watch watch = runEventsUntil([&] { return done.load(); }, kTransferTimeoutMs);
    cpuAfter = path->socat ? processCpuSeconds(socatPid) : threadCpuSeconds();
    if (!watch.ok) {
        ::shutdown(from, SHUT_RDWR);
        ::shutdown(to, SHUT_RDWR);
    }
    tx.join();
    rx.join();
    flow.ok = watch.ok && !failed;
    flow.maxStallMs = watch.maxGapMs;
    flow.p99LateMs = bench::percentile(watch.lateMs, 0.99);
    flow.gbps = double(total) * 8.0 / std::chrono::duration<double>(end - start).count() / 1e9;
    if (setup.via != Via::Direct && cpuBefore >= 0 && cpuAfter >= 0)
        flow.cpuPerGB = (cpuAfter - cpuBefore) / (double(total) / 1e9);
    return flow;
}

// Median round trips of a 100-byte request answered by a 100-byte reply, in
// microseconds, one per setup (negative where the path failed). The paths
// take turns in short batches, so a busy spell of the machine falls on all
// of them alike.
std::vector<double> roundTrips(const std::vector<Setup> &setups)
{
    constexpr int kBatch = 50;
    std::vector<std::unique_ptr<Path>> paths;
    for (const Setup &setup : setups) {
        paths.push_back(openPath(setup));
        if (paths.back()) {
            setNoDelay(paths.back()->client.get());
            setNoDelay(paths.back()->server.get());
        }
    }
    std::vector<std::vector<double>> trips(paths.size());
    std::atomic<bool> done{false};

    std::vector<std::thread> echoes;
    for (const auto &path : paths) {
        if (!path)
            continue;
        const int server = path->server.get();
        echoes.emplace_back([server] {
            char buffer[kPingBytes];
            while (readExactly(server, buffer, kPingBytes) && bench::sendAll(server, buffer, kPingBytes)) {
            }
        });
    }
    std::thread ping([&] {
        char request[kPingBytes];
        char reply[kPingBytes];
        std::memset(request, 'p', sizeof request);
        request[kPingBytes - 2] = '\r';
        request[kPingBytes - 1] = '\n';
        std::vector<bool> failed(paths.size(), false);
        for (int round = 0; round < (kPingWarmup + kPings) / kBatch; ++round) {
            for (size_t p = 0; p < paths.size(); ++p) {
                if (!paths[p] || failed[p])
                    continue;
                const int client = paths[p]->client.get();
                for (int i = 0; i < kBatch; ++i) {
                    const Clock::time_point t0 = Clock::now();
                    if (!bench::sendAll(client, request, kPingBytes) ||
                        !readExactly(client, reply, kPingBytes)) {
                        failed[p] = true;
                        trips[p].clear();
                        break;
                    }
                    if (round * kBatch >= kPingWarmup)
                        trips[p].push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
                }
            }
        }
        done = true;
    });
    // A slow tick here: its wake-ups would only add to what is measured.
    runEventsUntil([&] { return done.load(); }, kTransferTimeoutMs, 50);
    for (const auto &path : paths) {
        if (path) {
            ::shutdown(path->client.get(), SHUT_RDWR);
            ::shutdown(path->server.get(), SHUT_RDWR);
        }
    }
    ping.join();
    for (std::thread &echo : echoes)
        echo.join();

    std::vector<double> medians;
    for (auto &t : trips) {
        if (t.empty()) {
            medians.push_back(-1);
            continue;
        }
        std::nth_element(t.begin(), t.begin() + t.size() / 2, t.end());
        medians.push_back(t[t.size() / 2]);
    }
    return medians;
}

using bench::median;

// This process's platform, and the part of a figure's name that tells it
// ("" offscreen, "_xcb" under X).
QString g_platform;
std::string platformPart()
{
    return g_platform == QLatin1String("offscreen") ? std::string() : "_" + g_platform.toStdString();
}
// The figures of the window's latency are taken under X: elsewhere their
// names tell the platform.
std::string uiName(const std::string &base)
{
    return g_platform == QLatin1String("xcb") ? base : base + "_" + g_platform.toStdString();
}

// Every sample of every figure, printed as medians at the end.
std::map<std::string, std::vector<double>> g_samples;
std::vector<std::string> g_order;
bool g_failed = false;

void record(const std::string &name, double value)
{
    if (!g_samples.count(name))
        g_order.push_back(name);
    g_samples[name].push_back(value);
}

// The flows both ways; with stalls, the longest gap of the GUI thread, and
// under lateName how late its timer fired (99th percentile of both flows).
void measureFlows(const std::string &name, const Setup &setup, const Stream &stream, bool stalls,
                  const std::string &lateName = std::string())
{
    double worst = 0;
    double late = 0;
    for (const bool c2s : {true, false}) {
        const Flow f = transfer(setup, c2s, stream);
        if (!f.ok) {
            std::fprintf(stderr, "%s %s: the stream did not get through whole\n", name.c_str(), c2s ? "c2s" : "s2c");
            g_failed = true;
            continue;
        }
        record(name + (c2s ? "_c2s" : "_s2c"), f.gbps);
        if (f.cpuPerGB >= 0)
            record(name + (c2s ? "_c2s_cpu" : "_s2c_cpu"), f.cpuPerGB);
        worst = std::max(worst, f.maxStallMs);
        late = std::max(late, f.p99LateMs);
    }
    if (stalls)
        record(name + "_max_stall", worst);
    if (!lateName.empty())
        record(lateName, late);
}

// Once a 1 MB message without a separator is listed (the list shown), how
// long a posted event waits, and how long a menu takes from its popup to
// its first paint and the event loop's next turn, or the longest the event
// loop is held while it is open, whichever is longer. Medians of five.
void measureAfterBigRow(const std::string &name)
{
    Setup setup{Via::Window, kShowEverything, {}, Logs::None, true};
    std::unique_ptr<Path> path = openPath(setup);
    if (!path) {
        std::fprintf(stderr, "%s: the relay did not start\n", name.c_str());
        g_failed = true;
        return;
    }
    frmTarnwell *w = path->window->w.get();
    const QByteArray big(1 << 20, 'x');
    std::atomic<bool> failed{false};
    std::atomic<bool> done{false};
    std::thread rx([&] {
        std::vector<char> buffer(size_t(big.size()));
        failed = !readExactly(path->client.get(), buffer.data(), big.size());
        done = true;
    });
    std::thread tx(
        [&] { failed = failed || !bench::sendAll(path->server.get(), big.constData(), big.size()); });
    const bool through = runEventsUntil([&] { return done.load(); }, kTransferTimeoutMs).ok;
    if (!through) {
        ::shutdown(path->client.get(), SHUT_RDWR);
        ::shutdown(path->server.get(), SHUT_RDWR);
    }
    tx.join();
    rx.join();
    // A shown list takes its new rows in batches, a moment after they came.
    const bool listed = runEventsUntil([&] { return w->tabs[2].model->rowCount() > 0; }, 1000).ok;
    if (!through || failed || !listed) {
        std::fprintf(stderr, "%s: the message did not get through\n", name.c_str());
        g_failed = true;
        return;
    }
    // Listed and painted, and the list has the focus, as after a click on it.
    w->activateWindow();
    w->tabs[2].lvwReceived->setFocus();
    runEventsUntil([] { return false; }, 300);

    std::vector<double> posted;
    std::vector<double> menus;
    QMenu *menu = w->menuBar()->actions().value(0) ? w->menuBar()->actions().value(0)->menu() : nullptr;
    struct FirstPaint : QObject
    {
        bool painted = false;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                painted = true;
            return false;
        }
    } firstPaint;
    if (menu)
        menu->installEventFilter(&firstPaint);
    for (int i = 0; i < 5; ++i) {
        const Clock::time_point t0 = Clock::now();
        Clock::time_point ran;
        bool hit = false;
        QMetaObject::invokeMethod(
            qApp,
            [&] {
                ran = Clock::now();
                hit = true;
            },
            Qt::QueuedConnection);
        runEventsUntil([&] { return hit; }, kTransferTimeoutMs);
        posted.push_back(std::chrono::duration<double, std::milli>(ran - t0).count());
        if (!menu)
            continue;
        firstPaint.painted = false;
        bool turned = false;
        Clock::time_point shown;
        const Clock::time_point m0 = Clock::now();
        menu->popup(w->mapToGlobal(QPoint(20, 20)));
        runEventsUntil(
            [&] {
                if (firstPaint.painted && !turned) {
                    turned = true;
                    QTimer::singleShot(0, qApp, [&] { shown = Clock::now(); });
                }
                return shown != Clock::time_point();
            },
            kTransferTimeoutMs);
        const double open = std::chrono::duration<double, std::milli>(shown - m0).count();
        const Watch held = runEventsUntil([] { return false; }, 200);
        menu->hide();
        runEventsUntil([] { return false; }, 100);
        menus.push_back(std::max(open, held.maxGapMs));
    }
    record(name + "_posted", median(posted));
    if (!menus.empty())
        record(name + "_menu", median(menus));
    record(name, std::max(median(posted), median(menus)));
}

double med(const std::string &name)
{
    return median(g_samples[name]);
}

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
    auto wanted = [&](const char *part) { return only.isEmpty() || only == QLatin1String(part); };
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--display-mib"))
            g_displayBytes = args[i + 1].toLongLong() * 1024 * 1024;
        else if (args[i] == QLatin1String("--child"))
            g_child = args[i + 1] == QLatin1String("1");
    }
    g_displayBytes = std::min(g_displayBytes, g_streamBytes);
    g_platform = QGuiApplication::platformName();
    // The display figures again under X, from a copy of this program, when
    // there is a display to use and this copy is not on it already.
    const bool xChild = !g_child && g_platform != QLatin1String("xcb") && !qEnvironmentVariableIsEmpty("DISPLAY");
    if (!g_child && !xChild && g_platform != QLatin1String("xcb") && (wanted("display") || wanted("ui")))
        std::printf("no X display (make bench runs under xvfb-run): the xcb figures are skipped\n");
    const auto onX = [&](const char *part) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--child"), QStringLiteral("1"), QStringLiteral("--only"),
                     QString::fromLatin1(part), QStringLiteral("--repeats"), QStringLiteral("1"),
                     QStringLiteral("--mib"), QString::number(g_streamBytes >> 20), QStringLiteral("--display-mib"),
                     QString::number(g_displayBytes >> 20)});
        if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            g_failed = true;
        for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() == 3 && fields[0] == "sample")
                record(fields[1].toStdString(), fields[2].toDouble());
            else if (!line.isEmpty())
                std::printf("%s\n", line.constData());
        }
    };

    // A private settings file and home: nothing touches the user's own.
    QTemporaryDir home;
    qputenv("TARNWELL_HOME", home.path().toLocal8Bit());
    qputenv("TARNWELL_CONFIG_DIR", home.path().toLocal8Bit());
    SettingsStore store(home.path() + QStringLiteral("/tarnwell.ini"));
    store.Save(QStringLiteral("StartUp"), QStringLiteral("ShowConfigurations"), QStringLiteral("0"));
    store.Save(QStringLiteral("Mode"), QStringLiteral("Mode"), QStringLiteral("2"));
    SettingsStore::setInstance(&store);

    const Stream stream;
    const bool haveSocat = socatAvailable();
    if (!haveSocat)
        std::printf("socat is not installed (scripts/install-deps --bench): its figures are skipped\n");

    const Setup direct{Via::Direct, kShowNothing, {}};
    const Setup fast{Via::Window, kShowNothing, {}};
    const Setup display{Via::Window, kShowEverything, {}, Logs::None, false, g_displayBytes};
    const Setup displayList{Via::Window, kShowEverything, {}, Logs::None, true, g_displayBytes};
    const Setup socatDefault{Via::Socat, kShowNothing, {}};
    const Setup socatVerbose{Via::Socat, kShowNothing, {QStringLiteral("-v")}, Logs::None, false, g_displayBytes};
    const Setup socatTuned{Via::Socat, kShowNothing, {QStringLiteral("-b"), QStringLiteral("262144")}};
    const Setup socatRaw{
        Via::Socat, kShowNothing, {QStringLiteral("-b"), QStringLiteral("262144")}, Logs::All};
    const Setup logsRelay{Via::Window, kShowNothing, {}, Logs::Relay};
    const Setup logsAll{Via::Window, kShowNothing, {}, Logs::All};

    for (int r = 0; r < g_repeats; ++r) {
        if (wanted("socat")) {
            const Flow f = transfer(direct, true, stream);
            if (f.ok)
                record("direct_loopback", f.gbps);
            if (haveSocat) {
                measureFlows("socat_default", socatDefault, stream, false);
                measureFlows("socat_tuned", socatTuned, stream, false);
                measureFlows("socat_verbose", socatVerbose, stream, false);
            }
        }
        if (wanted("fast"))
            measureFlows("relay_fast", fast, stream, true);
        if (wanted("display") || only == QLatin1String("views")) {
            measureFlows("relay_display" + platformPart(), display, stream, true);
            measureFlows("relay_display_list" + platformPart(), displayList, stream, true,
                         uiName("ui_latency_p99_display_flood"));
            if (xChild && wanted("display"))
                onX("views");
        }
        if (wanted("ui")) {
            if (xChild)
                onX("ui");
            else
                measureAfterBigRow(uiName("ui_latency_after_1mb_row"));
        }
        if (wanted("logs")) {
            if (haveSocat)
                measureFlows("socat_raw", socatRaw, stream, false);
            measureFlows("relay_logs_raw", logsRelay, stream, true);
            measureFlows("relay_logs_all", logsAll, stream, true);
        }
        if (wanted("latency")) {
            // One main window at a time: it owns the program-wide services.
            std::vector<Setup> setups{direct, fast};
            if (haveSocat)
                setups.push_back(socatDefault);
            const std::vector<double> trips = roundTrips(setups);
            if (trips[0] >= 0) {
                record("direct_round_trip", trips[0]);
                if (trips[1] >= 0)
                    record("relay_added_latency", trips[1] - trips[0]);
                if (haveSocat && trips[2] >= 0)
                    record("socat_added_latency", trips[2] - trips[0]);
            }
            const std::vector<double> shown = roundTrips({direct, display});
            if (shown[0] >= 0 && shown[1] >= 0)
                record("relay_display_added_latency", shown[1] - shown[0]);
        }
    }

    if (g_child) {
        for (const std::string &name : g_order) {
            for (const double v : g_samples[name])
                std::printf("sample %s %.6g\n", name.c_str(), v);
        }
        SettingsStore::setInstance(nullptr);
        return g_failed ? 1 : 0;
    }
    for (const std::string &name : g_order) {
        const char *unit = "Gbit/s";
        if (name.rfind("ui_latency", 0) == 0)
            unit = "ms";
        else if (name.find("latency") != std::string::npos || name.find("round_trip") != std::string::npos)
            unit = "us";
        else if (name.find("stall") != std::string::npos)
            unit = "ms";
        else if (name.find("_cpu") != std::string::npos)
            unit = "s/GB";
        std::printf("%s: %.4g %s\n", name.c_str(), med(name), unit);
        if (name.find("stall") != std::string::npos) {
            const auto &v = g_samples[name];
            std::printf("%s_worst: %.2f ms\n", name.c_str(), *std::max_element(v.begin(), v.end()));
        }
    }
    auto ratio = [&](const char *name, const std::string &a, const std::string &b) {
        if (g_samples.count(a) && g_samples.count(b) && med(b) > 0)
            std::printf("%s: %.2f ratio\n", name, med(a) / med(b));
    };
    ratio("relay_fast_vs_socat_ratio", "relay_fast_c2s", "socat_tuned_c2s");
    ratio("relay_fast_vs_socat_default_ratio", "relay_fast_c2s", "socat_default_c2s");
    ratio("relay_display_vs_socat_default_ratio", "relay_display_c2s", "socat_default_c2s");
    ratio("relay_fast_s2c_vs_socat_ratio", "relay_fast_s2c", "socat_tuned_s2c");
    ratio("relay_display_s2c_vs_socat_default_ratio", "relay_display_s2c", "socat_default_s2c");
    ratio("relay_display_vs_socat_verbose_ratio", "relay_display_c2s", "socat_verbose_c2s");
    ratio("relay_display_list_vs_socat_verbose_ratio", "relay_display_list_c2s", "socat_verbose_c2s");
    // With logs, the slower direction counts: each writes different logs.
    auto worseRatio = [&](const char *name, const std::string &a, const std::string &b) {
        const std::string dirs[] = {"_c2s", "_s2c"};
        double worst = -1;
        for (const std::string &d : dirs) {
            if (!g_samples.count(a + d) || !g_samples.count(b + d) || med(b + d) <= 0)
                return;
            const double r = med(a + d) / med(b + d);
            std::printf("%s%s: %.2f ratio\n", name, d.c_str(), r);
            worst = worst < 0 ? r : std::min(worst, r);
        }
        std::printf("%s: %.2f ratio\n", name, worst);
    };
    // The list shown against the text view, and each view under X against
    // the same view offscreen.
    worseRatio("relay_display_list_vs_text_ratio", "relay_display_list", "relay_display");
    worseRatio("relay_display_list_xcb_vs_offscreen_ratio", "relay_display_list_xcb", "relay_display_list");
    worseRatio("relay_display_text_xcb_vs_offscreen_ratio", "relay_display_xcb", "relay_display");
    ratio("relay_vs_socat_added_latency_ratio", "relay_added_latency", "socat_added_latency");
    worseRatio("relay_logs_raw_vs_socat_raw_ratio", "relay_logs_raw", "socat_raw");
    worseRatio("relay_logs_all_vs_socat_raw_ratio", "relay_logs_all", "socat_raw");
    SettingsStore::setInstance(nullptr);
    return g_failed ? 1 : 0;
}
