#include "logging/logwriter.h"

#include <QString>
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {
// Behind the window in the queue for the processor, a little: when both want
// it the window answers first, yet other programs' work does not starve the
// logs and, through their backlog, the relay.
constexpr int kNice = 5;

OsError writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int e = n < 0 ? errno : ENOSPC;
            return OsError{e, qt_error_string(e)};
        }
        data += n;
        size -= n;
    }
    return OsError();
}
} // namespace

LogWriter::LogWriter() : m_thread([this] { run(); }) {}

LogWriter::~LogWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void LogWriter::setNotifications(std::function<void()> failed, std::function<void()> drained,
                                 qint64 highWater, qint64 lowWater)
{
    std::lock_guard lock(m_mutex);
    m_onFailed = std::move(failed);
    m_onDrained = std::move(drained);
    m_highWater = highWater;
    m_lowWater = lowWater;
}

void LogWriter::push(Job job)
{
    {
        std::lock_guard lock(m_mutex);
        m_queued += job.bytes.size();
        if (m_highWater > 0 && m_queued > m_highWater)
            m_aboveHighWater = true;
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void LogWriter::write(int fd, QByteArray bytes)
{
    if (fd >= 0 && !bytes.isEmpty())
        push(Job{fd, std::move(bytes), false});
}

void LogWriter::close(int fd)
{
    if (fd >= 0)
        push(Job{fd, QByteArray(), true});
}

void LogWriter::waitIdle()
{
    std::unique_lock lock(m_mutex);
    m_progress.wait(lock, [this] { return m_jobs.empty() && !m_busy; });
}

void LogWriter::waitBelow(qint64 bytes)
{
    std::unique_lock lock(m_mutex);
    m_progress.wait(lock, [this, bytes] { return m_queued <= bytes; });
}

qint64 LogWriter::queuedBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_queued;
}

std::vector<LogWriter::Failure> LogWriter::takeFailures()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_failures, {});
}

void LogWriter::run()
{
    // A pipe whose reader went away fails the write instead of ending the program.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    ::setpriority(PRIO_PROCESS, pid_t(::gettid()), kNice);

    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
        if (m_jobs.empty())
            return; // stopping, and nothing is left to write
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_busy = true;
        const bool skip = m_failedFds.count(job.fd) > 0;
        lock.unlock();

        OsError error;
        if (job.close)
            ::close(job.fd);
        else if (!skip)
            error = writeAll(job.fd, job.bytes.constData(), job.bytes.size());
        const qint64 size = job.bytes.size();
        job.bytes = QByteArray(); // released outside the lock

        lock.lock();
        m_busy = false;
        m_queued -= size;
        std::function<void()> notify;
        if (job.close) {
            m_failedFds.erase(job.fd);
        } else if (error.isError()) {
            m_failedFds.insert(job.fd);
            m_failures.push_back(Failure{job.fd, error});
            notify = m_onFailed;
        }
        if (m_aboveHighWater && m_queued <= m_lowWater) {
            m_aboveHighWater = false;
            if (!notify)
                notify = m_onDrained;
            else if (m_onDrained)
                notify = [failed = m_onFailed, drained = m_onDrained] {
                    failed();
                    drained();
                };
        }
        m_progress.notify_all();
        // Under the lock, so that once setNotifications() returns no old
        // notification is still running; they only post, so this is brief.
        if (notify)
            notify();
    }
}
