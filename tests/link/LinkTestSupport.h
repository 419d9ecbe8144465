// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared pieces of the link tests: a recording status field and a wait for
// bytes arriving at the port's own input.

#include <sys/ioctl.h>
#include <time.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "link/StatusDisplay.h"
#include "link/TSerial.h"

class RecordingStatus : public StatusDisplay {
public:
    struct Call {
        std::string text;
        std::optional<Rgb> colour;
        bool repaintNow;
    };
    void ShowStatus(const std::string& text, std::optional<Rgb> colour, bool repaintNow) override {
        calls.push_back({text, colour, repaintNow});
    }
    std::vector<Call> calls;
};

// Waits until at least n bytes wait in the port's input queue.
inline bool waitForInput(const TSerial& port, int n,
                         std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int waiting = 0;
        if (ioctl(port.handle(), FIONREAD, &waiting) != 0) return false;
        if (waiting >= n) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        timespec ts{0, 200000};
        nanosleep(&ts, nullptr);
    }
}
