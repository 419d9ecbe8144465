// SPDX-License-Identifier: GPL-3.0-or-later
// The soundtrack in step with the commands, end to end: a private sound
// server with a null sink (scripts/sound-server), its monitor recorded with
// parec, kdx play of a looping show against kdxsim on a pseudo-terminal.
// The show's soundtrack has a click at each frame's time on the timeline;
// each click heard is compared with the time kdxsim logged for the first
// command of that frame. Prints the spread of the differences, which of
// the two moved at each frame start off the median by more than 10 ms (the
// click or the command, by their distances from the frame start before),
// their drift from the first minute to the last, how long a 5-minute MP3 takes to be
// ready with its waveform, and how soon after Play the first sound (frame
// 0's click, a tone of 300 ms from the pass's start) is heard. In step, a click comes one command's
// wire time (33.3 ms) before its frame's first command, whose last byte is
// what kdxsim logs.
//
//   soundtrack_sync_bench [--minutes M] (default 10)
//
// Run from the build folder's bench/ or anywhere: the programs are found
// beside it (../tools/...), the script in the source tree.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "../tests/support/SoundFiles.h"
#include "../tests/support/SoundRecording.h"
#include "../tests/support/TempFolder.h"
#include "sequence/SequenceFile.h"
#include "show/Timeline.h"
#include "show/SoundtrackSession.h"

namespace {

constexpr int kFrames = 8;
constexpr int kPauseMs = 700;
constexpr double kToneMs = 300;

Sequence loopingShow() {
    Sequence seq;
    for (int f = 0; f < kFrames; ++f) {
        ChannelSetting& c = seq.channel(f, 0);
        c.position = f % 2 ? 2000 : 1000;
        c.pause = kPauseMs;
        c.changed = 1;
        seq.frame(f).frameUsed = 1;
    }
    seq.frame(kFrames - 1).jumpTo = 0;
    return seq;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(std::clamp(p * static_cast<double>(v.size() - 1), 0.0, static_cast<double>(v.size() - 1)))];
}

}  // namespace

int main(int argc, char** argv) {
    double minutes = 10;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--minutes") minutes = std::atof(argv[i + 1]);
    const std::string build = std::string(KDX_BUILD_DIR), source = std::string(KDX_SOURCE_DIR);
    TempFolder dir;

    // --- the waveform of a 5-minute MP3
    {
        std::vector<double> clicks;
        for (double t = 0; t < 300000; t += 250) clicks.push_back(t);
        const std::string mp3 = dir.file("five.mp3");
        if (!writeClickTrack(mp3, SoundFormat::mp3, 300000, clicks, 44100)) {
            std::fprintf(stderr, "cannot write the MP3\n");
            return 1;
        }
        // The same length of a stereo recording's size: two channels.
        for (int run = 0; run < 3; ++run) {
            SoundtrackSession session([](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); });
            const auto t0 = std::chrono::steady_clock::now();
            session.choose({mp3, 0});
            session.waitDecoded();
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            std::printf("5-minute MP3 decoded with its waveform: %.0f ms (%zu slices)\n", ms,
                        session.peaks().slices.size());
        }
    }

    // --- the sound server
    const std::string serverDir = dir.file("server");
    const std::string start = source + "/scripts/sound-server start " + serverDir + " > /dev/null";
    if (std::system(start.c_str()) != 0) return 1;
    setenv("KDX_TEST_SOUND_SERVER_DIR", serverDir.c_str(), 1);
    const SoundServer server = SoundServer::fromEnvironment();
    if (server.address.empty()) {
        std::printf("no sound server: %s\n", server.unavailable.c_str());
        return 0;
    }

    // --- the show and its click track: one pass, which the loop repeats
    const std::string show = dir.file("loop.KDX");
    Sequence seq = loopingShow();
    saveSequenceFile(show, seq, {'0', '.', '9', 'h', 0});
    Sequence loaded;
    loadSequenceFile(show, loaded);
    const Timeline pass = Timeline::of(loaded);
    std::vector<double> clicks;
    for (const FrameBegun& f : pass.frames) clicks.push_back(f.atMs);
    // Frame 0's click is a tone of 300 ms (clicks end to end), so that the
    // sound's start is heard even though the output skips the sound
    // system's start-up time.
    for (double t = 5; t < kToneMs; t += 5) clicks.push_back(t);
    writeClickTrack(dir.file("loop.wav"), SoundFormat::wav, pass.passMs + 1000, clicks, 48000);
    std::printf("show: %d frames of %d ms, looping; one pass %.1f ms on the timeline; %.0f minutes\n", kFrames,
                kPauseMs, pass.passMs, minutes);

    LoggingSimulator sim(build + "/tools/kdxsim/kdxsim", dir.file("sim.log"));
    MonitorRecording recording(server.address);
    recording.awaitMs(200, 10000);
    {
        Spawned kdx({build + "/tools/kdx/kdx", "play", show, "--port", sim.port()},
                    {"PULSE_SERVER=" + server.address, "PULSE_SINK"});
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(minutes * 60000)));
        kdx.stop();  // Ctrl-C's Stop
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    recording.stop();
    const std::optional<double> offset = sim.clockOffsetMs();
    std::system((source + "/scripts/sound-server stop " + serverDir).c_str());
    if (!offset) {
        std::fprintf(stderr, "kdxsim logged no probe\n");
        return 1;
    }

    // The commands of the pass, after those that showing frame 0 sent while
    // loading (before Play and before the sound was decoded).
    const auto loading = static_cast<size_t>(
        std::count_if(pass.commands.begin(), pass.commands.end(), [](const SentCommand& c) { return c.pass < 0; }));
    std::vector<double> sent = sim.positionTimes();
    if (sent.size() <= loading) {
        std::fprintf(stderr, "kdxsim logged no command of the pass\n");
        return 1;
    }
    sent.erase(sent.begin(), sent.begin() + static_cast<long>(loading));
    for (double& t : sent) t += *offset;
    // Play's moment: the pass's first command arrived at its point on the
    // timeline after it.
    const double playMs = sent.front() - pass.commands[loading].atMs;
    // The first command of each frame: after a quiet of more than half the
    // pause (the command of frame 0 follows Play at once).
    std::vector<double> starts;
    double last = -1e9;
    for (double t : sent) {
        if (t - last > kPauseMs / 2.0) starts.push_back(t);
        last = t;
    }
    const std::vector<double> onsets = recording.onsets(3000, kPauseMs / 2.0);
    if (starts.empty() || onsets.empty()) {
        std::fprintf(stderr, "nothing to compare: %zu frames, %zu clicks\n", starts.size(), onsets.size());
        return 1;
    }
    std::vector<double> diffs, firstMinute, lastMinute;
    std::vector<std::pair<double, double>> matched;  // (command, click) of each frame start
    size_t j = 0;
    const double end = starts.back();
    for (double s : starts) {
        while (j + 1 < onsets.size() && std::abs(onsets[j + 1] - s) < std::abs(onsets[j] - s)) ++j;
        const double d = onsets[j] - s;
        if (std::abs(d) > kPauseMs / 2.0) continue;  // no click for it (the last frame, cut off)
        diffs.push_back(d);
        matched.emplace_back(s, onsets[j]);
        if (s - starts.front() < 60000) firstMinute.push_back(d);
        if (end - s < 60000) lastMinute.push_back(d);
    }
    auto mean = [](const std::vector<double>& v) {
        double sum = 0;
        for (double x : v) sum += x;
        return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
    };
    std::printf("frames begun: %zu, clicks heard: %zu, matched: %zu\n", starts.size(), onsets.size(), diffs.size());
    std::printf("click - command: mean %.1f ms, min %.1f, max %.1f, spread (max - min) %.1f ms, 1st-99th %.1f ms\n",
                mean(diffs), percentile(diffs, 0), percentile(diffs, 1), percentile(diffs, 1) - percentile(diffs, 0),
                percentile(diffs, 0.99) - percentile(diffs, 0.01));
    // Frame 0's tone begins at the pass's start.
    std::printf("sound start: first sound heard %.1f ms after Play (%.1f ms after the pass's first command)%s\n",
                onsets.front() - playMs, onsets.front() - starts.front(),
                onsets.front() - playMs < kToneMs ? "" : ": not frame 0's tone");
    {
        std::vector<double> ordered = diffs;
        const double median = percentile(ordered, 0.5);
        int shown = 0;
        // Which of the two moved: the one whose distance from the frame
        // start before differs from what the other one shows.
        for (size_t k = 0; k < diffs.size(); ++k)
            if (std::abs(diffs[k] - median) > 10 && shown++ < 20) {
                std::printf("  off the median by %.1f ms at frame start %zu", diffs[k] - median, k);
                if (k > 0)
                    std::printf(": its command %.1f ms after the one before, its click %.1f ms",
                                matched[k].first - matched[k - 1].first, matched[k].second - matched[k - 1].second);
                std::printf("\n");
            }
    }
    std::printf("drift: first minute %.2f ms, last minute %.2f ms\n", mean(firstMinute), mean(lastMinute));
    return 0;
}
