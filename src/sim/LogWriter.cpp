// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/LogWriter.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iomanip>
#include <sstream>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// How often a FIFO without a reader is tried again.
constexpr int kReopenMs = 100;
// The most text handed to one write call.
constexpr size_t kChunk = 64 * 1024;

// A description of standard output that is the writer's own, so that making
// it non-blocking touches nobody else's. A regular file never waits for a
// reader and is written as it is (a new description would not share its
// offset); a socket cannot be opened anew and is sent to without waiting
// instead. -1 with errno on failure.
int ownStandardOutput(bool& isSocket) {
    struct stat st {};
    const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
    if (flags == -1 || ::fstat(STDOUT_FILENO, &st) != 0) return -1;
    isSocket = S_ISSOCK(st.st_mode);
    // Never more access than standard output was given.
    const bool writable = (flags & O_ACCMODE) != O_RDONLY;
    if (writable && !S_ISREG(st.st_mode) && !isSocket) {
        const int own = ::open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (own >= 0) return own;
    }
    return ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
}

std::string droppedLine(double tMs, size_t lines) {
    std::ostringstream s;
    s << "{\"t\":" << std::fixed << std::setprecision(1) << tMs << ",\"type\":\"dropped\",\"lines\":" << lines
      << "}\n";
    return s.str();
}

}  // namespace

LogWriter::LogWriter(std::string path, size_t maxQueuedBytes, FailureHandler onFailure)
    : path_(std::move(path)), maxQueuedBytes_(maxQueuedBytes), onFailure_(std::move(onFailure)) {}

LogWriter::~LogWriter() {
    stop(std::chrono::milliseconds(500));
    for (int fd : {fd_, wakeRead_, wakeWrite_})
        if (fd >= 0) ::close(fd);
}

bool LogWriter::start(std::string& error) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    if (path_ == "-") {
        fd_ = ownStandardOutput(isSocket_);
        if (fd_ < 0) {
            error = std::string("standard output: ") + std::strerror(errno);
            return false;
        }
    } else if (!openLog() && openError_ != ENXIO) {
        error = "open " + path_ + ": " + std::strerror(openError_);
        return false;
    }
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

// O_NONBLOCK: opening a FIFO that has no reader fails with ENXIO at once
// instead of waiting for one, and writes never wait for the reader.
bool LogWriter::openLog() {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    openError_ = errno;
    return fd_ >= 0;
}

void LogWriter::add(std::string line, double tMs) {
    std::lock_guard lock(m_);
    if (droppedNow_ > 0 || queuedBytes_ + line.size() > maxQueuedBytes_) {
        ++droppedNow_;
        lastDroppedMs_ = tMs;
        return;
    }
    queuedBytes_ += line.size();
    queue_.push_back(std::move(line));
    wake();
}

bool LogWriter::waitWritten(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_);
    return written_.wait_for(lock, timeout,
                             [this] { return queue_.empty() && pending_.empty() && droppedNow_ == 0; });
}

void LogWriter::stop(std::chrono::milliseconds grace) {
    {
        std::lock_guard lock(m_);
        if (!running_) return;
        stopping_ = true;
        stopDeadline_ = Clock::now() + grace;
        wake();
    }
    thread_.join();
    std::lock_guard lock(m_);
    running_ = false;
    unwritten_ = queue_.size() + static_cast<size_t>(std::count(pending_.begin(), pending_.end(), '\n'));
}

size_t LogWriter::unwritten() const {
    std::lock_guard lock(m_);
    return unwritten_;
}

void LogWriter::wake() {
    const char c = 0;
    [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &c, 1);
}

void LogWriter::run() {
    // A reader that went away gives EPIPE here rather than a signal that
    // ends the whole program.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    for (;;) {
        int pollMs = -1;
        {
            std::lock_guard lock(m_);
            if (pending_.empty()) {
                // Caught up: lines dropped meanwhile get their stand-in now,
                // and lines are taken again.
                if (queue_.empty() && droppedNow_ > 0) {
                    queue_.push_back(droppedLine(lastDroppedMs_, droppedNow_));
                    queuedBytes_ += queue_.back().size();
                    droppedNow_ = 0;
                }
                while (!queue_.empty() && pending_.size() < kChunk) {
                    pending_ += queue_.front();
                    queuedBytes_ -= queue_.front().size();
                    queue_.pop_front();
                }
                if (pending_.empty()) written_.notify_all();
            }
            if (stopping_) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(stopDeadline_ - Clock::now());
                // Nothing left, no reader ever came, or the grace is over.
                if (pending_.empty() || fd_ < 0 || left.count() <= 0) return;
                pollMs = static_cast<int>(left.count());
            }
        }

        bool wantWrite = !pending_.empty();
        if (fd_ < 0 && !openLog()) {
            if (openError_ != ENXIO) return fail(openError_);
            pollMs = pollMs < 0 ? kReopenMs : std::min(pollMs, kReopenMs);
            wantWrite = false;
        }

        if (wantWrite) {
            const ssize_t n = isSocket_ ? ::send(fd_, pending_.data(), pending_.size(), MSG_DONTWAIT | MSG_NOSIGNAL)
                                        : ::write(fd_, pending_.data(), pending_.size());
            if (n > 0) {
                std::lock_guard lock(m_);
                pending_.erase(0, static_cast<size_t>(n));
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return fail(errno);
        }

        // Until the log takes more, a line comes, the reopen time is due or
        // the grace is over.
        pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {fd_, POLLOUT, 0}};
        ::poll(fds, wantWrite ? 2 : 1, pollMs);
        char drain[4096];
        [[maybe_unused]] ssize_t n = ::read(wakeRead_, drain, sizeof drain);
    }
}

void LogWriter::fail(int err) {
    const std::string message = (path_ == "-" ? std::string("cannot write standard output: ")
                                              : "cannot write the log " + path_ + ": ") +
                                std::strerror(err);
    if (onFailure_) onFailure_(message);
}

}  // namespace sim
