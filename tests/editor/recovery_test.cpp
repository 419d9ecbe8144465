// SPDX-License-Identifier: GPL-3.0-or-later
// Recovery copies on the real file system, kept by real processes: a
// program killed with SIGKILL leaves its copy for the next start, a running
// program's copy is never offered, a copy that cannot be read is moved
// aside; the writer's order and failure report; the scheduler's timing on a
// fake clock.

#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "TempFolder.h"
#include "editor/RecoveryCopy.h"
#include "editor/RecoveryScheduler.h"
#include "editor/RecoveryStore.h"
#include "editor/RecoveryWriter.h"
#include "sequence/SequenceFileIo.h"

namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace {

// Every byte of every frame set, spare bytes and padding included.
RecoveryCopy sampleCopy(unsigned seed, const std::string& name) {
    RecoveryCopy c;
    std::mt19937 random(seed);
    for (uint8_t& b : c.sequence.image()) b = static_cast<uint8_t>(random());
    for (int ch = 0; ch < kChannelCount; ++ch)
        c.strips[ch] = {static_cast<int32_t>(500 + 2 * ch + seed), ch % 64, ch - 16, 1000 * ch, ch % 3 == 0};
    c.currentFrame = static_cast<int32_t>(seed % 128);
    c.lastFrame = 127;
    c.fileName = name;
    c.savedAt = (int64_t{1} << 40) + seed;  // beyond 32 bits
    return c;
}

void expectSame(const RecoveryCopy& got, const RecoveryCopy& want) {
    EXPECT_TRUE(std::ranges::equal(got.sequence.image(), want.sequence.image()));
    EXPECT_EQ(got.strips, want.strips);
    EXPECT_EQ(got.currentFrame, want.currentFrame);
    EXPECT_EQ(got.lastFrame, want.lastFrame);
    EXPECT_EQ(got.fileName, want.fileName);
    EXPECT_EQ(got.savedAt, want.savedAt);
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

std::set<std::string> withExtension(const fs::path& folder, const std::string& extension) {
    std::set<std::string> names;
    for (const std::string& n : namesIn(folder))
        if (fs::path(n).extension() == extension) names.insert(n);
    return names;
}

// Another running program with a copy of its own: a child process that
// writes copy into folder (and removes it again, as a Save does, when
// saved) and then waits, until it is killed.
class CopyOwner {
public:
    CopyOwner(const fs::path& folder, const RecoveryCopy& copy, bool saved = false) {
        int up[2];
        if (pipe(up) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(up[0]);
            RecoveryStore store(folder);
            const char answer = store.write(copy).ok() ? 'y' : 'n';
            if (saved) store.remove();
            if (write(up[1], &answer, 1) != 1) _exit(1);
            for (;;) pause();
        }
        close(up[1]);
        char answer = 0;
        wrote_ = read(up[0], &answer, 1) == 1 && answer == 'y';
        close(up[0]);
    }
    ~CopyOwner() { kill(); }
    CopyOwner(const CopyOwner&) = delete;
    CopyOwner& operator=(const CopyOwner&) = delete;

    bool wrote() const { return wrote_; }
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    bool wrote_ = false;
};

// How many copies another program starting now is offered.
std::string offeredToAnotherStart(const fs::path& folder) {
    return inChild([&] { return std::to_string(RecoveryStore(folder).findLeftCopies().copies.size()); });
}

}  // namespace

TEST(RecoveryStore, ACopyLeftByAKilledProgramIsOfferedWithEveryFrameIntact) {
    TempFolder dir;
    const RecoveryCopy written = sampleCopy(7, "/home/user/shows/Dance.KDX");
    {
        CopyOwner owner(dir.path(), written);
        ASSERT_TRUE(owner.wrote());
        owner.kill();
    }
    RecoveryStore store(dir.path());
    LeftCopies left = store.findLeftCopies();
    EXPECT_TRUE(left.messages.empty());
    ASSERT_EQ(left.copies.size(), 1u);
    expectSame(left.copies[0].copy, written);
    EXPECT_EQ(recoveryQuestion(left.copies[0].copy).rfind("Recover the unsaved sequence Dance.KDX from ", 0), 0u);
    // Offered here, so not to a second start meanwhile; again once this
    // program has ended without answering.
    EXPECT_EQ(offeredToAnotherStart(dir.path()), "0");
    left = store.findLeftCopies();
    EXPECT_TRUE(left.copies.empty()) << "offered twice to the same program";
}

TEST(RecoveryStore, ACopyNotAnsweredIsOfferedAgainAtTheNextStart) {
    TempFolder dir;
    CopyOwner(dir.path(), sampleCopy(1, "")).kill();
    {
        RecoveryStore first(dir.path());
        ASSERT_EQ(first.findLeftCopies().copies.size(), 1u);
    }
    EXPECT_EQ(offeredToAnotherStart(dir.path()), "1");
}

TEST(RecoveryStore, TwoRunningProgramsKeepTwoCopiesAndNeitherIsOffered) {
    TempFolder dir;
    CopyOwner one(dir.path(), sampleCopy(1, "one.KDX"));
    CopyOwner two(dir.path(), sampleCopy(2, "two.KDX"));
    ASSERT_TRUE(one.wrote() && two.wrote());
    EXPECT_EQ(withExtension(dir.path(), ".recovery").size(), 2u);
    EXPECT_EQ(offeredToAnotherStart(dir.path()), "0");

    two.kill();
    RecoveryStore store(dir.path());
    LeftCopies left = store.findLeftCopies();
    ASSERT_EQ(left.copies.size(), 1u);
    EXPECT_EQ(left.copies[0].copy.fileName, "two.KDX");
}

TEST(RecoveryStore, AnUnreadableCopyIsMovedAsideAndTheStartGoesOn) {
    TempFolder dir;
    CopyOwner(dir.path(), sampleCopy(3, "good.KDX")).kill();
    CopyOwner(dir.path(), sampleCopy(4, "damaged.KDX")).kill();
    writeWholeFile(dir.file("123-garbage.recovery"), std::vector<uint8_t>(300, 0x41));
    // One byte of a frame changed in the second copy.
    for (const std::string& name : withExtension(dir.path(), ".recovery")) {
        std::vector<uint8_t> bytes = readWholeFile(dir.file(name));
        std::optional<RecoveryCopy> c = decodeRecoveryCopy(bytes);
        if (!c || c->fileName != "damaged.KDX") continue;
        bytes[bytes.size() - 5000] ^= 0x10;
        writeWholeFile(dir.file(name), bytes);
    }

    RecoveryStore store(dir.path());
    LeftCopies left = store.findLeftCopies();
    ASSERT_EQ(left.copies.size(), 1u);
    EXPECT_EQ(left.copies[0].copy.fileName, "good.KDX");
    EXPECT_EQ(left.messages.size(), 2u);
    EXPECT_EQ(withExtension(dir.path(), ".unreadable").size(), 2u);
    EXPECT_EQ(withExtension(dir.path(), ".recovery").size(), 1u);
    EXPECT_TRUE(store.findLeftCopies().messages.empty()) << "moved aside, so said once";
}

TEST(RecoveryStore, RecoverMakesTheCopyThisProgramsAndDiscardRemovesIt) {
    TempFolder dir;
    const RecoveryCopy kept = sampleCopy(5, "kept.KDX");
    CopyOwner(dir.path(), kept).kill();
    CopyOwner(dir.path(), sampleCopy(6, "dropped.KDX")).kill();
    {
        RecoveryStore store(dir.path());
        LeftCopies left = store.findLeftCopies();
        ASSERT_EQ(left.copies.size(), 2u);
        for (const LeftCopy& l : left.copies) {
            if (l.copy.fileName == "kept.KDX")
                ASSERT_TRUE(store.adopt(l.id).ok());
            else
                store.discard(l.id);
        }
        EXPECT_EQ(withExtension(dir.path(), ".recovery"), std::set<std::string>{store.copyPath().filename().string()});
        std::optional<RecoveryCopy> own = decodeRecoveryCopy(readWholeFile(store.copyPath().string()));
        ASSERT_TRUE(own);
        expectSame(*own, kept);
        // Held by this running program: not offered elsewhere.
        EXPECT_EQ(offeredToAnotherStart(dir.path()), "0");
        store.remove();
        EXPECT_TRUE(withExtension(dir.path(), ".recovery").empty());
    }
    EXPECT_TRUE(namesIn(dir.path()).empty()) << "a clean end leaves no file behind";
}

TEST(RecoveryStore, TheLockOfAProgramKilledAfterASaveIsClearedAway) {
    TempFolder dir;
    CopyOwner(dir.path(), sampleCopy(1, ""), true).kill();
    ASSERT_EQ(withExtension(dir.path(), ".lock").size(), 1u);
    RecoveryStore store(dir.path());
    EXPECT_TRUE(store.findLeftCopies().copies.empty());
    EXPECT_TRUE(namesIn(dir.path()).empty());
}

// The format is fixed: a copy written by one build is read by the next. The
// header of a fresh sequence's copy, worked out apart from this code (its
// CRC-32 by zlib).
TEST(RecoveryCopyFormat, AFreshSequencesCopyStartsWithTheKnownHeader) {
    const std::vector<uint8_t> bytes = encodeRecoveryCopy(RecoveryCopy{});
    const std::vector<uint8_t> header{'K', 'D', 'X', 'R', 'E', 'C', 'O', 'V', 1, 0, 0, 0,
                                      0x94, 0x86, 0x01, 0x00,   // 99988 bytes follow
                                      0x4a, 0xac, 0x62, 0x58};  // their CRC-32
    ASSERT_EQ(bytes.size(), header.size() + 99988);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin()));
}

TEST(RecoveryStore, TheFolderIsXdgStateHomeOrElseTheOneInHome) {
    const std::string result = inChild([] {
        std::string out;
        setenv("HOME", "/home/someone", 1);
        setenv("XDG_STATE_HOME", "/var/state", 1);
        out += RecoveryStore::defaultFolder().string() + "|";
        setenv("XDG_STATE_HOME", "relative/state", 1);  // not absolute: as if unset
        out += RecoveryStore::defaultFolder().string() + "|";
        unsetenv("XDG_STATE_HOME");
        out += RecoveryStore::defaultFolder().string() + "|";
        // No usable HOME: the user's home from the password database.
        const passwd* user = getpwuid(getuid());
        const fs::path fromDatabase = fs::path(user ? user->pw_dir : "?") / ".local/state/kdx-interface";
        setenv("HOME", "relative", 1);
        out += RecoveryStore::defaultFolder() == fromDatabase ? "database|" : "wrong|";
        unsetenv("HOME");
        out += RecoveryStore::defaultFolder() == fromDatabase ? "database" : "wrong";
        return out;
    });
    EXPECT_EQ(result,
              "/var/state/kdx-interface|/home/someone/.local/state/kdx-interface|"
              "/home/someone/.local/state/kdx-interface|database|database");
}

TEST(RecoveryStore, AShorterCopyOverALongerOneReadsBack) {
    TempFolder dir;
    RecoveryStore store(dir.path() / "state" / "kdx-interface");  // folders made when needed
    ASSERT_TRUE(store.write(sampleCopy(8, std::string(3000, 'L') + ".KDX")).ok());
    const RecoveryCopy shorter = sampleCopy(9, "S.KDX");
    ASSERT_TRUE(store.write(shorter).ok());
    std::optional<RecoveryCopy> read = decodeRecoveryCopy(readWholeFile(store.copyPath().string()));
    ASSERT_TRUE(read);
    expectSame(*read, shorter);
    EXPECT_EQ(fs::status(store.folder()).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(RecoveryWriter, ARemovalAfterASubmitIsNotUndoneByItsWrite) {
    TempFolder dir;
    RecoveryStore store(dir.path());
    RecoveryWriter writer(store);
    for (int round = 0; round < 50; ++round) {
        writer.submit(sampleCopy(static_cast<unsigned>(round), "x.KDX"));
        writer.remove();
        writer.flush();
        ASSERT_FALSE(fs::exists(store.copyPath())) << "round " << round;
    }
}

TEST(RecoveryWriter, FlushReturnsOnceTheLastCopyHandedOverIsOnDisk) {
    TempFolder dir;
    RecoveryStore store(dir.path());
    RecoveryWriter writer(store);
    for (unsigned round = 0; round < 50; ++round) {
        writer.submit(sampleCopy(round, "a.KDX"));
        writer.submit(sampleCopy(round + 1000, "b.KDX"));
        writer.flush();
        std::optional<RecoveryCopy> onDisk = decodeRecoveryCopy(readWholeFile(store.copyPath().string()));
        ASSERT_TRUE(onDisk) << "round " << round;
        ASSERT_EQ(onDisk->savedAt, sampleCopy(round + 1000, "").savedAt) << "round " << round;
    }
}

// A disk that is full: the process may write no file larger than 50,000
// bytes, and a copy is about 100 kB.
TEST(RecoveryWriter, AFailedWriteIsReportedOnceUntilAWriteSucceeds) {
    TempFolder dir;
    const std::string result = inChild([&] {
        sequence_file_io::prepareProcessForSaving();
        rlimit normal{};
        getrlimit(RLIMIT_FSIZE, &normal);
        rlimit full = normal;
        full.rlim_cur = 50000;
        RecoveryStore store(dir.path());
        RecoveryWriter writer(store);
        std::string out;
        auto step = [&](const rlimit& limit) {
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) out += "<setrlimit failed>";
            writer.submit(sampleCopy(1, "a.KDX"));
            writer.flush();
            out += writer.takeFailure().value_or("-") + "|";
        };
        step(full);
        step(full);
        step(normal);
        step(full);
        return out;
    });
    EXPECT_EQ(result,
              "Recovery copy not written: Disk full.|-|-|"
              "Recovery copy not written: Disk full.|");
}

// The window's timer asks whenever untilDue says, and every 100 ms besides;
// changes come at random moments, in bursts and pauses.
TEST(RecoveryScheduler, EveryChangeIsInACopyWithinFiveSecondsAndCopiesAreAtLeastASecondApart) {
    milliseconds now{123456};
    RecoveryScheduler scheduler([&] { return now; });
    std::mt19937 random(42);
    std::vector<milliseconds> changes, copies;
    const milliseconds end = now + milliseconds(120000);
    milliseconds nextChange = now;
    while (now < end) {
        if (now >= nextChange) {
            scheduler.changed();
            changes.push_back(now);
            nextChange = now + milliseconds(random() % 4 == 0 ? random() % 7000 : random() % 60);
        }
        if (scheduler.due()) copies.push_back(now);
        const std::optional<milliseconds> until = scheduler.untilDue();
        milliseconds step = std::min(nextChange - now, milliseconds(100));
        if (until) step = std::min(step, *until);
        now += std::max(step, milliseconds(1));
    }
    ASSERT_GT(copies.size(), 10u);
    for (std::size_t k = 1; k < copies.size(); ++k) ASSERT_GE(copies[k] - copies[k - 1], milliseconds(1000));
    for (milliseconds change : changes) {
        auto copy = std::lower_bound(copies.begin(), copies.end(), change);
        if (copy == copies.end()) {
            ASSERT_GT(change, end - milliseconds(5000)) << "a change never written";
            continue;
        }
        ASSERT_LE(*copy - change, milliseconds(5000));
    }
}

TEST(RecoveryScheduler, NothingIsDueWithoutAnUnsavedChange) {
    milliseconds now{0};
    RecoveryScheduler scheduler([&] { return now; });
    now += milliseconds(60000);
    EXPECT_FALSE(scheduler.due());
    EXPECT_FALSE(scheduler.untilDue());
    scheduler.changed();
    scheduler.settled();  // saved before the copy was due
    now += milliseconds(60000);
    EXPECT_FALSE(scheduler.due());
    scheduler.changed();
    now += milliseconds(1000);
    EXPECT_TRUE(scheduler.due());
    EXPECT_FALSE(scheduler.due()) << "one copy per change";
}
