// SPDX-License-Identifier: GPL-3.0-or-later
// The soundtrack kept beside a sequence file, on the real file system: the
// sidecar written and read back, paths relative to it, the same-name rule,
// and what Open reports when the sidecar or the sound is not usable.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "SoundFiles.h"
#include "TempFolder.h"
#include "sequence/SequenceFileIo.h"
#include "show/SoundtrackSession.h"

namespace fs = std::filesystem;

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct Opened {
    std::vector<std::string> messages;
    SoundtrackSession session{[this](const std::string& m) { messages.push_back(m); }};
};

}  // namespace

TEST(SoundtrackSidecar, SaveWritesARelativePathAndTheOffsetKeepingUnknownKeysAndOpenReadsThemBack) {
    TempFolder dir;
    fs::create_directory(dir.path() / "songs");
    const std::string seq = dir.file("skull.KDX"), sound = dir.file("songs/skull.wav");
    ASSERT_TRUE(writeClickTrack(sound, SoundFormat::wav, 300, {}));
    writeText(dir.file("skull.kdxshow"), R"({"soundtrack": null, "lights": {"dmx": 7}})");

    Opened first;
    first.session.opened(seq);
    first.session.choose({sound, 250});
    EXPECT_TRUE(first.session.changedSinceSaved());
    EXPECT_EQ(first.session.saved(seq), "");
    EXPECT_FALSE(first.session.changedSinceSaved());
    const std::string text = readText(dir.file("skull.kdxshow"));
    EXPECT_NE(text.find(R"("soundtrack": "songs/skull.wav")"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("offset_ms": 250)"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("dmx": 7)"), std::string::npos) << text;

    Opened again;
    again.session.opened(seq);
    EXPECT_EQ(again.session.choice(), (SoundtrackChoice{sound, 250}));
    EXPECT_TRUE(again.session.waitDecoded());
    EXPECT_NEAR(again.session.sound()->durationMs(), 300, 1);
    EXPECT_TRUE(again.messages.empty());
}

TEST(SoundtrackSidecar, ASequenceMovedTogetherWithItsSoundKeepsItsSoundtrack) {
    TempFolder dir;
    fs::create_directories(dir.path() / "show/songs");
    ASSERT_TRUE(writeClickTrack(dir.file("show/songs/a.flac"), SoundFormat::flac, 200, {}));
    writeText(dir.file("show/a.KDX"), "");
    writeText(dir.file("show/a.kdxshow"), R"({"soundtrack": "songs/a.flac", "offset_ms": -40})");
    fs::rename(dir.path() / "show", dir.path() / "moved");

    const SoundtrackLookup found = findSoundtrack(dir.file("moved/a.KDX"));
    EXPECT_EQ(found.message, "");
    EXPECT_EQ(fs::path(found.choice.path), (dir.path() / "moved/songs/a.flac").lexically_normal());
    EXPECT_EQ(found.choice.offsetMs, -40);
}

TEST(SoundtrackSidecar, ASoundFileOfTheSequencesNameIsTheSoundtrackAtOffsetZeroUnlessASidecarSaysOtherwise) {
    TempFolder dir;
    ASSERT_TRUE(writeClickTrack(dir.file("bird.ogg"), SoundFormat::ogg, 200, {}));
    ASSERT_TRUE(writeClickTrack(dir.file("bird.mp3"), SoundFormat::mp3, 200, {}));
    ASSERT_TRUE(writeClickTrack(dir.file("other.wav"), SoundFormat::wav, 200, {}));
    const std::string seq = dir.file("bird.KDX");
    // The sequence file itself, and other files of its name, are no sound.
    writeText(seq, std::string(16384, '\0'));
    writeText(dir.file("bird.txt"), "notes");
    writeText(dir.file("lone.KDX"), std::string(16384, '\0'));
    writeText(dir.file("lone.txt"), "notes");
    EXPECT_TRUE(findSoundtrack(dir.file("lone.KDX")).choice.none());
    // The extension in any letter case.
    ASSERT_TRUE(writeClickTrack(dir.file("loud.WAV"), SoundFormat::wav, 200, {}));
    EXPECT_EQ(fs::path(findSoundtrack(dir.file("loud.KDX")).choice.path).filename(), "loud.WAV");

    SoundtrackLookup found = findSoundtrack(seq);
    EXPECT_EQ(fs::path(found.choice.path).filename(), "bird.ogg");  // .ogg before .mp3
    EXPECT_EQ(found.choice.offsetMs, 0);
    EXPECT_FALSE(found.fromSidecar);

    // "None" chosen and saved stays none, though the same-name file is there.
    Opened opened;
    opened.session.opened(seq);
    opened.session.choose({});
    EXPECT_EQ(opened.session.saved(seq), "");
    EXPECT_TRUE(findSoundtrack(seq).choice.none());
    EXPECT_TRUE(findSoundtrack(seq).fromSidecar);
}

TEST(SoundtrackSidecar, AMissingSoundFileIsReportedOnceByNameAndReasonAndTheSequencePlaysSilent) {
    TempFolder dir;
    writeText(dir.file("s.kdxshow"), R"({"soundtrack": "gone.mp3", "offset_ms": 0})");
    Opened opened;
    opened.session.opened(dir.file("s.KDX"));
    EXPECT_FALSE(opened.session.waitDecoded());
    EXPECT_EQ(opened.session.sound(), nullptr);
    ASSERT_EQ(opened.messages.size(), 1u);
    EXPECT_EQ(opened.messages[0],
              "The soundtrack gone.mp3: No such file or directory; the sequence plays without it.");
    // A file that is no sound at all.
    writeText(dir.file("t.wav"), "this is no sound");
    Opened other;
    other.session.opened(dir.file("t.KDX"));
    other.session.waitDecoded();
    ASSERT_EQ(other.messages.size(), 1u);
    EXPECT_TRUE(other.messages[0].starts_with("The soundtrack t.wav: not a sound file this program decodes"))
        << other.messages[0];
}

TEST(SoundtrackSidecar, ASidecarThatIsNotValidIsReportedGivesNoSoundtrackAndIsLeftAloneBySave) {
    TempFolder dir;
    ASSERT_TRUE(writeClickTrack(dir.file("s.wav"), SoundFormat::wav, 100, {}));
    const std::vector<std::string> bads = {
        R"({"soundtrack": "s.wav",)", R"(["s.wav"])", R"({"soundtrack": 5})",
        R"({"soundtrack": "s.wav", "offset_ms": 1.5})", R"({"soundtrack": "s.wav", "offset_ms": 3600001})",
        R"({"soundtrack": "s.wav", "offset_ms": -3600001})",
        // Longer than any sidecar (a mebibyte), though valid JSON.
        R"({"soundtrack": "s.wav"})" + std::string(1 << 20, ' ')};
    for (const std::string& bad : bads) {
        writeText(dir.file("s.kdxshow"), bad);
        Opened opened;
        opened.session.opened(dir.file("s.KDX"));
        EXPECT_TRUE(opened.session.choice().none()) << bad.substr(0, 60);  // not even the same-name file
        ASSERT_EQ(opened.messages.size(), 1u) << bad.substr(0, 60);
        EXPECT_TRUE(opened.messages[0].starts_with("s.kdxshow: ")) << opened.messages[0];
        EXPECT_EQ(opened.session.saved(dir.file("s.KDX")), "");
        EXPECT_EQ(readText(dir.file("s.kdxshow")), bad);
    }
    // One that cannot be read at all: a folder of that name.
    fs::remove(dir.path() / "s.kdxshow");
    fs::create_directory(dir.path() / "s.kdxshow");
    Opened opened;
    opened.session.opened(dir.file("s.KDX"));
    EXPECT_TRUE(opened.session.choice().none());
    ASSERT_EQ(opened.messages.size(), 1u);
    EXPECT_TRUE(opened.messages[0].starts_with("s.kdxshow: ")) << opened.messages[0];
    EXPECT_EQ(opened.session.saved(dir.file("s.KDX")), "");
    EXPECT_TRUE(fs::is_directory(dir.path() / "s.kdxshow"));
}

TEST(SoundtrackSidecar, TheLongestOffsetsAndSidecarsAreRead) {
    TempFolder dir;
    for (const int offset : {3600000, -3600000}) {
        std::string text = R"({"soundtrack": "s.wav", "offset_ms": )" + std::to_string(offset) + "}";
        text += std::string((1 << 20) - text.size(), ' ');  // a mebibyte exactly
        writeText(dir.file("s.kdxshow"), text);
        const SoundtrackLookup found = findSoundtrack(dir.file("s.KDX"));
        EXPECT_EQ(found.message, "") << offset;
        EXPECT_EQ(found.choice.offsetMs, offset);
    }
}

// The file size limit makes the new sidecar's write fail part-way.
TEST(SoundtrackSidecar, AFailedSaveLeavesTheOldSidecarByteForByteAndNothingNewBeside) {
    TempFolder dir;
    const std::string old = R"({"soundtrack": "a.wav", "offset_ms": 0})";
    writeText(dir.file("a.kdxshow"), old);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        sequence_file_io::prepareProcessForSaving();
        rlimit lim{};
        getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = 20;
        setrlimit(RLIMIT_FSIZE, &lim);
        Opened opened;
        opened.session.choose({dir.file("b-with-a-long-name.wav"), 1234});
        const std::string error = opened.session.saved(dir.file("a.KDX"));
        _exit(error == "Could not save the soundtrack in a.kdxshow: Disk full." ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readText(dir.file("a.kdxshow")), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(SoundDecoding, EveryNamedFormatDecodesToItsLengthWithItsClicksInPlace) {
    TempFolder dir;
    for (auto [format, name] : {std::pair{SoundFormat::wav, "c.wav"}, {SoundFormat::flac, "c.flac"},
                                {SoundFormat::ogg, "c.ogg"}, {SoundFormat::mp3, "c.mp3"}}) {
        ASSERT_TRUE(writeClickTrack(dir.file(name), format, 1000, {500}, 48000)) << name;
        const DecodeResult r = decodeSoundFile(dir.file(name));
        ASSERT_TRUE(r.sound) << name << ": " << r.error;
        EXPECT_EQ(r.sound->sampleRate, 48000);
        // MP3 and Vorbis may pad the end by a frame.
        EXPECT_NEAR(r.sound->durationMs(), 1000, 60) << name;
        const SoundPeaks peaks = computePeaks(*r.sound, 10);
        float before = 0, at = 0;
        for (size_t i = 0; i < peaks.slices.size(); ++i) {
            const float height = peaks.slices[i].high - peaks.slices[i].low;
            if (i < 45) before = std::max(before, height);
            if (i == 50) at = height;
        }
        EXPECT_LT(before, 0.1f) << name;
        EXPECT_GT(at, 1.0f) << name;
    }
}
