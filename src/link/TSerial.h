// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one connection to the servo controller: a thin, synchronous wrapper
// around a serial device. Every operation blocks the calling (window) thread.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "link/SerialDevice.h"

class Notifier;
class TickSource;

class TSerial {
public:
    // On this platform's serial device.
    TSerial(Notifier& notifier, TickSource& ticks);
    // On the given device (tests substitute a scripted one).
    TSerial(Notifier& notifier, TickSource& ticks, std::unique_ptr<SerialDevice> device);
    ~TSerial();  // does not close the port by itself; the owner calls Close
    TSerial(const TSerial&) = delete;
    TSerial& operator=(const TSerial&) = delete;

    bool Open(const std::string& name, const std::string& baud, const std::string& parity,
              const std::string& dataBits, bool showErrors);
    void Close();
    void Configure(const std::string& baud, const std::string& parity, const std::string& dataBits);
    void SetTimeouts(uint32_t readInterval, uint32_t readMultiplier, uint32_t readConstant,
                     uint32_t writeMultiplier, uint32_t writeConstant);
    int Read(uint8_t* dest, int count);
    int ReadByte(int timeoutMs);
    bool SendByte(uint8_t value, int timeoutMs);
    bool SendString(const std::string& text);
    int Drain(int count, int timeoutMs);
    void SetDtr(bool on);
    void SetRts(bool on);
    bool Probe();
    void Delay(uint32_t ms);

    // Read-only views of the fields, for callers and tests.
    bool isOpen() const { return isOpen_; }
    const std::string& portName() const { return portName_; }
    SerialDevice::Handle handle() const { return handle_; }
    const std::string& pendingOutput() const { return pendingOutput_; }
    const CommTimeouts& timeouts() const { return timeouts_; }
    uint32_t lastError() const { return lastError_; }
    // The advice line the last failed Open added to its message; empty
    // when it added none (or the last Open succeeded).
    const std::string& openHint() const { return openHint_; }
    const uint8_t* buffer() const { return buffer_.get(); }

    // The device of the open port went away (an adapter pulled): a read,
    // write or wait failed with a device error. Operations go on failing
    // quietly until the owner closes the port; false while closed.
    bool deviceGone() const { return isOpen_ && device_->gone(); }

    // Longest accepted port name on this platform (6 on Windows, where it
    // guards "\\.\" + name; POSIX names such as ttyUSB0 are longer).
    static bool acceptablePortName(const std::string& name);

private:
    bool isOpen_ = false;
    std::string portName_;
    SerialDevice::Handle handle_ = SerialDevice::kInvalidHandle;
    std::string pendingOutput_;
    std::unique_ptr<uint8_t[]> buffer_;  // 4097 bytes while open
    CommTimeouts timeouts_{};
    uint32_t lastError_ = 0;
    std::string openHint_;

    std::unique_ptr<SerialDevice> device_;
    Notifier& notifier_;
    TickSource& ticks_;
};
