#pragma once

// Pieces every benchmark program of the project shares: watching the GUI
// thread for stalls, CPU clocks, medians, the command-line options, plain
// loopback sockets for the traffic ends, the text stream they carry, the
// process's resident memory and a private settings file.

#include "core/allocator.h"
#include "options/settingsstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace bench {

/// What every benchmark does before its QApplication: the allocator as the
/// program sets it up, the offscreen platform unless another is asked for,
/// and a write to a peer that has closed fails instead of ending the program.
inline void prepareProcess()
{
    settleAllocator();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::signal(SIGPIPE, SIG_IGN);
}

struct Watch
{
    bool ok = true;
    double maxGapMs = 0;
    /// How late each firing of the tick was, beyond its interval.
    std::vector<double> lateMs;
};

// Runs the GUI thread's events until done() holds or the time is up, with a
// timer that records the longest gap between two of its firings.
inline Watch runEventsUntil(const std::function<bool()> &done, int timeoutMs, int tickMs = 1)
{
    Watch watch;
    if (done())
        return watch;
    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(tickMs);
    QElapsedTimer total;
    QElapsedTimer since;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const double gap = double(since.nsecsElapsed()) / 1e6;
        watch.maxGapMs = std::max(watch.maxGapMs, gap);
        watch.lateMs.push_back(std::max(0.0, gap - tickMs));
        since.restart();
        if (done()) {
            loop.quit();
        } else if (total.elapsed() > timeoutMs) {
            watch.ok = false;
            loop.quit();
        }
    });
    total.start();
    since.start();
    tick.start();
    loop.exec();
    return watch;
}

inline double threadCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

/// The value below which the given share of the values lie (0.99: the 99th percentile).
inline double percentile(std::vector<double> v, double share)
{
    if (v.empty())
        return 0;
    const size_t at = std::min(v.size() - 1, size_t(share * double(v.size())));
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(at), v.end());
    return v[at];
}

/// The options of the stream benchmarks: --mib N, --repeats N, --only PART.
struct Options
{
    qint64 streamBytes = qint64(1) << 30;
    int repeats = 3;
    QString only;
};

inline Options parseOptions(const QStringList &args, Options options)
{
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--mib"))
            options.streamBytes = args[i + 1].toLongLong() * 1024 * 1024;
        else if (args[i] == QLatin1String("--repeats"))
            options.repeats = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--only"))
            options.only = args[i + 1];
    }
    return options;
}

// --- Plain loopback sockets (blocking; -1 where one failed) -----------------

/// A listener on 127.0.0.1 at a port the system picks, told in port.
inline int listenLoopback(quint16 &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

inline int connectLoopback(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

/// The connection waiting on listener, if one is there within ms.
inline int acceptWithin(int listener, int ms)
{
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1)
        return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

inline bool sendAll(int fd, const char *data, qint64 n)
{
    while (n > 0) {
        const ssize_t w = ::send(fd, data, size_t(n), MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        data += w;
        n -= w;
    }
    return true;
}

// --- The stream -------------------------------------------------------------

// Not a multiple of the usual 256 KiB pieces, so reads and writes wander
// across the pattern.
constexpr qsizetype kPatternBytes = 4 * 1024 * 1024 + 13;

/// Lines of printable text of 16 to 160 characters ending in CR LF, held
/// twice in a row so any piece up to one pattern long that starts at
/// offset % kPatternBytes is contiguous.
inline QByteArray doubledPattern()
{
    QRandomGenerator rng(20240611);
    QByteArray pattern;
    pattern.reserve(kPatternBytes + 200);
    while (pattern.size() < kPatternBytes) {
        const int length = int(rng.bounded(16, 161));
        for (int i = 0; i < length; ++i)
            pattern.append(char(rng.bounded(32, 127)));
        pattern.append("\r\n");
    }
    pattern.truncate(kPatternBytes);
    return pattern + pattern;
}

// --- Resident memory --------------------------------------------------------

/// A field of /proc/self/status in KiB ("VmRSS:" now, "VmHWM:" the most
/// since the last reset); -1 if unknown.
inline qint64 residentKb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

/// Starts "VmHWM:" afresh from the present resident size.
inline void resetPeakResident()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// --- A private settings file ------------------------------------------------

/// A settings file and home of the program's own in a temporary folder, so
/// nothing touches the user's; start-up asks nothing and opens in mode.
struct PrivateSettings
{
    QTemporaryDir home;
    SettingsStore store;

    explicit PrivateSettings(int mode) : store(home.path() + QStringLiteral("/tarnwell.ini"))
    {
        qputenv("TARNWELL_HOME", home.path().toLocal8Bit());
        qputenv("TARNWELL_CONFIG_DIR", home.path().toLocal8Bit());
        store.Save(QStringLiteral("StartUp"), QStringLiteral("ShowConfigurations"), QStringLiteral("0"));
        store.Save(QStringLiteral("Mode"), QStringLiteral("Mode"), QString::number(mode));
        SettingsStore::setInstance(&store);
    }
    ~PrivateSettings() { SettingsStore::setInstance(nullptr); }
    PrivateSettings(const PrivateSettings &) = delete;
    PrivateSettings &operator=(const PrivateSettings &) = delete;
};

} // namespace bench
