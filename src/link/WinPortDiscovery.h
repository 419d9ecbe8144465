// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How the Windows port list is made, without the Windows API itself: the
// device-setup walk over the "PORTS" setup class and the COM-port device
// interface, and the registry walk, each over a small interface that
// port_enumeration_win.cpp implements with the real calls and the tests with
// fakes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace winports {

// True on the systems that list ports through the registry: platform id 1
// (VER_PLATFORM_WIN32_WINDOWS) or a major version below 5.
bool Win9xMENT(uint32_t platformId, uint32_t majorVersion);

inline constexpr uint32_t kDigcfPresent = 0x02;
inline constexpr uint32_t kDigcfDeviceInterface = 0x10;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;

// The device sets the device-setup walk reads, one after the other.
enum class DeviceSet {
    // The "PORTS" setup class, by the identifier ClassGuidsFromName found:
    // motherboard ports and most USB adapters.
    PortsClass,
    // The COM-port device interface, GUID_DEVINTERFACE_COMPORT
    // {86E0D1E0-8089-11D0-9CE4-08003E301F73}: the ports whose drivers put
    // them in a setup class of their own (virtual ports, some USB adapters).
    ComPortInterface,
};

// The device-setup calls, on one device-information set at a time and the
// device record fetched last.
class DeviceSetupApi {
public:
    virtual ~DeviceSetupApi() = default;

    // SetupDiClassGuidsFromNameA(className, room for `room` identifiers):
    // false on failure; requiredSize is the number of identifiers needed.
    // The identifier found is kept for GetClassDevs.
    virtual bool ClassGuidsFromName(const std::string& className, uint32_t room,
                                    uint32_t& requiredSize) = 0;
    // SetupDiGetClassDevsA(the set's identifier, no enumerator, no window,
    // flags): false when the result is the invalid-handle value. Made only
    // after the set made before has been released.
    virtual bool GetClassDevs(DeviceSet set, uint32_t flags) = 0;
    // SetupDiEnumDeviceInfo(set, index, record of size 28): false when index
    // is past the last device.
    virtual bool EnumDeviceInfo(uint32_t index) = 0;

    struct SizeQuery {
        bool ok;                // the call's answer
        uint32_t lastError;     // GetLastError after it
        uint32_t requiredSize;  // bytes, terminating zero included
    };
    // SetupDiGetDeviceRegistryPropertyA(SPDRP_FRIENDLYNAME, no buffer, size 0)
    // on the device fetched last.
    virtual SizeQuery QueryFriendlyNameSize() = 0;
    // The same with a buffer of `size` bytes: the bytes written, or nothing
    // when the call fails.
    virtual std::optional<std::string> GetFriendlyName(uint32_t size) = 0;
    // SetupDiGetDeviceInstanceIdA on the device fetched last: the identifier
    // that names the device in every set ("ACPI\PNP0501\1"); nothing when it
    // cannot be read.
    virtual std::optional<std::string> DeviceInstanceId() = 0;
    // SetupDiDestroyDeviceInfoList.
    virtual void DestroyDeviceInfoList() = 0;
};

// The registry under HKEY_LOCAL_MACHINE, read only. Keys are opened by path
// ("\hardware\devicemap\serialcomm", "Enum\Root"; a leading backslash makes
// no difference) and named by the opaque number OpenKey returns.
class Registry {
public:
    using Key = uint64_t;
    virtual ~Registry() = default;
    virtual std::optional<Key> OpenKey(const std::string& path) = 0;
    virtual std::vector<std::string> ValueNames(Key key) = 0;
    virtual std::vector<std::string> SubkeyNames(Key key) = 0;
    virtual bool ValueExists(Key key, const std::string& name) = 0;
    // The value's data as text; nothing when it is missing or not text.
    virtual std::optional<std::string> ReadString(Key key, const std::string& name) = 0;
    virtual void CloseKey(Key key) = 0;
};

// The port name inside a friendly name as the device-setup path reads it:
// `text` holds the required size of bytes, its terminating zero last. The
// part after the first "(" up to the first ")"; empty when there is no such
// part.
std::string PortFromFriendlyName(const std::string& text);

// One entry per present device that is a port: first every device of the
// "PORTS" setup class (DIGCF_PRESENT), in the order of its set, then every
// device exposing the COM-port interface (DIGCF_PRESENT |
// DIGCF_DEVICEINTERFACE) that is not listed yet, in the order of that set. A
// device is known by its instance identifier (letter case aside), so a port
// in both sets is listed once, where it was first found, while two devices
// with the same port name give two entries; a device whose identifier cannot
// be read is listed wherever it is found. An entry is the text inside the
// first parentheses of the friendly name (PortFromFriendlyName); a device
// whose friendly name cannot be read gives none. Throws PortEnumerationError
// when the class or either set cannot be had, listing nothing; each set is
// released whenever it was made.
std::vector<std::string> EnumeratePortsByClass(DeviceSetupApi& api);

// The values of "\hardware\devicemap\serialcomm", then the "PortName" values
// three levels below "\Enum" that begin with "COM" and are not listed yet.
std::vector<std::string> EnumeratePortsFromRegistry(Registry& registry);

// One level of the walk below "\Enum": path has no leading backslash
// ("Enum\Root"), depth counts from 1 at "Enum".
void SearchEnumKey(Registry& registry, const std::string& path, int depth,
                   std::vector<std::string>& ports);

}  // namespace winports
