// Arrivals from several clients at once.
//
// server3_display: three loopback clients each send a stream into Server
// mode with "Input & Output" shown in the list; the program's peak resident
// memory from the start of the streams, and, when the first client's stream
// has been taken in whole, the least any other client got through, as a
// share of the stream. Bytes count as taken in when the data path has
// handled them (shown and logged).
//
// passthrough_reconnect: Pass Through with one client allowed; twenty times
// a client sends a request and closes, and the next one connects at once:
// how many of them were accepted and relayed to the server whole.
//
// The clients and the server are plain blocking sockets on threads of their
// own, so the GUI thread belongs to the main window alone.
//
//   bench_server [--mib N] [--only server3|reconnect]

#include "benchsupport.h"
#include "controller/frmtarnwell.h"
#include "core/optionssource.h"
#include "net/socketcontrol.h"
#include "options/settingsstore.h"
#include "ui/scriptedui.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr qsizetype kChunk = 256 * 1024;
constexpr int kShowEverything = 0;
constexpr int kClients = 3;
constexpr int kRounds = 20;
constexpr int kSetupTimeoutMs = 10000;
constexpr int kTransferTimeoutMs = 600000;
constexpr int kRoundTimeoutMs = 3000;

using bench::runEventsUntil;

using bench::connectLoopback;
using bench::residentKb;
using bench::sendAll;

// The main window, counting per socket label what its data path handled.
class CountingWindow : public frmTarnwell
{
public:
    void IncomingDataArrived(const QString &strSocket, const QByteArray &strData) override
    {
        handled[strSocket] += strData.size();
        if (onHandled)
            onHandled();
        frmTarnwell::IncomingDataArrived(strSocket, strData);
    }
    QHash<QString, qint64> handled;
    std::function<void()> onHandled;
};

struct Window
{
    DefaultOptions opts;
    ScriptedUi ui;
    std::unique_ptr<CountingWindow> w;

    Window(int mode)
    {
        tw::setOptions(&opts);
        SettingsStore::instance().Save(QStringLiteral("Mode"), QStringLiteral("Mode"), QString::number(mode));
        w = std::make_unique<CountingWindow>();
        if (!w->Load())
            w.reset();
        else
            w->show();
    }
    ~Window()
    {
        w.reset();
        tw::setOptions(nullptr);
    }
};

struct Server3
{
    bool ok = false;
    double peakRssMb = 0;
    double minShare = 0;
    double seconds = 0;
};

Server3 server3Display(qint64 each)
{
    Server3 result;
    Window window(1);
    if (!window.w)
        return result;
    CountingWindow *w = window.w.get();
    w->tabs[1].cboShow->setCurrentIndex(kShowEverything);
    w->tabs[1].txtPort->setText(QStringLiteral("0"));
    w->tabs[1].cmdListen->click();
    const quint16 port = quint16(w->sckServer[0]->LocalPort());
    std::array<int, kClients> fds{};
    for (int &fd : fds)
        fd = connectLoopback(port);
    if (!runEventsUntil([&] { return w->intClientCount == kClients; }, kSetupTimeoutMs).ok)
        return result;
    runEventsUntil([] { return false; }, 100);

    const QByteArray pattern = bench::doubledPattern();
    double leastAtFirstEnd = -1;
    w->onHandled = [&] {
        if (leastAtFirstEnd >= 0)
            return;
        qint64 most = 0;
        qint64 least = each;
        for (int n = 1; n <= kClients; ++n) {
            const qint64 got = w->handled.value(QString::number(n) + QStringLiteral("#: "));
            most = std::max(most, got);
            least = std::min(least, got);
        }
        if (most >= each)
            leastAtFirstEnd = double(least) / double(each);
    };
    bench::resetPeakResident();
    std::atomic<int> failed{0};
    std::vector<std::thread> senders;
    for (const int fd : fds) {
        senders.emplace_back([&, fd] {
            for (qint64 sent = 0; sent < each;) {
                const qint64 n = std::min<qint64>(kChunk, each - sent);
                if (!sendAll(fd, pattern.constData() + sent % bench::kPatternBytes, n)) {
                    ++failed;
                    return;
                }
                sent += n;
            }
        });
    }
    QElapsedTimer t;
    t.start();
    const bench::Watch watch = runEventsUntil(
        [&] {
            for (int n = 1; n <= kClients; ++n)
                if (w->handled.value(QString::number(n) + QStringLiteral("#: ")) < each)
                    return false;
            return true;
        },
        kTransferTimeoutMs, 10);
    result.seconds = double(t.elapsed()) / 1000.0;
    result.peakRssMb = double(residentKb("VmHWM:")) / 1024.0;
    for (const int fd : fds)
        ::shutdown(fd, SHUT_RDWR);
    for (std::thread &s : senders)
        s.join();
    for (const int fd : fds)
        ::close(fd);
    result.ok = watch.ok && failed == 0 && leastAtFirstEnd >= 0;
    result.minShare = leastAtFirstEnd;
    return result;
}

int passthroughReconnect()
{
    quint16 upstreamPort = 0;
    const int upstreamListener = bench::listenLoopback(upstreamPort);
    Window window(2);
    if (!window.w || upstreamListener < 0)
        return -1;
    CountingWindow *w = window.w.get();
    ModeControls &t = w->tabs[2];
    t.txtServer->setText(QStringLiteral("127.0.0.1"));
    t.txtPortConnectTo->setText(QString::number(upstreamPort));
    t.txtPort->setText(QStringLiteral("0"));
    w->findChild<QPushButton *>(QStringLiteral("cmdStartBoth"))->click();
    int upstream = -1;
    if (!runEventsUntil(
             [&] {
                 if (upstream < 0)
                     upstream = bench::acceptWithin(upstreamListener, 0);
                 return upstream >= 0 && w->sckClient->State() == SocketControl::sckConnected;
             },
             kSetupTimeoutMs)
             .ok)
        return -1;
    const quint16 port = quint16(w->sckServer[0]->LocalPort());

    // The server's side: everything relayed to it, in order.
    std::mutex lock;
    QByteArray relayed;
    std::thread sink([&] {
        char buffer[65536];
        for (;;) {
            const ssize_t r = ::recv(upstream, buffer, sizeof buffer, 0);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return;
            std::lock_guard<std::mutex> guard(lock);
            relayed.append(buffer, r);
        }
    });
    std::atomic<bool> done{false};
    std::atomic<int> accepted{0};
    std::thread clients([&] {
        QByteArray expected;
        int previous = -1;
        for (int round = 0; round < kRounds; ++round) {
            // The previous client closes; the next one connects at once.
            if (previous >= 0)
                ::close(previous);
            const int fd = connectLoopback(port);
            const QByteArray request = "GET /round/" + QByteArray::number(round) + " HTTP/1.0\r\n\r\n";
            if (fd < 0 || !sendAll(fd, request.constData(), request.size()))
                break;
            expected += request;
            // Relayed whole, or turned away (the connection is reset).
            QElapsedTimer t;
            t.start();
            bool whole = false;
            while (t.elapsed() < kRoundTimeoutMs) {
                {
                    std::lock_guard<std::mutex> guard(lock);
                    whole = relayed == expected;
                }
                pollfd p{fd, POLLIN | POLLRDHUP, 0};
                if (whole || ::poll(&p, 1, 5) == 1)
                    break;
            }
            if (whole) {
                ++accepted;
            } else {
                std::lock_guard<std::mutex> guard(lock);
                expected = relayed; // what the next round builds on
            }
            previous = fd;
        }
        if (previous >= 0)
            ::close(previous);
        done = true;
    });
    runEventsUntil([&] { return done.load(); }, kTransferTimeoutMs, 10);
    clients.join();
    ::shutdown(upstream, SHUT_RDWR);
    sink.join();
    ::close(upstream);
    ::close(upstreamListener);
    return accepted;
}

} // namespace

int main(int argc, char **argv)
{
    bench::prepareProcess();
    QApplication app(argc, argv);
    keepHeapTrimmed(&app);
    const bench::Options options =
        bench::parseOptions(app.arguments(), bench::Options{50 * 1024 * 1024, 1, {}});
    auto wanted = [&](const char *part) {
        return options.only.isEmpty() || options.only == QLatin1String(part);
    };

    const bench::PrivateSettings settings(1);

    int status = 0;
    if (wanted("server3")) {
        const Server3 r = server3Display(options.streamBytes);
        if (r.ok) {
            std::printf("server3_display_peak_rss: %.1f MB\n", r.peakRssMb);
            std::printf("server3_display_min_share: %.3f ratio\n", r.minShare);
            std::printf("server3_display_seconds: %.2f s\n", r.seconds);
        } else {
            std::fprintf(stderr, "server3_display: the streams did not get through\n");
            status = 1;
        }
    }
    if (wanted("reconnect")) {
        const int accepted = passthroughReconnect();
        if (accepted >= 0)
            std::printf("passthrough_reconnect_accepted: %d rounds\n", accepted);
        else
            status = 1;
    }
    return status;
}
