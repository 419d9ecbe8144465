// SPDX-License-Identifier: GPL-3.0-or-later
// The preview's pace against the show's timeline, through a pseudo-terminal
// to the controller simulator on the real clock (the simulated controller of
// the port submenu works the same way, in-process), and the time the
// timeline of a full show takes to compute.
//
// 1. One pass of 10 frames x 32 channels with no pauses, and of 21 frames x
//    32 channels with 5 ms pauses. Every frame moves every servo, so showing
//    it sends 32 live commands before its pass sends 32 more. Loaded as Open
//    loads a file (frame 0 shown), then played: the time from Play until the
//    player returns against the timeline's pass; and every position command
//    as the simulator logged its arrival against its point on the timeline,
//    both counted from the first command of the pass.
// 2. The timeline of a full show (128 frames x 32 channels, all marked,
//    every frame moving every servo): the time Timeline::of takes.
//
//   pace_bench [--timeline-runs N]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "../tests/support/FakeView.h"
#include "editor/EditorCore.h"
#include "link/Commands.h"
#include "link/Notifier.h"
#include "link/SerialDevice.h"
#include "link/TickSource.h"
#include "show/Timeline.h"
#include "sim/ControllerSimulator.h"

namespace {

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

// The system's serial device, noting when each position command's last
// byte has drained: where the player's side of the line puts its arrival.
class TimedDevice : public SerialDevice {
public:
    TimedDevice() : device_(makeSystemSerialDevice()) {}
    std::vector<double> sentMs;  // since construction
    size_t bytes = 0;

    Handle CreateFile(const std::string& name, uint32_t& code) override { return device_->CreateFile(name, code); }
    std::string openFailureHint() const override { return device_->openFailureHint(); }
    bool CloseHandle() override { return device_->CloseHandle(); }
    bool GetCommState(LineSettings& s) override { return device_->GetCommState(s); }
    bool SetCommState(const LineSettings& s) override { return device_->SetCommState(s); }
    bool SetCommTimeouts(const CommTimeouts& t) override { return device_->SetCommTimeouts(t); }
    bool ReadFile(void* dest, uint32_t count, uint32_t& got) override { return device_->ReadFile(dest, count, got); }
    bool WriteFile(const void* src, uint32_t count, uint32_t& written) override {
        const bool ok = device_->WriteFile(src, count, written);
        bytes += written;
        return ok;
    }
    bool ClearCommError(uint32_t& errors, CommStatus& status) override {
        return device_->ClearCommError(errors, status);
    }
    bool EscapeCommFunction(uint32_t code) override { return device_->EscapeCommFunction(code); }
    bool WaitOutputDrained(uint32_t ms) override {
        const bool ok = device_->WaitOutputDrained(ms);
        if (bytes % kPositionCommandBytes == 0) sentMs.push_back(msBetween(t0_, Clock::now()));
        return ok;
    }
    bool gone() const override { return device_->gone(); }

private:
    std::unique_ptr<SerialDevice> device_;
    Clock::time_point t0_ = Clock::now();
};

Sequence show(int frames, int32_t pause) {
    Sequence seq;
    for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < kChannelCount; ++c)
            seq.channel(f, c) = {1000 + 100 * ((f + c) % 10), f % 8, 0, pause, 1, {}};
        seq.frame(f).frameUsed = 1;
    }
    return seq;
}

struct PassResult {
    double playedMs = 0, timelineMs = 0;
    double spanMs = 0, timelineSpanMs = 0;  // first command to last
    double worstMs = 0, meanMs = 0;         // |arrival - point|
    double p99Ms = 0;
    double playerWorstMs = 0, playerP99Ms = 0;  // the sends' ends against the points
    size_t over2 = 0, over5 = 0;            // commands further than 2 and 5 ms
    size_t commands = 0;
    bool ok = false;
};

PassResult onePass(int frames, int32_t pause) {
    PassResult r;
    const Sequence seq = show(frames, pause);
    const Timeline timeline = Timeline::of(seq);
    std::vector<double> points;
    for (const SentCommand& c : timeline.commands)
        if (c.pass >= 0) points.push_back(c.atMs);

    FakeView view;
    ConsoleNotifier notifier;
    sim::Options options;
    options.historyEvents = 8192;
    sim::ControllerSimulator sim(options);
    if (!sim.start()) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", sim.error().c_str());
        return r;
    }
    auto timed = std::make_unique<TimedDevice>();
    TimedDevice& device = *timed;
    EditorCore core(view, notifier, systemTickSource(), [] { return std::vector<std::string>{}; },
                    std::move(timed));
    core.FormCreate();
    if (!core.openPort(sim.portName())) return r;
    // As after Open: frame 0 shown, its commands sent; then a quiet line.
    core.openSequence(seq);
    const size_t loaded = timeline.commands.size() - points.size();
    auto positions = [](const std::vector<sim::Event>& ev) {
        std::vector<double> out;
        for (const sim::Event& e : ev)
            if (e.kind == sim::Event::Kind::Position) out.push_back(e.timeMs);
        return out;
    };
    if (!sim.waitFor([&](const std::vector<sim::Event>& ev) { return positions(ev).size() >= loaded; },
                     std::chrono::seconds(30)))
        return r;
    usleep(200000);
    sim.clear();
    device.sentMs.clear();

    const Clock::time_point t0 = Clock::now();
    core.RunClick();
    r.playedMs = msBetween(t0, Clock::now());
    if (!sim.waitFor([&](const std::vector<sim::Event>& ev) { return positions(ev).size() >= points.size(); },
                     std::chrono::seconds(10)))
        return r;
    const std::vector<double> arrived = positions(sim.events());
    core.FormClose();
    if (arrived.size() != points.size()) {
        std::fprintf(stderr, "%zu commands arrived, the timeline has %zu\n", arrived.size(), points.size());
        return r;
    }
    r.commands = points.size();
    r.timelineMs = timeline.passMs;
    r.spanMs = arrived.back() - arrived.front();
    r.timelineSpanMs = points.back() - points.front();
    double sum = 0;
    std::vector<double> devs;
    for (size_t k = 0; k < points.size(); ++k) {
        const double signedDev = (arrived[k] - arrived.front()) - (points[k] - points.front());
        const double dev = std::abs(signedDev);
        if (getenv("PACE_BENCH_DEBUG") && dev > 2) std::printf("    command %zu: %+.2f ms\n", k, signedDev);
        devs.push_back(dev);
        sum += dev;
        r.over2 += dev > 2;
        r.over5 += dev > 5;
    }
    std::sort(devs.begin(), devs.end());
    if (device.sentMs.size() == points.size()) {
        std::vector<double> own;
        for (size_t k = 0; k < points.size(); ++k)
            own.push_back(std::abs((device.sentMs[k] - device.sentMs.front()) - (points[k] - points.front())));
        std::sort(own.begin(), own.end());
        r.playerWorstMs = own.back();
        r.playerP99Ms = own[own.size() * 99 / 100];
    }
    r.worstMs = devs.back();
    r.p99Ms = devs[devs.size() * 99 / 100];
    r.meanMs = sum / double(points.size());
    r.ok = true;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    int timelineRuns = 200;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--timeline-runs" && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
            timelineRuns = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--timeline-runs N]\n", argv[0]);
            return 2;
        }
    }
    std::printf("machine: %s, %ld processors\n", cpuModel().c_str(), sysconf(_SC_NPROCESSORS_ONLN));

    std::printf("one pass on the controller simulator (pseudo-terminal, real clock) against the timeline\n");
    struct Case {
        int frames;
        int32_t pause;
    };
    for (const Case c : {Case{10, 0}, Case{21, 5}}) {
        const PassResult r = onePass(c.frames, c.pause);
        if (!r.ok) return 1;
        std::printf("  %d frames x 32 channels, %d ms pauses, %zu commands:\n"
                    "    Play to the end %.1f ms, timeline's pass %.1f ms: %.4f x\n"
                    "    first to last command %.1f ms, on the timeline %.1f ms: %.4f x\n"
                    "    each command against its point: mean %.3f ms, 99th percentile %.2f ms, worst %.2f ms;\n"
                    "    %zu further than 2 ms, %zu further than 5 ms\n"
                    "    the player's sends, last byte drained, against the points: 99th percentile %.2f ms, worst %.2f ms\n",
                    c.frames, c.pause, r.commands, r.playedMs, r.timelineMs, r.playedMs / r.timelineMs, r.spanMs,
                    r.timelineSpanMs, r.spanMs / r.timelineSpanMs, r.meanMs, r.p99Ms, r.worstMs, r.over2, r.over5, r.playerP99Ms, r.playerWorstMs);
        std::fflush(stdout);
    }

    const Sequence full = show(kFrameCount, 5);
    std::vector<double> ms;
    size_t frames = 0;
    for (int i = 0; i < timelineRuns; ++i) {
        const Clock::time_point t0 = Clock::now();
        const Timeline t = Timeline::of(full);
        ms.push_back(msBetween(t0, Clock::now()));
        frames = t.frames.size();
    }
    std::sort(ms.begin(), ms.end());
    std::printf("timeline of a full show (128 frames x 32 channels, all marked; %zu frames begun), %d runs:\n"
                "  median %.2f ms, 90th percentile %.2f ms, worst %.2f ms\n",
                frames, timelineRuns, ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back());
    return 0;
}
