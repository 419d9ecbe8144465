// SPDX-License-Identifier: GPL-3.0-or-later
// Linux: port details from sysfs. A USB adapter's tty hangs below its USB
// interface (ttyACM) or below a usb-serial port device on that interface
// (ttyUSB); the USB device with the IDs and strings is the nearest folder
// above that has idVendor.

#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "link/LinuxSerialPorts.h"
#include "link/PortDetails.h"

namespace fs = std::filesystem;

namespace {

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (in) std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

// The nearest folder at or above the tty's device with a USB vendor ID is
// the USB device; the walk ends at the top of the device tree.
void addUsbDetails(const fs::path& sysfsRoot, const fs::path& entry, PortDetails& port) {
    std::error_code ec;
    const fs::path devices = fs::weakly_canonical(sysfsRoot / "devices", ec);
    if (ec) return;
    for (fs::path dir = fs::canonical(entry / "device", ec); !ec && dir != devices && dir.has_relative_path();
         dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", ec)) {
            port.vendorId = firstLine(dir / "idVendor");
            port.productId = firstLine(dir / "idProduct");
            port.manufacturer = firstLine(dir / "manufacturer");
            port.product = firstLine(dir / "product");
            port.serial = firstLine(dir / "serial");
            return;
        }
    }
}

}  // namespace

std::vector<PortDetails> describeSysfsSerialPorts(const std::string& sysfsRoot) {
    std::vector<PortDetails> result;
    for (const auto& found : findSysfsSerialPorts(sysfsRoot)) {
        PortDetails port;
        port.name = found.name;
        port.driver = found.driver;
        addUsbDetails(sysfsRoot, found.entry, port);
        result.push_back(std::move(port));
    }
    return result;
}

std::vector<PortDetails> DescribeComPorts() { return describeSysfsSerialPorts("/sys"); }
