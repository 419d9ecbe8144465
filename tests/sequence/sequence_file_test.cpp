// SPDX-License-Identifier: GPL-3.0-or-later
// The sequence file on a real file system: layout, what a save keeps, what a
// load replaces, what is refused, and the message of every kind of failure.

#include "sequence/SequenceFile.h"
#include "sequence/SequenceFileIo.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ChildProcess.h"
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

// Bytes that differ from their neighbours, for an old file.
std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> v(size);
    for (size_t i = 0; i < size; ++i) v[i] = static_cast<uint8_t>(i % 251);
    return v;
}

// What a save must have written: the image start with the stamp, then what
// the old file held beyond it.
std::vector<uint8_t> savedBytes(const Sequence& s, const std::vector<uint8_t>& old) {
    std::vector<uint8_t> v(s.image().begin(), s.image().begin() + kSequenceFileSize);
    std::copy(kStamp.begin(), kStamp.end(), v.begin() + 17);
    if (old.size() > v.size()) v.insert(v.end(), old.begin() + kSequenceFileSize, old.end());
    return v;
}

int openDescriptorCount() {
    int n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// The names in a folder, hidden ones included.
std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Type, permission bits and owner of a name (not followed), and the bytes
// of a regular file in the test's folder.
std::string snapshot(const std::string& path, const TempFolder& dir) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return "missing";
    std::string s = std::to_string(st.st_mode) + "/" + std::to_string(st.st_uid) + "/" + std::to_string(st.st_size);
    if (S_ISREG(st.st_mode) && path.starts_with(dir.path().string())) {
        std::vector<uint8_t> bytes = readWholeFile(path);
        s.append(bytes.begin(), bytes.end());
    }
    return s;
}

bool isRoot() { return geteuid() == 0; }

// Gives up root, which file modes do not stop. Returns false if that failed.
bool dropPrivileges() {
    if (!isRoot()) return true;
    return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
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
    std::string plain = dir.file("plain");
    writeWholeFile(plain, {});

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
    // A new file gets the permissions any new file gets here, and nothing
    // else is left in the folder.
    EXPECT_EQ(fs::status(path).permissions(), fs::status(plain).permissions());
    EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"new.KDX", "plain"}));
}

TEST_F(SequenceFileTest, SaveOverShorterFileExtendsItTo16384Bytes) {
    std::string path = dir.file("small.KDX");
    writeWholeFile(path, std::vector<uint8_t>(100, 0xEE));
    ASSERT_TRUE(saveSequenceFile(path, seq, kStamp).ok());
    std::vector<uint8_t> file = readWholeFile(path);
    ASSERT_EQ(file.size(), 16384u);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), seq.image().begin()));
}

// The file a chain of links leads to is replaced; the links stay, and so do
// the file's permission bits, owner and bytes beyond 16383. A link is
// resolved from its own folder; one that leads nowhere yet gets its file.
TEST_F(SequenceFileTest, SaveThroughLinksKeepsLinksModeOwnerAndTail) {
    fs::create_directory(dir.path() / "sub");
    std::string real = dir.file("sub/real.KDX");
    const std::vector<uint8_t> old = pattern(40000);
    writeWholeFile(real, old);
    if (isRoot()) {
        ASSERT_EQ(chown(real.c_str(), 65534, 65534), 0);
    }
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read;
    fs::permissions(real, mode);
    // 40 links, as many as the system follows: link0 -> ... -> link38 ->
    // sub/hop -> real.KDX (relative to sub).
    for (int i = 0; i < 38; ++i) fs::create_symlink("link" + std::to_string(i + 1), dir.path() / ("link" + std::to_string(i)));
    fs::create_symlink("sub/hop", dir.path() / "link38");
    fs::create_symlink("real.KDX", dir.path() / "sub/hop");
    fs::create_symlink(dir.file("sub/later.KDX"), dir.path() / "ahead.KDX");
    const auto top = listing(dir.path());
    fillDistinct(seq, 6);
    // A reader that has the old file open keeps reading the old bytes: the
    // save made a new file rather than writing over the old one.
    const int reader = open(real.c_str(), O_RDONLY);

    ASSERT_EQ(saveSequenceFile(dir.file("link0"), seq, kStamp).error, "");
    ASSERT_EQ(saveSequenceFile(dir.file("ahead.KDX"), seq, kStamp).error, "");

    EXPECT_EQ(readWholeFile(real), savedBytes(seq, old));
    std::vector<uint8_t> seen(old.size());
    EXPECT_EQ(pread(reader, seen.data(), seen.size(), 0), static_cast<ssize_t>(old.size()));
    close(reader);
    EXPECT_EQ(seen, old);
    EXPECT_EQ(fs::status(real).permissions(), mode);
    struct stat st {};
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    if (isRoot()) {
        EXPECT_EQ(st.st_uid, 65534u);
    }
    EXPECT_EQ(readWholeFile(dir.file("sub/later.KDX")), savedBytes(seq, {}));
    EXPECT_EQ(fs::read_symlink(dir.path() / "link0"), "link1");
    EXPECT_EQ(fs::read_symlink(dir.path() / "link38"), "sub/hop");
    EXPECT_EQ(fs::read_symlink(dir.path() / "sub/hop"), "real.KDX");
    EXPECT_TRUE(fs::is_symlink(dir.path() / "ahead.KDX"));
    EXPECT_EQ(listing(dir.path()), top);
    EXPECT_EQ(listing(dir.path() / "sub"), (std::vector<std::string>{"hop", "later.KDX", "real.KDX"}));

    // One link more than the system follows is refused as it would be.
    fs::create_symlink("link0", dir.path() / "link-1");
    EXPECT_EQ(saveSequenceFile(dir.file("link-1"), seq, kStamp).error, "I/O error 40.");
}

// Load needs only read access: a read-only file (of another user, where the
// test runs as root) loads.
TEST_F(SequenceFileTest, ReadOnlyFileLoads) {
    Sequence saved;
    fillDistinct(saved, 8);
    std::string path = dir.file("shared.KDX");
    ASSERT_TRUE(saveSequenceFile(path, saved, kStamp).ok());
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);

    std::string result = inChild([&] {
        if (!dropPrivileges()) return std::string("setuid failed");
        FileResult r = loadSequenceFile(path, seq);
        bool same = std::equal(saved.image().begin(), saved.image().begin() + 16384, seq.image().begin());
        return r.error + (same ? "loaded" : "not loaded");
    });
    EXPECT_EQ(result, "loaded");
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
// message the user must see. Each runs in a child that must answer within
// 10 s, so that an operation that waits (on a FIFO, say) fails the case.
struct FailureCase {
    const char* name;
    const char* message;
    bool isSave;
    // Returns the path to use, or "" when the case cannot be set up here.
    std::function<std::string(const TempFolder&)> setUp;
    bool unprivileged = false;
    bool fewDescriptors = false;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class FileFailureTest : public SequenceFileTest, public ::testing::WithParamInterface<FailureCase> {};

// Neither the file nor the sequence changes (no stamp either), and nothing is
// left behind in the folder.
TEST_P(FileFailureTest, ReportsItsMessageAndChangesNothing) {
    const FailureCase& c = GetParam();
    std::string path = c.setUp(dir);
    if (path.empty()) GTEST_SKIP() << "not available on this system";
    const std::string before = snapshot(path, dir);
    const auto names = listing(dir.path());
    if (c.unprivileged)
        fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);

    std::string message = inChild([&] {
        if (c.unprivileged && !dropPrivileges()) return std::string("setuid failed");
        if (c.fewDescriptors) {
            rlimit lim{};
            getrlimit(RLIMIT_NOFILE, &lim);
            lim.rlim_cur = 16;
            if (setrlimit(RLIMIT_NOFILE, &lim) != 0) return std::string("setrlimit failed");
            while (open("/dev/null", O_RDONLY) >= 0) {
            }
        }
        fillDistinct(seq, 7);
        const std::vector<uint8_t> image = imageOf(seq);
        std::string error = c.isSave ? saveSequenceFile(path, seq, kStamp).error : loadSequenceFile(path, seq).error;
        return imageOf(seq) == image ? error : error + " (sequence changed)";
    });

    EXPECT_EQ(message, c.message);
    EXPECT_EQ(snapshot(path, dir), before);
    EXPECT_EQ(listing(dir.path()), names);
}

namespace {
std::string existingFile(const TempFolder& d) {
    std::string p = d.file("present.KDX");
    writeWholeFile(p, pattern(16384));
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
std::string fifo(const TempFolder& d) {
    std::string p = d.file("fifo.KDX");
    return mkfifo(p.c_str(), 0666) == 0 ? p : "";
}
std::string socketFile(const TempFolder& d) {
    std::string p = d.file("socket.KDX");
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, p.c_str(), sizeof addr.sun_path - 1);
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    bool bound = bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(s);
    return bound ? p : "";
}
// A null device of the test's own where it may make one, so that nothing
// can ever replace the system's.
std::string device(const TempFolder& d) {
    if (!isRoot()) return "/dev/null";
    std::string p = d.file("null.KDX");
    return mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 ? p : "";
}
// A process reading its own memory at address 0 gets an I/O error.
std::string unreadable(const TempFolder&) { return "/proc/self/mem"; }
std::string newFileInClosedFolder(const TempFolder& d) {
    fs::path folder = d.path() / "closed";
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    return (folder / "new.KDX").string();
}
std::string linkCycle(const TempFolder& d) {
    fs::create_symlink("cycle.KDX", d.path() / "cycle.KDX");
    return d.file("cycle.KDX");
}
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
        FailureCase{"SaveToFifo", "File access denied.", true, fifo},
        FailureCase{"LoadFifo", "File access denied.", false, fifo},
        FailureCase{"SaveToSocket", "File access denied.", true, socketFile},
        FailureCase{"LoadSocket", "File access denied.", false, socketFile},
        FailureCase{"SaveToDevice", "File access denied.", true, device},
        FailureCase{"LoadDevice", "File access denied.", false, device},
        FailureCase{"SaveReadOnlyAttribute", "File access denied.", true, readOnlyAttribute},
        FailureCase{"SaveReadOnlyFileUnprivileged", "File access denied.", true, readOnlyFile, true},
        FailureCase{"SaveNewFileInClosedFolder", "File access denied.", true, newFileInClosedFolder, true},
        FailureCase{"LoadUnreadableFile", "I/O error 5.", false, unreadable},
        FailureCase{"SaveThroughLinkCycle", "I/O error 40.", true, linkCycle},
        FailureCase{"LoadWithNoDescriptorLeft", "Too many open files.", false, existingFile, false, true},
        FailureCase{"SaveWithNoDescriptorLeft", "Too many open files.", true, existingFile, false, true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// A writable file in a folder that takes no new file (or, sticky, lets only
// the owner replace one) is still saved, in place, and nothing is left there.
class InPlaceTest : public SequenceFileTest, public ::testing::WithParamInterface<bool> {};

TEST_P(InPlaceTest, WritableFileInAFolderThatTakesNoNewFileIsSaved) {
    const bool sticky = GetParam();
    if (sticky && !isRoot()) GTEST_SKIP() << "a folder of another user needs root to set up";
    fs::path folder = dir.path() / "shared";
    fs::create_directory(folder);
    std::string path = (folder / "walk.KDX").string();
    const std::vector<uint8_t> old = pattern(20000);
    writeWholeFile(path, old);
    fs::permissions(path, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    // As root the saver is another user, for whom the folder is closed (or
    // sticky); otherwise the folder is closed to its owner.
    using fs::perms;
    const perms readAndEnter = perms::owner_read | perms::owner_exec | perms::group_read | perms::group_exec |
                               perms::others_read | perms::others_exec;
    fs::permissions(folder, sticky ? perms::all | perms::sticky_bit
                            : isRoot() ? readAndEnter | perms::owner_write
                                       : readAndEnter);
    fillDistinct(seq, 9);

    std::string result = inChild([&] {
        if (!dropPrivileges()) return std::string("setuid failed");
        return saveSequenceFile(path, seq, kStamp).error;
    });
    fs::permissions(folder, fs::perms::owner_all);

    EXPECT_EQ(result, "");
    EXPECT_EQ(readWholeFile(path), savedBytes(seq, old));
    EXPECT_EQ(listing(folder), std::vector<std::string>{"walk.KDX"});
}

INSTANTIATE_TEST_SUITE_P(Folders, InPlaceTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Sticky" : "ReadOnly");
                         });

// A save that runs out of room half-way, on an existing name or a new one:
// the message says so, the old file is as it was (or there is none), nothing
// is left behind and the stamp is not put into memory.
enum class Room { fileSizeLimit, smallDisk };
struct RoomCase {
    Room room;
    bool existing;
};

class OutOfRoomTest : public SequenceFileTest, public ::testing::WithParamInterface<RoomCase> {};

// A tmpfs of 64 KiB in a mount namespace of the child's own, filled up to
// two pages.
std::string mountSmallDisk(const fs::path& folder) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("<skip: no mount namespace: ") + std::strerror(errno) + ">";
    if (mount("kdx-test", folder.c_str(), "tmpfs", 0, "size=64k") != 0)
        return std::string("<skip: cannot mount a tmpfs: ") + std::strerror(errno) + ">";
    return "";
}
bool fillUpTo(const fs::path& folder, off_t left) {
    int fd = open((folder / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
    std::vector<char> block(4096, 'f');
    off_t size = 0;
    ssize_t n;
    while ((n = write(fd, block.data(), block.size())) > 0) size += n;
    bool full = n == -1 && errno == ENOSPC && ftruncate(fd, size - left) == 0;
    close(fd);
    return full;
}

TEST_P(OutOfRoomTest, LeavesOldFileAndMemoryAsTheyWere) {
    const RoomCase c = GetParam();
    if (c.room == Room::smallDisk && !isRoot()) GTEST_SKIP() << "mounting a small disk needs root";
    fs::path folder = dir.path() / "disk";
    fs::create_directory(folder);
    std::string path = (folder / "walk.KDX").string();
    const std::vector<uint8_t> old = pattern(20000);

    std::string result = inChild([&] {
        if (c.room == Room::smallDisk)
            if (std::string skip = mountSmallDisk(folder); !skip.empty()) return skip;
        if (c.existing) writeWholeFile(path, old);
        if (c.room == Room::smallDisk && !fillUpTo(folder, 8192)) return std::string("cannot fill the disk");
        if (c.room == Room::fileSizeLimit) {
            // The existing file fails while its tail is copied, the new one
            // while its 16,384 bytes are written.
            sequence_file_io::prepareProcessForSaving();
            rlimit lim{};
            getrlimit(RLIMIT_FSIZE, &lim);
            lim.rlim_cur = c.existing ? 18000 : 10000;
            if (setrlimit(RLIMIT_FSIZE, &lim) != 0) return std::string("setrlimit failed");
        }
        const auto names = listing(folder);
        fillDistinct(seq, 5);
        const std::vector<uint8_t> image = imageOf(seq);

        std::string out = saveSequenceFile(path, seq, kStamp).error;

        if (c.existing && readWholeFile(path) != old) out += ", old file changed";
        if (listing(folder) != names) out += ", folder changed";
        if (imageOf(seq) != image) out += ", sequence changed";
        return out;
    });

    if (result.starts_with("<skip")) GTEST_SKIP() << result;
    EXPECT_EQ(result, "Disk full.");
}

INSTANTIATE_TEST_SUITE_P(Ways, OutOfRoomTest,
                         ::testing::Values(RoomCase{Room::fileSizeLimit, true}, RoomCase{Room::fileSizeLimit, false},
                                           RoomCase{Room::smallDisk, true}, RoomCase{Room::smallDisk, false}),
                         [](const ::testing::TestParamInfo<RoomCase>& info) {
                             return std::string(info.param.room == Room::smallDisk ? "SmallDisk" : "FileSizeLimit") +
                                    (info.param.existing ? "ExistingFile" : "NewFile");
                         });

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
    EXPECT_EQ(withDefaultExtension("/home/u/"), "/home/u/");
    EXPECT_EQ(withDefaultExtension("a.b"), "a.b");
    EXPECT_EQ(withDefaultExtension("/tmp/a.b"), "/tmp/a.b");
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
