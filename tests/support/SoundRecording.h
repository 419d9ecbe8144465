// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Sound measured end to end, on the program's clock (CLOCK_MONOTONIC): the
// private sound server of scripts/sound-server, its null sink's monitor
// recorded with parec, and kdxsim with its log of received commands.
//
// The recording's clock: parec's output is read as it comes and every read
// is stamped; the k-th sample cannot arrive before it was rendered, so the
// recording began at the earliest of (arrival - samples so far / rate).
// kdxsim's log counts from its own start: a probe byte written to its line
// at a known moment gives the difference.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

inline double monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The private server's address, or why there is none (then empty).
struct SoundServer {
    std::string address, unavailable;
    static SoundServer fromEnvironment() {
        SoundServer s;
        const char* dir = std::getenv("KDX_TEST_SOUND_SERVER_DIR");
        if (!dir || !*dir) {
            s.unavailable = "KDX_TEST_SOUND_SERVER_DIR is not set (scripts/sound-server start DIR)";
            return s;
        }
        std::ifstream why(std::string(dir) + "/unavailable");
        if (why && std::getline(why, s.unavailable)) return s;
        std::ifstream server(std::string(dir) + "/server");
        if (!server || !std::getline(server, s.address)) s.unavailable = "no server in " + std::string(dir);
        return s;
    }
};

// A program started with a pipe from its standard output.
class Spawned {
public:
    // env: NAME=VALUE set, or NAME removed, in this process's environment;
    // withError: standard error into the same pipe.
    Spawned(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
            bool withError = false) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        if (withError) posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        // The given ones replace this process's of the same name (the
        // first of two would win); a name alone removes it.
        auto nameOf = [](const std::string& e) { return e.substr(0, e.find('=')); };
        std::vector<std::string> envStrings;
        for (char** e = environ; *e; ++e) {
            const std::string entry(*e);
            bool replaced = false;
            for (const auto& given : env) replaced = replaced || nameOf(given) == nameOf(entry);
            if (!replaced) envStrings.push_back(entry);
        }
        for (const auto& e : env)
            if (e.find('=') != std::string::npos) envStrings.push_back(e);
        std::vector<char*> envp;
        for (auto& e : envStrings) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~Spawned() {
        stop();
        if (out_ != -1) close(out_);
    }
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;

    bool started() const { return pid_ > 0; }
    int out() const { return out_; }
    // One line of standard output, waiting at most timeoutMs.
    std::optional<std::string> readLine(int timeoutMs) {
        std::string line;
        const double end = monotonicMs() + timeoutMs;
        for (;;) {
            pollfd p{out_, POLLIN, 0};
            const int left = static_cast<int>(end - monotonicMs());
            if (left <= 0 || poll(&p, 1, left) <= 0) return std::nullopt;
            char c;
            if (read(out_, &c, 1) != 1) return std::nullopt;
            if (c == '\n') return line;
            line += c;
        }
    }
    // Everything until the output closes.
    std::string readAll() {
        std::string text;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(out_, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
        return text;
    }
    // Waits for the end; the exit status (or 128 + signal).
    int wait() {
        if (pid_ <= 0) return -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        wait();
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

// The null sink's monitor, recorded as mono 16-bit samples.
class MonitorRecording {
public:
    static constexpr int kRate = 48000;

    explicit MonitorRecording(const std::string& server)
        : parec_({"parec", "--device=kdx_null.monitor", "--raw", "--format=s16le", "--channels=1",
                  "--rate=" + std::to_string(kRate), "--latency-msec=2"},
                 {"PULSE_SERVER=" + server}) {
        reader_ = std::thread([this] { read(); });
    }
    ~MonitorRecording() { stop(); }

    bool started() const { return parec_.started(); }
    // Waits until samples have come for `ms` of recording.
    bool awaitMs(double ms, double timeoutMs) {
        const double end = monotonicMs() + timeoutMs;
        while (monotonicMs() < end) {
            {
                std::lock_guard lock(mutex_);
                if (samples_.size() >= static_cast<size_t>(ms * kRate / 1000)) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    void stop() {
        if (!stopped_.exchange(true)) {
            parec_.stop();
            if (reader_.joinable()) reader_.join();
        }
    }
    // After stop(): the samples, and the moment at which a sample was
    // heard on this program's clock. The sink's sample clock need not keep
    // this one (here it ran about 0.05 % fast): counted from the first
    // sample alone, a 10-minute recording would be off by 300 ms at one
    // end. So each sample's moment is taken from the reads around it: the
    // earliest moment any read within kNearMs of it allows (a read returns
    // its samples after they were heard, never before).
    static constexpr double kNearMs = 5000;
    const std::vector<int16_t>& samples() const { return samples_; }
    double timeOf(size_t sample) const {
        const auto near = static_cast<size_t>(kNearMs * kRate / 1000);
        auto it = std::lower_bound(reads_.begin(), reads_.end(), sample,
                                   [](const Read& r, size_t s) { return r.count <= s; });
        double origin = 1e300;
        for (auto k = it; k != reads_.end() && k->count - sample <= near; ++k)
            origin = std::min(origin, k->atMs - static_cast<double>(k->count) * 1000.0 / kRate);
        for (auto k = it; k != reads_.begin() && sample - std::prev(k)->count <= near; --k)
            origin = std::min(origin, std::prev(k)->atMs - static_cast<double>(std::prev(k)->count) * 1000.0 / kRate);
        if (origin == 1e300 && !reads_.empty())
            origin = reads_.back().atMs - static_cast<double>(reads_.back().count) * 1000.0 / kRate;
        return origin + static_cast<double>(sample) * 1000.0 / kRate;
    }
    // The moments at which the sound rises above `level` after at least
    // quietMs of quiet.
    std::vector<double> onsets(int level, double quietMs) const {
        std::vector<double> at;
        const auto quiet = static_cast<size_t>(quietMs * kRate / 1000);
        size_t lastLoud = 0;
        bool any = false;
        for (size_t i = 0; i < samples_.size(); ++i) {
            if (std::abs(static_cast<int>(samples_[i])) < level) continue;
            if (!any || i - lastLoud > quiet) at.push_back(timeOf(i));
            any = true;
            lastLoud = i;
        }
        return at;
    }

private:
    void read() {
        std::vector<char> buffer(4096);
        std::string carry;
        for (;;) {
            const ssize_t n = ::read(parec_.out(), buffer.data(), buffer.size());
            if (n <= 0) break;
            const double now = monotonicMs();
            carry.append(buffer.data(), static_cast<size_t>(n));
            std::lock_guard lock(mutex_);
            const size_t whole = carry.size() / 2;
            for (size_t i = 0; i < whole; ++i)
                samples_.push_back(static_cast<int16_t>(static_cast<uint8_t>(carry[2 * i]) |
                                                        (static_cast<uint8_t>(carry[2 * i + 1]) << 8)));
            carry.erase(0, whole * 2);
            reads_.push_back({now, samples_.size()});
        }
    }

    Spawned parec_;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<int16_t> samples_;
    struct Read {
        double atMs;   // when it returned
        size_t count;  // the samples recorded by then
    };
    std::vector<Read> reads_;
    std::atomic<bool> stopped_{false};
};

// kdxsim on a pseudo-terminal, logging to a file.
class LoggingSimulator {
public:
    LoggingSimulator(const std::string& kdxsim, const std::string& log)
        : log_(log), sim_({kdxsim, "--log", log}) {
        if (auto line = sim_.readLine(5000)) port_ = *line;
    }
    const std::string& port() const { return port_; }
    // How far kdxsim's log times lie behind the program's clock, from a
    // probe byte: add it to a log time.
    std::optional<double> clockOffsetMs() {
        const int fd = open(("/dev/" + port_).c_str(), O_WRONLY | O_NOCTTY);
        if (fd == -1) return std::nullopt;
        const unsigned char probe = 0x55;
        const double sent = monotonicMs();
        const bool ok = write(fd, &probe, 1) == 1;
        close(fd);
        if (!ok) return std::nullopt;
        for (int i = 0; i < 500; ++i) {
            for (const auto& [t, type] : entries())
                if (type == "probe") return sent - t;
            usleep(10000);
        }
        return std::nullopt;
    }
    // Every logged line's time and type, in order.
    std::vector<std::pair<double, std::string>> entries() const {
        std::vector<std::pair<double, std::string>> out;
        std::ifstream in(log_);
        std::string line;
        while (std::getline(in, line)) {
            const auto t = line.find("\"t\":"), type = line.find("\"type\":\"");
            if (t == std::string::npos || type == std::string::npos) continue;
            const auto end = line.find('"', type + 8);
            out.emplace_back(std::atof(line.c_str() + t + 4), line.substr(type + 8, end - type - 8));
        }
        return out;
    }
    std::vector<double> positionTimes() const {
        std::vector<double> at;
        for (const auto& [t, type] : entries())
            if (type == "position") at.push_back(t);
        return at;
    }

private:
    std::string log_, port_;
    Spawned sim_;
};
