#pragma once
// The platform layer under TSerial: one communications device with the
// effects of the Win32 calls CreateFile, GetCommState, SetCommState,
// SetCommTimeouts, ReadFile, WriteFile, ClearCommError, EscapeCommFunction
// and CloseHandle. Implemented per platform by file (serial_device_posix.cpp,
// serial_device_win.cpp); TSerial's own logic holds no platform code.

#include <cstdint>
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
    ~SerialDevice();  // closes a handle still open
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens the port of that short name for exclusive, synchronous read and
    // write (POSIX: "/dev/" + name). On failure returns kInvalidHandle and
    // sets errorCode: kErrorFileNotFound, kErrorAccessDenied or another code.
    Handle CreateFile(const std::string& portName, uint32_t& errorCode);
    bool CloseHandle();
    bool GetCommState(LineSettings& settings);
    bool SetCommState(const LineSettings& settings);
    bool SetCommTimeouts(const CommTimeouts& timeouts);
    // Honours the current time-outs as the platform table of TSerial says.
    bool ReadFile(void* dest, uint32_t count, uint32_t& bytesRead);
    // A write whose time-out expires reports success with fewer bytes written.
    bool WriteFile(const void* src, uint32_t count, uint32_t& bytesWritten);
    // Returns and clears the line-error flags and reports the queue counts.
    bool ClearCommError(uint32_t& errors, CommStatus& status);
    bool EscapeCommFunction(uint32_t code);
    // Blocks until the output queue is empty or ms have passed; false on
    // time-out. Lets a byte take its wire time.
    bool WaitOutputDrained(uint32_t ms);

    Handle handle() const { return handle_; }
    // True once a read, write or wait on the open handle failed because the
    // device itself went away (POSIX: EIO, ENXIO, ENODEV, POLLHUP/POLLERR);
    // false again after CreateFile or CloseHandle.
    bool gone() const { return gone_; }

private:
    Handle handle_ = kInvalidHandle;
    bool gone_ = false;
    CommTimeouts timeouts_{};
};
