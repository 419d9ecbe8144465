// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/TickSource.h"

#include <time.h>

#include <cerrno>

namespace {

class MonotonicTicks : public TickSource {
public:
    uint32_t GetTickCount() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u +
                            static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
        return static_cast<uint32_t>(ms);  // wraps after 2^32 ms, as the counter should
    }
    uint64_t microseconds() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
    }
    void sleepMs(uint32_t ms) override { sleepUs(uint64_t{ms} * 1000); }
    void sleepUs(uint64_t us) override {
        timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000L};
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
    }
};

}  // namespace

TickSource& systemTickSource() {
    static MonotonicTicks ticks;
    return ticks;
}
