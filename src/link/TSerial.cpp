// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/TSerial.h"

#include <algorithm>
#include <charconv>

#include "link/Notifier.h"
#include "link/TickSource.h"

namespace {

constexpr int kBufferSize = 4096;  // the block holds one byte more

// A time-out of 0 means "no time-out" to the device: a line that stops
// draining would then hold the program for good. Such waits are bounded by
// the command set's per-byte write time-out instead.
constexpr uint32_t kNoTimeoutBoundMs = 150;
// What one character of SendString may spend waiting for the line, over
// all of its attempts.
constexpr uint32_t kCharacterBudgetMs = 150;
constexpr int kSendAttempts = 10;

constexpr unsigned kBeepHz = 1000;
constexpr unsigned kBeepMs = 75;

// The decimal value of a text of digits; false for anything else.
bool decimalValue(const std::string& text, uint32_t& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && p == end && !text.empty();
}

uint32_t boundedMs(int timeoutMs) {
    return timeoutMs > 0 ? static_cast<uint32_t>(timeoutMs) : kNoTimeoutBoundMs;
}

}  // namespace

TSerial::TSerial(Notifier& notifier, TickSource& ticks)
    : TSerial(notifier, ticks, makeSystemSerialDevice()) {}

TSerial::TSerial(Notifier& notifier, TickSource& ticks, std::unique_ptr<SerialDevice> device)
    : device_(std::move(device)), notifier_(notifier), ticks_(ticks) {}

TSerial::~TSerial() = default;

bool TSerial::Open(const std::string& name, const std::string& baud, const std::string& parity,
                   const std::string& dataBits, bool showErrors) {
    lastError_ = 0;
    openHint_.clear();
    if (isOpen_) return false;
    if (!acceptablePortName(name)) return false;

    uint32_t code = 0;
    handle_ = device_->CreateFile(name, code);
    if (handle_ == SerialDevice::kInvalidHandle) {
        lastError_ = code;
        std::string reason = "Reason is unknown.";
        if (code == kErrorFileNotFound) {
            reason = "This port does not exist or is not configured properly.";
        } else if (code == kErrorAccessDenied) {
            reason = "Access Denied.\r\nThis port may already be in use by another device.";
            // The usual first failure on Linux is no program at all but a
            // user outside the device's group: say how to get in.
            openHint_ = device_->openFailureHint();
            if (!openHint_.empty()) reason += "\r\n" + openHint_;
        }
        if (showErrors) {
            notifier_.Beep(kBeepHz, kBeepMs);
            notifier_.ShowMessage("Could not open port: " + name + ".  " + reason);
        }
        return false;
    }

    LineSettings settings;
    if (!device_->GetCommState(settings)) {
        if (showErrors) {
            notifier_.Beep(kBeepHz, kBeepMs);
            notifier_.ShowMessage("Unable to build data control block for serial port.");
        }
        device_->CloseHandle();
        handle_ = SerialDevice::kInvalidHandle;
        return false;
    }

    isOpen_ = true;
    Configure(baud, parity, dataBits);
    buffer_ = std::make_unique<uint8_t[]>(kBufferSize + 1);
    portName_ = name;
    SetTimeouts(0, 0, 0, 0, 0);
    return true;
}

void TSerial::Close() {
    if (!isOpen_) return;
    device_->CloseHandle();
    isOpen_ = false;
    portName_.clear();
    handle_ = SerialDevice::kInvalidHandle;
    buffer_.reset();
}

void TSerial::Configure(const std::string& baud, const std::string& parity,
                        const std::string& dataBits) {
    if (!isOpen_) return;
    LineSettings settings;
    if (!device_->GetCommState(settings)) {
        notifier_.Beep(kBeepHz, kBeepMs);
        notifier_.ShowMessage("Unable to set configuration on serial port.");
        return;
    }
    // A text that is not a decimal number leaves that setting as the device has it.
    uint32_t value = 0;
    if (decimalValue(baud, value)) settings.baudRate = value;
    if (decimalValue(dataBits, value)) settings.byteSize = static_cast<uint8_t>(value);
    settings.parity = parity == "None" ? 0 : 2;
    settings.stopBits = 0;
    settings.flags = 0;
    device_->SetCommState(settings);
    SetDtr(false);
    SetRts(false);
}

void TSerial::SetTimeouts(uint32_t readInterval, uint32_t readMultiplier, uint32_t readConstant,
                          uint32_t writeMultiplier, uint32_t writeConstant) {
    timeouts_ = {readInterval, readMultiplier, readConstant, writeMultiplier, writeConstant};
    device_->SetCommTimeouts(timeouts_);
}

int TSerial::Read(uint8_t* dest, int count) {
    if (!isOpen_) return 0;
    SetTimeouts(kMaxDword, 0, 0, 0, 0);
    count = std::clamp(count, 0, kBufferSize);
    uint32_t got = 0;
    device_->ReadFile(dest, static_cast<uint32_t>(count), got);
    return static_cast<int>(got);
}

int TSerial::ReadByte(int timeoutMs) {
    if (!isOpen_) return 1000;
    SetTimeouts(0, 0, boundedMs(timeoutMs), 0, 0);
    uint8_t byte = 0;
    uint32_t got = 0;
    device_->ReadFile(&byte, 1, got);
    return got == 1 ? byte : -1;
}

bool TSerial::SendByte(uint8_t value, int timeoutMs) {
    if (!isOpen_) return false;
    const uint32_t limit = boundedMs(timeoutMs);
    SetTimeouts(0, 0, 0, 0, limit);
    const uint32_t t0 = ticks_.GetTickCount();
    uint32_t written = 0;
    const bool ok = device_->WriteFile(&value, 1, written);
    // Return once the byte is on the line, as a port without a driver-side
    // queue would, but never later than the write time-out allows.
    if (ok && written == 1) {
        const uint32_t spent = ticks_.GetTickCount() - t0;
        if (spent < limit) device_->WaitOutputDrained(limit - spent);
    }
    return ok;
}

bool TSerial::SendString(const std::string& text) {
    if (!isOpen_) return false;
    uint8_t* staging = buffer_.get();
    staging[0] = 0;
    pendingOutput_ += text;

    while (!pendingOutput_.empty() && staging[0] == 0) {
        staging[0] = static_cast<uint8_t>(pendingOutput_.front());
        staging[1] = 0;
        pendingOutput_.erase(0, 1);
        // The attempts of one character share one budget for waiting on the
        // line; each write may use what is left of it (at least 1 ms, since
        // a write time-out of 0 would mean none).
        const uint32_t t0 = ticks_.GetTickCount();
        for (int attempt = 0; attempt < kSendAttempts && staging[0] != 0; ++attempt) {
            uint32_t errors = 0;
            CommStatus status;
            device_->ClearCommError(errors, status);
            if (status.outQueue < kBufferSize) {
                const uint32_t spent = ticks_.GetTickCount() - t0;
                SetTimeouts(0, 0, 0, 0, spent < kCharacterBudgetMs ? kCharacterBudgetMs - spent : 1);
                uint32_t written = 0;
                device_->WriteFile(staging, 1, written);
                if (written == 1) staging[0] = 0;
            }
        }
    }
    return pendingOutput_.empty() && staging[0] == 0;
}

int TSerial::Drain(int count, int timeoutMs) {
    if (!isOpen_) return -1;
    uint8_t* buf = buffer_.get();
    if (count >= 1 && count <= kBufferSize) {
        SetTimeouts(0, 0, boundedMs(timeoutMs), 0, 0);
        uint32_t got = 0;
        device_->ReadFile(buf, static_cast<uint32_t>(count), got);
        return static_cast<int>(got);
    }
    SetTimeouts(kMaxDword, 0, 0, 0, 0);
    int total = 0;
    for (;;) {
        uint32_t errors = 0;
        CommStatus status;
        const bool polled = device_->ClearCommError(errors, status);
        lastError_ = errors;
        if (!polled || status.inQueue == 0) break;
        const uint32_t want = std::min<uint32_t>(status.inQueue, kBufferSize);
        uint32_t got = 0;
        const bool ok = device_->ReadFile(buf, want, got);
        total += static_cast<int>(got);
        // A queue that reports bytes but yields none would otherwise loop forever.
        if (!ok || got == 0) break;
    }
    return total;
}

void TSerial::SetDtr(bool on) {
    if (!isOpen_) return;
    device_->EscapeCommFunction(on ? kSetDtr : kClrDtr);
}

void TSerial::SetRts(bool on) {
    if (!isOpen_) return;
    device_->EscapeCommFunction(on ? kSetRts : kClrRts);
}

bool TSerial::Probe() {
    if (!isOpen_) return false;
    Drain(0, 0);
    Delay(50);
    SendByte(0x55, 250);
    return ReadByte(50) == 0x55;
}

void TSerial::Delay(uint32_t ms) { ::Delay(ticks_, ms); }

// Elapsed time is the unsigned difference of two counter readings, which is
// right across a wrap of the counter and at any counter value. Short sleeps
// between readings keep the wait from occupying a processor.
void Delay(TickSource& ticks, uint32_t ms) {
    if (ms == 0) return;
    const uint32_t t0 = ticks.GetTickCount();
    for (;;) {
        const uint32_t elapsed = ticks.GetTickCount() - t0;
        if (elapsed >= ms) return;
        ticks.sleepMs(std::min<uint32_t>(ms - elapsed, 1));
    }
}
