// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/WinPortDiscovery.h"

#include <algorithm>
#include <cctype>

#include "link/PortEnumeration.h"

namespace winports {

bool Win9xMENT(uint32_t platformId, uint32_t majorVersion) {
    return platformId == 1 || majorVersion < 5;
}

std::string PortFromFriendlyName(const std::string& text) {
    // Positions count from 1, 0 when the character is absent.
    const auto position = [&text](char c) -> long long {
        const auto at = text.find(c);
        return at == std::string::npos ? 0 : static_cast<long long>(at) + 1;
    };
    const long long open = position('(');
    const long long close = position(')');
    const long long length = close - open - 1;
    if (length <= 0) return {};
    // Starts just after the "(" (position open + 1, index open); ends before
    // the ")", which lies inside the text, so nothing is clipped.
    return text.substr(static_cast<size_t>(open), static_cast<size_t>(length));
}

namespace {

bool equalNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

bool listedNoCase(const std::vector<std::string>& ports, const std::string& name) {
    return std::any_of(ports.begin(), ports.end(),
                       [&name](const std::string& p) { return equalNoCase(p, name); });
}

// One device set: its ports, after those listed already, leaving out the
// devices listed already (`listedDevices`, instance identifiers).
void walkDeviceSet(DeviceSetupApi& api, DeviceSet set, uint32_t flags,
                   std::vector<std::string>& ports, std::vector<std::string>& listedDevices) {
    if (!api.GetClassDevs(set, flags)) {
        throw PortEnumerationError("Could not create device info list!");
    }
    // The set is released however the walk ends.
    struct Release {
        DeviceSetupApi& api;
        ~Release() { api.DestroyDeviceInfoList(); }
    } release{api};

    for (uint32_t index = 0; api.EnumDeviceInfo(index); ++index) {
        const auto device = api.DeviceInstanceId();
        if (device && listedNoCase(listedDevices, *device)) continue;
        const auto query = api.QueryFriendlyNameSize();
        // Only "buffer too small" means there is a name to fetch.
        if (query.ok || query.lastError != kErrorInsufficientBuffer) continue;
        auto name = api.GetFriendlyName(query.requiredSize);
        if (!name) continue;  // a name that cannot be read: the device is skipped
        name->resize(query.requiredSize, '\0');
        ports.push_back(PortFromFriendlyName(*name));
        if (device) listedDevices.push_back(*device);
    }
}

}  // namespace

std::vector<std::string> EnumeratePortsByClass(DeviceSetupApi& api) {
    uint32_t required = 0;
    if (!api.ClassGuidsFromName("PORTS", 1, required)) {
        throw PortEnumerationError(
            "Failed to retrieve Ports GUID!  Required PortsGUID array size is: " +
            std::to_string(required));
    }
    // The setup class is asked for without DIGCF_DEVICEINTERFACE: with it the
    // identifier would be taken as an interface class, which no port device
    // exposes, and the set would be empty. Drivers that give their ports a
    // setup class of their own make them known by the COM-port interface.
    std::vector<std::string> ports;
    std::vector<std::string> listedDevices;
    walkDeviceSet(api, DeviceSet::PortsClass, kDigcfPresent, ports, listedDevices);
    walkDeviceSet(api, DeviceSet::ComPortInterface, kDigcfPresent | kDigcfDeviceInterface, ports,
                  listedDevices);
    return ports;
}

namespace {

// One registry accessor with at most one key open at a time, as the walk
// uses it: opening closes the key held before, and the last one is closed
// when the accessor goes.
class Accessor {
public:
    explicit Accessor(Registry& registry) : registry_(registry) {}
    ~Accessor() { close(); }
    Accessor(const Accessor&) = delete;
    Accessor& operator=(const Accessor&) = delete;

    bool open(const std::string& path) {
        close();
        key_ = registry_.OpenKey(path);
        return key_.has_value();
    }
    void close() {
        if (key_) registry_.CloseKey(*key_);
        key_.reset();
    }
    Registry::Key key() const { return *key_; }

private:
    Registry& registry_;
    std::optional<Registry::Key> key_;
};

}  // namespace

std::vector<std::string> EnumeratePortsFromRegistry(Registry& registry) {
    std::vector<std::string> ports;
    Accessor reg(registry);
    if (reg.open("\\hardware\\devicemap\\serialcomm")) {
        // Each value of serialcomm maps a device to its port name (its data).
        for (const auto& valueName : registry.ValueNames(reg.key())) {
            if (auto data = registry.ReadString(reg.key(), valueName)) ports.push_back(*data);
        }
        reg.close();
    }
    if (reg.open("\\Enum")) SearchEnumKey(registry, "Enum", 1, ports);
    return ports;
}

void SearchEnumKey(Registry& registry, const std::string& path, int depth,
                   std::vector<std::string>& ports) {
    Accessor reg(registry);
    if (!reg.open("\\" + path)) return;
    const auto names = registry.SubkeyNames(reg.key());
    for (const auto& name : names) {
        // The subkey names are already listed, so giving up the parent key
        // here loses nothing.
        reg.close();
        const std::string child = path + "\\" + name;
        if (!reg.open(child)) continue;
        if (depth < 3) {
            SearchEnumKey(registry, child, depth + 1, ports);
        } else if (registry.ValueExists(reg.key(), "PortName")) {
            const auto port = registry.ReadString(reg.key(), "PortName");
            if (port && port->size() > 3 && port->compare(0, 3, "COM") == 0 &&
                !listedNoCase(ports, *port)) {
                ports.push_back(*port);
            }
        }
    }
}

}  // namespace winports
