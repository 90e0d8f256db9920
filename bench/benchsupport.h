#pragma once

// Pieces every benchmark program of the project shares: watching the GUI
// thread for stalls, CPU clocks, medians and the command-line options.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include <time.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace bench {

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

} // namespace bench
