// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One run of a program as a user runs it: started with its arguments, its
// standard output and error collected from pipes, its exit status reaped.
// Standard input is /dev/null; SIGPIPE has its default action in the child,
// as when started from a shell. Any standard stream can be closed instead.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

struct Outcome {
    int status = -1;  // exit status; 128 + signal when killed by one
    std::string out, err;
};

// Standard streams a program is started without.
struct ClosedStreams {
    bool input = false, error = false;
};

class RunningProgram {
public:
    using Closed = ClosedStreams;
    using Clock = std::chrono::steady_clock;
    static constexpr auto kLimit = std::chrono::seconds(60);  // only a hung program comes near this

    enum class Output {
        Pipe,        // read by this object
        Closed,      // no standard output at all
        DevFull,     // every write fails with "No space left on device"
        BrokenPipe,  // a pipe whose reader has gone
        Socket,      // a stream socket, read by this object
    };

    RunningProgram(const std::string& program, const std::vector<std::string>& args, Output output = Output::Pipe,
                 Closed closed = {}) {
        int outPipe[2] = {-1, -1}, errPipe[2];
        const int made = output == Output::Socket ? socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, outPipe)
                                                  : pipe2(outPipe, O_CLOEXEC);
        if (made != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe: " << std::strerror(errno);
            return;
        }
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        if (closed.input)
            posix_spawn_file_actions_addclose(&fa, 0);
        else
            posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        switch (output) {
        case Output::Pipe:
        case Output::BrokenPipe:
        case Output::Socket:
            posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
            break;
        case Output::Closed:
            posix_spawn_file_actions_addclose(&fa, 1);
            break;
        case Output::DevFull:
            posix_spawn_file_actions_addopen(&fa, 1, "/dev/full", O_WRONLY, 0);
            break;
        }
        if (closed.error)
            posix_spawn_file_actions_addclose(&fa, 2);
        else
            posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t defaults, none;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (output == Output::BrokenPipe) ::close(outPipe[0]);  // gone before the first write
        const int rc = posix_spawn(&pid_, program.c_str(), &fa, &attr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        posix_spawnattr_destroy(&attr);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        const bool read = output == Output::Pipe || output == Output::Socket;
        if (!read && output != Output::BrokenPipe) ::close(outPipe[0]);
        outFd_ = read ? outPipe[0] : -1;
        errFd_ = errPipe[0];
        if (rc != 0) {
            ADD_FAILURE() << "posix_spawn " << program << ": " << std::strerror(rc);
            pid_ = -1;
        }
    }
    ~RunningProgram() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        closeOutput();
        if (errFd_ >= 0) ::close(errFd_);
    }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    pid_t pid() const { return pid_; }

    // Collects output until the standard output read so far satisfies pred;
    // false when the program ended or the limit passed first.
    bool readUntil(const std::function<bool(const std::string&)>& pred, Clock::duration limit = kLimit) {
        const auto deadline = Clock::now() + limit;
        while (!pred(outcome_.out)) {
            if (!pump(deadline)) return pred(outcome_.out);
        }
        return true;
    }

    // The first line of standard output, without its line break.
    std::string firstLine() {
        readUntil([](const std::string& out) { return out.find('\n') != std::string::npos; });
        return outcome_.out.substr(0, outcome_.out.find('\n'));
    }

    // Hands the read end of standard output over: from now on nobody reads
    // it unless the caller does.
    int releaseOutput() {
        const int fd = outFd_;
        outFd_ = -1;
        return fd;
    }

    // Stops reading standard output: the program's reader has gone.
    void closeOutput() {
        if (outFd_ >= 0) ::close(outFd_);
        outFd_ = -1;
    }

    void signal(int sig) { kill(pid_, sig); }

    // Reads both pipes to their end and reaps the program; a program still
    // running after the limit fails the test and is killed.
    Outcome finish(Clock::duration limit = kLimit) {
        const auto deadline = Clock::now() + limit;
        while (pump(deadline)) {
        }
        int ws = 0;
        pid_t done = 0;
        while ((done = waitpid(pid_, &ws, WNOHANG)) == 0 && Clock::now() < deadline) {
            pollfd none{-1, 0, 0};
            poll(&none, 0, 5);  // standard output closed early: only the exit is left to await
        }
        if (done != pid_) {
            ADD_FAILURE() << "the program did not finish in time";
            return outcome_;
        }
        pid_ = -1;
        outcome_.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
        return outcome_;
    }

private:
    // One round of reading; false once both pipes are at their end or the
    // deadline passed.
    bool pump(Clock::time_point deadline) {
        if (outFd_ < 0 && errFd_ < 0) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0) return errno == EINTR;
        drain(fds[0], outFd_, outcome_.out);
        drain(fds[1], errFd_, outcome_.err);
        return true;
    }
    static void drain(const pollfd& p, int& fd, std::string& into) {
        if (fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) return;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<size_t>(n));
        } else {
            ::close(fd);
            fd = -1;
        }
    }

    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    Outcome outcome_;
};
