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

// The sound begins with the show's first frame, not with its second (460 ms
// on): how soon it begins is the sync benchmark's figure, which a loaded
// machine would only blur here.
TEST(SoundEndToEnd, KdxPlayOfATwoFrameShowSoundsInTheRecordingWithTheFirstFrame) {
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
    EXPECT_NEAR(onsets.front(), firstCommand, 250) << "commands at" << trace << " ms; onsets at "
                                                  << onsets.front() - firstCommand << " ms";
}

namespace {

// kdx play of the two-frame show with a tone beside it, in this environment;
// what it said (standard output and error together).
std::string playWith(const std::vector<std::string>& env) {
    TempFolder dir;
    const std::string show = twoFrameShow(dir);
    if (!toneTrack(dir.file("show.wav"))) return "no tone written";
    LoggingSimulator sim(KDXSIM_PATH, dir.file("sim.log"));
    if (sim.port().empty()) return "no kdxsim";
    Spawned kdx({KDX_CLI_PATH, "play", show, "--port", sim.port()}, env, true);
    const std::string said = kdx.readAll();
    return said + "exit " + std::to_string(kdx.wait()) + "\n";
}

// The program's lines without its messages, which come on standard error
// in between.
std::string withoutMessages(const std::string& said) {
    std::string out, line;
    for (char c : said) {
        line += c;
        if (c != '\n') continue;
        if (!line.starts_with("kdx:")) out += line;
        line.clear();
    }
    return out + line;
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(SoundEndToEnd, WithoutSoundOutputTheShowPlaysAndSaysSoOnce) {
    const std::string said = playWith({"PULSE_SERVER=unix:/nonexistent/kdx-no-server-here", "PULSE_SINK"});
    EXPECT_EQ(withoutMessages(said).substr(0, 34), "frame 0\nframe 1\nSequence Complete\n") << said;
    EXPECT_NE(said.find("exit 0\n"), std::string::npos) << said;
    EXPECT_EQ(countOf(said, "kdx: no sound output: "), 1u) << said;
}

TEST(SoundEndToEnd, ASinkTheServerDoesNotHaveIsNamedOnceAndTheShowPlays) {
    const SoundServer server = SoundServer::fromEnvironment();
    if (server.address.empty()) GTEST_SKIP() << "no sound server: " << server.unavailable;
    const std::string said = playWith({"PULSE_SERVER=" + server.address, "PULSE_SINK=no_such_sink"});
    EXPECT_EQ(withoutMessages(said).substr(0, 34), "frame 0\nframe 1\nSequence Complete\n") << said;
    EXPECT_NE(said.find("exit 0\n"), std::string::npos) << said;
    EXPECT_EQ(countOf(said, "kdx: no sound output: the sound server cannot play to no_such_sink ("), 1u) << said;
    EXPECT_EQ(countOf(said, "kdx:"), 1u) << said;
}
