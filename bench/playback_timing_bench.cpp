// SPDX-License-Identifier: GPL-3.0-or-later
// How well playback keeps time, through a pseudo-terminal to the controller
// simulator on the real clock.
//
// 1. A show of 21 frames x 32 marked channels, played once, at 1, 5 and
//    20 ms pauses: the time from the first played command to " Sequence
//    Complete " over the sum of the pauses.
// 2. The same show looping (frame 20 jumps to frame 0) at 20 ms pauses: the
//    lateness of the last command after 1 and after 5 minutes: the time the
//    player has spent waiting since Play less the pauses it has waited (the
//    sends' own time is not the schedule's to make up, so it is left out).
//
// Part 1 also gives the pass's time without the sends (the time spent
// waiting over the sum of the pauses), which is what the schedule keeps, and
// the floor any player has here: the same 672 position commands sent through
// the command set on the same kind of port, a plain sleep of the pause after
// each, timing only the sends. Each command is eight write calls of one byte
// with a drain before and after, as the controller's command set has it; on
// a pseudo-terminal every write wakes the kernel's worker that moves the
// byte across, so the sends have a cost no schedule can take back. The best
// ratio a player could reach is then 1 + (mean send) / (pause).
//
// The same source builds against the player of an earlier revision
// (compare_playback_timing), so the figures can be set side by side.
//
// Frames differ only in their rates, so showing a frame sends nothing live
// (a rate change marks but sends nothing) and every command is a played one;
// frame 0 is shown before Play, as after Open.
//
//   playback_timing_bench [--loop-seconds A,B] [--loop-pause MS]
//
// --loop-seconds shortens the looping run for exploring (default 60,300).
// The whole run takes about 6 minutes.

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../tests/support/FakeView.h"
#include "editor/EditorCore.h"
#include "link/Commands.h"
#include "link/Notifier.h"
#include "link/TickSource.h"
#include "sim/ControllerSimulator.h"

namespace {

constexpr int kFrames = 21;
constexpr int kChannels = 32;

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

std::string cpuModel() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown";
}

// The system's clock, noting how long the player waits. A player that keeps
// to a schedule reads microseconds() only in its waits: once at the start,
// once after every sleep. Its waits are then measured from the first read to
// the last, the reading and sleeping included, as the schedule counts them.
// An earlier player has no such clock: its sleeps are added up instead.
// The methods carry no `override`: the earlier clock interface lacks
// microseconds() and sleepUs().
class MeasuredTicks : public TickSource {
public:
    uint32_t GetTickCount() { return systemTickSource().GetTickCount(); }
    uint64_t microseconds() {
        const Clock::time_point now = Clock::now();
        if (!inWait_ || !sleptSinceRead_) {
            // The read before (if any) ended a wait; this one starts the next.
            if (inWait_) waitedMs_ += msBetween(waitStart_, lastRead_);
            waitStart_ = now;
            inWait_ = true;
        }
        lastRead_ = now;
        sleptSinceRead_ = false;
        return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count());
    }
    void sleepMs(uint32_t ms) {
        const Clock::time_point t0 = Clock::now();
        systemTickSource().sleepMs(ms);
        sleptMs_ += msBetween(t0, Clock::now());
        sleptSinceRead_ = true;
    }
    // The player of this tree sleeps to the microsecond (the system source
    // does it with nanosleep too); an earlier one never calls this.
    void sleepUs(uint64_t us) {
        const Clock::time_point t0 = Clock::now();
        timespec ts{time_t(us / 1000000), long(us % 1000000) * 1000L};
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
        sleptMs_ += msBetween(t0, Clock::now());
        sleptSinceRead_ = true;
    }
    // The time spent waiting so far, by the measure above.
    double waitedMs() const {
        if (!inWait_) return sleptMs_;
        return waitedMs_ + msBetween(waitStart_, lastRead_);
    }
    const char* measure() const { return inWait_ ? "waits" : "sleeps"; }

private:
    double sleptMs_ = 0, waitedMs_ = 0;
    bool inWait_ = false, sleptSinceRead_ = false;
    Clock::time_point waitStart_{}, lastRead_{};
};

// A core with its port open on a fresh simulator, the show loaded and frame 0
// shown (its live commands already taken off the line).
struct Rig {
    FakeView view;
    ConsoleNotifier notifier;
    sim::ControllerSimulator sim;
    MeasuredTicks ticks;
    EditorCore core{view, notifier, ticks, [] { return std::vector<std::string>{}; }};

    bool start(int32_t pause, bool loop) {
        core.FormCreate();
        if (!sim.start()) {
            std::fprintf(stderr, "no pseudo-terminal: %s\n", sim.error().c_str());
            return false;
        }
        if (!core.openPort(sim.portName())) return false;
        auto show = std::make_unique<Sequence>();
        for (int f = 0; f < kFrames; ++f) {
            for (int c = 0; c < kChannels; ++c) {
                ChannelSetting& s = show->channel(f, c);
                s.position = 1000 + 30 * c;
                s.rate = 1 + f % 8;
                s.offset = 0;
                s.pause = pause;
                s.changed = 1;
            }
            show->frame(f).frameUsed = 1;
            show->frame(f).jumpTo = loop && f == kFrames - 1 ? 0 : -1;
        }
        core.openSequence(*show);
        const bool shown = sim.waitFor([](const std::vector<sim::Event>& ev) { return ev.size() >= kChannels; },
                                       std::chrono::seconds(10));
        sim.clear();
        return shown;
    }
    ~Rig() { core.FormClose(); }
};

// Part 1: one pass of the show; the ratio of its time to the sum of its pauses.
bool onePass(int32_t pause, double& ratio, double& waitedRatio, const char*& measure) {
    Rig rig;
    if (!rig.start(pause, false)) return false;
    Clock::time_point first{}, complete{};
    bool started = false;
    double sleptAtFirst = 0;
    // The pass begins right after the strips are drawn for it.
    rig.view.onRepaint = [&] {
        if (!started) {
            first = Clock::now();
            sleptAtFirst = rig.ticks.waitedMs();
        }
        started = true;
    };
    rig.view.onStatus = [&](const FakeView::Status& s) {
        if (s.text == " Sequence Complete ") complete = Clock::now();
    };
    rig.core.RunClick();
    if (rig.view.statusText != " Sequence Complete ") {
        std::fprintf(stderr, "playback did not complete\n");
        return false;
    }
    const double pauses = double(kFrames) * kChannels * pause;
    ratio = msBetween(first, complete) / pauses;
    waitedRatio = (rig.ticks.waitedMs() - sleptAtFirst) / pauses;
    measure = rig.ticks.measure();
    return true;
}

// The floor: the sends alone, each followed by a plain sleep of the pause.
bool bareSends(int32_t pause, double& meanSendUs) {
    Rig rig;
    if (!rig.start(pause, false)) return false;
    double sendingMs = 0;
    for (int f = 0; f < kFrames; ++f)
        for (int c = 0; c < kChannels; ++c) {
            const ChannelSetting& s = rig.core.sequence().channel(f, c);
            const Clock::time_point t0 = Clock::now();
            rig.core.sendPosition(c, s.rate, s.position, s.offset);
            sendingMs += msBetween(t0, Clock::now());
            const timespec ts{0, long(pause) * 1000000L};
            nanosleep(&ts, nullptr);
        }
    meanSendUs = sendingMs * 1000 / (kFrames * kChannels);
    return true;
}

struct Lateness {
    double atSeconds;  // since Play
    double lateMs;     // time spent waiting less the pauses waited
    long commands;     // played so far
};

// Part 2: the show looping for the longest of the given times; the lateness
// of the last command at the first frame start past each time, when that
// command's pause has just been waited.
bool looping(int32_t pause, const std::vector<double>& seconds, std::vector<Lateness>& out) {
    Rig rig;
    if (!rig.start(pause, true)) return false;
    long passes = 0;
    rig.view.onRepaint = [&] { ++passes; };
    size_t next = 0;
    const Clock::time_point t0 = Clock::now();
    const double slept0 = rig.ticks.waitedMs();
    rig.view.onEvents = [&](int) {
        if (next >= seconds.size() || !rig.core.state().playing || rig.core.state().paused) return;
        const double at = msBetween(t0, Clock::now());
        if (at < seconds[next] * 1000) return;
        const long commands = passes * kChannels;
        out.push_back({at / 1000, rig.ticks.waitedMs() - slept0 - double(commands) * pause, commands});
        if (++next == seconds.size()) rig.core.PauseButtonClick();
    };
    rig.core.RunClick();
    return next == seconds.size();
}

bool parseSeconds(const char* text, std::vector<double>& out) {
    out.clear();
    std::string s(text);
    size_t pos = 0;
    while (pos <= s.size()) {
        const size_t comma = s.find(',', pos);
        const std::string part = s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        char* end = nullptr;
        const double v = std::strtod(part.c_str(), &end);
        if (part.empty() || *end != '\0' || v <= 0 || (!out.empty() && v <= out.back())) return false;
        out.push_back(v);
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return !out.empty();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<double> seconds = {60, 300};
    int32_t loopPause = 20;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--loop-seconds" && i + 1 < argc && parseSeconds(argv[i + 1], seconds)) {
            ++i;
        } else if (a == "--loop-pause" && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
            loopPause = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--loop-seconds A,B,...] [--loop-pause MS]\n", argv[0]);
            return 2;
        }
    }
    std::printf("machine: %s, %ld processors\n", cpuModel().c_str(), sysconf(_SC_NPROCESSORS_ONLN));

    std::printf("one pass of %d frames x %d channels, first played command to \" Sequence Complete \"\n",
                kFrames, kChannels);
    for (int32_t pause : {1, 5, 20}) {
        double ratio = 0, waited = 0;
        const char* measure = "";
        if (!onePass(pause, ratio, waited, measure)) return 1;
        double sendUs = 0;
        if (!bareSends(pause, sendUs)) return 1;
        std::printf("  %2d ms pauses: %.4f x the sum of the pauses (%d ms); time waiting (%s) %.4f x\n"
                    "                sends alone: %.1f us per command, best possible %.4f x\n",
                    pause, ratio, kFrames * kChannels * pause, measure, waited, sendUs,
                    1 + sendUs / 1000 / pause);
        std::fflush(stdout);
    }

    std::printf("looping show at %d ms pauses, lateness of the last command (time waiting less the pauses)\n",
                loopPause);
    std::fflush(stdout);
    std::vector<Lateness> late;
    if (!looping(loopPause, seconds, late)) return 1;
    for (const Lateness& l : late)
        std::printf("  after %.1f s (%ld commands): %.1f ms\n", l.atSeconds, l.commands, l.lateMs);
    return 0;
}
