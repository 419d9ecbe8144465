// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/LinuxSerialPorts.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "link/PortEnumeration.h"

namespace fs = std::filesystem;

namespace {

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

int compareNatural(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && isDigit(a[ie])) ++ie;
            while (je < b.size() && isDigit(b[je])) ++je;
            // Leading zeros do not make a number larger; keep one digit.
            size_t ia = i, jb = j;
            while (ia + 1 < ie && a[ia] == '0') ++ia;
            while (jb + 1 < je && b[jb] == '0') ++jb;
            const size_t la = ie - ia, lb = je - jb;
            if (la != lb) return la < lb ? -1 : 1;
            if (int c = a.compare(ia, la, b, jb, lb); c != 0) return c < 0 ? -1 : 1;
            i = ie;
            j = je;
        } else {
            const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
            if (ca != cb) return ca < cb ? -1 : 1;
            ++i;
            ++j;
        }
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

std::optional<std::string> readFirstLine(const fs::path& file) {
    std::ifstream in(file);
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

std::string linkName(const fs::path& link) {
    std::error_code ec;
    fs::path target = fs::read_symlink(link, ec);
    if (ec) {
        target = fs::canonical(link, ec);
        if (ec) return {};
    }
    if (!target.has_filename()) target = target.parent_path();
    return target.filename().string();
}

// Name of the driver bound to a device; nothing when it has none.
std::optional<std::string> boundDriver(const fs::path& device) {
    std::error_code ec;
    if (!fs::exists(device / "driver", ec)) return std::nullopt;
    return linkName(device / "driver");
}

// The driver of the hardware behind a tty: the one bound to its device, or,
// from kernel 6.5 on, where the tty hangs off the serial core's own "port"
// and "ctrl" devices (bus serial-base), the one bound to the device above
// them. Nothing when the tty has no device or that device no driver
// (virtual terminals, pseudo-terminals, unbound devices).
std::optional<std::string> hardwareDriver(const fs::path& entry) {
    std::error_code ec;
    if (!fs::exists(entry / "device", ec)) return std::nullopt;
    auto driver = boundDriver(entry / "device");
    if (!driver) return std::nullopt;
    fs::path device = fs::canonical(entry / "device", ec);
    if (ec) return driver;
    for (int level = 0; level < 4 && linkName(device / "subsystem") == "serial-base"; ++level) {
        device = device.parent_path();
        driver = boundDriver(device);
        if (!driver) return std::string();
    }
    return driver;
}

// The 8250 driver registers a fixed number of ports at boot whether or not a
// UART sits behind them; those without one report type 0 ("unknown").
bool hasUart(const fs::path& entry) {
    const auto type = readFirstLine(entry / "type");
    return type && !type->empty() && *type != "0";
}

// The name under /dev: the kernel's DEVNAME when the entry tells it, else the
// entry name with '!' standing for '/', as sysfs writes it.
std::string deviceName(const fs::path& entry, std::string name) {
    std::ifstream in(entry / "uevent");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("DEVNAME=", 0) == 0 && line.size() > 8) return line.substr(8);
    }
    std::replace(name.begin(), name.end(), '!', '/');
    return name;
}

}  // namespace

bool naturalNameLess(const std::string& a, const std::string& b) {
    const int c = compareNatural(a, b);
    return c != 0 ? c < 0 : a < b;
}

std::vector<SysfsSerialPort> findSysfsSerialPorts(const std::string& sysfsRoot) {
    const fs::path classDir = fs::path(sysfsRoot) / "class" / "tty";
    std::error_code ec;
    if (!fs::exists(classDir, ec)) return {};

    std::vector<std::pair<std::string, SysfsSerialPort>> found;  // entry name, port
    fs::directory_iterator it(classDir, ec);
    if (ec) throw PortEnumerationError("Could not list the serial ports: " + ec.message() + ".");
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        const fs::path entry = it->path();
        const std::string name = entry.filename().string();
        const auto driver = hardwareDriver(entry);
        if (!driver) continue;
        if (*driver == "serial8250" && !hasUart(entry)) continue;
        found.emplace_back(name, SysfsSerialPort{deviceName(entry, name), entry.string(), *driver});
    }
    if (ec) throw PortEnumerationError("Could not list the serial ports: " + ec.message() + ".");

    // The directory's own order is arbitrary; "as found" is therefore the
    // natural order of the kernel names (ttyACM0, ttyS2, ttyS10, ttyUSB0), so
    // the menu is the same from one start to the next.
    std::sort(found.begin(), found.end(),
              [](const auto& x, const auto& y) { return naturalNameLess(x.first, y.first); });
    std::vector<SysfsSerialPort> ports;
    ports.reserve(found.size());
    for (auto& f : found) ports.push_back(std::move(f.second));
    return ports;
}

std::vector<std::string> listSysfsSerialPorts(const std::string& sysfsRoot) {
    std::vector<std::string> names;
    for (auto& port : findSysfsSerialPorts(sysfsRoot)) names.push_back(std::move(port.name));
    return names;
}
