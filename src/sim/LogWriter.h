// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writes the simulator's log lines from a thread of its own, so that the
// line to the application is served whatever the log's reader does. Lines
// wait in a queue of bounded size; the writer never blocks on the log:
// - a reader that does not keep up: lines that find the queue full are
//   dropped until the reader has caught up (the queue is empty); then one
//   line {"t":T,"type":"dropped","lines":N} stands in their place (T is the
//   time of the last line dropped);
// - a FIFO without a reader: it is opened once a reader comes; lines queue
//   (and are dropped as above) meanwhile;
// - stopping: the queue gets a short grace to be written, then what is left
//   is given up and counted (unwritten());
// - a write error (a full disk, a closed output, a reader that went away):
//   the failure handler is called once with a message and nothing more is
//   written.
// Standard output is written through a description of the writer's own (or
// with non-blocking sends, for a socket), so that a terminal shared with the
// shell is never made non-blocking.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace sim {

class LogWriter {
public:
    using FailureHandler = std::function<void(const std::string& message)>;

    // path: a file name, or "-" for standard output. maxQueuedBytes bounds
    // the text waiting to be written.
    LogWriter(std::string path, size_t maxQueuedBytes, FailureHandler onFailure = {});
    ~LogWriter();  // stop(), if not done
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Opens the log (a FIFO without a reader is opened later, without
    // waiting) and starts the writer. False with a reason in error otherwise.
    bool start(std::string& error);
    // Queues one line (ending in a newline) logged at tMs; never waits.
    void add(std::string line, double tMs);
    // Waits until every line queued so far has been handed to the system
    // and no dropped lines wait for their stand-in; false when the timeout
    // passed first (as it does after a write error).
    bool waitWritten(std::chrono::milliseconds timeout);
    // Writes what is queued for at most grace, then ends the writer.
    void stop(std::chrono::milliseconds grace);

    size_t unwritten() const;  // lines left in the queue by stop()

private:
    void run();
    bool openLog();  // false while a FIFO has no reader yet (openError_ ENXIO)
    void fail(int err);
    void wake();

    const std::string path_;
    const size_t maxQueuedBytes_;
    FailureHandler onFailure_;

    mutable std::mutex m_;
    std::condition_variable written_;
    std::deque<std::string> queue_;
    size_t queuedBytes_ = 0;
    size_t droppedNow_ = 0;  // since the last stand-in line
    double lastDroppedMs_ = 0;
    size_t unwritten_ = 0;
    bool running_ = false;
    bool stopping_ = false;
    std::chrono::steady_clock::time_point stopDeadline_;

    // The writer's own once started (pending_ is changed under m_).
    int fd_ = -1;
    bool isSocket_ = false;
    int openError_ = 0;
    std::string pending_;  // taken from the queue, not yet written

    int wakeRead_ = -1, wakeWrite_ = -1;
    std::thread thread_;
};

}  // namespace sim
