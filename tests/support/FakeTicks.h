#pragma once
// A tick counter that moves only when waited on: Delay costs no real time,
// and the waits a test causes can be read back.

#include <cstdint>
#include <functional>
#include <vector>

#include "link/TickSource.h"

class FakeTicks : public TickSource {
public:
    explicit FakeTicks(uint32_t start = 1000) : now_(start) {}
    uint32_t GetTickCount() override { return now_; }
    void sleepMs(uint32_t ms) override {
        const uint32_t passed = (ms == 0 ? 1 : ms) + overshoot;
        now_ += passed;
        slept_ += passed;
        if (onSleep) onSleep(slept_);
    }
    void advance(uint32_t ms) { now_ += ms; }
    uint64_t totalSlept() const { return slept_; }

    // Every sleep wakes this many ms late, as on a loaded machine.
    uint32_t overshoot = 0;

    // Runs after every step of a wait, with the total slept so far: where a
    // test makes something happen in the middle of a wait.
    std::function<void(uint64_t slept)> onSleep;

private:
    uint32_t now_;
    uint64_t slept_ = 0;
};
