// The sequence file on a real file system: layout, what a save keeps, what a
// load replaces, and the message of every kind of failure.

#include "sequence/SequenceFile.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempFolder.h"

namespace fs = std::filesystem;

namespace {

const std::array<uint8_t, 5> kStamp{'0', '.', '9', 'g', ' '};

std::string dataFile(const std::string& name) { return std::string(KDX_TEST_DATA_DIR) + "/" + name; }

std::vector<uint8_t> imageOf(const Sequence& s) { return {s.image().begin(), s.image().end()}; }

// Every frame and channel different, so a byte in the wrong place shows.
void fillDistinct(Sequence& s, int seed) {
    for (int f = 0; f < kFrameCount; ++f) {
        for (int c = 0; c < kChannelCount; ++c) {
            ChannelSetting& ch = s.channel(f, c);
            ch.position = 500 + seed + f * 13 + c;
            ch.rate = (seed + f + c) % 64;
            ch.offset = (f + c + seed) % 101 - 50;
            ch.pause = seed * 1000 + f * 32 + c;
            ch.changed = (f + c + seed) % 2;
            ch.spare[6] = static_cast<uint8_t>(seed + c);
        }
        s.frame(f).jumpTo = (f + seed) % 129 - 1;
        s.frame(f).frameUsed = 1;
        s.frame(f).padding[2] = static_cast<uint8_t>(seed + f);
    }
}

int openDescriptorCount() {
    int n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// Runs body in a child process and hands back the text it produced; for
// failures that need a changed process (fewer rights, fewer descriptors).
std::string inChild(const std::function<std::string()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string text = body();
        ssize_t ignored = write(fds[1], text.data(), text.size());
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
    return text;
}

// Gives up root, which file modes do not stop. Returns false if that failed.
bool dropPrivileges() {
    if (geteuid() != 0) return true;
    return setgid(65534) == 0 && setuid(65534) == 0;
}

class SequenceFileTest : public ::testing::Test {
protected:
    TempFolder dir;
    Sequence seq;
};

}  // namespace

TEST_F(SequenceFileTest, SavedFileHoldsImageStartWithStampInFileAndMemory) {
    fillDistinct(seq, 3);
    std::string path = dir.file("new.KDX");
    ASSERT_FALSE(fs::exists(path));

    FileResult r = saveSequenceFile(path, seq, kStamp);
    ASSERT_TRUE(r.ok()) << r.error;

    std::vector<uint8_t> file = readWholeFile(path);
    ASSERT_EQ(file.size(), 16384u);
    EXPECT_EQ(std::string(file.begin() + 17, file.begin() + 22), "0.9g ");
    EXPECT_EQ(std::string(seq.image().begin() + 17, seq.image().begin() + 22), "0.9g ");
    EXPECT_TRUE(std::equal(file.begin(), file.end(), seq.image().begin()));
    // The stamp sits in spare bytes: the channel values around it are untouched.
    EXPECT_EQ(seq.channel(0, 0).changed, 3 % 2);
    EXPECT_EQ(seq.channel(0, 1).position, 500 + 3 + 1);
}

TEST_F(SequenceFileTest, SaveOverShorterFileExtendsItTo16384Bytes) {
    std::string path = dir.file("small.KDX");
    writeWholeFile(path, std::vector<uint8_t>(100, 0xEE));
    ASSERT_TRUE(saveSequenceFile(path, seq, kStamp).ok());
    std::vector<uint8_t> file = readWholeFile(path);
    ASSERT_EQ(file.size(), 16384u);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), seq.image().begin()));
}

TEST_F(SequenceFileTest, LoadReplacesExactlyTheFirst16384Bytes) {
    Sequence saved;
    fillDistinct(saved, 1);
    std::string path = dir.file("round.KDX");
    ASSERT_TRUE(saveSequenceFile(path, saved, kStamp).ok());

    fillDistinct(seq, 40);
    std::vector<uint8_t> before = imageOf(seq);
    FileResult r = loadSequenceFile(path, seq);
    ASSERT_TRUE(r.ok()) << r.error;

    std::vector<uint8_t> after = imageOf(seq);
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 16384, saved.image().begin()));
    EXPECT_TRUE(std::equal(after.begin() + 16384, after.end(), before.begin() + 16384));

    // The same boundary in record terms: frame 21 keeps channels 0..2 and
    // channel 3's four values from the file, the rest from before.
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(std::memcmp(&seq.channel(21, c), &saved.channel(21, c), sizeof(ChannelSetting)), 0);
    EXPECT_EQ(seq.channel(21, 3).pause, saved.channel(21, 3).pause);
    EXPECT_EQ(seq.channel(21, 3).position, saved.channel(21, 3).position);
    Sequence old;
    fillDistinct(old, 40);
    EXPECT_EQ(seq.channel(21, 3).changed, old.channel(21, 3).changed);
    EXPECT_EQ(seq.channel(21, 4).position, old.channel(21, 4).position);
    EXPECT_EQ(seq.frame(21).jumpTo, old.frame(21).jumpTo);
    EXPECT_EQ(seq.frame(22).channels[0].position, old.frame(22).channels[0].position);
}

TEST_F(SequenceFileTest, ValuesNoControlCouldSetLoadAsTheyAre) {
    FileResult r = loadSequenceFile(dataFile("out_of_range.KDX"), seq);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(seq.channel(0, 0).position, 9999);
    EXPECT_EQ(seq.channel(0, 0).rate, -5);
    EXPECT_EQ(seq.channel(0, 0).offset, -300);
    EXPECT_EQ(seq.channel(0, 0).pause, 70000);
    EXPECT_EQ(seq.channel(0, 0).changed, 2);
    EXPECT_EQ(seq.channel(0, 1).changed, 255);
    EXPECT_EQ(seq.channel(1, 31).pause, 65536);
    EXPECT_EQ(seq.frame(0).jumpTo, 200);
    EXPECT_EQ(seq.frame(0).frameUsed, 2);
    EXPECT_EQ(seq.frame(1).jumpTo, 500);
    EXPECT_EQ(seq.frame(2).jumpTo, -7);
    EXPECT_EQ(std::string(seq.image().begin() + 17, seq.image().begin() + 22), "9.9z!");
    EXPECT_EQ(seq.channel(0, 5).spare[0], 0x5A);
    EXPECT_EQ(seq.frame(3).padding[2], 3);
}

class ShortFileTest : public SequenceFileTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(ShortFileTest, FailsAndLeavesTheSequenceAsItWas) {
    std::string path = dir.file("short.KDX");
    std::vector<uint8_t> source = readWholeFile(dataFile("short.KDX"));
    ASSERT_EQ(source.size(), 1000u);
    std::vector<uint8_t> bytes(GetParam(), 0x11);
    std::copy_n(source.begin(), std::min(bytes.size(), source.size()), bytes.begin());
    writeWholeFile(path, bytes);
    fillDistinct(seq, 2);
    std::vector<uint8_t> before = imageOf(seq);
    int descriptors = openDescriptorCount();

    FileResult r = loadSequenceFile(path, seq);

    EXPECT_EQ(r.error, "Read beyond end of file.");
    EXPECT_EQ(imageOf(seq), before);
    EXPECT_EQ(openDescriptorCount(), descriptors) << "the file was left open";
}

INSTANTIATE_TEST_SUITE_P(Sizes, ShortFileTest, ::testing::Values(0u, 1000u, 16383u));

// Each case produces one kind of failure on the real system and names the
// message the user must see.
struct FailureCase {
    const char* name;
    const char* message;
    bool isSave;
    // Returns the path to use, or "" when the case cannot be set up here.
    std::function<std::string(const TempFolder&)> setUp;
    bool unprivilegedChild = false;
    bool fewDescriptorsChild = false;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class FileFailureTest : public SequenceFileTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FileFailureTest, ReportsItsMessageAndKeepsTheSequence) {
    const FailureCase& c = GetParam();
    std::string path = c.setUp(dir);
    if (path.empty()) GTEST_SKIP() << "not available on this system";
    fillDistinct(seq, 7);
    std::vector<uint8_t> before = imageOf(seq);

    auto operate = [&] {
        return c.isSave ? saveSequenceFile(path, seq, kStamp).error : loadSequenceFile(path, seq).error;
    };
    std::string message;
    if (c.unprivilegedChild) {
        fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec | fs::perms::group_exec);
        message = inChild([&] { return dropPrivileges() ? operate() : std::string("setuid failed"); });
    } else if (c.fewDescriptorsChild) {
        message = inChild([&] {
            rlimit lim{};
            getrlimit(RLIMIT_NOFILE, &lim);
            lim.rlim_cur = 16;
            if (setrlimit(RLIMIT_NOFILE, &lim) != 0) return std::string("setrlimit failed");
            while (open("/dev/null", O_RDONLY) >= 0) {
            }
            return operate();
        });
    } else {
        message = operate();
    }

    EXPECT_EQ(message, c.message);
    if (!c.isSave) {
        EXPECT_EQ(imageOf(seq), before);
    }
}

namespace {
std::string existingFile(const TempFolder& d) {
    std::string p = d.file("present.KDX");
    writeWholeFile(p, std::vector<uint8_t>(16384, 0));
    return p;
}
std::string readOnlyFile(const TempFolder& d) {
    std::string p = existingFile(d);
    fs::permissions(p, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    return p;
}
// A read-only kernel attribute refuses writing even to root.
std::string readOnlyAttribute(const TempFolder&) {
    const char* p = "/sys/kernel/uevent_seqnum";
    return access(p, F_OK) == 0 ? p : "";
}
std::string fullDisk(const TempFolder&) { return access("/dev/full", W_OK) == 0 ? "/dev/full" : ""; }
}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Kinds, FileFailureTest,
    ::testing::Values(
        FailureCase{"LoadMissingFile", "File not found.", false,
                    [](const TempFolder& d) { return d.file("absent.KDX"); }},
        FailureCase{"LoadInMissingFolder", "Invalid filename.", false,
                    [](const TempFolder& d) { return d.file("no-such-folder/a.KDX"); }},
        FailureCase{"SaveInMissingFolder", "Invalid filename.", true,
                    [](const TempFolder& d) { return d.file("no-such-folder/a.KDX"); }},
        FailureCase{"SaveBelowAFile", "Invalid filename.", true,
                    [](const TempFolder& d) { return existingFile(d) + "/a.KDX"; }},
        FailureCase{"LoadOverlongName", "Invalid filename.", false,
                    [](const TempFolder& d) { return d.file(std::string(300, 'n') + ".KDX"); }},
        FailureCase{"SaveOntoFolder", "File access denied.", true,
                    [](const TempFolder& d) { return d.path().string(); }},
        FailureCase{"LoadFolder", "File access denied.", false,
                    [](const TempFolder& d) { return d.path().string(); }},
        FailureCase{"LoadReadOnlyAttribute", "File access denied.", false, readOnlyAttribute},
        FailureCase{"SaveReadOnlyAttribute", "File access denied.", true, readOnlyAttribute},
        FailureCase{"LoadReadOnlyFileUnprivileged", "File access denied.", false, readOnlyFile, true},
        FailureCase{"SaveReadOnlyFileUnprivileged", "File access denied.", true, readOnlyFile, true},
        FailureCase{"LoadWithNoDescriptorLeft", "Too many open files.", false, existingFile, false, true},
        FailureCase{"SaveWithNoDescriptorLeft", "Too many open files.", true, existingFile, false, true},
        FailureCase{"SaveToFullDisk", "Disk full.", true, fullDisk}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(SequenceFileTest, FailedSaveToFullDiskChangesOnlyTheStampInMemory) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    fillDistinct(seq, 4);
    std::vector<uint8_t> expected = imageOf(seq);
    std::copy(kStamp.begin(), kStamp.end(), expected.begin() + 17);
    EXPECT_EQ(saveSequenceFile("/dev/full", seq, kStamp).error, "Disk full.");
    EXPECT_EQ(imageOf(seq), expected);
}

// Kinds the tests cannot provoke on this machine, by their error numbers.
struct ErrnoCase {
    int err;
    const char* message;
};

class ErrnoMessageTest : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(ErrnoMessageTest, MapsOntoTheUsersMessage) {
    TempFolder dir;
    EXPECT_EQ(fileErrorMessage(GetParam().err, dir.file("x.KDX")), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Table, ErrnoMessageTest,
                         ::testing::Values(ErrnoCase{EPERM, "File access denied."},
                                           ErrnoCase{EROFS, "File access denied."},
                                           ErrnoCase{ENFILE, "Too many open files."},
                                           ErrnoCase{EDQUOT, "Disk full."},
                                           ErrnoCase{EIO, "I/O error 5."},
                                           ErrnoCase{EBUSY, "I/O error 16."}));

TEST(SequenceFileNames, NameWithoutExtensionGetsKdx) {
    EXPECT_EQ(withDefaultExtension("walk"), "walk.KDX");
    EXPECT_EQ(withDefaultExtension("/home/u/robot.d/walk"), "/home/u/robot.d/walk.KDX");
    EXPECT_EQ(withDefaultExtension("walk.KDX"), "walk.KDX");
    EXPECT_EQ(withDefaultExtension("walk.kdx"), "walk.kdx");
    EXPECT_EQ(withDefaultExtension("walk.txt"), "walk.txt");
    EXPECT_EQ(withDefaultExtension("/tmp/.hidden"), "/tmp/.hidden.KDX");
}

TEST(SequenceFileNames, FilterMatchesKdxInAnyCase) {
    for (const char* name : {"a.KDX", "a.kdx", "a.Kdx", "/x/y/walk.kDx", ".KDX"})
        EXPECT_TRUE(matchesSequenceFilter(name)) << name;
    for (const char* name : {"a.KDX.bak", "a.kd", "kdx", "a_KDX", "a.txt", ""})
        EXPECT_FALSE(matchesSequenceFilter(name)) << name;
}

TEST(SequenceFileFrames, HighestUsedFrameThatTheFileCannotHold) {
    Sequence s;
    EXPECT_EQ(highestUsedFrameNotInFile(s), -1);
    for (int f = 0; f <= 20; ++f) s.frame(f).frameUsed = 1;
    EXPECT_EQ(highestUsedFrameNotInFile(s), -1);
    s.frame(21).frameUsed = 1;
    EXPECT_EQ(highestUsedFrameNotInFile(s), 21);
    s.frame(40).frameUsed = 2;
    EXPECT_EQ(highestUsedFrameNotInFile(s), 40);
    s.frame(127).frameUsed = 1;
    EXPECT_EQ(highestUsedFrameNotInFile(s), 127);
}
