// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/ControllerSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "sim/Decoder.h"
#include "sim/LogWriter.h"

namespace sim {

namespace {

constexpr int kChannelCount = kServoCount;
// No terminator marks the end of a download stream: a quiet line does.
constexpr double kIdleGapMs = 300.0;
// The longest the thread sleeps in poll; wake-ups come through a pipe anyway.
constexpr int kMaxPollMs = 100;
// Answers that nobody reads pile up no further than this; beyond it they are
// lost, as they would be on a real line with nobody listening.
constexpr size_t kMaxPendingOutput = 64 * 1024;
// Log text waiting for a slow reader; lines beyond it are dropped.
constexpr size_t kMaxQueuedLog = 1 << 20;
// What the log's writer gets to finish when the simulator stops.
constexpr auto kLogGrace = std::chrono::milliseconds(500);

// Keeps at least the last `limit` elements, trimming in bulk so that adding
// stays cheap: at most 2 x limit are held.
template <typename T>
void keepRecent(std::vector<T>& v, size_t limit) {
    if (v.size() >= 2 * limit) v.erase(v.begin(), v.end() - static_cast<std::ptrdiff_t>(limit));
}

struct BaudCode {
    speed_t code;
    unsigned rate;
};
constexpr BaudCode kBaudCodes[] = {{B50, 50},       {B75, 75},       {B110, 110},       {B134, 134},
                                   {B150, 150},     {B200, 200},     {B300, 300},       {B600, 600},
                                   {B1200, 1200},   {B1800, 1800},   {B2400, 2400},     {B4800, 4800},
                                   {B9600, 9600},   {B19200, 19200}, {B38400, 38400},   {B57600, 57600},
                                   {B115200, 115200}, {B230400, 230400}};

std::string hexBytes(const std::vector<uint8_t>& bytes) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i) s += ' ';
        s += buf;
    }
    return s;
}

std::string jsonString(const std::string& text) {
    std::string s = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            s += '\\';
            s += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            s += buf;
        } else {
            s += static_cast<char>(c);
        }
    }
    return s + "\"";
}

std::string jsonLine(const Event& e) {
    char t[32];
    std::snprintf(t, sizeof t, "%.1f", e.timeMs);
    std::string s = std::string("{\"t\":") + t + ",\"type\":";
    switch (e.kind) {
    case Event::Kind::Position:
        s += "\"position\",\"channel\":" + std::to_string(e.position.channel) +
             ",\"rate\":" + std::to_string(e.position.rate) + ",\"pulse\":" + std::to_string(e.position.pulse);
        break;
    case Event::Kind::VersionQuery:
        s += "\"version\"";
        break;
    case Event::Kind::Download: {
        s += "\"download\",\"stamp\":" + jsonString(e.download.stamp) + ",\"frames\":[";
        for (size_t f = 0; f < e.download.frames.size(); ++f) {
            const DownloadFrame& frame = e.download.frames[f];
            if (f) s += ',';
            s += "{\"frame\":" + std::to_string(frame.frame) + ",\"channels\":[";
            for (size_t c = 0; c < frame.channels.size(); ++c) {
                const DownloadChannel& ch = frame.channels[c];
                if (c) s += ',';
                s += "{\"channel\":" + std::to_string(ch.channel) + ",\"rate\":" + std::to_string(ch.rate) +
                     ",\"position\":" + std::to_string(ch.position) + ",\"pause\":" + std::to_string(ch.pause) +
                     "}";
            }
            s += "]}";
        }
        s += ']';
        break;
    }
    case Event::Kind::Probe:
        s += "\"probe\"";
        break;
    case Event::Kind::Unknown:
        s += "\"unknown\",\"bytes\":\"" + hexBytes(e.raw) + "\"";
        break;
    }
    return s + "}\n";
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool makeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

// Where a servo's current movement started.
struct Motion {
    bool commanded = false;
    double startPulse = 0;
    double startMs = 0;
    int target = 0;
    int rate = 0;
    bool redirected = false;  // see ServoState
};

}  // namespace

struct ControllerSimulator::Impl {
    explicit Impl(Options o) : options(std::move(o)), silent(!options.echo), version(options.version) {}

    Options options;
    std::chrono::steady_clock::time_point t0 = std::chrono::steady_clock::now();

    // Everything below is guarded by m, except what only the thread touches.
    mutable std::mutex m;
    mutable std::condition_variable cv;
    std::string error;
    std::string slavePath;
    int master = -1;
    int slave = -1;  // keeps the pair from hanging up while the application has no fd open
    int wakeRead = -1, wakeWrite = -1;
    bool reading = true;
    bool stopRequested = false;
    bool vanishRequested = false;
    bool threadRunning = false;
    bool silent;
    std::string version;
    std::vector<Event> events;
    uint64_t messageCount = 0;
    uint64_t downloadCount = 0;
    DownloadMessage lastDownload;
    std::function<void()> listener;
    std::vector<uint8_t> bytes;
    size_t bytesTotal = 0;
    std::array<Motion, kChannelCount> servos{};
    std::unique_ptr<LogWriter> log;
    bool stopped = false;
    size_t unwrittenLog = 0;
    std::thread thread;

    // The thread's own.
    Decoder decoder;
    std::vector<uint8_t> output;  // echo and answers not yet taken by the line

    double now() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    }

    void wake() {
        if (wakeWrite >= 0) {
            const char c = 0;
            [[maybe_unused]] ssize_t n = ::write(wakeWrite, &c, 1);
        }
    }

    ServoState servoAt(int channel, double tMs) const {
        if (channel < 0 || channel >= kChannelCount) return {};
        const Motion& mo = servos[static_cast<size_t>(channel)];
        if (!mo.commanded) return {};
        ServoState s;
        s.targetPulse = mo.target;
        s.rate = mo.rate;
        s.commanded = true;
        s.currentPulse = rampPulse(mo.startPulse, mo.target, mo.rate, tMs - mo.startMs);
        // The mark lasts until the servo next arrives.
        s.redirected = mo.redirected && s.currentPulse != mo.target;
        return s;
    }

    // Called with m held: records the decoded messages, moves servos, answers
    // the version query and logs, all before waiters are told.
    void record(std::vector<Event>& decoded) {
        if (decoded.empty()) return;
        for (Event& e : decoded) {
            ++messageCount;
            if (e.kind == Event::Kind::Position) {
                const int c = e.position.channel;
                if (c >= 0 && c < kChannelCount) {
                    Motion& mo = servos[static_cast<size_t>(c)];
                    const ServoState before = servoAt(c, e.timeMs);
                    // Cut short: still on its way, and sent elsewhere (the same
                    // target again keeps whatever mark it had).
                    mo.redirected = before.moving() && (e.position.pulse != mo.target || before.redirected);
                    // A servo never commanded has no known position: it starts
                    // at its first target.
                    mo.startPulse = mo.commanded ? before.currentPulse : e.position.pulse;
                    mo.startMs = e.timeMs;
                    mo.target = e.position.pulse;
                    mo.rate = e.position.rate;
                    mo.commanded = true;
                }
            } else if (e.kind == Event::Kind::VersionQuery && !silent) {
                queueOutput(reinterpret_cast<const uint8_t*>(version.data()), version.size());
            } else if (e.kind == Event::Kind::Download) {
                ++downloadCount;
                lastDownload = e.download;
            }
            if (log) log->add(jsonLine(e), e.timeMs);
            if (options.historyEvents > 0) {
                events.push_back(std::move(e));
                keepRecent(events, options.historyEvents);
            }
        }
        decoded.clear();
        if (listener) listener();
    }

    void keepBytes(const uint8_t* data, size_t n) {
        bytesTotal += n;
        if (options.historyBytes == 0) return;
        bytes.insert(bytes.end(), data, data + n);
        keepRecent(bytes, options.historyBytes);
    }

    void queueOutput(const uint8_t* data, size_t n) {
        const size_t room = kMaxPendingOutput - std::min(kMaxPendingOutput, output.size());
        output.insert(output.end(), data, data + std::min(n, room));
    }

    void writeOutput() {
        while (!output.empty()) {
            const ssize_t n = ::write(master, output.data(), output.size());
            if (n <= 0) return;  // full (EAGAIN) or gone; poll says when to retry
            output.erase(output.begin(), output.begin() + n);
        }
    }

    void closePair() {
        closeFd(master);
        closeFd(slave);
    }

    void run() {
        serve();
        std::lock_guard lock(m);
        std::vector<Event> decoded;
        decoder.flush(decoded);
        record(decoded);
        if (vanishRequested) closePair();
        threadRunning = false;
        cv.notify_all();
    }

    // Returns when asked to stop or vanish, or when the line breaks for good.
    void serve() {
        std::vector<Event> decoded;
        std::array<uint8_t, 4096> buf;
        bool hungUp = false;
        for (;;) {
            bool wantRead;
            {
                std::unique_lock lock(m);
                if (stopRequested || vanishRequested) return;
                wantRead = reading;
            }

            int timeout = kMaxPollMs;
            if (decoder.pending()) {
                const double left = decoder.lastByteMs() + kIdleGapMs - now();
                timeout = std::clamp(static_cast<int>(std::ceil(left)), 0, kMaxPollMs);
            }
            pollfd fds[2] = {{wakeRead, POLLIN, 0}, {master, 0, 0}};
            if (wantRead && !hungUp) fds[1].events |= POLLIN;
            if (!output.empty() && !hungUp) fds[1].events |= POLLOUT;
            // With no slave fd open anywhere the master reports POLLHUP
            // continuously; then only the wake pipe and the timer count.
            const nfds_t count = hungUp ? 1 : 2;
            if (::poll(fds, count, timeout) < 0 && errno != EINTR) return;
            hungUp = false;

            if (fds[0].revents & POLLIN) {
                char drain[64];
                while (::read(wakeRead, drain, sizeof drain) > 0) {
                }
            }
            if (count == 2 && (fds[1].revents & POLLNVAL)) return;
            if (count == 2 && (fds[1].revents & POLLOUT)) writeOutput();

            if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
                std::unique_lock lock(m);
                // Read under the lock, so that once setReading(false) returns
                // nothing more is taken off the line.
                if (reading) {
                    const ssize_t n = ::read(master, buf.data(), buf.size());
                    if (n > 0) {
                        const double t = now();
                        keepBytes(buf.data(), static_cast<size_t>(n));
                        for (ssize_t i = 0; i < n; ++i) {
                            if (!silent) queueOutput(&buf[static_cast<size_t>(i)], 1);
                            decoder.feed(buf[static_cast<size_t>(i)], t, decoded);
                            // Answers go out after the echo of the byte that asked.
                            record(decoded);
                        }
                        cv.notify_all();
                    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                        hungUp = true;
                    }
                } else if (fds[1].revents & POLLHUP) {
                    hungUp = true;
                }
                lock.unlock();
                writeOutput();
            }

            if (decoder.pending() && now() - decoder.lastByteMs() >= kIdleGapMs) {
                std::unique_lock lock(m);
                decoder.flush(decoded);
                record(decoded);
                cv.notify_all();
            }
        }
    }
};

ControllerSimulator::ControllerSimulator(Options options) : impl_(new Impl(std::move(options))) {}

ControllerSimulator::~ControllerSimulator() {
    stop();
    impl_->closePair();
    closeFd(impl_->wakeRead);
    closeFd(impl_->wakeWrite);
    delete impl_;
}

size_t ControllerSimulator::stop() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.m);
        if (d.stopped) return d.unwrittenLog;
        d.stopped = true;
        d.stopRequested = true;
        d.wake();
    }
    // The thread never waits for the log, so it ends promptly.
    if (d.thread.joinable()) d.thread.join();
    if (d.log) {
        d.log->stop(kLogGrace);
        std::lock_guard lock(d.m);
        d.unwrittenLog = d.log->unwritten();
    }
    return d.unwrittenLog;
}

bool ControllerSimulator::start() {
    Impl& d = *impl_;
    std::lock_guard lock(d.m);
    if (d.thread.joinable()) {
        d.error = "already started";
        return false;
    }
    auto fail = [&](const std::string& what) {
        d.error = what + ": " + std::strerror(errno);
        d.closePair();
        closeFd(d.wakeRead);
        closeFd(d.wakeWrite);
        return false;
    };

    d.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (d.master < 0) return fail("posix_openpt");
    if (grantpt(d.master) != 0) return fail("grantpt");
    if (unlockpt(d.master) != 0) return fail("unlockpt");
    char name[128];
    if (ptsname_r(d.master, name, sizeof name) != 0) return fail("ptsname");
    d.slavePath = name;
    // Opened before the application's fd, so it does not stand in the way of
    // the application's TIOCEXCL or flock; it takes no lock of its own.
    d.slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (d.slave < 0) return fail("open " + d.slavePath);
    // No byte may be translated on either side: CR stays 0x0D, no tty echo.
    if (!makeRaw(d.slave)) return fail("tcsetattr " + d.slavePath);
    if (!makeRaw(d.master)) return fail("tcsetattr master");
    if (::fcntl(d.master, F_SETFL, ::fcntl(d.master, F_GETFL) | O_NONBLOCK) != 0 ||
        ::fcntl(d.master, F_SETFD, FD_CLOEXEC) != 0)
        return fail("fcntl");
    int pipeFds[2];
    if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) return fail("pipe");
    d.wakeRead = pipeFds[0];
    d.wakeWrite = pipeFds[1];

    if (!d.options.logPath.empty()) {
        auto log = std::make_unique<LogWriter>(d.options.logPath, kMaxQueuedLog, d.options.onLogFailure);
        std::string why;
        if (!log->start(why)) {
            d.error = why;
            d.closePair();
            closeFd(d.wakeRead);
            closeFd(d.wakeWrite);
            return false;
        }
        d.log = std::move(log);
    }

    d.error.clear();
    d.t0 = std::chrono::steady_clock::now();
    d.threadRunning = true;
    d.thread = std::thread([&d] { d.run(); });
    return true;
}

std::string ControllerSimulator::portName() const {
    std::lock_guard lock(impl_->m);
    const std::string& p = impl_->slavePath;
    return p.rfind("/dev/", 0) == 0 ? p.substr(5) : p;
}

std::string ControllerSimulator::devicePath() const {
    std::lock_guard lock(impl_->m);
    return impl_->slavePath;
}

std::string ControllerSimulator::error() const {
    std::lock_guard lock(impl_->m);
    return impl_->error;
}

void ControllerSimulator::setReading(bool reading) {
    std::lock_guard lock(impl_->m);
    impl_->reading = reading;
    impl_->wake();
}

void ControllerSimulator::vanish() {
    Impl& d = *impl_;
    std::unique_lock lock(d.m);
    if (!d.threadRunning) {
        d.closePair();
        return;
    }
    // The thread closes the pair itself so that no fd is closed under its poll.
    d.vanishRequested = true;
    d.wake();
    d.cv.wait(lock, [&d] { return !d.threadRunning; });
}

void ControllerSimulator::setSilent(bool silent) {
    std::lock_guard lock(impl_->m);
    impl_->silent = silent;
}

void ControllerSimulator::setVersion(const std::string& version) {
    std::lock_guard lock(impl_->m);
    impl_->version = version;
}

std::vector<Event> ControllerSimulator::events() const {
    std::lock_guard lock(impl_->m);
    return impl_->events;
}

std::vector<uint8_t> ControllerSimulator::receivedBytes() const {
    std::lock_guard lock(impl_->m);
    return impl_->bytes;
}

size_t ControllerSimulator::receivedCount() const {
    std::lock_guard lock(impl_->m);
    return impl_->bytesTotal;
}

void ControllerSimulator::clear() {
    std::lock_guard lock(impl_->m);
    impl_->events.clear();
    impl_->bytes.clear();
    impl_->bytesTotal = 0;
}

bool ControllerSimulator::waitFor(const std::function<bool(const std::vector<Event>&)>& pred,
                                  std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->m);
    return impl_->cv.wait_for(lock, timeout, [&] { return pred(impl_->events); });
}

bool ControllerSimulator::waitForBytes(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->m);
    return impl_->cv.wait_for(lock, timeout, [&] { return impl_->bytesTotal >= count; });
}

bool ControllerSimulator::waitLogWritten(std::chrono::milliseconds timeout) const {
    return !impl_->log || impl_->log->waitWritten(timeout);
}

unsigned ControllerSimulator::lineBaud() const {
    std::lock_guard lock(impl_->m);
    // Termios requests on the master side read the slave's settings.
    termios t{};
    if (impl_->master < 0 || tcgetattr(impl_->master, &t) != 0) return 0;
    const speed_t code = cfgetospeed(&t);
    for (const auto& b : kBaudCodes)
        if (b.code == code) return b.rate;
    return 0;
}

ServoState ControllerSimulator::servo(int channel) const {
    std::lock_guard lock(impl_->m);
    return impl_->servoAt(channel, impl_->now());
}

ServoState ControllerSimulator::servoAt(int channel, double timeMs) const {
    std::lock_guard lock(impl_->m);
    return impl_->servoAt(channel, timeMs);
}

double ControllerSimulator::nowMs() const {
    return impl_->now();
}

Snapshot ControllerSimulator::snapshot(uint64_t knownMessages, size_t recentCount) const {
    const Impl& d = *impl_;
    std::lock_guard lock(d.m);
    Snapshot s;
    s.timeMs = d.now();
    for (int c = 0; c < kChannelCount; ++c) {
        ServoState& servo = s.servos[static_cast<size_t>(c)];
        servo = d.servoAt(c, s.timeMs);
        s.anyMoving = s.anyMoving || servo.moving();
    }
    s.messages = d.messageCount;
    s.downloads = d.downloadCount;
    if (d.messageCount == knownMessages) return s;
    s.changed = true;
    const size_t n = std::min(recentCount, d.events.size());
    s.recent.assign(d.events.rbegin(), d.events.rbegin() + static_cast<std::ptrdiff_t>(n));
    s.memory = d.lastDownload;
    return s;
}

void ControllerSimulator::setChangeListener(std::function<void()> listener) {
    std::lock_guard lock(impl_->m);
    impl_->listener = std::move(listener);
}

}  // namespace sim
