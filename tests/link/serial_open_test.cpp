// Opening and closing the port, each refusal and its message, and the line
// settings left on the device, through a real pseudo-terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "FakeTicks.h"
#include "RecordingNotifier.h"
#include "link/TSerial.h"
#include "sim/ControllerSimulator.h"

namespace {

const std::string kNotFound = "This port does not exist or is not configured properly.";
const std::string kDenied = "Access Denied.\r\nThis port may already be in use by another device.";
const std::string kUnknown = "Reason is unknown.";

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

    // Released: the same object (and so anyone else) can have it again.
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

struct FailureCase {
    const char* label;
    const char* name;
    uint32_t code;  // 0: any code other than 2 and 5
    const char* message;
};

class OpenFailure : public ::testing::TestWithParam<FailureCase> {
protected:
    FakeTicks ticks;
    RecordingNotifier notifier;
    TSerial port{notifier, ticks};
};

TEST_P(OpenFailure, ShowsBeepThenTheReason) {
    const FailureCase& c = GetParam();
    EXPECT_FALSE(port.Open(c.name, "2400", "None", "8", true));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.handle(), SerialDevice::kInvalidHandle);
    EXPECT_EQ(port.buffer(), nullptr);
    EXPECT_EQ(port.portName(), "");
    if (c.code != 0) {
        EXPECT_EQ(port.lastError(), c.code);
    } else if (std::string(c.message).starts_with("Could")) {
        EXPECT_TRUE(port.lastError() != 0 && port.lastError() != 2 && port.lastError() != 5);
    }
    ASSERT_EQ(notifier.calls.size(), 2u);
    EXPECT_EQ(notifier.calls[0].kind, RecordingNotifier::Call::Beep);
    EXPECT_EQ(notifier.calls[0].frequency, 1000u);
    EXPECT_EQ(notifier.calls[0].duration, 75u);
    EXPECT_EQ(notifier.calls[1].kind, RecordingNotifier::Call::Message);
    EXPECT_EQ(notifier.calls[1].text, c.message);
}

TEST_P(OpenFailure, ShowsNothingWithoutShowErrors) {
    EXPECT_FALSE(port.Open(GetParam().name, "2400", "None", "8", false));
    EXPECT_TRUE(notifier.calls.empty());
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.handle(), SerialDevice::kInvalidHandle);
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, OpenFailure,
    ::testing::Values(
        FailureCase{"NoSuchPort", "ttyKDXnone", 2,
                    "Could not open port: ttyKDXnone.  This port does not exist or is not "
                    "configured properly."},
        // /dev/null is no directory: neither "not found" nor "denied".
        FailureCase{"OtherError", "null/x", 0, "Could not open port: null/x.  Reason is unknown."},
        // Opens, but is no terminal: its line settings cannot be read.
        FailureCase{"NotATerminal", "null", 0,
                    "Unable to build data control block for serial port."}),
    [](const auto& info) { return std::string(info.param.label); });

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

TEST(SerialClosed, EveryOperationGivesItsClosedResult) {
    FakeTicks ticks;
    RecordingNotifier notifier;
    TSerial port(notifier, ticks);
    uint8_t buf[16] = {};
    EXPECT_EQ(port.Read(buf, 16), 0);
    EXPECT_EQ(port.ReadByte(50), 1000);
    EXPECT_FALSE(port.SendByte(0x55, 150));
    EXPECT_FALSE(port.SendString("abc"));
    EXPECT_EQ(port.pendingOutput(), "");  // the text is not kept
    EXPECT_EQ(port.Drain(0, 100), -1);
    EXPECT_EQ(port.Drain(10, 100), -1);
    EXPECT_FALSE(port.Probe());
    port.Configure("2400", "None", "8");
    port.SetDtr(true);
    port.SetRts(true);
    port.Close();
    EXPECT_TRUE(notifier.calls.empty());
    EXPECT_EQ(port.timeouts(), CommTimeouts{});  // nothing touched the device
    EXPECT_EQ(ticks.totalSlept(), 0u);
}

}  // namespace
