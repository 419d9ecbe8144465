// SPDX-License-Identifier: GPL-3.0-or-later
// The serial port object on a real communication port through the Win32
// calls. KDX_TEST_PORT names a port whose far end echoes every byte and
// answers the version query (the simulated controller); KDX_TEST_SILENT_PORT
// one whose far end never sends anything. Without them the tests are skipped.

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "RecordingNotifier.h"
#include "link/SerialDevice.h"
#include "link/TSerial.h"
#include "link/TickSource.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string envText(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

long long msSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

// A port opened as the submenu opens it, with its device kept in view so
// that the line settings and the queues can be asked through the same
// handle.
class WinPort : public ::testing::Test {
protected:
    void openOn(const char* variable) {
        name = envText(variable);
        if (name.empty()) GTEST_SKIP() << variable << " is not set";
        auto owned = makeSystemSerialDevice();
        device = owned.get();
        port = std::make_unique<TSerial>(notifier, systemTickSource(), std::move(owned));
        ASSERT_TRUE(port->Open(name, "2400", "None", "8", true)) << name;
        ASSERT_TRUE(notifier.calls.empty());
        ASSERT_EQ(port->timeouts(), (CommTimeouts{0, 0, 0, 0, 0}));
        port->Drain(0, 0);  // whatever an earlier test left on the line
    }
    void TearDown() override {
        if (port) port->Close();
    }

    CommStatus queues() {
        uint32_t errors = 0;
        CommStatus status;
        EXPECT_TRUE(device->ClearCommError(errors, status));
        return status;
    }
    // Waits until n bytes wait in the input queue (never more than 5 s).
    bool awaitInput(uint32_t n) {
        const auto end = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < end) {
            if (queues().inQueue >= n) return true;
            systemTickSource().sleepMs(1);
        }
        return false;
    }
    // The echo must be back within Probe's 50 ms; a busy machine may miss
    // that once, a port that never echoes misses it every time.
    bool probeAnswered() {
        for (int attempt = 0; attempt < 3; ++attempt)
            if (port->Probe()) return true;
        return false;
    }
    void send(const std::string& bytes) {
        for (char c : bytes) ASSERT_TRUE(port->SendByte(static_cast<uint8_t>(c), 150));
    }

    std::string name;
    RecordingNotifier notifier;
    SerialDevice* device = nullptr;
    std::unique_ptr<TSerial> port;
};

class EchoingPort : public WinPort {
protected:
    void SetUp() override { openOn("KDX_TEST_PORT"); }
};

class SilentPort : public WinPort {
protected:
    void SetUp() override { openOn("KDX_TEST_SILENT_PORT"); }
};

TEST_F(EchoingPort, OpenSetsTheControllersLine) {
    LineSettings s;
    ASSERT_TRUE(device->GetCommState(s));
    EXPECT_EQ(s.baudRate, 2400u);
    EXPECT_EQ(s.byteSize, 8u);
    EXPECT_EQ(s.parity, 0u);
    EXPECT_EQ(s.stopBits, 0u);
    // No flow control of any kind. Binary mode is always reported (Windows
    // has no other); the DTR and RTS control fields are made up from the
    // modem lines, which a pseudo-terminal under Wine does not have.
    constexpr uint32_t kBinary = 0x1, kDtrControl = 0x30, kRtsControl = 0x3000;
    EXPECT_EQ(s.flags & ~(kBinary | kDtrControl | kRtsControl), 0u) << std::hex << s.flags;
    EXPECT_EQ(port->portName(), name);
}

TEST_F(EchoingPort, ReadGivesWhatHasArrivedWithoutWaiting) {
    send("KDX12");
    ASSERT_TRUE(awaitInput(5));
    EXPECT_EQ(queues().inQueue, 5u);
    std::vector<uint8_t> got(20, 0xEE);
    auto t0 = Clock::now();
    ASSERT_EQ(port->Read(got.data(), 20), 5);
    EXPECT_LT(msSince(t0), 100);
    EXPECT_EQ(std::string(got.begin(), got.begin() + 5), "KDX12");
    EXPECT_EQ(got[5], 0xEE);  // nothing written past the count read
    EXPECT_EQ(queues().inQueue, 0u);
    // Nothing waiting: none, at once.
    t0 = Clock::now();
    EXPECT_EQ(port->Read(got.data(), 20), 0);
    EXPECT_LT(msSince(t0), 100);
}

TEST_F(EchoingPort, ReadTakesNoMoreThanItsCount) {
    send("abcdef");
    ASSERT_TRUE(awaitInput(6));
    uint8_t got[4] = {};
    ASSERT_EQ(port->Read(got, 2), 2);
    EXPECT_EQ(std::string(got, got + 2), "ab");
    EXPECT_EQ(queues().inQueue, 4u);
    ASSERT_EQ(port->Read(got, 4), 4);
    EXPECT_EQ(std::string(got, got + 4), "cdef");
}

TEST_F(EchoingPort, ReadByteGivesTheByteThatCame) {
    send("\xA7");
    EXPECT_EQ(port->ReadByte(1000), 0xA7);  // a high byte is no -1
    EXPECT_EQ(port->timeouts(), (CommTimeouts{0, 0, 1000, 0, 0}));
}

TEST_F(EchoingPort, DrainWithACountWaitsItsTimeOutForTheRest) {
    send("xyz");
    ASSERT_TRUE(awaitInput(3));
    const auto t0 = Clock::now();
    EXPECT_EQ(port->Drain(10, 300), 3);
    const auto ms = msSince(t0);
    EXPECT_GE(ms, 280);
    EXPECT_LT(ms, 1500);
    EXPECT_EQ(std::string(port->buffer(), port->buffer() + 3), "xyz");
}

TEST_F(EchoingPort, DrainWithACountReturnsOnceTheCountIsIn) {
    send("pq");
    const auto t0 = Clock::now();
    EXPECT_EQ(port->Drain(2, 3000), 2);
    EXPECT_LT(msSince(t0), 1500);
}

TEST_F(EchoingPort, DrainWithoutACountDiscardsEverythingWaiting) {
    send("discard");
    ASSERT_TRUE(awaitInput(7));
    EXPECT_EQ(port->Drain(0, 100), 7);
    EXPECT_EQ(queues().inQueue, 0u);
    EXPECT_EQ(port->lastError(), 0u);
    EXPECT_EQ(port->Drain(5000, 100), 0);  // nothing left: at once
    EXPECT_EQ(port->ReadByte(50), -1);
}

TEST_F(EchoingPort, ProbeSeesTheEcho) {
    EXPECT_TRUE(probeAnswered());
    EXPECT_EQ(queues().inQueue, 0u);  // the echo was taken
}

TEST_F(EchoingPort, VersionQueryIsAnswered) {
    EXPECT_TRUE(port->SendString("!SCVER?"));
    ASSERT_TRUE(port->SendByte(13, 125));
    ASSERT_TRUE(awaitInput(11));
    uint8_t reply[11] = {};
    ASSERT_EQ(port->Read(reply, 11), 11);
    // The echo, then three version characters (the simulator's are "1.4").
    EXPECT_EQ(std::string(reply, reply + 8), "!SCVER?\r");
    const std::string expected = envText("KDX_TEST_VERSION");
    if (!expected.empty()) {
        EXPECT_EQ(std::string(reply + 8, reply + 11), expected);
    }
    EXPECT_TRUE(port->pendingOutput().empty());
}

TEST_F(EchoingPort, SendByteReturnsOnceTheLineTookTheByte) {
    // A pseudo-terminal takes each byte at once: no write waits out its
    // 150 ms time-out (10 bytes would take 1.5 s).
    const auto t0 = Clock::now();
    send("0123456789");
    EXPECT_LT(msSince(t0), 750);
    EXPECT_EQ(queues().outQueue, 0u);
}

TEST_F(EchoingPort, OpenOnAnOpenObjectIsRefused) {
    // Refused without touching the port that is open.
    EXPECT_FALSE(port->Open(name, "2400", "None", "8", true));
    EXPECT_TRUE(port->isOpen());
    EXPECT_TRUE(probeAnswered());
}

TEST_F(EchoingPort, CloseReleasesTheDeviceAndItOpensAgain) {
    const HANDLE system = reinterpret_cast<HANDLE>(static_cast<intptr_t>(port->handle()));
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(system, &flags));
    port->Close();
    EXPECT_FALSE(GetHandleInformation(system, &flags));
    EXPECT_EQ(port->handle(), SerialDevice::kInvalidHandle);
    EXPECT_EQ(port->ReadByte(10), 1000);
    ASSERT_TRUE(port->Open(name, "2400", "None", "8", true));
    EXPECT_TRUE(probeAnswered());
}

TEST_F(SilentPort, ReadByteGivesMinusOneAfterItsTimeOut) {
    for (int t : {50, 250}) {
        const auto t0 = Clock::now();
        EXPECT_EQ(port->ReadByte(t), -1);
        const auto ms = msSince(t0);
        EXPECT_GE(ms, t - 20) << t;
        EXPECT_LT(ms, t + 700) << t;
    }
}

TEST_F(SilentPort, ProbeIsFalseWhenNothingAnswers) {
    const auto t0 = Clock::now();
    EXPECT_FALSE(port->Probe());
    EXPECT_GE(msSince(t0), 90);  // 50 ms wait, then 50 ms for the echo
}

TEST_F(SilentPort, DrainOfAQuietLineIsZeroAtOnce) {
    const auto t0 = Clock::now();
    EXPECT_EQ(port->Drain(0, 0), 0);
    EXPECT_LT(msSince(t0), 100);
}

TEST_F(SilentPort, DelayWaitsOnTheTickCounter) {
    const auto t0 = Clock::now();
    port->Delay(120);
    const auto ms = msSince(t0);
    EXPECT_GE(ms, 115);
    EXPECT_LT(ms, 1000);
}

TEST(WinPortOpen, MissingPortSaysSo) {
    RecordingNotifier notifier;
    TSerial port(notifier, systemTickSource());
    EXPECT_FALSE(port.Open("COM199", "2400", "None", "8", true));
    EXPECT_EQ(port.lastError(), kErrorFileNotFound);
    ASSERT_EQ(notifier.calls.size(), 2u);
    EXPECT_EQ(notifier.calls[1].text,
              "Could not open port: COM199.  This port does not exist or is not configured properly.");
    // Seven characters are refused before the system is asked.
    notifier.calls.clear();
    EXPECT_FALSE(port.Open("COM1999", "2400", "None", "8", true));
    EXPECT_EQ(port.lastError(), 0u);
    EXPECT_TRUE(notifier.calls.empty());
}

}  // namespace
