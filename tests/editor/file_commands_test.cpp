// SPDX-License-Identifier: GPL-3.0-or-later
// Save and Open of the Sequence menu, through the editor core with its
// dialogs answered by the fake window and files on the real file system.

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeTicks.h"
#include "FakeView.h"
#include "RecordingNotifier.h"
#include "TempFolder.h"
#include "editor/EditorCore.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::string dataFile(const std::string& name) { return std::string(KDX_TEST_DATA_DIR) + "/" + name; }

std::vector<uint8_t> imageOf(const Sequence& s) { return {s.image().begin(), s.image().end()}; }

bool sameChannel(const ChannelSetting& a, const ChannelSetting& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
bool sameFrame(const Frame& a, const Frame& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A started program without a window or a controller.
struct Program {
    FakeView view;
    RecordingNotifier notifier;
    FakeTicks ticks;
    EditorCore core{view, notifier, ticks, [] { return std::vector<std::string>{}; }};
    Program() { core.FormCreate(); }
};

// A copy of the sequence edited and handed in, as a loaded file holds it.
template <typename Edit>
void replaceSequenceWith(EditorCore& core, Edit edit) {
    auto seq = std::make_unique<Sequence>(core.sequence());
    edit(*seq);
    core.replaceSequence(*seq);
}

// The current and last frame set as a recovered copy sets them.
void setFrames(EditorCore& core, int current, int last) {
    auto copy = std::make_unique<RecoveryCopy>();
    core.copyForRecovery(*copy);
    copy->currentFrame = current;
    copy->lastFrame = last;
    ASSERT_TRUE(core.recover(*copy));
}

// Frames 0..count-1 recorded with values that differ per frame and channel.
// Frame 0 has every channel marked, so that showing it after a load (which
// marks what differs from the display) leaves it as the file had it.
void record(EditorCore& core, int count, int seed) {
    replaceSequenceWith(core, [&](Sequence& seq) {
        for (int f = 0; f < count; ++f) {
            for (int c = 0; c < kChannelCount; ++c) {
                ChannelSetting& ch = seq.channel(f, c);
                ch.position = 500 + 2 * ((seed * 31 + f * 17 + c * 3) % 1000);
                ch.rate = (seed + f + c) % 64;
                ch.offset = (seed + f * 3 + c) % 101 - 50;
                ch.pause = seed * 100 + f * 10 + c;
                ch.changed = f == 0 ? 1 : (f + c) % 2;
            }
            seq.frame(f).jumpTo = f == 7 ? 3 : -1;
            seq.frame(f).frameUsed = 1;
        }
    });
    setFrames(core, core.state().currentFrame, count - 1);
}

// What the window shows of the strips and labels.
using StripView = std::tuple<std::string, std::string, int, std::string, bool>;
std::vector<StripView> stripsOf(EditorCore& core) {
    std::vector<StripView> v;
    for (int c = 0; c < kChannelCount; ++c) {
        const TChannel& s = core.strip(c);
        v.emplace_back(s.PositionEdit.text(), s.RateEdit.text(), s.OffsetTrack.position(),
                       s.PauseEdit.text(), s.changedMark);
    }
    return v;
}

class FileCommandsTest : public ::testing::Test {
protected:
    TempFolder dir;
    Program p;
    EditorCore& core = p.core;
    FakeView& view = p.view;

    void save(const std::string& path) {
        view.saveAnswers.push_back(path);
        core.Save1Click();
    }
    void open(const std::string& path) {
        view.openAnswers.push_back(path);
        core.Open1Click();
    }
    // Shows frame f the way the user gets there.
    void goTo(int f) {
        setFrames(core, f - 1, core.state().lastFrame);
        core.NextFrameClick();
        ASSERT_EQ(core.state().currentFrame, f);
    }
};

}  // namespace

TEST_F(FileCommandsTest, SaveCreatesStampedFileWithoutWarningForTwentyOneFrames) {
    record(core, 21, 1);
    std::string path = dir.file("walk.KDX");

    save(path);

    std::vector<uint8_t> file = readWholeFile(path);
    ASSERT_EQ(file.size(), 16384u);
    EXPECT_EQ(std::string(file.begin() + 17, file.begin() + 22), "0.9g ");
    EXPECT_EQ(std::string(core.sequence().image().begin() + 17, core.sequence().image().begin() + 22), "0.9g ");
    EXPECT_TRUE(std::equal(file.begin(), file.end(), core.sequence().image().begin()));
    EXPECT_THAT(view.errors, IsEmpty());
    EXPECT_THAT(view.warnings, IsEmpty());
}

TEST_F(FileCommandsTest, ThirtyFramesReachAFreshProgramAsFarAsTheFileHoldsThem) {
    record(core, 30, 1);
    replaceSequenceWith(core, [](Sequence& seq) { seq.channel(21, 3).changed = 1; });  // not in the file: must come back as 0
    std::string path = dir.file("thirty.KDX");
    save(path);
    ASSERT_THAT(view.errors, IsEmpty());

    Program fresh;
    const Sequence defaults;
    fresh.view.openAnswers.push_back(path);
    fresh.core.Open1Click();

    ASSERT_THAT(fresh.view.errors, IsEmpty());
    const Sequence& got = fresh.core.sequence();
    for (int f = 0; f <= 20; ++f)
        EXPECT_TRUE(sameFrame(got.frame(f), core.sequence().frame(f))) << "frame " << f;
    for (int c = 0; c <= 2; ++c)
        EXPECT_TRUE(sameChannel(got.channel(21, c), core.sequence().channel(21, c))) << "channel " << c;
    const ChannelSetting& c3 = got.channel(21, 3);
    const ChannelSetting& saved3 = core.sequence().channel(21, 3);
    EXPECT_EQ(std::tie(c3.position, c3.rate, c3.offset, c3.pause),
              std::tie(saved3.position, saved3.rate, saved3.offset, saved3.pause));
    EXPECT_EQ(c3.changed, 0);
    for (int c = 4; c < kChannelCount; ++c)
        EXPECT_TRUE(sameChannel(got.channel(21, c), defaults.channel(21, c))) << "channel " << c;
    EXPECT_EQ(got.frame(21).jumpTo, -1);
    EXPECT_EQ(got.frame(21).frameUsed, 0);
    for (int f = 22; f < kFrameCount; ++f)
        EXPECT_TRUE(sameFrame(got.frame(f), defaults.frame(f))) << "frame " << f;
    EXPECT_EQ(fresh.core.state().currentFrame, 0);
    EXPECT_EQ(fresh.view.frameLabel, "0");
    EXPECT_EQ(fresh.core.state().lastFrame, 0);
}

TEST_F(FileCommandsTest, LoadOverEditedSequenceKeepsLaterFramesAndLastFrame) {
    Program other;
    record(other.core, 21, 5);
    std::string path = dir.file("other.KDX");
    other.view.saveAnswers.push_back(path);
    other.core.Save1Click();
    ASSERT_THAT(other.view.errors, IsEmpty());

    record(core, 30, 2);
    const std::vector<uint8_t> before = imageOf(core.sequence());
    goTo(12);

    open(path);

    ASSERT_THAT(view.errors, IsEmpty());
    const std::vector<uint8_t> after = imageOf(core.sequence());
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 16384, other.core.sequence().image().begin()));
    EXPECT_TRUE(std::equal(after.begin() + 16384, after.end(), before.begin() + 16384));
    EXPECT_EQ(core.sequence().frame(29).frameUsed, 1);  // playback can still run on into them
    EXPECT_EQ(core.state().currentFrame, 0);
    EXPECT_EQ(core.state().lastFrame, 29);
    core.LastFrameClick();
    EXPECT_EQ(core.state().currentFrame, 29);
    EXPECT_EQ(view.frameLabel, "29");
}

TEST_F(FileCommandsTest, SaveOverLongerFileKeepsItsLast3616Bytes) {
    std::string path = dir.file("long.KDX");
    std::vector<uint8_t> old(20000);
    for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i % 251);
    writeWholeFile(path, old);
    record(core, 10, 3);

    save(path);

    std::vector<uint8_t> file = readWholeFile(path);
    ASSERT_EQ(file.size(), 20000u);
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + 16384, core.sequence().image().begin()));
    EXPECT_TRUE(std::equal(file.begin() + 16384, file.end(), old.begin() + 16384));
}

TEST_F(FileCommandsTest, CancellingEitherDialogChangesNothing) {
    std::string path = dir.file("kept.KDX");
    std::vector<uint8_t> content(16384, 0x42);
    writeWholeFile(path, content);
    record(core, 30, 4);
    goTo(9);
    const std::vector<uint8_t> before = imageOf(core.sequence());
    const auto strips = stripsOf(core);
    const std::string label = view.frameLabel;

    view.saveAnswers.push_back(std::nullopt);
    core.Save1Click();
    view.openAnswers.push_back(std::nullopt);
    core.Open1Click();

    EXPECT_TRUE(view.saveAnswers.empty() && view.openAnswers.empty());
    EXPECT_EQ(imageOf(core.sequence()), before);
    EXPECT_EQ(readWholeFile(path), content);
    EXPECT_EQ(core.state().currentFrame, 9);
    EXPECT_EQ(view.frameLabel, label);
    EXPECT_EQ(stripsOf(core), strips);
    EXPECT_THAT(view.errors, IsEmpty());
    EXPECT_THAT(view.warnings, IsEmpty());
}

TEST_F(FileCommandsTest, NameThatDoesNotExistLoadsNothingButGoesToFrameZero) {
    goTo(6);
    ASSERT_EQ(view.frameLabel, "6");
    const std::vector<uint8_t> before = imageOf(core.sequence());

    open(dir.file("absent.KDX"));
    EXPECT_EQ(core.state().currentFrame, 0);
    EXPECT_EQ(view.frameLabel, "0");

    // A folder that is not there either: still nothing to load.
    goTo(6);
    open(dir.file("no-folder/absent.KDX"));
    EXPECT_EQ(core.state().currentFrame, 0);
    EXPECT_EQ(view.frameLabel, "0");

    EXPECT_EQ(imageOf(core.sequence()), before);
    EXPECT_FALSE(std::filesystem::exists(dir.file("absent.KDX")));
    EXPECT_THAT(view.errors, IsEmpty());
}

TEST_F(FileCommandsTest, LongerFileLoadsItsStart) {
    const std::vector<uint8_t> file = readWholeFile(dataFile("long.KDX"));
    record(core, 30, 6);
    const std::vector<uint8_t> before = imageOf(core.sequence());

    open(dataFile("long.KDX"));

    ASSERT_THAT(view.errors, IsEmpty());
    const std::vector<uint8_t> after = imageOf(core.sequence());
    // Frame 0 is shown after the load, which marks its channels that differ
    // from what was on display; everything else is the file's.
    for (int c = 0; c < kChannelCount; ++c)
        EXPECT_EQ(std::memcmp(&after[c * 24], &file[c * 24], 16), 0) << "channel " << c;
    EXPECT_TRUE(std::equal(after.begin() + sizeof(Frame), after.begin() + 16384, file.begin() + sizeof(Frame)));
    EXPECT_TRUE(std::equal(after.begin() + 16384, after.end(), before.begin() + 16384));
    EXPECT_EQ(core.state().currentFrame, 0);
}

TEST_F(FileCommandsTest, ShortFileFailsAndLeavesSequenceAndDisplay) {
    record(core, 30, 7);
    goTo(3);
    const std::vector<uint8_t> before = imageOf(core.sequence());
    const auto strips = stripsOf(core);
    const std::string frameLabel = view.frameLabel, jumpLabel = view.jumpLabel;

    open(dataFile("short.KDX"));

    EXPECT_THAT(view.errors, ElementsAre("Read beyond end of file."));
    EXPECT_EQ(imageOf(core.sequence()), before);
    EXPECT_EQ(core.state().currentFrame, 3);
    EXPECT_EQ(stripsOf(core), strips);
    EXPECT_EQ(view.frameLabel, frameLabel);
    EXPECT_EQ(view.jumpLabel, jumpLabel);
}

TEST_F(FileCommandsTest, OutOfRangeValuesAndJumpsLoadAsTheyAre) {
    goTo(4);
    open(dataFile("out_of_range.KDX"));

    ASSERT_THAT(view.errors, IsEmpty());
    const Sequence& s = core.sequence();
    EXPECT_EQ(s.channel(0, 0).position, 9999);
    EXPECT_EQ(s.channel(0, 0).rate, -5);
    EXPECT_EQ(s.channel(0, 0).pause, 70000);
    EXPECT_EQ(s.frame(0).jumpTo, 200);
    // Flags of 2 stay 2 in a frame that is not shown (showing frame 0 marks
    // its channels whose values differ from the display).
    EXPECT_EQ(s.channel(1, 31).changed, 2);
    EXPECT_EQ(s.channel(1, 31).pause, 65536);
    EXPECT_EQ(s.frame(1).frameUsed, 2);
    EXPECT_EQ(s.frame(1).jumpTo, 500);
    EXPECT_EQ(s.frame(2).jumpTo, -7);
    // Frame 0 is shown: the strip clamps what it cannot show, the record keeps it.
    EXPECT_EQ(core.state().currentFrame, 0);
    EXPECT_EQ(core.strip(0).PositionEdit.text(), "2500");
    EXPECT_EQ(view.jumpLabel, "200");
}

TEST_F(FileCommandsTest, FramesPastTwentyAreReportedAfterASuccessfulSave) {
    record(core, 21, 8);
    replaceSequenceWith(core, [](Sequence& seq) {
        seq.frame(21).frameUsed = 1;
        seq.frame(40).frameUsed = 1;
    });
    std::string path = dir.file("long-recording.KDX");

    save(path);

    EXPECT_THAT(view.errors, IsEmpty());
    EXPECT_THAT(view.warnings,
                ElementsAre("Frames 21 to 40 do not fit in a sequence file and were not saved."));
    EXPECT_EQ(readWholeFile(path).size(), 16384u);
}

// Failures shown as error boxes; a failed save warns about nothing more and
// leaves the sequence as it was, stamp bytes included. Each case must end
// within 10 s: an alarm ends the test program should one wait for good.
struct CommandFailure {
    const char* name;
    bool isSave;
    std::string (*path)(const TempFolder&);
    const char* message;
};
void PrintTo(const CommandFailure& c, std::ostream* os) { *os << c.name; }

class FileCommandFailureTest : public FileCommandsTest,
                               public ::testing::WithParamInterface<CommandFailure> {};

TEST_P(FileCommandFailureTest, ShowsErrorBoxAndStops) {
    const CommandFailure& c = GetParam();
    std::string path = c.path(dir);
    record(core, 30, 9);
    goTo(5);
    const auto strips = stripsOf(core);
    const std::vector<uint8_t> before = imageOf(core.sequence());

    alarm(10);
    if (c.isSave)
        save(path);
    else
        open(path);
    alarm(0);

    EXPECT_THAT(view.errors, ElementsAre(c.message));
    EXPECT_THAT(view.warnings, IsEmpty());
    EXPECT_EQ(imageOf(core.sequence()), before);
    EXPECT_EQ(core.state().currentFrame, 5);
    EXPECT_EQ(stripsOf(core), strips);
}

namespace {
std::string fifo(const TempFolder& d) {
    std::string p = d.file("fifo.KDX");
    if (mkfifo(p.c_str(), 0666) != 0) throw std::runtime_error("mkfifo failed");
    return p;
}
}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Kinds, FileCommandFailureTest,
    ::testing::Values(
        CommandFailure{"SaveInMissingFolder", true,
                       [](const TempFolder& d) { return d.file("missing/x.KDX"); }, "Invalid filename."},
        CommandFailure{"SaveToFifo", true, fifo, "File access denied."},
        CommandFailure{"OpenFifo", false, fifo, "File access denied."},
        CommandFailure{"OpenFolder", false, [](const TempFolder& d) { return d.path().string(); },
                       "File access denied."}),
    [](const ::testing::TestParamInfo<CommandFailure>& info) { return std::string(info.param.name); });
