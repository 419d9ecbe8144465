// SPDX-License-Identifier: GPL-3.0-or-later
// SerialDevice on POSIX termios. A device that goes away (an adapter pulled,
// the far side of a pseudo-terminal closed) hangs up: reads then give 0 or
// EIO, writes EIO and poll POLLHUP; every wait below bails out on that, so a
// vanished device can never hold the caller.

#include "link/SerialDevice.h"

#include "link/AccessHint.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace {

// Errno values are marked with the bit Windows leaves to applications, so
// that they never read as its "file not found" (2) or "access denied" (5).
constexpr uint32_t kErrnoMark = 0x20000000u;
// The Windows line-error flag for an I/O error on the device.
constexpr uint32_t kCeIoe = 0x0400u;

struct BaudEntry {
    uint32_t rate;
    speed_t code;
};

constexpr BaudEntry kBauds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},
    {150, B150},       {200, B200},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

bool baudCode(uint32_t rate, speed_t& code) {
    for (const auto& e : kBauds)
        if (e.rate == rate) {
            code = e.code;
            return true;
        }
    return false;
}

uint32_t baudRate(speed_t code) {
    for (const auto& e : kBauds)
        if (e.code == code) return e.rate;
    return 0;
}

uint64_t nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// Time left until a deadline, as a poll time-out; -1 waits without limit.
int remainingMs(bool limited, uint64_t deadline) {
    if (!limited) return -1;
    uint64_t now = nowMs();
    return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

bool hungUp(int fd) {
    pollfd p{fd, 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// The errors a device that went away gives.
bool deviceError(int e) { return e == EIO || e == ENXIO || e == ENODEV; }

void sleepShort(int ms) {
    timespec ts{0, static_cast<long>(ms > 1 || ms < 0 ? 1 : ms) * 1000000L};
    nanosleep(&ts, nullptr);
}

uint32_t openErrorCode(int e) {
    if (e == ENOENT || e == ENOTDIR) return kErrorFileNotFound;
    if (e == EACCES || e == EBUSY || e == EPERM) return kErrorAccessDenied;
    return kErrnoMark | static_cast<uint32_t>(e);
}

class PosixSerialDevice final : public SerialDevice {
public:
    ~PosixSerialDevice() override { CloseHandle(); }
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
    std::string openFailureHint() const override { return hint_; }

private:
    // A failed read, write or wait: marks the device gone when the error says so.
    void noteError(int e) { gone_ = gone_ || deviceError(e); }

    Handle handle_ = kInvalidHandle;
    bool gone_ = false;
    CommTimeouts timeouts_{};
    std::string hint_;
};

}  // namespace

std::unique_ptr<SerialDevice> makeSystemSerialDevice() { return std::make_unique<PosixSerialDevice>(); }

SerialDevice::Handle PosixSerialDevice::CreateFile(const std::string& portName, uint32_t& errorCode) {
    CloseHandle();
    errorCode = 0;
    hint_.clear();
    const std::string path = "/dev/" + portName;
    // A port is a terminal device. A name that leads anywhere else (fd/3 to
    // a file, a FIFO) is no port: it is never opened, since opening a FIFO
    // or a file read-write is not harmless.
    struct stat named {};
    if (::stat(path.c_str(), &named) != 0) {
        errorCode = openErrorCode(errno);
        return kInvalidHandle;
    }
    if (!S_ISCHR(named.st_mode)) {
        errorCode = kErrorFileNotFound;
        return kInvalidHandle;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        errorCode = openErrorCode(e);
        // Refused by the device's permissions (another opener gives EBUSY
        // or, through the lock below, EWOULDBLOCK).
        if (e == EACCES) hint_ = permissionHint(path);
        return kInvalidHandle;
    }
    // The same device as checked (the name may have been replaced
    // meanwhile), and one with a line: /dev/null and the like are no ports.
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode) || opened.st_dev != named.st_dev ||
        opened.st_ino != named.st_ino || opened.st_rdev != named.st_rdev || !::isatty(fd)) {
        ::close(fd);
        errorCode = kErrorFileNotFound;
        return kInvalidHandle;
    }
    // TIOCEXCL alone does not keep out a second opener running as root; the
    // lock does, for this program and for others that honour it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        ::close(fd);
        errorCode = e == EWOULDBLOCK ? kErrorAccessDenied : kErrnoMark | static_cast<uint32_t>(e);
        return kInvalidHandle;
    }
    ::ioctl(fd, TIOCEXCL);
    handle_ = fd;
    timeouts_ = {};
    gone_ = false;
    return handle_;
}

bool PosixSerialDevice::CloseHandle() {
    if (handle_ == kInvalidHandle) return false;
    ::ioctl(handle_, TIOCNXCL);
    bool ok = ::close(handle_) == 0;  // also releases the lock
    handle_ = kInvalidHandle;
    gone_ = false;
    return ok;
}

bool PosixSerialDevice::GetCommState(LineSettings& settings) {
    termios t{};
    if (handle_ == kInvalidHandle || ::tcgetattr(handle_, &t) != 0) return false;
    settings.baudRate = baudRate(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5: settings.byteSize = 5; break;
        case CS6: settings.byteSize = 6; break;
        case CS7: settings.byteSize = 7; break;
        default: settings.byteSize = 8; break;
    }
    settings.parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? 1 : 2) : 0;
    settings.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    // The DCB flag bits that have a termios counterpart: fBinary (always),
    // fParity, fOutxCtsFlow, fOutX, fInX.
    uint32_t flags = 1u;
    if (t.c_iflag & INPCK) flags |= 1u << 1;
    if (t.c_cflag & CRTSCTS) flags |= 1u << 2;
    if (t.c_iflag & IXON) flags |= 1u << 8;
    if (t.c_iflag & IXOFF) flags |= 1u << 9;
    settings.flags = flags;
    return true;
}

bool PosixSerialDevice::SetCommState(const LineSettings& settings) {
    termios t{};
    if (handle_ == kInvalidHandle || ::tcgetattr(handle_, &t) != 0) return false;
    speed_t speed{};
    if (!baudCode(settings.baudRate, speed)) return false;
    tcflag_t size{};
    switch (settings.byteSize) {
        case 5: size = CS5; break;
        case 6: size = CS6; break;
        case 7: size = CS7; break;
        case 8: size = CS8; break;
        default: return false;
    }
    ::cfmakeraw(&t);  // VMIN 1, VTIME 0: an empty non-blocking read gives EAGAIN
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= size | CLOCAL | CREAD;
    if (settings.parity != 0) {
        t.c_cflag |= PARENB;
        if (settings.parity == 1) t.c_cflag |= PARODD;
    }
    if (settings.stopBits != 0) t.c_cflag |= CSTOPB;
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    if (settings.flags & (1u << 1)) t.c_iflag |= INPCK;
    if (settings.flags & (1u << 2)) t.c_cflag |= CRTSCTS;
    if (settings.flags & (1u << 8)) t.c_iflag |= IXON;
    if (settings.flags & (1u << 9)) t.c_iflag |= IXOFF;
    return ::tcsetattr(handle_, TCSANOW, &t) == 0;
}

bool PosixSerialDevice::SetCommTimeouts(const CommTimeouts& timeouts) {
    timeouts_ = timeouts;
    return handle_ != kInvalidHandle;
}

bool PosixSerialDevice::ReadFile(void* dest, uint32_t count, uint32_t& bytesRead) {
    bytesRead = 0;
    if (handle_ == kInvalidHandle) return false;
    const CommTimeouts& to = timeouts_;
    const uint64_t total =
        static_cast<uint64_t>(to.readTotalTimeoutMultiplier) * count + to.readTotalTimeoutConstant;
    // MAXDWORD interval with zero totals: return at once with what is there.
    const bool immediate = to.readIntervalTimeout == kMaxDword && total == 0;
    const bool limited = total != 0;
    const uint64_t deadline = nowMs() + total;
    const bool interval = to.readIntervalTimeout != 0 && to.readIntervalTimeout != kMaxDword;
    auto* out = static_cast<uint8_t*>(dest);

    while (bytesRead < count) {
        ssize_t n = ::read(handle_, out + bytesRead, count - bytesRead);
        if (n > 0) {
            bytesRead += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            noteError(errno);
            return false;
        }
        if (n == 0 && hungUp(handle_)) {  // end of file: the device is gone
            gone_ = true;
            return false;
        }
        if (immediate) break;
        int wait = remainingMs(limited, deadline);
        if (interval && bytesRead > 0 &&
            (wait < 0 || static_cast<uint32_t>(wait) > to.readIntervalTimeout))
            wait = static_cast<int>(to.readIntervalTimeout);
        if (wait == 0) break;
        pollfd p{handle_, POLLIN, 0};
        int r = ::poll(&p, 1, wait);
        if (r < 0 && errno != EINTR) return false;
        if (r == 0 && interval && bytesRead > 0) break;
        if (r > 0 && !(p.revents & POLLIN) && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            gone_ = true;
            return false;
        }
    }
    return true;
}

bool PosixSerialDevice::WriteFile(const void* src, uint32_t count, uint32_t& bytesWritten) {
    bytesWritten = 0;
    if (handle_ == kInvalidHandle) return false;
    const uint64_t total =
        static_cast<uint64_t>(timeouts_.writeTotalTimeoutMultiplier) * count +
        timeouts_.writeTotalTimeoutConstant;
    const bool limited = total != 0;
    const uint64_t deadline = nowMs() + total;
    auto* in = static_cast<const uint8_t*>(src);

    while (bytesWritten < count) {
        ssize_t n = ::write(handle_, in + bytesWritten, count - bytesWritten);
        if (n > 0) {
            bytesWritten += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            noteError(errno);
            return false;
        }
        int wait = remainingMs(limited, deadline);
        if (wait == 0) break;  // time-out: success with fewer bytes, as WriteFile
        pollfd p{handle_, POLLOUT, 0};
        int r = ::poll(&p, 1, wait);
        if (r < 0 && errno != EINTR) return false;
        if (r == 0 && limited) break;  // no room within the time-out
        if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            gone_ = true;
            return false;
        }
    }
    return true;
}

bool PosixSerialDevice::ClearCommError(uint32_t& errors, CommStatus& status) {
    errors = 0;
    status = {};
    if (handle_ == kInvalidHandle) return false;
    if (hungUp(handle_)) {
        errors = kCeIoe;
        gone_ = true;
        return false;
    }
    int in = 0, out = 0;
    if (::ioctl(handle_, FIONREAD, &in) != 0 || ::ioctl(handle_, TIOCOUTQ, &out) != 0) {
        noteError(errno);
        errors = kCeIoe;
        return false;
    }
    status.inQueue = in > 0 ? static_cast<uint32_t>(in) : 0;
    status.outQueue = out > 0 ? static_cast<uint32_t>(out) : 0;
    return true;
}

bool PosixSerialDevice::EscapeCommFunction(uint32_t code) {
    if (handle_ == kInvalidHandle) return false;
    int bits = 0;
    unsigned long request = 0;
    switch (code) {
        case kSetRts: bits = TIOCM_RTS; request = TIOCMBIS; break;
        case kClrRts: bits = TIOCM_RTS; request = TIOCMBIC; break;
        case kSetDtr: bits = TIOCM_DTR; request = TIOCMBIS; break;
        case kClrDtr: bits = TIOCM_DTR; request = TIOCMBIC; break;
        default: return false;
    }
    // A pseudo-terminal has no modem lines and refuses; callers ignore that.
    return ::ioctl(handle_, request, &bits) == 0;
}

bool PosixSerialDevice::WaitOutputDrained(uint32_t ms) {
    if (handle_ == kInvalidHandle) return false;
    const bool limited = ms != kMaxDword;
    const uint64_t deadline = nowMs() + ms;
    for (;;) {
        int out = 0;
        if (::ioctl(handle_, TIOCOUTQ, &out) != 0) {
            noteError(errno);
            return false;
        }
        if (out <= 0) return true;
        if (hungUp(handle_)) {  // what is queued will never leave
            gone_ = true;
            return false;
        }
        int left = remainingMs(limited, deadline);
        if (left == 0) return false;
        sleepShort(left);
    }
}
