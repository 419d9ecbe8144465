// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A scripted serial device for what a pseudo-terminal cannot show: a full
// output queue, short writes, modem lines, parity, failing platform calls.
// Every platform call is written into a Trace with its arguments, and so are
// the waits on a TracingTicks counter, so that a test can compare the exact
// sequence of calls and waits of an operation. Time passes only where the
// device is told to stall (a read without data, a write without room, an
// output queue that does not drain): the counter then moves on by the
// time-out in force. A wait without any time-out fails the test instead of
// hanging it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "FakeTicks.h"
#include "link/SerialDevice.h"

// The calls and waits of a test, in order.
class Trace {
public:
    void add(std::string entry) {
        entries.push_back(std::move(entry));
        lastWasWait_ = false;
    }
    // Consecutive sleeps of one Delay make one entry.
    void addWait(uint32_t ms) {
        if (lastWasWait_) {
            waited_ += ms;
            entries.back() = "wait " + std::to_string(waited_);
            return;
        }
        waited_ = ms;
        add("wait " + std::to_string(ms));
        lastWasWait_ = true;
    }
    void clear() {
        entries.clear();
        lastWasWait_ = false;
    }
    std::vector<std::string> entries;

private:
    bool lastWasWait_ = false;
    uint64_t waited_ = 0;
};

class TracingTicks : public FakeTicks {
public:
    explicit TracingTicks(Trace& trace, uint32_t start = 1000) : FakeTicks(start), trace_(trace) {}
    void sleepMs(uint32_t ms) override {
        FakeTicks::sleepMs(ms);
        trace_.addWait(ms == 0 ? 1 : ms);
    }

private:
    Trace& trace_;
};

inline std::string hexByte(uint8_t b) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

class FakeSerialDevice : public SerialDevice {
public:
    FakeSerialDevice(Trace& trace, FakeTicks& ticks) : trace_(trace), ticks_(ticks) {}

    // --- script ---
    uint32_t openError = 0;        // CreateFile fails with this code when not 0
    int commStateReads = 1 << 30;  // GetCommState calls that succeed before it fails
    LineSettings reported{9600, 0x00003F13u, 7, 1, 2};  // what GetCommState reports
    std::deque<uint8_t> input;      // bytes waiting to be read
    uint32_t unreadable = 0;        // bytes the line status counts that no read yields
    bool echo = false;              // every byte written comes back
    std::function<void(uint8_t)> onWrite;  // runs after each byte written
    // Output queue counts for the following ClearCommError calls (then 0).
    std::deque<uint32_t> outQueues;
    // Bytes accepted by the following WriteFile calls (then all of them);
    // a short write stalls for the write time-out in force.
    std::deque<uint32_t> writeAccepts;
    bool stalled = false;   // the output queue never drains
    bool vanished = false;  // reads, writes and polls fail as on a pulled adapter

    // --- record ---
    std::vector<uint8_t> sent;  // every byte written
    LineSettings applied{};     // the last settings applied
    CommTimeouts timeouts{};    // the time-outs in force

    Handle CreateFile(const std::string& portName, uint32_t& errorCode) override {
        trace_.add("open " + portName);
        errorCode = openError;
        gone_ = false;
        handle_ = openError == 0 ? 7 : kInvalidHandle;
        return handle_;
    }
    bool CloseHandle() override {
        if (handle_ == kInvalidHandle) return false;
        trace_.add("close");
        handle_ = kInvalidHandle;
        gone_ = false;
        return true;
    }
    bool GetCommState(LineSettings& settings) override {
        trace_.add("get-state");
        if (commStateReads <= 0) return false;
        --commStateReads;
        settings = reported;
        return true;
    }
    bool SetCommState(const LineSettings& s) override {
        trace_.add("set-state " + std::to_string(s.baudRate) + " " + std::to_string(s.byteSize) +
                   " parity " + std::to_string(s.parity) + " stop " + std::to_string(s.stopBits) +
                   " flags " + std::to_string(s.flags));
        applied = s;
        return true;
    }
    bool SetCommTimeouts(const CommTimeouts& t) override {
        auto v = [](uint32_t x) { return x == kMaxDword ? std::string("MAX") : std::to_string(x); };
        trace_.add("timeouts " + v(t.readIntervalTimeout) + " " + v(t.readTotalTimeoutMultiplier) +
                   " " + v(t.readTotalTimeoutConstant) + " " + v(t.writeTotalTimeoutMultiplier) +
                   " " + v(t.writeTotalTimeoutConstant));
        timeouts = t;
        return true;
    }
    bool ReadFile(void* dest, uint32_t count, uint32_t& bytesRead) override {
        bytesRead = 0;
        if (vanished) return fail("read " + std::to_string(count) + " failed");
        if (++reads_ > 100000) {
            ADD_FAILURE() << "reading without end";
            vanished = true;
        }
        auto* out = static_cast<uint8_t*>(dest);
        while (bytesRead < count && !input.empty()) {
            out[bytesRead++] = input.front();
            input.pop_front();
        }
        trace_.add("read " + std::to_string(count) + " -> " + std::to_string(bytesRead));
        if (bytesRead < count) {
            const CommTimeouts& t = timeouts;
            const uint64_t total = uint64_t{t.readTotalTimeoutMultiplier} * count +
                                   t.readTotalTimeoutConstant;
            const bool immediate = t.readIntervalTimeout == kMaxDword && total == 0;
            if (!immediate) stallFor(total, "a read");
        }
        return true;
    }
    bool WriteFile(const void* src, uint32_t count, uint32_t& bytesWritten) override {
        const auto* in = static_cast<const uint8_t*>(src);
        std::string entry = "write";
        for (uint32_t i = 0; i < count; ++i) entry += " " + hexByte(in[i]);
        bytesWritten = 0;
        if (vanished) return fail(entry + " failed");
        uint32_t accept = count;
        if (!writeAccepts.empty()) {
            accept = std::min(count, writeAccepts.front());
            writeAccepts.pop_front();
        }
        trace_.add(accept == count ? entry : entry + " -> " + std::to_string(accept));
        for (uint32_t i = 0; i < accept; ++i) {
            sent.push_back(in[i]);
            if (echo) input.push_back(in[i]);
            if (onWrite) onWrite(in[i]);
        }
        bytesWritten = accept;
        if (accept < count)
            stallFor(uint64_t{timeouts.writeTotalTimeoutMultiplier} * count +
                         timeouts.writeTotalTimeoutConstant,
                     "a write");
        return true;
    }
    bool ClearCommError(uint32_t& errors, CommStatus& status) override {
        errors = 0;
        status = {};
        if (vanished) {
            errors = 0x0400;
            return fail("status failed");
        }
        status.inQueue = static_cast<uint32_t>(input.size()) + unreadable;
        if (!outQueues.empty()) {
            status.outQueue = outQueues.front();
            outQueues.pop_front();
        }
        std::string entry = "status";
        if (status.inQueue != 0) entry += " in " + std::to_string(status.inQueue);
        if (status.outQueue != 0) entry += " out " + std::to_string(status.outQueue);
        trace_.add(entry);
        return true;
    }
    bool EscapeCommFunction(uint32_t code) override {
        trace_.add("escape " + std::to_string(code));
        return true;
    }
    bool WaitOutputDrained(uint32_t ms) override {
        trace_.add("wait-drained " + (ms == kMaxDword ? std::string("MAX") : std::to_string(ms)));
        if (vanished) return fail("wait-drained failed");
        if (!stalled) return true;
        stallFor(ms == kMaxDword ? 0 : ms, "a wait for the output to drain");
        return false;
    }
    bool gone() const override { return gone_; }

private:
    bool fail(std::string entry) {
        trace_.add(std::move(entry));
        gone_ = true;
        return false;
    }
    // The call waits its whole time-out; 0 means none, which would never end.
    void stallFor(uint64_t ms, const char* what) {
        if (ms == 0) {
            ADD_FAILURE() << what << " without a time-out would wait for ever";
            return;
        }
        ticks_.advance(static_cast<uint32_t>(ms));
    }

    Trace& trace_;
    FakeTicks& ticks_;
    Handle handle_ = kInvalidHandle;
    bool gone_ = false;
    int reads_ = 0;
};
