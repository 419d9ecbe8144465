// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A tick counter that moves only when waited on: Delay costs no real time,
// and the waits a test causes can be read back.

#include <cstdint>
#include <functional>
#include <vector>

#include "link/TickSource.h"

class FakeTicks : public TickSource {
public:
    explicit FakeTicks(uint32_t start = 1000) : start_(start) {}
    uint32_t GetTickCount() override { return start_ + static_cast<uint32_t>(us_ / 1000); }
    uint64_t microseconds() override { return us_; }
    void sleepMs(uint32_t ms) override {
        const uint32_t passed = (ms == 0 ? 1 : ms) + overshoot;
        us_ += uint64_t{passed} * 1000 + overshootUs;
        slept_ += passed;
        if (onSleep) onSleep(slept_);
    }
    void advance(uint32_t ms) { us_ += uint64_t{ms} * 1000; }
    void advanceUs(uint64_t us) { us_ += us; }
    uint64_t totalSlept() const { return slept_; }

    // Every sleep wakes this many ms (and overshootUs microseconds) late, as
    // on a loaded machine.
    uint32_t overshoot = 0;
    uint32_t overshootUs = 0;

    // Runs after every step of a wait, with the total slept so far: where a
    // test makes something happen in the middle of a wait.
    std::function<void(uint64_t slept)> onSleep;

private:
    uint32_t start_;
    uint64_t us_ = 0;
    uint64_t slept_ = 0;
};
