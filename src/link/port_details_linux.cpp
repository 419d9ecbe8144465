// Linux: port details from sysfs. A USB adapter's tty hangs below its USB
// interface (ttyACM) or below a usb-serial port device on that interface
// (ttyUSB); the USB device with the IDs and strings is the nearest folder
// above that has idVendor and idProduct.

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

// Far enough for tty -> usb-serial port -> interface -> device.
constexpr int kUsbSearchLevels = 4;

void addUsbDetails(const fs::path& sysfsRoot, const fs::path& entry, PortDetails& port) {
    std::error_code ec;
    fs::path dir = fs::canonical(entry / "device", ec);
    if (ec) return;
    const fs::path devices = fs::weakly_canonical(sysfsRoot / "devices", ec);
    if (ec) return;
    for (int level = 0; level <= kUsbSearchLevels && dir != devices && dir.has_relative_path();
         ++level, dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", ec) && fs::exists(dir / "idProduct", ec)) {
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
