// SPDX-License-Identifier: GPL-3.0-or-later
// Reading, writing, draining and probing through a real pseudo-terminal with
// the controller simulator on its far side.

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <utility>
#include <string>

#include "FakeTicks.h"
#include "LinkTestSupport.h"
#include "RecordingNotifier.h"
#include "link/Commands.h"
#include "link/TSerial.h"
#include "link/TickSource.h"
#include "sim/ControllerSimulator.h"

namespace {

using namespace std::chrono_literals;

class SerialIo : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start()) << sim.error();
        ASSERT_TRUE(port.Open(sim.portName(), "2400", "None", "8", true));
    }
    void TearDown() override { port.Close(); }

    // The simulator stops reading and answering, and the line's buffer is
    // filled on the port's own descriptor until it refuses more.
    void stallLine(size_t& accepted) {
        sim.setSilent(true);
        sim.setReading(false);
        const std::string chunk(256, 'a');
        for (;;) {
            ssize_t n = write(port.handle(), chunk.data(), chunk.size());
            if (n > 0) {
                accepted += static_cast<size_t>(n);
                ASSERT_LT(accepted, 10'000'000u) << "the line never filled";
                continue;
            }
            ASSERT_TRUE(n < 0 && errno == EAGAIN) << "write failed: " << errno;
            // The terminal layer may still free some room as it settles: only
            // a refusal after a pause counts as full.
            pollfd p{port.handle(), POLLOUT, 0};
            poll(&p, 1, 50);
            n = write(port.handle(), "a", 1);
            if (n < 0 && errno == EAGAIN) return;
            ASSERT_EQ(n, 1) << "write failed: " << errno;
            ++accepted;
        }
    }

    // Sends bytes that the simulator echoes and waits for the echo.
    void echoBack(const std::string& bytes) {
        for (char c : bytes) ASSERT_TRUE(port.SendByte(static_cast<uint8_t>(c), 150));
        ASSERT_TRUE(waitForInput(port, static_cast<int>(bytes.size())));
    }

    sim::ControllerSimulator sim;
    RecordingNotifier notifier;
    TSerial port{notifier, systemTickSource()};
};

TEST_F(SerialIo, ProbeIsAnsweredByTheEcho) {
    EXPECT_TRUE(port.Probe());
    EXPECT_TRUE(sim.waitForBytes(1, 2s));
    EXPECT_EQ(sim.receivedBytes(), std::vector<uint8_t>{0x55});
}

TEST_F(SerialIo, ProbeFailsWhenNothingAnswers) {
    sim.setSilent(true);
    EXPECT_FALSE(port.Probe());
}

TEST_F(SerialIo, ProbeDiscardsWhatWasWaiting) {
    echoBack("xyz");
    EXPECT_TRUE(port.Probe());  // the stale bytes are not taken for the echo
}

TEST_F(SerialIo, ReadByteGivesAByteOrMinusOne) {
    sim.setSilent(true);
    EXPECT_EQ(port.ReadByte(20), -1);
    sim.setSilent(false);
    echoBack("A");
    EXPECT_EQ(port.ReadByte(50), 'A');
    EXPECT_EQ(port.ReadByte(20), -1);
}

TEST_F(SerialIo, ReadTakesOnlyWhatHasArrived) {
    uint8_t dest[20] = {};
    sim.setSilent(true);
    EXPECT_EQ(port.Read(dest, 20), 0);
    sim.setSilent(false);
    echoBack("abc");
    EXPECT_EQ(port.Read(dest, 20), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(dest), 3), "abc");
    EXPECT_EQ(port.Read(dest, 20), 0);
}

TEST_F(SerialIo, DrainDiscardsEverythingWaiting) {
    EXPECT_EQ(port.Drain(0, 100), 0);
    echoBack("12345");
    EXPECT_EQ(port.Drain(0, 100), 5);
    uint8_t dest[8];
    EXPECT_EQ(port.Read(dest, 8), 0);
    echoBack("1234567");
    EXPECT_EQ(port.Drain(5000, 100), 7);  // beyond 4096 counts as "discard"
    EXPECT_EQ(port.Drain(-1, 100), 0);
    EXPECT_EQ(port.lastError(), 0u);
}

TEST_F(SerialIo, DrainWithACountReadsIntoTheBuffer) {
    echoBack("hello");
    EXPECT_EQ(port.Drain(3, 100), 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(port.buffer()), 3), "hel");
    EXPECT_EQ(port.Drain(4, 20), 2);  // what arrived within the time-out
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(port.buffer()), 2), "lo");
}

TEST_F(SerialIo, SendStringDropsAZeroCharacter) {
    EXPECT_TRUE(port.SendString(std::string("AB\0CD", 5)));
    EXPECT_EQ(port.pendingOutput(), "");
    ASSERT_TRUE(sim.waitForBytes(4, 2s));
    // Something sent afterwards shows that no fifth byte was on its way.
    ASSERT_TRUE(port.SendByte('!', 150));
    ASSERT_TRUE(sim.waitForBytes(5, 2s));
    const auto got = sim.receivedBytes();
    EXPECT_EQ(std::string(got.begin(), got.end()), "ABCD!");
}

TEST_F(SerialIo, SendStringOfNothingSucceeds) {
    EXPECT_TRUE(port.SendString(""));
    EXPECT_EQ(port.pendingOutput(), "");
}

// With the simulator no longer reading, the line's buffer fills; a write
// then gives up after its time-out instead of waiting for room.
TEST_F(SerialIo, WriteTimeOutIsHonouredWhenTheLineStops) {
    size_t accepted = 0;
    ASSERT_NO_FATAL_FAILURE(stallLine(accepted));

    const auto t0 = std::chrono::steady_clock::now();
    // A write that times out is a success with no byte written, as on the
    // platform the port mirrors; SendByte passes on the success.
    EXPECT_TRUE(port.SendByte('Z', 100));
    const auto spent = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(spent, 90ms);
    EXPECT_LT(spent, 10s);

    sim.setReading(true);
    ASSERT_TRUE(sim.waitForBytes(accepted, 10s));
    ASSERT_TRUE(port.SendByte('E', 1000));
    ASSERT_TRUE(sim.waitForBytes(accepted + 1, 10s));
    const auto got = sim.receivedBytes();
    ASSERT_EQ(got.size(), accepted + 1);
    EXPECT_EQ(got.back(), 'E');
    EXPECT_EQ(std::count(got.begin(), got.end(), 'Z'), 0);
}

// A line that stops draining holds no operation for long, whatever its
// time-out: a text gives up after its first character's attempts, a byte
// and a read without a time-out end after the per-byte time-out.
TEST_F(SerialIo, AStalledLineHoldsNothingForLong) {
    size_t accepted = 0;
    ASSERT_NO_FATAL_FAILURE(stallLine(accepted));
    auto calls = std::async(std::launch::async, [this] {
        const bool sent = port.SendString("!SCVER?");
        port.SendByte('x', 0);
        return std::pair{sent, port.ReadByte(0)};
    });
    const bool ended = calls.wait_for(5s) == std::future_status::ready;
    // Lets a hung call go (with an echo for the read), so that the test ends either way.
    sim.setSilent(false);
    sim.setReading(true);
    EXPECT_TRUE(ended) << "a wait on the stalled line did not end";
    const auto [sent, read] = calls.get();
    EXPECT_FALSE(sent);
    EXPECT_EQ(port.pendingOutput(), "SCVER?");
    EXPECT_EQ(read, -1);
}

// The adapter is pulled in the middle of a position command: everything
// after fails within its time-out, and nothing crashes or hangs.
TEST_F(SerialIo, VanishedDeviceFailsTheSends) {
    ASSERT_TRUE(port.SendByte('!', 150));
    ASSERT_TRUE(port.SendByte('S', 150));
    EXPECT_FALSE(port.deviceGone());
    sim.vanish();
    EXPECT_FALSE(port.SendByte('C', 150));
    EXPECT_TRUE(port.deviceGone());
    sendPositionCommand(port, 1, 0, 1500, 0);
    EXPECT_FALSE(port.SendString("!SCVER?"));
    // The first character failed its ten attempts; the rest waits its turn.
    EXPECT_EQ(port.pendingOutput(), "SCVER?");
    EXPECT_EQ(port.ReadByte(50), -1);
    uint8_t dest[8];
    EXPECT_EQ(port.Read(dest, 8), 0);
    EXPECT_EQ(port.Drain(0, 100), 0);
    EXPECT_NE(port.lastError(), 0u);  // the line status told of the failure
    EXPECT_EQ(port.Drain(4, 100), 0);
    EXPECT_FALSE(port.Probe());
    EXPECT_TRUE(port.isOpen());  // still open until the owner closes it
    port.Close();
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.deviceGone());
}

}  // namespace
