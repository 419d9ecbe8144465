// SPDX-License-Identifier: GPL-3.0-or-later
// SerialDevice on the Win32 communications calls, which it mirrors one to
// one. Handles fit in 32 bits on every Windows (they are sign-extended for
// 32/64-bit interoperation), so the stored value converts back exactly.

#include "link/SerialDevice.h"

#include <cstddef>
#include <cstring>

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef CreateFile  // the member of that name is ours

namespace {

HANDLE toHandle(SerialDevice::Handle h) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(h)); }

// winerror.h's ERROR_NO_SUCH_DEVICE, which not every SDK's headers define.
constexpr DWORD kErrorNoSuchDevice = 433;

// The errors of a device that went away after it was opened (a USB adapter
// pulled): the driver fails the call, or the handle no longer leads anywhere.
bool deviceError(DWORD e) {
    switch (e) {
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
        case kErrorNoSuchDevice:
        case ERROR_OPERATION_ABORTED:
        case ERROR_ACCESS_DENIED:
            return true;
        default:
            return false;
    }
}

class WinSerialDevice final : public SerialDevice {
public:
    ~WinSerialDevice() override { CloseHandle(); }
    Handle CreateFile(const std::string& portName, uint32_t& errorCode) override;
    bool CloseHandle() override;
    bool GetCommState(LineSettings& settings) override;
    bool SetCommState(const LineSettings& settings) override;
    bool SetCommTimeouts(const CommTimeouts& timeouts) override;
    bool ReadFile(void* dest, uint32_t count, uint32_t& bytesRead) override;
    bool WriteFile(const void* src, uint32_t count, uint32_t& bytesWritten) override;
    bool ClearCommError(uint32_t& errors, CommStatus& status) override;
    bool EscapeCommFunction(uint32_t code) override;
    bool WaitOutputDrained(uint32_t ms) override;
    bool gone() const override { return gone_; }

private:
    // Passes on the answer of a read, write or line poll; a failure with a
    // device error marks the device gone.
    bool note(bool ok) {
        if (!ok && deviceError(::GetLastError())) gone_ = true;
        return ok;
    }

    Handle handle_ = kInvalidHandle;
    bool gone_ = false;
    CommTimeouts timeouts_{};
};

}  // namespace

std::unique_ptr<SerialDevice> makeSystemSerialDevice() { return std::make_unique<WinSerialDevice>(); }

SerialDevice::Handle WinSerialDevice::CreateFile(const std::string& portName, uint32_t& errorCode) {
    CloseHandle();
    errorCode = 0;
    const std::string path = "\\\\.\\" + portName;
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errorCode = ::GetLastError();
        return kInvalidHandle;
    }
    handle_ = static_cast<Handle>(reinterpret_cast<intptr_t>(h));
    timeouts_ = {};
    gone_ = false;
    return handle_;
}

bool WinSerialDevice::CloseHandle() {
    if (handle_ == kInvalidHandle) return false;
    const bool ok = ::CloseHandle(toHandle(handle_)) != 0;
    handle_ = kInvalidHandle;
    gone_ = false;
    return ok;
}

bool WinSerialDevice::GetCommState(LineSettings& settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (handle_ == kInvalidHandle || !::GetCommState(toHandle(handle_), &dcb)) return false;
    settings.baudRate = dcb.BaudRate;
    // The Boolean bit fields that follow BaudRate form one 32-bit word.
    static_assert(offsetof(DCB, BaudRate) + sizeof(DWORD) + sizeof(DWORD) == offsetof(DCB, wReserved));
    std::memcpy(&settings.flags, reinterpret_cast<const char*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD),
                sizeof(uint32_t));
    settings.byteSize = dcb.ByteSize;
    settings.parity = dcb.Parity;
    settings.stopBits = dcb.StopBits;
    return true;
}

bool WinSerialDevice::SetCommState(const LineSettings& settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (handle_ == kInvalidHandle || !::GetCommState(toHandle(handle_), &dcb)) return false;
    dcb.BaudRate = settings.baudRate;
    std::memcpy(reinterpret_cast<char*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD), &settings.flags,
                sizeof(uint32_t));
    dcb.ByteSize = settings.byteSize;
    dcb.Parity = settings.parity;
    dcb.StopBits = settings.stopBits;
    return ::SetCommState(toHandle(handle_), &dcb) != 0;
}

bool WinSerialDevice::SetCommTimeouts(const CommTimeouts& timeouts) {
    timeouts_ = timeouts;
    if (handle_ == kInvalidHandle) return false;
    COMMTIMEOUTS t{timeouts.readIntervalTimeout, timeouts.readTotalTimeoutMultiplier,
                   timeouts.readTotalTimeoutConstant, timeouts.writeTotalTimeoutMultiplier,
                   timeouts.writeTotalTimeoutConstant};
    return ::SetCommTimeouts(toHandle(handle_), &t) != 0;
}

bool WinSerialDevice::ReadFile(void* dest, uint32_t count, uint32_t& bytesRead) {
    DWORD n = 0;
    const bool ok = handle_ != kInvalidHandle && note(::ReadFile(toHandle(handle_), dest, count, &n, nullptr) != 0);
    bytesRead = ok ? n : 0;
    return ok;
}

bool WinSerialDevice::WriteFile(const void* src, uint32_t count, uint32_t& bytesWritten) {
    DWORD n = 0;
    const bool ok = handle_ != kInvalidHandle && note(::WriteFile(toHandle(handle_), src, count, &n, nullptr) != 0);
    bytesWritten = ok ? n : 0;
    return ok;
}

bool WinSerialDevice::ClearCommError(uint32_t& errors, CommStatus& status) {
    DWORD e = 0;
    COMSTAT s{};
    status = {};
    const bool ok = handle_ != kInvalidHandle && note(::ClearCommError(toHandle(handle_), &e, &s) != 0);
    errors = ok ? e : 0;
    if (ok) status = {s.cbInQue, s.cbOutQue};
    return ok;
}

bool WinSerialDevice::EscapeCommFunction(uint32_t code) {
    return handle_ != kInvalidHandle && ::EscapeCommFunction(toHandle(handle_), code) != 0;
}

bool WinSerialDevice::WaitOutputDrained(uint32_t ms) {
    const DWORD t0 = ::GetTickCount();
    for (;;) {
        DWORD e = 0;
        COMSTAT s{};
        if (handle_ == kInvalidHandle || !note(::ClearCommError(toHandle(handle_), &e, &s) != 0)) return false;
        if (s.cbOutQue == 0) return true;
        if (ms != kMaxDword && ::GetTickCount() - t0 >= ms) return false;
        ::Sleep(1);
    }
}
