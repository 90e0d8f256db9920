#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

/// n random bytes, the same for the same seed.
inline QByteArray randomBytes(quint32 seed, qint64 n)
{
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator rng(seed);
    rng.fillRange(reinterpret_cast<quint32 *>(b.data()), n / 4);
    for (qint64 i = n / 4 * 4; i < n; ++i)
        b[i] = char(rng.bounded(256));
    return b;
}

/// Makes the next close of a socket a reset instead of an orderly close.
inline void resetOnClose(qintptr fd)
{
    const linger hard{1, 0};
    ::setsockopt(int(fd), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

/// Peers of the program on a thread of their own, so that only the program's
/// event loop runs on the test's thread. Each link connects to a port of this
/// machine (or is accepted on a listening socket), then sends its bytes in
/// chunks of random size while it reads whatever comes, until everything is
/// sent and as many bytes as expected have come in.
class StreamPeers
{
public:
    struct Link
    {
        Link(QByteArray o, qint64 e) : out(std::move(o)), expect(e) {}
        QByteArray out;
        qint64 expect = 0;
        QByteArray in;
        quint16 localPort = 0;
        bool failed = false; // the connection broke or never came about
        // The thread's own.
        int fd = -1;
        int listenFd = -1;
        bool connecting = false;
        qint64 sent = 0;
    };

    explicit StreamPeers(quint32 seed) : m_rng(seed) {}
    StreamPeers(const StreamPeers &) = delete;
    StreamPeers &operator=(const StreamPeers &) = delete;
    ~StreamPeers()
    {
        closeAll();
        for (const Link &l : m_links) {
            if (l.listenFd >= 0)
                ::close(l.listenFd);
        }
    }

    /// A listening socket on 127.0.0.1 at a port the system picks; its port
    /// is given back and its one connection is a link.
    int accepting(quint16 *port, QByteArray out, qint64 expect)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in a = loopback(0);
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(fd, 1);
        socklen_t length = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
        *port = ntohs(a.sin_port);
        m_links.emplace_back(std::move(out), expect);
        m_links.back().listenFd = fd;
        return int(m_links.size()) - 1;
    }
    /// A client that connects to the port once the thread starts.
    int connecting(quint16 port, QByteArray out, qint64 expect)
    {
        Link &l = m_links.emplace_back(std::move(out), expect);
        l.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in a = loopback(port);
        l.connecting = ::connect(l.fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0;
        l.failed = l.connecting && errno != EINPROGRESS;
        return int(m_links.size()) - 1;
    }
    /// Links added with sending held back start sending only on release().
    void holdSending() { m_hold = true; }
    void release() { m_hold = false; }

    void start()
    {
        m_thread = std::thread([this] { run(); });
    }
    /// Every link has sent all and read what it expected, or broke.
    bool done() const { return m_done; }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    /// Closes every link (after stop()); abortive closes reset the connection.
    void closeAll(bool abortive = false)
    {
        stop();
        for (Link &l : m_links) {
            if (l.fd < 0)
                continue;
            if (abortive)
                resetOnClose(l.fd);
            ::close(l.fd);
            l.fd = -1;
        }
    }
    /// A link's record; read only once the thread has stopped or is done.
    const Link &link(int i) const { return m_links[size_t(i)]; }

    static sockaddr_in loopback(quint16 port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return a;
    }

private:
    void run()
    {
        std::vector<pollfd> fds(m_links.size());
        char buffer[65536];
        while (!m_stop) {
            bool finished = true;
            for (size_t i = 0; i < m_links.size(); ++i) {
                Link &l = m_links[i];
                fds[i] = {-1, 0, 0};
                if (l.failed)
                    continue;
                const bool sending = l.sent < l.out.size();
                if (sending || qint64(l.in.size()) < l.expect || l.fd < 0)
                    finished = false;
                if (l.fd < 0) {
                    fds[i] = {l.listenFd, POLLIN, 0};
                } else if (l.connecting) {
                    fds[i] = {l.fd, POLLOUT, 0};
                } else {
                    fds[i] = {l.fd, short(POLLIN | (sending && !m_hold ? POLLOUT : 0)), 0};
                }
            }
            if (finished)
                m_done = true;
            if (::poll(fds.data(), fds.size(), 10) <= 0)
                continue;
            for (size_t i = 0; i < m_links.size(); ++i) {
                Link &l = m_links[i];
                const short got = fds[i].revents;
                if (got == 0 || l.failed)
                    continue;
                if (l.fd < 0) {
                    l.fd = ::accept4(l.listenFd, nullptr, nullptr, SOCK_NONBLOCK);
                    continue;
                }
                if (l.connecting) {
                    int error = 0;
                    socklen_t length = sizeof error;
                    ::getsockopt(l.fd, SOL_SOCKET, SO_ERROR, &error, &length);
                    l.connecting = false;
                    l.failed = error != 0;
                    sockaddr_in a{};
                    length = sizeof a;
                    ::getsockname(l.fd, reinterpret_cast<sockaddr *>(&a), &length);
                    l.localPort = ntohs(a.sin_port);
                    continue;
                }
                if (got & (POLLIN | POLLHUP | POLLERR)) {
                    const size_t want = size_t(m_rng.bounded(1, int(sizeof buffer) + 1));
                    const ssize_t n = ::recv(l.fd, buffer, want, 0);
                    if (n > 0) {
                        l.in.append(buffer, n);
                    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                        l.failed = true;
                        continue;
                    }
                }
                if ((got & POLLOUT) && l.sent < l.out.size()) {
                    const qint64 n = std::min<qint64>(m_rng.bounded(1, 65537), l.out.size() - l.sent);
                    const ssize_t w = ::send(l.fd, l.out.constData() + l.sent, size_t(n), MSG_NOSIGNAL);
                    if (w > 0)
                        l.sent += w;
                    else if (errno != EAGAIN && errno != EINTR)
                        l.failed = true;
                }
            }
        }
    }

    QRandomGenerator m_rng;
    std::vector<Link> m_links;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_hold{false};
};
