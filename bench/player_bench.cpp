// SPDX-License-Identifier: GPL-3.0-or-later
// Plays a 20-frame sequence of 8 changed channels each, 20 ms after every
// channel, through a pseudo-terminal to the controller simulator on the real
// clock. Prints the playing time against the ideal (the show's timeline:
// the pauses and 33.3 ms of wire time a command, which the player waits on
// a pseudo-terminal) and the process's processor time as a share of the
// wall time (the simulator's thread included).
//
//   player_bench [runs]

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "../tests/support/FakeView.h"
#include "editor/EditorCore.h"
#include "link/Notifier.h"
#include "link/TickSource.h"
#include "show/Timeline.h"
#include "sim/ControllerSimulator.h"

namespace {

constexpr int kFrames = 20;
constexpr int kChannelsPerFrame = 8;
constexpr int kPauseMs = 20;

double cpuMs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

size_t positionCount(const std::vector<sim::Event>& events) {
    return static_cast<size_t>(std::count_if(events.begin(), events.end(), [](const sim::Event& e) {
        return e.kind == sim::Event::Kind::Position;
    }));
}

struct Run {
    double wallMs, processCpuMs, playerCpuMs;
    size_t commands;
};

Sequence show() {
    // Every frame moves all eight servos, so showing it also sends eight
    // live commands before its pass.
    Sequence seq;
    for (int f = 0; f < kFrames; ++f) {
        for (int c = 0; c < kChannelsPerFrame; ++c)
            seq.channel(f, c) = {1000 + 100 * ((f + c) % 10), 0, 0, kPauseMs, 1, {}};
        seq.frame(f).frameUsed = 1;
    }
    return seq;
}

bool playOnce(Run& out) {
    FakeView view;
    ConsoleNotifier notifier;
    sim::ControllerSimulator sim;
    if (!sim.start()) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", sim.error().c_str());
        return false;
    }
    EditorCore core(view, notifier, systemTickSource(), [] { return std::vector<std::string>{}; });
    core.FormCreate();
    if (!core.openPort(sim.portName())) return false;

    // As after Open: frame 0 shown, its commands sent.
    core.openSequence(show());
    sim.waitFor([&](const std::vector<sim::Event>& ev) { return positionCount(ev) >= 2 * kChannelsPerFrame; },
                std::chrono::seconds(10));
    sim.clear();

    const double cpu0 = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
    const double thread0 = cpuMs(CLOCK_THREAD_CPUTIME_ID);
    const auto t0 = std::chrono::steady_clock::now();
    core.RunClick();
    const auto t1 = std::chrono::steady_clock::now();
    out.processCpuMs = cpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    out.playerCpuMs = cpuMs(CLOCK_THREAD_CPUTIME_ID) - thread0;
    out.wallMs = std::chrono::duration<double, std::milli>(t1 - t0).count();

    const size_t stored = kFrames * kChannelsPerFrame;
    sim.waitFor([&](const std::vector<sim::Event>& ev) { return positionCount(ev) >= 2 * stored - kChannelsPerFrame; },
                std::chrono::seconds(10));
    out.commands = positionCount(sim.events());
    core.FormClose();
    if (view.statusText != " Sequence Complete ") {
        std::fprintf(stderr, "playback did not complete: \"%s\"\n", view.statusText.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const double ideal = Timeline::of(show()).passMs;
    std::printf("%d frames x %d changed channels, %d ms pause each; ideal (the timeline) %.0f ms\n", kFrames,
                kChannelsPerFrame, kPauseMs, ideal);
    std::vector<double> ratios, shares;
    for (int i = 0; i < runs; ++i) {
        Run r{};
        if (!playOnce(r)) return 1;
        const double ratio = r.wallMs / ideal;
        const double share = r.processCpuMs / r.wallMs;
        ratios.push_back(ratio);
        shares.push_back(share);
        std::printf(
            "run %d: %.1f ms (%.4f x ideal), process CPU %.1f ms (%.2f %% of wall), player thread "
            "CPU %.1f ms, %zu commands decoded\n",
            i + 1, r.wallMs, ratio, r.processCpuMs, 100 * share, r.playerCpuMs, r.commands);
    }
    std::sort(ratios.begin(), ratios.end());
    std::sort(shares.begin(), shares.end());
    const double medianRatio = ratios[ratios.size() / 2];
    const double medianShare = shares[shares.size() / 2];
    std::printf("median: %.4f x ideal (target <= 1.02), CPU %.2f %% of wall (target < 10 %%)\n",
                medianRatio, 100 * medianShare);
    return 0;
}
