#pragma once

#include "core/oserror.h"

#include <QByteArray>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

/// Writes log records to their files on a thread of its own, in the order
/// they were queued, so that a slow disk never holds up the window. Files are
/// opened by the caller and handed over by descriptor; from then on only the
/// writer closes them, after everything queued before. The first write that
/// fails on a file is reported once, and nothing more is written to that file.
class LogWriter
{
public:
    struct Failure
    {
        int fd;
        OsError error;
    };

    LogWriter();
    /// Writes whatever is queued, closes what it was asked to, and stops.
    ~LogWriter();
    LogWriter(const LogWriter &) = delete;
    LogWriter &operator=(const LogWriter &) = delete;

    void write(int fd, QByteArray bytes);
    /// Closes the file once everything queued before is written.
    void close(int fd);
    /// Returns once everything queued so far is written.
    void waitIdle();
    /// Returns once no more than this many bytes wait.
    void waitBelow(qint64 bytes);
    qint64 queuedBytes() const;
    std::vector<Failure> takeFailures();

    /// Called on the writer's thread, under its lock (so they must only post),
    /// when a write fails, and when the queue falls to lowWater bytes or less
    /// after exceeding highWater.
    void setNotifications(std::function<void()> failed, std::function<void()> drained, qint64 highWater,
                          qint64 lowWater);

private:
    struct Job
    {
        int fd;
        QByteArray bytes;
        bool close;
    };
    void run();
    void push(Job job);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_progress;
    std::deque<Job> m_jobs;
    qint64 m_queued = 0;
    bool m_busy = false;
    bool m_stop = false;
    std::set<int> m_failedFds;
    std::vector<Failure> m_failures;
    std::function<void()> m_onFailed;
    std::function<void()> m_onDrained;
    qint64 m_highWater = 0;
    qint64 m_lowWater = 0;
    bool m_aboveHighWater = false;
    std::thread m_thread;
};
