// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A stand-in for the servo controller on the far side of a pseudo-terminal.
// It echoes every byte, answers the version query, decodes position commands
// and download streams, moves 32 simulated servos and logs every decoded
// message as a JSON line with a millisecond timestamp. Runs on a thread of
// its own, the log is written by another (LogWriter), so the line is served
// whatever the log's reader does; the public operations may be called from
// any thread. Memory stays bounded however long it runs: only recent history
// is kept.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/RampModel.h"

namespace sim {

struct PositionMessage {
    int channel;
    int rate;
    int pulse;  // units of 2 us, as on the wire
};

struct DownloadChannel {
    int channel, rate, position, pause;
};
struct DownloadFrame {
    int frame;
    std::vector<DownloadChannel> channels;
};
struct DownloadMessage {
    std::string stamp;  // the four stamp bytes
    std::vector<DownloadFrame> frames;
};

// One decoded message, in order of arrival.
struct Event {
    enum class Kind { Position, VersionQuery, Download, Probe, Unknown } kind;
    double timeMs;             // since the simulator started, at the last byte
    PositionMessage position;  // Kind::Position
    DownloadMessage download;  // Kind::Download
    std::vector<uint8_t> raw;  // the bytes that made the message
};

struct ServoState {
    int targetPulse = 0;   // 0 until commanded
    double currentPulse = 0;
    int rate = 0;
    bool commanded = false;
    // It took a new target while still on its way to the one before, and
    // has not arrived since: a move that was cut short.
    bool redirected = false;
    bool moving() const { return commanded && currentPulse != targetPulse; }
};

inline constexpr int kServoCount = 32;

// What a display of the controller shows, taken at one moment under the
// simulator's lock, so that it is consistent whatever thread asks.
struct Snapshot {
    double timeMs = 0;
    std::array<ServoState, kServoCount> servos{};
    bool anyMoving = false;
    uint64_t messages = 0;  // decoded messages since the start
    // The two below are filled only when messages differs from the count
    // the caller already knows (see snapshot()); otherwise left empty.
    bool changed = false;
    std::vector<Event> recent;  // the latest messages, newest first
    uint64_t downloads = 0;     // downloads received since the start
    DownloadMessage memory;     // the last download received
};

struct Options {
    std::string version = "1.4";  // three characters sent after the echoed query
    bool echo = true;
    std::string logPath;           // JSON lines; empty: no log; "-": standard output
    // Recent history for events() and receivedBytes(): at least this many of
    // the latest events and bytes are kept (and at most twice as many);
    // 0 keeps none.
    size_t historyEvents = 4096;
    size_t historyBytes = 1 << 20;
    // Called once, from the log's writer, when the log cannot be written (a
    // full disk, a reader that went away); the message says why.
    std::function<void(const std::string& message)> onLogFailure;
};

class ControllerSimulator {
public:
    explicit ControllerSimulator(Options options = {});
    ~ControllerSimulator();  // stops the thread and closes the pair

    // Opens the pseudo-terminal pair and starts serving. Returns false (with a
    // reason in error()) when no pair can be had.
    bool start();
    // The slave side as a port name relative to /dev, for example "pts/7".
    std::string portName() const;
    std::string devicePath() const;  // "/dev/pts/7"
    std::string error() const;

    // Stops taking bytes off the line (the writer's buffer then fills up and
    // its writes time out) or resumes.
    void setReading(bool reading);
    // The device goes away: the master side is closed, as when an adapter is
    // pulled. Writers then fail at once.
    void vanish();
    // Stops answering: no echo and no version reply.
    void setSilent(bool silent);
    // Answers with another version text (three characters; may hold a NUL).
    void setVersion(const std::string& version);

    std::vector<Event> events() const;           // the recent ones, oldest first
    std::vector<uint8_t> receivedBytes() const;  // the recent ones
    size_t receivedCount() const;                // every byte read since the start or clear()
    void clear();                                // forgets events and bytes
    // Waits until pred(events) holds or the timeout passes; true if it held.
    bool waitFor(const std::function<bool(const std::vector<Event>&)>& pred,
                 std::chrono::milliseconds timeout) const;
    bool waitForBytes(size_t count, std::chrono::milliseconds timeout) const;  // by receivedCount()
    // Waits until every line logged so far has been handed to the system.
    bool waitLogWritten(std::chrono::milliseconds timeout) const;

    // The line speed that the application set on its side, in baud (0 when
    // unknown or gone).
    unsigned lineBaud() const;

    // Stops serving, logs what the decoder still holds and gives the log a
    // short grace to be written. Returns the number of log lines that could
    // not be written in that time. The destructor stops, if not done.
    size_t stop();

    ServoState servo(int channel) const;  // advanced to now by the ramp model
    // The same model at a given moment (ms since start, as Event::timeMs);
    // lets a caller look ahead without waiting in real time.
    ServoState servoAt(int channel, double timeMs) const;
    double nowMs() const;  // ms since start

    // The servos now; the latest recentCount messages (newest first) and the
    // last download only when messages have been decoded since the caller's
    // knownMessages, so that a display polling an unchanged controller
    // copies nothing but the servos.
    Snapshot snapshot(uint64_t knownMessages, size_t recentCount) const;
    // Called from the simulator's thread, with its state locked, after
    // messages have been decoded; it must not call back into the simulator.
    // Setting or clearing it waits for a call that is running, so once it
    // has been cleared the old listener is never called again.
    void setChangeListener(std::function<void()> listener);

private:
    struct Impl;
    Impl* impl_;
};

}  // namespace sim
