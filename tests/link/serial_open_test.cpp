// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and closing the port, each refusal and its message, and the line
// settings left on the device, through a real pseudo-terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "FakeTicks.h"
#include "RecordingNotifier.h"
#include "RefusedDevice.h"
#include "TempFolder.h"
#include "link/AccessHint.h"
#include "link/TSerial.h"
#include "sim/ControllerSimulator.h"

namespace {

const std::string kNotFound = "This port does not exist or is not configured properly.";
const std::string kDenied = "Access Denied.\r\nThis port may already be in use by another device.";

class SerialOpen : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.start()) << sim.error(); }

    void expectBeepThenMessage(const RecordingNotifier& n, const std::string& text) {
        ASSERT_EQ(n.calls.size(), 2u);
        EXPECT_EQ(n.calls[0].kind, RecordingNotifier::Call::Beep);
        EXPECT_EQ(n.calls[0].frequency, 1000u);
        EXPECT_EQ(n.calls[0].duration, 75u);
        EXPECT_EQ(n.calls[1].kind, RecordingNotifier::Call::Message);
        EXPECT_EQ(n.calls[1].text, text);
    }

    sim::ControllerSimulator sim;
    FakeTicks ticks;
    RecordingNotifier notifier;
    TSerial port{notifier, ticks};
};

TEST_F(SerialOpen, OpensConfiguresAndCloses) {
    ASSERT_TRUE(port.Open(sim.portName(), "2400", "None", "8", true));
    EXPECT_TRUE(notifier.calls.empty());  // a pseudo-terminal's missing modem lines go unreported
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.portName(), sim.portName());
    EXPECT_NE(port.handle(), SerialDevice::kInvalidHandle);
    EXPECT_NE(port.buffer(), nullptr);
    EXPECT_EQ(port.timeouts(), CommTimeouts{});
    EXPECT_EQ(port.lastError(), 0u);

    port.Close();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.portName(), "");
    EXPECT_EQ(port.handle(), SerialDevice::kInvalidHandle);
    EXPECT_EQ(port.buffer(), nullptr);

    // Released: another object, and this one, can have it again.
    RecordingNotifier other;
    TSerial second(other, ticks);
    EXPECT_TRUE(second.Open(sim.portName(), "2400", "None", "8", true));
    second.Close();
    EXPECT_TRUE(port.Open(sim.portName(), "2400", "None", "8", true));
    port.Close();
}

TEST_F(SerialOpen, OpenOnAnOpenObjectIsRefusedQuietly) {
    ASSERT_TRUE(port.Open(sim.portName(), "2400", "None", "8", true));
    const auto handle = port.handle();
    EXPECT_FALSE(port.Open("ttyKDXnone", "2400", "None", "8", true));
    EXPECT_TRUE(notifier.calls.empty());
    EXPECT_EQ(port.lastError(), 0u);
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.handle(), handle);
    EXPECT_EQ(port.portName(), sim.portName());
    EXPECT_TRUE(port.Probe());  // still usable
    port.Close();
}

TEST_F(SerialOpen, PortHeldByAnotherObjectIsAccessDenied) {
    ASSERT_TRUE(port.Open(sim.portName(), "2400", "None", "8", true));
    RecordingNotifier other;
    TSerial second(other, ticks);
    EXPECT_FALSE(second.Open(sim.portName(), "2400", "None", "8", true));
    EXPECT_EQ(second.lastError(), kErrorAccessDenied);
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(second.handle(), SerialDevice::kInvalidHandle);
    expectBeepThenMessage(other, "Could not open port: " + sim.portName() + ".  " + kDenied);
    EXPECT_TRUE(port.Probe());  // the holder is not disturbed
    port.Close();
}

TEST_F(SerialOpen, PortLockedByAnotherProcessIsAccessDenied) {
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    const std::string path = sim.devicePath();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        char ok = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        char c;
        (void)!read(done[0], &c, 1);
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');

    EXPECT_FALSE(port.Open(sim.portName(), "2400", "None", "8", true));
    EXPECT_EQ(port.lastError(), kErrorAccessDenied);
    expectBeepThenMessage(notifier, "Could not open port: " + sim.portName() + ".  " + kDenied);

    (void)!write(done[1], "x", 1);
    int status = 0;
    waitpid(child, &status, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);

    // The lock went with the other process.
    notifier.calls.clear();
    EXPECT_TRUE(port.Open(sim.portName(), "2400", "None", "8", true));
    EXPECT_TRUE(notifier.calls.empty());
    port.Close();
}

// Whatever the name leads to, only a terminal device is a port; anything
// else is a port that does not exist.
class NotAPort : public ::testing::Test {
protected:
    void expectNoSuchPort(const std::string& name) {
        EXPECT_FALSE(port.Open(name, "2400", "None", "8", true));
        EXPECT_FALSE(port.isOpen());
        EXPECT_EQ(port.handle(), SerialDevice::kInvalidHandle);
        EXPECT_EQ(port.buffer(), nullptr);
        EXPECT_EQ(port.portName(), "");
        EXPECT_EQ(port.lastError(), kErrorFileNotFound);
        ASSERT_EQ(notifier.calls.size(), 2u);
        EXPECT_EQ(notifier.calls[0].kind, RecordingNotifier::Call::Beep);
        EXPECT_EQ(notifier.calls[0].frequency, 1000u);
        EXPECT_EQ(notifier.calls[0].duration, 75u);
        EXPECT_EQ(notifier.calls[1].text, "Could not open port: " + name + ".  " + kNotFound);

        notifier.calls.clear();
        EXPECT_FALSE(port.Open(name, "2400", "None", "8", false));
        EXPECT_TRUE(notifier.calls.empty());
    }
    // Opens of a path from now on, as the file system reports them.
    int watchOpens(const std::string& path) {
        int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        EXPECT_GE(fd, 0);
        EXPECT_GE(inotify_add_watch(fd, path.c_str(), IN_OPEN | IN_MODIFY | IN_ACCESS), 0);
        return fd;
    }
    bool anyEvent(int watch) {
        char buf[4096];
        const bool seen = read(watch, buf, sizeof buf) > 0;
        close(watch);
        return seen;
    }

    TempFolder folder;
    FakeTicks ticks;
    RecordingNotifier notifier;
    TSerial port{notifier, ticks};
};

TEST_F(NotAPort, NoSuchName) { expectNoSuchPort("ttyKDXnone"); }

TEST_F(NotAPort, PathThroughSomethingThatIsNoFolder) { expectNoSuchPort("null/x"); }

// A device without a line may be opened to find out, and is let go.
TEST_F(NotAPort, DeviceThatIsNoTerminal) { expectNoSuchPort("null"); }

TEST_F(NotAPort, RegularFileIsNeverOpened) {
    const std::string path = folder.file("seq.KDX");
    writeWholeFile(path, {'K', 'D', 'X', 0, 1, 2});
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const int watch = watchOpens(path);
    expectNoSuchPort("fd/" + std::to_string(fd));
    EXPECT_FALSE(anyEvent(watch));
    close(fd);
    EXPECT_EQ(readWholeFile(path), (std::vector<uint8_t>{'K', 'D', 'X', 0, 1, 2}));
}

TEST_F(NotAPort, FifoIsNeverOpened) {
    const std::string path = folder.file("line");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "abc", 3), 3);
    const int watch = watchOpens(path);
    expectNoSuchPort("fd/" + std::to_string(fd));
    EXPECT_FALSE(anyEvent(watch));
    int waiting = 0;
    ASSERT_EQ(ioctl(fd, FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 3);  // nothing read, nothing added
    close(fd);
}

struct NameCase {
    const char* label;
    std::string name;
    bool triedOnDevice;  // false: refused before any device access, silently
};

class PortNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortNames, RefusedSilentlyOrTried) {
    const NameCase& c = GetParam();
    FakeTicks ticks;
    RecordingNotifier notifier;
    TSerial port(notifier, ticks);
    EXPECT_EQ(TSerial::acceptablePortName(c.name), c.triedOnDevice);
    EXPECT_FALSE(port.Open(c.name, "2400", "None", "8", true));
    if (c.triedOnDevice) {
        ASSERT_EQ(notifier.calls.size(), 2u);
        EXPECT_EQ(notifier.calls[1].text, "Could not open port: " + c.name + ".  " + kNotFound);
        EXPECT_EQ(port.lastError(), kErrorFileNotFound);
    } else {
        EXPECT_TRUE(notifier.calls.empty());
        EXPECT_EQ(port.lastError(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PortNames,
    ::testing::Values(NameCase{"Empty", "", false},
                      NameCase{"SevenCharacters", "ttyUSB9", true},
                      NameCase{"SixtyFour", "tty" + std::string(61, 'x'), true},
                      NameCase{"SixtyFive", "tty" + std::string(62, 'x'), false},
                      NameCase{"ParentFolder", "../tmp/kdx", false},
                      NameCase{"ParentInside", "pts/../ptmx", false},
                      NameCase{"DotsInName", "ttyKDX..0", false},
                      NameCase{"SingleDot", "./ttyKDXnone", true}),
    [](const auto& info) { return std::string(info.param.label); });

// Read back from the terminal itself, on a descriptor of its own.
// (A pseudo-terminal keeps 8 bits without parity whatever is asked of it, so
// the even parity of other parity texts cannot be read back here.)
TEST_F(SerialOpen, LineIs2400EightBitsNoParityOneStopNoFlowControl) {
    ASSERT_TRUE(port.Open(sim.portName(), "2400", "None", "8", true));
    int fd = open(sim.devicePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) fd = dup(port.handle());  // not root: the exclusive flag keeps others out
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    close(fd);
    EXPECT_EQ(cfgetospeed(&t), B2400);
    EXPECT_EQ(cfgetispeed(&t), B2400);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & PARENB, 0u);
    EXPECT_EQ(t.c_cflag & PARODD, 0u);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);  // raw: bytes pass untouched
    port.Close();
}

}  // namespace

// The usual first failure on Linux: a user outside the group that owns the
// device. The message says which group to join; when joining it would not
// help (the group may not use the device either), it gives no such advice.
TEST(SerialPermission, RefusedUserIsToldWhichGroupToJoin) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a device to a group and drop to a user outside it";
    for (const auto& [mode, named] : {std::pair{mode_t{0660}, true}, {mode_t{0660}, false}, {mode_t{0600}, true}}) {
        RefusedDevice device(mode, named);
        ASSERT_TRUE(device.available());
        const std::string name = device.portName();
        const std::string seen = RefusedDevice::asStranger([&](int out) {
            RecordingNotifier n;
            FakeTicks ticks;
            TSerial port(n, ticks);
            std::string text = port.Open(name, "2400", "None", "8", true) ? "opened" : "";
            for (const auto& c : n.calls) text += c.text;
            text += "|" + port.openHint();
            (void)!write(out, text.data(), text.size());
        });
        const std::string denied = "Could not open port: " + name + ".  " + kDenied;
        if (mode == 0660) {
            const std::string hint = "You may not have permission to use this port: add yourself to the group " +
                                     device.groupName() + " (sudo usermod -aG " + device.groupName() +
                                     " $USER) and log in again.";
            EXPECT_EQ(seen, denied + "\r\n" + hint + "|" + hint) << (named ? "named group" : "bare number");
        } else {
            EXPECT_EQ(seen, denied + "|");
        }
    }
}

// Advice to join the device's group only where joining would let the user in.
TEST(SerialPermission, GroupAdviceOnlyWhereTheGroupWouldHelp) {
    const std::string hint =
        "You may not have permission to use this port: add yourself to the group dialout "
        "(sudo usermod -aG dialout $USER) and log in again.";
    EXPECT_EQ(permissionHintFor(020660, 20, {1000, 24, 27}, "dialout"), hint);
    EXPECT_EQ(permissionHintFor(020060, 20, {}, "dialout"), hint);
    EXPECT_EQ(permissionHintFor(020660, 20, {20}, "dialout"), "");          // effective group
    EXPECT_EQ(permissionHintFor(020660, 20, {1000, 27, 20}, "dialout"), "");  // supplementary
    for (unsigned mode : {020600u, 020640u, 020620u, 020606u})
        EXPECT_EQ(permissionHintFor(mode, 20, {1000}, "dialout"), "") << std::oct << mode;
}
