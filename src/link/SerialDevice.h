// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The platform layer under TSerial: one communications device with the
// effects of the Win32 calls CreateFile, GetCommState, SetCommState,
// SetCommTimeouts, ReadFile, WriteFile, ClearCommError, EscapeCommFunction
// and CloseHandle. Implemented per platform by file (serial_device_posix.cpp,
// serial_device_win.cpp); TSerial's own logic holds no platform code. Tests
// put a scripted device in its place for what a pseudo-terminal cannot show
// (a full output queue, modem lines, parity).

#include <cstdint>
#include <memory>
#include <string>

// The five time-outs in the order of the platform's COMMTIMEOUTS record.
struct CommTimeouts {
    uint32_t readIntervalTimeout = 0;
    uint32_t readTotalTimeoutMultiplier = 0;
    uint32_t readTotalTimeoutConstant = 0;
    uint32_t writeTotalTimeoutMultiplier = 0;
    uint32_t writeTotalTimeoutConstant = 0;
    friend bool operator==(const CommTimeouts&, const CommTimeouts&) = default;
};

inline constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

// The line settings that TSerial reads, changes and applies (the fields of
// the platform's DCB that it touches; the rest stays as the device had it).
struct LineSettings {
    uint32_t baudRate = 0;
    uint32_t flags = 0;      // binary mode, parity check, flow control...: TSerial sets 0
    uint8_t byteSize = 8;
    uint8_t parity = 0;      // 0 none, 2 even
    uint8_t stopBits = 0;    // 0 one stop bit
    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

struct CommStatus {
    uint32_t inQueue = 0;   // bytes received and not yet read
    uint32_t outQueue = 0;  // bytes handed over and not yet sent
};

// Error codes of a failed open, as the platform reports them.
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorAccessDenied = 5;

// Escape codes for EscapeCommFunction.
inline constexpr uint32_t kSetRts = 3;
inline constexpr uint32_t kClrRts = 4;
inline constexpr uint32_t kSetDtr = 5;
inline constexpr uint32_t kClrDtr = 6;

class SerialDevice {
public:
    using Handle = int32_t;
    static constexpr Handle kInvalidHandle = -1;  // all bits set

    SerialDevice() = default;
    virtual ~SerialDevice() = default;  // an implementation closes a handle still open
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens the port of that short name for exclusive, synchronous read and
    // write (POSIX: "/dev/" + name, a terminal device and nothing else). On
    // failure returns kInvalidHandle and sets errorCode: kErrorFileNotFound,
    // kErrorAccessDenied or another code.
    virtual Handle CreateFile(const std::string& portName, uint32_t& errorCode) = 0;
    // After a CreateFile that failed: a line that tells the user how to get
    // the access they were refused, or empty. Only a refusal by the device's
    // permissions has one, never a port held by another program.
    virtual std::string openFailureHint() const { return {}; }
    virtual bool CloseHandle() = 0;
    virtual bool GetCommState(LineSettings& settings) = 0;
    virtual bool SetCommState(const LineSettings& settings) = 0;
    virtual bool SetCommTimeouts(const CommTimeouts& timeouts) = 0;
    // Honours the current time-outs as the platform table of TSerial says.
    virtual bool ReadFile(void* dest, uint32_t count, uint32_t& bytesRead) = 0;
    // A write whose time-out expires reports success with fewer bytes written.
    virtual bool WriteFile(const void* src, uint32_t count, uint32_t& bytesWritten) = 0;
    // Returns and clears the line-error flags and reports the queue counts.
    virtual bool ClearCommError(uint32_t& errors, CommStatus& status) = 0;
    virtual bool EscapeCommFunction(uint32_t code) = 0;
    // Blocks until the output queue is empty or ms have passed; false on
    // time-out. Lets a byte take its wire time.
    virtual bool WaitOutputDrained(uint32_t ms) = 0;

    // True once a read, write or wait on the open handle failed because the
    // device itself went away (an adapter pulled); false again after
    // CreateFile or CloseHandle.
    virtual bool gone() const = 0;
};

// The serial device of this platform (serial_device_posix.cpp, serial_device_win.cpp).
std::unique_ptr<SerialDevice> makeSystemSerialDevice();
