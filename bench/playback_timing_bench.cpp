// SPDX-License-Identifier: GPL-3.0-or-later
// How well playback keeps the controller's time, through a pseudo-terminal
// to the controller simulator on the real clock. On the controller's
// 2400-baud line a position command takes 33.336 ms (eight bytes of 4.167
// ms), and the player's pause follows it; a pseudo-terminal takes almost no
// time, so a player that does not wait for the wire plays far too fast
// there.
//
// 1. A show of 21 frames x 32 marked channels, played once, at 1, 5 and
//    20 ms pauses: the time from the first command's arrival at the
//    simulator to the last one's, over the controller's time for them
//    ((commands - 1) x (33.336 ms + pause)), and the worst distance of a
//    command from its point (counted from the first).
// 2. The same show looping (frame 20 jumps to frame 0) at 20 ms pauses: how
//    late the last command arrived after 1 and after 5 minutes, against the
//    first one's arrival plus the controller's time for the commands
//    between.
//
// The same source builds against the player of an earlier revision
// (compare_playback_timing), so the figures can be set side by side; it
// therefore writes out the command's wire time instead of taking the
// constant of link/Commands.h, which earlier revisions lack.
//
// Frames differ only in their rates, so showing a frame sends nothing live
// (a rate change marks but sends nothing) and every command is a played one;
// frame 0 is shown before Play, as after Open.
//
//   playback_timing_bench [--loop-seconds A,B] [--loop-pause MS]
//
// --loop-seconds shortens the looping run for exploring (default 60,300).
// The whole run takes about 7 minutes.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "../tests/support/FakeView.h"
#include "editor/EditorCore.h"
#include "link/Notifier.h"
#include "link/TickSource.h"
#include "sim/ControllerSimulator.h"

namespace {

constexpr int kFrames = 21;
constexpr int kChannels = 32;
constexpr double kCommandWireMs = 8 * 4.167;  // eight bytes at 2400 baud, as link/Commands.h counts them

using bench::Clock;
using bench::msBetween;

using bench::cpuModel;

std::vector<double> arrivals(const std::vector<sim::Event>& events) {
    std::vector<double> out;
    for (const sim::Event& e : events)
        if (e.kind == sim::Event::Kind::Position) out.push_back(e.timeMs);
    return out;
}

// Earlier revisions kept the core's state public and had no operations for
// opening a port or a sequence; the same source builds against either.
template <typename Core>
const EditorState& stateOf(Core& core) {
    if constexpr (requires { core.state(); })
        return core.state();
    else
        return core.state;
}

template <typename Core>
bool openOn(Core& core, const std::string& port) {
    if constexpr (requires { core.openPort(port); }) {
        return core.openPort(port);
    } else {
        if (!core.serialPort.Open(port, "2400", "None", "8", true)) return false;
        core.state.portStatus = 0;
        return true;
    }
}

// As Open leaves it: the show in the core, frame 0 shown (which sends).
template <typename Core>
void load(Core& core, const Sequence& show) {
    if constexpr (requires { core.openSequence(show); }) {
        core.openSequence(show);
    } else {
        core.sequence = show;
        core.StartFrameClick();
    }
}

// A core with its port open on a fresh simulator, the show loaded and frame 0
// shown (its commands already taken off the line).
struct Rig {
    FakeView view;
    ConsoleNotifier notifier;
    sim::ControllerSimulator sim;
    EditorCore core{view, notifier, systemTickSource(), [] { return std::vector<std::string>{}; }};

    bool start(int32_t pause, bool loop) {
        core.FormCreate();
        if (!sim.start()) {
            std::fprintf(stderr, "no pseudo-terminal: %s\n", sim.error().c_str());
            return false;
        }
        if (!openOn(core, sim.portName())) return false;
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
        load(core, *show);
        const bool shown = sim.waitFor([](const std::vector<sim::Event>& ev) { return ev.size() >= 2 * kChannels; },
                                       std::chrono::seconds(10));
        usleep(100000);
        sim.clear();
        return shown;
    }
    ~Rig() { core.FormClose(); }
};

struct Pass {
    double ratio;    // first to last arrival over the controller's time
    double worstMs;  // the furthest command from its point
};

// 1. One pass of the show.
bool onePass(int32_t pause, Pass& out) {
    Rig rig;
    if (!rig.start(pause, false)) return false;
    rig.core.RunClick();
    if (rig.view.statusText != " Sequence Complete ") {
        std::fprintf(stderr, "playback did not complete\n");
        return false;
    }
    const size_t n = size_t{kFrames} * kChannels;
    if (!rig.sim.waitFor([n](const std::vector<sim::Event>& ev) { return arrivals(ev).size() >= n; },
                         std::chrono::seconds(10)))
        return false;
    const std::vector<double> at = arrivals(rig.sim.events());
    const double step = kCommandWireMs + pause;
    out.ratio = (at.back() - at.front()) / (double(n - 1) * step);
    out.worstMs = 0;
    for (size_t k = 0; k < n; ++k) out.worstMs = std::max(out.worstMs, std::abs(at[k] - at.front() - double(k) * step));
    return true;
}

struct Lateness {
    double atSeconds;  // since Play
    double lateMs;     // the last command's arrival behind its point
    long commands;     // played so far
};

// 2. The show looping for the longest of the given times; the lateness
// of the last command at the first frame start past each time.
bool looping(int32_t pause, const std::vector<double>& seconds, std::vector<Lateness>& out) {
    Rig rig;
    if (!rig.start(pause, true)) return false;
    size_t next = 0;
    const Clock::time_point t0 = Clock::now();
    double firstMs = -1;
    rig.view.onEvents = [&](int) {
        if (next >= seconds.size() || !stateOf(rig.core).playing || stateOf(rig.core).paused) return;
        if (firstMs < 0) {
            const std::vector<sim::Event> ev = rig.sim.events();
            const std::vector<double> at = arrivals(ev);
            if (!at.empty()) firstMs = at.front();
        }
        const double since = msBetween(t0, Clock::now());
        if (since < seconds[next] * 1000 || firstMs < 0) return;
        // Every command has reached the simulator by the next frame start.
        const long commands = static_cast<long>(rig.sim.receivedCount() / 8);
        const std::vector<double> at = arrivals(rig.sim.events());
        out.push_back({since / 1000, at.back() - firstMs - double(commands - 1) * (kCommandWireMs + pause), commands});
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

    std::printf("one pass of %d frames x %d channels, first command to last at the simulator,\n"
                "over the controller's time ((commands - 1) x (%.3f ms + pause))\n",
                kFrames, kChannels, kCommandWireMs);
    for (int32_t pause : {1, 5, 20}) {
        Pass p{};
        if (!onePass(pause, p)) return 1;
        std::printf("  %2d ms pauses: %.4f x; furthest command from its point %.1f ms\n", pause, p.ratio, p.worstMs);
        std::fflush(stdout);
    }

    std::printf("looping show at %d ms pauses, the last command's arrival behind its point\n", loopPause);
    std::fflush(stdout);
    std::vector<Lateness> late;
    if (!looping(loopPause, seconds, late)) return 1;
    for (const Lateness& l : late)
        std::printf("  after %.1f s (%ld commands): %.1f ms\n", l.atSeconds, l.commands, l.lateMs);
    return 0;
}
