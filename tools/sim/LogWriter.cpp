#include "sim/LogWriter.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// How often a FIFO without a reader is tried again.
constexpr int kReopenMs = 100;
// The most text handed to one write call.
constexpr size_t kChunk = 64 * 1024;

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// A description of standard output that is the writer's own, so that making
// it non-blocking touches nobody else's (a terminal shared with the shell).
// A regular file never waits for a reader and is written as it is; a socket
// cannot be opened anew and is written with non-blocking sends instead.
int ownStandardOutput(bool& isSocket, int& err) {
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0) {
        err = errno;
        return -1;
    }
    isSocket = S_ISSOCK(st.st_mode);
    if (!S_ISREG(st.st_mode) && !isSocket) {
        const int own = ::open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (own >= 0) return own;
    }
    const int copy = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) err = errno;
    return copy;
}

std::string droppedLine(double tMs, size_t lines) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "{\"t\":%.1f,\"type\":\"dropped\",\"lines\":%zu}\n", tMs, lines);
    return buf;
}

}  // namespace

LogWriter::LogWriter(std::string path, size_t maxQueuedBytes, FailureHandler onFailure)
    : path_(std::move(path)), maxQueuedBytes_(maxQueuedBytes), onFailure_(std::move(onFailure)) {}

LogWriter::~LogWriter() {
    stop(std::chrono::milliseconds(500));
    closeFd(fd_);
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
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
        int err = 0;
        fd_ = ownStandardOutput(isSocket_, err);
        if (fd_ < 0) {
            error = std::string("standard output: ") + std::strerror(err);
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
    openError_ = fd_ < 0 ? errno : 0;
    return fd_ >= 0;
}

void LogWriter::add(std::string line, double tMs) {
    std::lock_guard lock(m_);
    if (failed_ || stopping_) return;
    if (droppedNow_ > 0) {
        std::string stand = droppedLine(firstDroppedMs_, droppedNow_);
        if (queuedBytes_ + stand.size() + line.size() <= maxQueuedBytes_) {
            queuedBytes_ += stand.size();
            queue_.push_back(std::move(stand));
            droppedNow_ = 0;
        }
    }
    if (droppedNow_ > 0 || queuedBytes_ + line.size() > maxQueuedBytes_) {
        if (droppedNow_++ == 0) firstDroppedMs_ = tMs;
        ++droppedTotal_;
        return;
    }
    queuedBytes_ += line.size();
    queue_.push_back(std::move(line));
    wake();
}

bool LogWriter::waitWritten(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_);
    written_.wait_for(lock, timeout, [this] {
        return failed_ || !running_ || (queue_.empty() && inFlight_ == 0 && droppedNow_ == 0);
    });
    return !failed_ && queue_.empty() && inFlight_ == 0 && droppedNow_ == 0;
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
    written_.notify_all();
}

size_t LogWriter::dropped() const {
    std::lock_guard lock(m_);
    return droppedTotal_;
}

size_t LogWriter::unwritten() const {
    std::lock_guard lock(m_);
    return unwritten_;
}

bool LogWriter::failed() const {
    std::lock_guard lock(m_);
    return failed_;
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
        bool wantWrite = false;
        {
            std::unique_lock lock(m_);
            if (failed_) return;
            if (pending_.empty()) {
                // Caught up: lines dropped meanwhile get their stand-in now.
                if (queue_.empty() && droppedNow_ > 0) {
                    queue_.push_back(droppedLine(firstDroppedMs_, droppedNow_));
                    queuedBytes_ += queue_.back().size();
                    droppedNow_ = 0;
                }
                while (!queue_.empty() && pending_.size() < kChunk) {
                    pending_ += queue_.front();
                    queuedBytes_ -= queue_.front().size();
                    queue_.pop_front();
                }
                inFlight_ = pending_.size();
                if (pending_.empty()) written_.notify_all();
            }
            if (stopping_) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(stopDeadline_ - Clock::now());
                // Nothing left, no reader ever came, or the grace is over.
                if (pending_.empty() || fd_ < 0 || left.count() <= 0) return;
                pollMs = static_cast<int>(left.count());
            }
            wantWrite = !pending_.empty();
        }

        if (fd_ < 0 && !openLog()) {
            if (openError_ != ENXIO) {
                fail(openError_);
                return;
            }
            pollMs = pollMs < 0 ? kReopenMs : std::min(pollMs, kReopenMs);
            wantWrite = false;
        }

        if (wantWrite) {
            const ssize_t n = isSocket_ ? ::send(fd_, pending_.data(), pending_.size(), MSG_DONTWAIT | MSG_NOSIGNAL)
                                        : ::write(fd_, pending_.data(), pending_.size());
            if (n > 0) {
                std::lock_guard lock(m_);
                pending_.erase(0, static_cast<size_t>(n));
                inFlight_ = pending_.size();
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                fail(errno);
                return;
            }
        }

        pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {fd_, POLLOUT, 0}};
        const nfds_t count = wantWrite ? 2 : 1;
        if (::poll(fds, count, pollMs) < 0 && errno != EINTR) {
            fail(errno);
            return;
        }
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(wakeRead_, drain, sizeof drain) > 0) {
            }
        }
    }
}

void LogWriter::fail(int err) {
    const std::string message = (path_ == "-" ? std::string("cannot write standard output: ")
                                              : "cannot write the log " + path_ + ": ") +
                                std::strerror(err);
    {
        std::lock_guard lock(m_);
        failed_ = true;
        written_.notify_all();
    }
    if (onFailure_) onFailure_(message);
}

}  // namespace sim
