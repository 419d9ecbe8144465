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

}  // namespace

SerialDevice::~SerialDevice() { CloseHandle(); }

SerialDevice::Handle SerialDevice::CreateFile(const std::string& portName, uint32_t& errorCode) {
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
    return handle_;
}

bool SerialDevice::CloseHandle() {
    if (handle_ == kInvalidHandle) return false;
    const bool ok = ::CloseHandle(toHandle(handle_)) != 0;
    handle_ = kInvalidHandle;
    return ok;
}

bool SerialDevice::GetCommState(LineSettings& settings) {
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

bool SerialDevice::SetCommState(const LineSettings& settings) {
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

bool SerialDevice::SetCommTimeouts(const CommTimeouts& timeouts) {
    timeouts_ = timeouts;
    if (handle_ == kInvalidHandle) return false;
    COMMTIMEOUTS t{timeouts.readIntervalTimeout, timeouts.readTotalTimeoutMultiplier,
                   timeouts.readTotalTimeoutConstant, timeouts.writeTotalTimeoutMultiplier,
                   timeouts.writeTotalTimeoutConstant};
    return ::SetCommTimeouts(toHandle(handle_), &t) != 0;
}

bool SerialDevice::ReadFile(void* dest, uint32_t count, uint32_t& bytesRead) {
    DWORD n = 0;
    const bool ok = handle_ != kInvalidHandle && ::ReadFile(toHandle(handle_), dest, count, &n, nullptr);
    bytesRead = ok ? n : 0;
    return ok;
}

bool SerialDevice::WriteFile(const void* src, uint32_t count, uint32_t& bytesWritten) {
    DWORD n = 0;
    const bool ok = handle_ != kInvalidHandle && ::WriteFile(toHandle(handle_), src, count, &n, nullptr);
    bytesWritten = ok ? n : 0;
    return ok;
}

bool SerialDevice::ClearCommError(uint32_t& errors, CommStatus& status) {
    DWORD e = 0;
    COMSTAT s{};
    status = {};
    const bool ok = handle_ != kInvalidHandle && ::ClearCommError(toHandle(handle_), &e, &s);
    errors = ok ? e : 0;
    if (ok) status = {s.cbInQue, s.cbOutQue};
    return ok;
}

bool SerialDevice::EscapeCommFunction(uint32_t code) {
    return handle_ != kInvalidHandle && ::EscapeCommFunction(toHandle(handle_), code) != 0;
}

bool SerialDevice::WaitOutputDrained(uint32_t ms) {
    const DWORD t0 = ::GetTickCount();
    for (;;) {
        DWORD e = 0;
        COMSTAT s{};
        if (handle_ == kInvalidHandle || !::ClearCommError(toHandle(handle_), &e, &s)) return false;
        if (s.cbOutQue == 0) return true;
        if (ms != kMaxDword && ::GetTickCount() - t0 >= ms) return false;
        ::Sleep(1);
    }
}
