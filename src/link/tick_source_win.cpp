// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/TickSource.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

// Sleep() rounds up to the scheduler's tick (often 15.6 ms); a high
// resolution waitable timer keeps the short slices of Delay short.
class WindowsTicks : public TickSource {
public:
    WindowsTicks()
        : timer_(::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS)) {
        ::QueryPerformanceFrequency(&frequency_);
    }
    ~WindowsTicks() override {
        if (timer_) ::CloseHandle(timer_);
    }
    uint32_t GetTickCount() override { return ::GetTickCount(); }
    // The tick counter moves in steps of the scheduler's tick; the
    // performance counter does not.
    uint64_t microseconds() override {
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        const uint64_t count = static_cast<uint64_t>(now.QuadPart);
        const uint64_t freq = static_cast<uint64_t>(frequency_.QuadPart);
        return count / freq * 1000000u + count % freq * 1000000u / freq;
    }
    void sleepMs(uint32_t ms) override { sleepUs(uint64_t{ms} * 1000); }
    void sleepUs(uint64_t us) override {
        LARGE_INTEGER due;
        due.QuadPart = -static_cast<LONGLONG>(us) * 10;  // relative, 100 ns units
        if (timer_ && ::SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
            ::WaitForSingleObject(timer_, INFINITE);
        } else {
            const uint64_t ms = (us + 999) / 1000;
            ::Sleep(ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms));
        }
    }

private:
    HANDLE timer_;
    LARGE_INTEGER frequency_{};
};

}  // namespace

TickSource& systemTickSource() {
    static WindowsTicks ticks;
    return ticks;
}
