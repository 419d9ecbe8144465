// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "FakeTicks.h"
#include "RecordingNotifier.h"
#include "link/TSerial.h"
#include "link/TickSource.h"

namespace {

TEST(Delay, ZeroReturnsAtOnce) {
    FakeTicks ticks(0x7FFFFFF0u);
    Delay(ticks, 0);
    EXPECT_EQ(ticks.totalSlept(), 0u);
    EXPECT_EQ(ticks.GetTickCount(), 0x7FFFFFF0u);
}

struct DelayCase {
    const char* name;
    uint32_t start;
    uint32_t ms;
};

class DelayWaitsWhole : public ::testing::TestWithParam<DelayCase> {};

// The wait ends exactly when ms ticks have passed, whatever the counter
// reads: near its wrap, past 2^31, or where start + ms crosses either.
TEST_P(DelayWaitsWhole, WaitsTheRequestedTicks) {
    const DelayCase& c = GetParam();
    FakeTicks ticks(c.start);
    Delay(ticks, c.ms);
    EXPECT_EQ(ticks.totalSlept(), c.ms);
    EXPECT_EQ(ticks.GetTickCount(), static_cast<uint32_t>(c.start + c.ms));
}

INSTANTIATE_TEST_SUITE_P(
    Counter, DelayWaitsWhole,
    ::testing::Values(DelayCase{"OneTick", 1000u, 1u}, DelayCase{"Small", 1000u, 50u},
                      DelayCase{"AcrossWrap", 0xFFFFFF00u, 0x200u},
                      DelayCase{"TargetPastSignedLimit", 0x7FFFFF00u, 0x200u},
                      DelayCase{"StartAboveSignedLimit", 0x90000000u, 500u},
                      DelayCase{"LongPause", 0xFFFF0000u, 65535u}),
    [](const auto& info) { return std::string(info.param.name); });

// A counter that another party moves on while the wait sleeps (as the real
// clock does): the wait still ends once enough time has passed.
class JumpingTicks : public FakeTicks {
public:
    using FakeTicks::FakeTicks;
    void sleepMs(uint32_t ms) override {
        FakeTicks::sleepMs(ms);
        advance(7);
        ++sleeps;
    }
    int sleeps = 0;
};

TEST(Delay, EndsWhenTheCounterOvershoots) {
    JumpingTicks ticks(0xFFFFFFFAu);
    Delay(ticks, 20);
    EXPECT_EQ(ticks.sleeps, 3);  // 8, 16, 24 ticks after the start
}

TEST(Delay, PortDelayUsesItsTickSource) {
    FakeTicks ticks(0xFFFFFFF0u);
    RecordingNotifier notifier;
    TSerial port(notifier, ticks);
    port.Delay(500);
    EXPECT_EQ(ticks.totalSlept(), 500u);
    port.Delay(0);
    EXPECT_EQ(ticks.totalSlept(), 500u);
}

}  // namespace
