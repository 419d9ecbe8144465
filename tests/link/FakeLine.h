// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A port on the scripted device, and the expected calls of the byte-level
// operations as the trace writes them.

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "FakeSerialDevice.h"
#include "RecordingNotifier.h"
#include "link/TSerial.h"

using Calls = std::vector<std::string>;

inline Calls joined(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Drain with count 0 when nothing is waiting.
inline Calls discardNothing() { return {"timeouts MAX 0 0 0 0", "status"}; }

// SendByte on a line that takes the byte at once.
inline Calls sendByte(uint8_t value, int timeoutMs) {
    const std::string t = std::to_string(timeoutMs);
    return {"timeouts 0 0 0 0 " + t, "write " + hexByte(value), "wait-drained " + t};
}

inline Calls sendBytes(const std::vector<uint8_t>& bytes, int timeoutMs) {
    Calls all;
    for (uint8_t b : bytes) {
        const Calls one = sendByte(b, timeoutMs);
        all.insert(all.end(), one.begin(), one.end());
    }
    return all;
}

class FakeLine : public ::testing::Test {
protected:
    FakeLine() {
        auto owned = std::make_unique<FakeSerialDevice>(trace, ticks);
        device = owned.get();
        port = std::make_unique<TSerial>(notifier, ticks, std::move(owned));
    }
    // Opens the port and forgets the calls that took.
    void open() {
        ASSERT_TRUE(port->Open("COM3", "2400", "None", "8", true));
        trace.clear();
        notifier.calls.clear();
    }

    Trace trace;
    TracingTicks ticks{trace};
    RecordingNotifier notifier;
    FakeSerialDevice* device = nullptr;
    std::unique_ptr<TSerial> port;
};
