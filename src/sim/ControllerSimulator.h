#pragma once
// A stand-in for the servo controller on the far side of a pseudo-terminal.
// It echoes every byte, answers the version query, decodes position commands
// and download streams, moves 32 simulated servos and logs every decoded
// message as a JSON line with a millisecond timestamp. Runs on a thread of
// its own, the log is written by another (LogWriter), so the line is served
// whatever the log's reader does; the public operations may be called from
// any thread. Memory stays bounded however long it runs: only recent history
// is kept.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

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
};

// The ramp model. A servo moves at a constant speed toward its target. Rate 0
// means no speed control: the servo is at its target at once. Any other rate
// r takes r/63 of kSlowestTravelMs for the full travel of kFullTravelUnits
// (pulse 250..1250, i.e. 500..2500 us): rate 63 about 45 s, rate 1 about
// 0.71 s. The speed is therefore proportional to 1/rate.
inline constexpr double kFullTravelUnits = 1000.0;
inline constexpr double kSlowestTravelMs = 45000.0;
inline constexpr int kSlowestRate = 63;
// Where a servo that set off from startPulse toward targetPulse at this rate
// is elapsedMs later; it stops at the target and never overshoots.
double rampPulse(double startPulse, int targetPulse, int rate, double elapsedMs);
// How long that movement takes to arrive (0 at rate 0 or already there).
double rampDurationMs(double startPulse, int targetPulse, int rate);

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

private:
    struct Impl;
    Impl* impl_;
};

}  // namespace sim
