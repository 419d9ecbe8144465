// SPDX-License-Identifier: GPL-3.0-or-later
// kdx play with a soundtrack, end to end: kdxsim on a pseudo-terminal, the
// private sound server of scripts/sound-server (its null sink recorded),
// and without any sound server at all.

#include <gtest/gtest.h>

#include <algorithm>

#include "SoundFiles.h"
#include "SoundRecording.h"
#include "TempFolder.h"
#include "sequence/SequenceFile.h"

namespace {

// Two frames of channel 0, 400 ms each. Frame 0 holds what the strips of a
// fresh start hold, so that Open sends nothing and the first command of the
// log is the pass's.
std::string twoFrameShow(const TempFolder& dir) {
    Sequence seq;
    for (int f = 0; f < 2; ++f) {
        ChannelSetting& c = seq.channel(f, 0);
        c.position = f == 0 ? 1500 : 2000;
        c.pause = 400;
        c.changed = 1;
        seq.frame(f).frameUsed = 1;
    }
    const std::string path = dir.file("show.KDX");
    saveSequenceFile(path, seq, {'0', '.', '9', 'h', 0});
    return path;
}

// A tone from the start, 2 s long (one click every 5 ms).
bool toneTrack(const std::string& path) {
    std::vector<double> clicks;
    for (double t = 0; t < 2000; t += 5) clicks.push_back(t);
    return writeClickTrack(path, SoundFormat::wav, 2000, clicks, 48000);
}

}  // namespace

TEST(SoundEndToEnd, KdxPlayOfATwoFrameShowSoundsInTheRecordingWithin50msOfTheFirstCommand) {
    const SoundServer server = SoundServer::fromEnvironment();
    if (server.address.empty()) GTEST_SKIP() << "no sound server: " << server.unavailable;
    TempFolder dir;
    const std::string show = twoFrameShow(dir);
    ASSERT_TRUE(toneTrack(dir.file("show.wav")));
    LoggingSimulator sim(KDXSIM_PATH, dir.file("sim.log"));
    ASSERT_FALSE(sim.port().empty());
    MonitorRecording recording(server.address);
    const double recordingFrom = monotonicMs();
    ASSERT_TRUE(recording.awaitMs(200, 10000)) << "the monitor records nothing";

    Spawned kdx({KDX_CLI_PATH, "play", show, "--port", sim.port()}, {"PULSE_SERVER=" + server.address, "PULSE_SINK"},
                true);
    const std::string said = kdx.readAll();
    EXPECT_EQ(kdx.wait(), 0) << said;
    EXPECT_EQ(said.find("kdx:"), std::string::npos) << said;
    ASSERT_TRUE(recording.awaitMs(monotonicMs() - recordingFrom + 200, 10000));
    recording.stop();

    const std::optional<double> offset = sim.clockOffsetMs();
    ASSERT_TRUE(offset) << "kdxsim logged no probe";
    const std::vector<double> commands = sim.positionTimes();
    ASSERT_FALSE(commands.empty());
    const double firstCommand = commands[0] + *offset;
    const std::vector<double> onsets = recording.onsets(3000, 100);
    ASSERT_FALSE(onsets.empty()) << "no sound in the recording";
    std::string trace;
    for (double c : commands) trace += " " + std::to_string(c + *offset - firstCommand);
    EXPECT_NEAR(onsets.front(), firstCommand, 50) << "commands at" << trace << " ms; onsets at "
                                                  << onsets.front() - firstCommand << " ms";
}

TEST(SoundEndToEnd, WithoutSoundOutputTheShowPlaysAndSaysSoOnce) {
    TempFolder dir;
    const std::string show = twoFrameShow(dir);
    ASSERT_TRUE(toneTrack(dir.file("show.wav")));
    LoggingSimulator sim(KDXSIM_PATH, dir.file("sim.log"));
    ASSERT_FALSE(sim.port().empty());
    Spawned kdx({KDX_CLI_PATH, "play", show, "--port", sim.port()},
                {"PULSE_SERVER=unix:" + dir.file("no-server-here")}, true);
    const std::string said = kdx.readAll();
    EXPECT_EQ(kdx.wait(), 0) << said;
    EXPECT_NE(said.find("frame 0\nframe 1\nSequence Complete\n"), std::string::npos) << said;
    size_t told = 0;
    for (size_t at = said.find("kdx: no sound output: "); at != std::string::npos;
         at = said.find("kdx: no sound output: ", at + 1))
        ++told;
    EXPECT_EQ(told, 1u) << said;
}
