// SPDX-License-Identifier: GPL-3.0-or-later
// Port discovery: the Linux sysfs walk on a tree built in a temporary folder,
// and the Windows device-setup and registry walks over fakes of the API.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <stdlib.h>

#include "link/LinuxSerialPorts.h"
#include "link/PortDetails.h"
#include "link/PortEnumeration.h"
#include "link/WinPortDiscovery.h"

namespace fs = std::filesystem;
using Ports = std::vector<std::string>;

// ---------------------------------------------------------------- sysfs ----

// A sysfs look-alike: devices under devices/, drivers and buses under bus/,
// and the class/tty entries and device links as relative links, the way the
// kernel lays them out.
class FakeSysfs {
public:
    FakeSysfs() {
        std::string tmpl = (fs::temp_directory_path() / "kdx-sysfs-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        root_ = tmpl;
    }
    ~FakeSysfs() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    std::string root() const { return root_.string(); }

    // A device below devices/, bound to a driver when one is named.
    void device(const std::string& path, std::optional<std::string> driver,
                const std::string& bus = "platform") {
        const fs::path dev = root_ / "devices" / path;
        if (fs::is_symlink(dev / "subsystem")) return;  // made already
        fs::create_directories(dev);
        fs::create_directories(root_ / "bus" / bus);
        link(root_ / "bus" / bus, dev / "subsystem");
        if (driver) {
            const fs::path drv = root_ / "bus" / bus / "drivers" / *driver;
            fs::create_directories(drv);
            link(drv, dev / "driver");
        }
    }

    // The layout from kernel 6.5 on: the tty belongs to the serial core's
    // port device, below its controller device, below the hardware.
    std::string serialCorePort(const std::string& hardware, const std::string& port) {
        const std::string ctrl = hardware + "/" + port.substr(0, port.rfind('.'));
        device(ctrl, "ctrl", "serial-base");
        device(ctrl + "/" + port, "port", "serial-base");
        return ctrl + "/" + port;
    }

    void tty(const std::string& name, std::optional<std::string> devicePath,
             std::optional<std::string> type = {}, std::optional<std::string> uevent = {}) {
        const fs::path ttyDir =
            root_ / "devices" / (devicePath ? *devicePath : "virtual") / "tty" / name;
        fs::create_directories(ttyDir);
        fs::create_directories(root_ / "class" / "tty");
        link(ttyDir, root_ / "class" / "tty" / name);
        if (devicePath) link(root_ / "devices" / *devicePath, ttyDir / "device");
        if (type) std::ofstream(ttyDir / "type") << *type;
        if (uevent) std::ofstream(ttyDir / "uevent") << *uevent;
    }

    // A file of a device's attributes, such as idVendor.
    void attribute(const std::string& device, const std::string& name, const std::string& value) {
        std::ofstream(root_ / "devices" / device / name) << value;
    }

    // A device whose driver link points nowhere.
    void dangleDriver(const std::string& device) {
        const fs::path dev = root_ / "devices" / device;
        fs::remove(dev / "driver");
        fs::create_symlink("../../bus/platform/drivers/gone", dev / "driver");
    }

private:
    static void link(const fs::path& target, const fs::path& at) {
        fs::create_symlink(fs::relative(target, at.parent_path()), at);
    }
    fs::path root_;
};

TEST(LinuxSerialPorts, KeepsHardwarePortsInNaturalOrder) {
    FakeSysfs sys;
    sys.device("platform/serial8250", "serial8250");
    sys.tty("ttyS10", "platform/serial8250", "4\n");
    sys.tty("ttyS0", "platform/serial8250", "0\n");  // placeholder without a UART
    sys.tty("ttyS1", "platform/serial8250", "4\n");
    sys.tty("ttyS3", "platform/serial8250");          // no type to tell: left out
    sys.tty("ttyS2", "platform/serial8250", "16");
    sys.device("pci0/usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio", "usb-serial");
    sys.tty("ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0");
    sys.device("pci0/usb1/1-2/1-2:1.0", "cdc_acm", "usb");
    sys.tty("ttyACM0", "pci0/usb1/1-2/1-2:1.0");
    sys.device("platform/fe201000.serial", "uart-pl011", "amba");
    sys.tty("ttyAMA0", "platform/fe201000.serial", "0");  // the type matters only for 8250
    sys.tty("tty1", std::nullopt);                        // virtual console
    sys.tty("ptmx", std::nullopt);
    sys.tty("console", std::nullopt);
    sys.device("pci0/usb1/1-3/1-3:1.0/ttyUSB1", std::nullopt, "usb-serial");  // no driver
    sys.tty("ttyUSB1", "pci0/usb1/1-3/1-3:1.0/ttyUSB1");
    sys.device("pci0/usb1/1-4/1-4:1.0/ttyUSB2", "pl2303", "usb-serial");
    sys.dangleDriver("pci0/usb1/1-4/1-4:1.0/ttyUSB2");
    sys.tty("ttyUSB2", "pci0/usb1/1-4/1-4:1.0/ttyUSB2");

    EXPECT_EQ(listSysfsSerialPorts(sys.root()),
              (Ports{"ttyACM0", "ttyAMA0", "ttyS1", "ttyS2", "ttyS10", "ttyUSB0"}));
}

TEST(LinuxSerialPorts, SerialCorePortDevicesAreJudgedByTheHardwareAboveThem) {
    FakeSysfs sys;
    sys.device("platform/serial8250", "serial8250");
    sys.tty("ttyS1", sys.serialCorePort("platform/serial8250", "serial8250:0.1"), "0");
    sys.tty("ttyS2", sys.serialCorePort("platform/serial8250", "serial8250:0.2"), "4");
    sys.device("pnp0/00:00", "serial", "pnp");
    sys.tty("ttyS0", sys.serialCorePort("pnp0/00:00", "00:00:0.0"), "4");
    sys.device("pnp0/00:01", "serial", "pnp");
    sys.tty("ttyS5", sys.serialCorePort("pnp0/00:01", "00:01:0.0"), "0");  // not 8250's own
    EXPECT_EQ(listSysfsSerialPorts(sys.root()), (Ports{"ttyS0", "ttyS2", "ttyS5"}));
}

TEST(LinuxSerialPorts, PortNameIsTheNameUnderDev) {
    FakeSysfs sys;
    sys.device("platform/xr.0", "xr_serial");
    sys.tty("ttyXR0", "platform/xr.0", {}, "MAJOR=188\nMINOR=0\nDEVNAME=xr/0\n");
    sys.device("platform/q.1", "q_serial");
    sys.tty("usb!ttyQ1", "platform/q.1");  // sysfs writes '/' as '!'
    EXPECT_EQ(listSysfsSerialPorts(sys.root()), (Ports{"xr/0", "usb/ttyQ1"}));
}

TEST(LinuxSerialPorts, MissingTtyClassGivesNoPorts) {
    FakeSysfs sys;
    EXPECT_TRUE(listSysfsSerialPorts(sys.root()).empty());
    EXPECT_TRUE(listSysfsSerialPorts(sys.root() + "/nothing-here").empty());
}

TEST(LinuxSerialPorts, UnreadableTtyClassIsAnError) {
    FakeSysfs sys;
    fs::create_directories(fs::path(sys.root()) / "class");
    std::ofstream(fs::path(sys.root()) / "class" / "tty") << "not a folder";
    EXPECT_THROW(listSysfsSerialPorts(sys.root()), PortEnumerationError);
}

// kdx ports --long: the same ports in the same order, each with its driver
// and, for a USB adapter, what the nearest USB device above it reports.
TEST(LinuxSerialPorts, LongListingTellsAdaptersApart) {
    FakeSysfs sys;
    sys.device("pci0/usb1", "usb", "usb");  // the root hub: IDs of its own
    sys.attribute("pci0/usb1", "idVendor", "1d6b\n");
    sys.attribute("pci0/usb1", "idProduct", "0002\n");
    sys.device("pci0/usb1/1-1", "usb", "usb");
    for (auto [name, value] : {std::pair{"idVendor", "0403\n"}, {"idProduct", "6001\n"},
                               {"manufacturer", "FTDI\n"}, {"product", "FT232R USB UART\n"},
                               {"serial", "A50285BI\n"}})
        sys.attribute("pci0/usb1/1-1", name, value);
    sys.device("pci0/usb1/1-1/1-1:1.0", "ftdi_sio", "usb");
    sys.device("pci0/usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio", "usb-serial");
    sys.tty("ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0");
    sys.device("pci0/usb1/1-2", "usb", "usb");
    sys.attribute("pci0/usb1/1-2", "idVendor", "2341\n");
    sys.attribute("pci0/usb1/1-2", "idProduct", "0043");
    sys.attribute("pci0/usb1/1-2", "product", "Uno\tR3\x1b[2J\n");  // firmware's text, not ours
    sys.device("pci0/usb1/1-2/1-2:1.0", "cdc_acm", "usb");
    sys.tty("ttyACM0", "pci0/usb1/1-2/1-2:1.0");
    sys.device("platform/serial8250", "serial8250");
    sys.tty("ttyS1", "platform/serial8250", "4\n");
    sys.tty("ttyS0", "platform/serial8250", "0\n");  // no UART: not a port, as in the plain list

    std::vector<std::string> lines, names;
    for (const auto& port : describeSysfsSerialPorts(sys.root())) {
        lines.push_back(formatPortDetails(port));
        names.push_back(port.name);
    }
    EXPECT_EQ(names, listSysfsSerialPorts(sys.root()));
    EXPECT_EQ(lines, (std::vector<std::string>{"ttyACM0  cdc_acm  2341:0043 Uno?R3?[2J",
                                               "ttyS1  serial8250",
                                               "ttyUSB0  ftdi_sio  0403:6001 FTDI FT232R USB UART  A50285BI"}));
}

// Whatever the machine has; an entry may be empty on Windows (a friendly
// name without parentheses), so only the asking itself is checked here.
TEST(LinuxSerialPorts, ThisMachineCanBeAsked) { EXPECT_NO_THROW(EnumerateComPorts()); }

struct NaturalCase {
    const char* a;
    const char* b;
    bool less;
};

class NaturalOrder : public ::testing::TestWithParam<NaturalCase> {};

TEST_P(NaturalOrder, Compares) {
    const auto& c = GetParam();
    EXPECT_EQ(naturalNameLess(c.a, c.b), c.less) << c.a << " < " << c.b;
}

INSTANTIATE_TEST_SUITE_P(
    Names, NaturalOrder,
    ::testing::Values(NaturalCase{"ttyS2", "ttyS10", true}, NaturalCase{"ttyS10", "ttyS2", false},
                      NaturalCase{"ttyACM0", "ttyS2", true}, NaturalCase{"ttyS10", "ttyUSB0", true},
                      NaturalCase{"ttyS9", "ttyS10", true}, NaturalCase{"ttyS1", "ttyS1", false},
                      NaturalCase{"ttyS02", "ttyS2", true}, NaturalCase{"ttyS2", "ttyS02", false},
                      NaturalCase{"ttyS", "ttyS0", true},
                      NaturalCase{"ttyUSB100000000000000000001", "ttyUSB99999999999999999999", false}));

// ------------------------------------------------------------ Win9xMENT ----

struct VersionCase {
    uint32_t platformId, major;
    bool registry;
};

class Win9xMENTTable : public ::testing::TestWithParam<VersionCase> {};

TEST_P(Win9xMENTTable, ChoosesThePath) {
    const auto& c = GetParam();
    EXPECT_EQ(winports::Win9xMENT(c.platformId, c.major), c.registry)
        << "platform " << c.platformId << " major " << c.major;
}

INSTANTIATE_TEST_SUITE_P(Versions, Win9xMENTTable,
                         ::testing::Values(VersionCase{1, 4, true},   // the 9x family
                                           VersionCase{1, 5, true},
                                           VersionCase{2, 3, true},   // NT 3.x
                                           VersionCase{2, 4, true},   // NT 4
                                           VersionCase{2, 5, false},  // 2000, XP
                                           VersionCase{2, 6, false},
                                           VersionCase{2, 10, false},
                                           VersionCase{0, 0, true}));  // a failed query

// ------------------------------------------------------ device-setup path ----

// The two device sets of a machine; the fake checks that one set is made at a
// time and that each set made is released once.
class FakeSetupApi : public winports::DeviceSetupApi {
public:
    struct Device {
        std::optional<std::string> friendlyName;  // none: the property is missing
        bool sizeQuerySucceeds = false;
        bool fetchFails = false;
        std::optional<std::string> instanceId = {};  // none: cannot be read
    };
    using Set = winports::DeviceSet;

    bool ClassGuidsFromName(const std::string& className, uint32_t room,
                            uint32_t& requiredSize) override {
        askedClass = className;
        askedRoom = room;
        requiredSize = guidRequired;
        return guidOk;
    }
    bool GetClassDevs(Set set, uint32_t flags) override {
        EXPECT_FALSE(setOpen) << "a second set made before the first was released";
        asked.emplace_back(set, flags);
        if (failSet == set) return false;
        setOpen = true;
        walked = set == Set::PortsClass ? &devices : &interfaceDevices;
        return true;
    }
    bool EnumDeviceInfo(uint32_t index) override {
        if (throwAt && *throwAt == index) throw std::runtime_error("device set went away");
        if (index >= walked->size()) return false;
        current = index;
        return true;
    }
    SizeQuery QueryFriendlyNameSize() override {
        const Device& d = (*walked)[current];
        if (d.sizeQuerySucceeds) return {true, 0, 0};
        if (!d.friendlyName) return {false, 13, 0};  // ERROR_INVALID_DATA
        return {false, winports::kErrorInsufficientBuffer,
                static_cast<uint32_t>(d.friendlyName->size() + 1)};
    }
    std::optional<std::string> GetFriendlyName(uint32_t size) override {
        const Device& d = (*walked)[current];
        fetchSizes.push_back(size);
        if (d.fetchFails) return std::nullopt;
        std::string bytes = *d.friendlyName + '\0';
        bytes.resize(size);
        return bytes;
    }
    std::optional<std::string> DeviceInstanceId() override {
        return (*walked)[current].instanceId;
    }
    void DestroyDeviceInfoList() override {
        EXPECT_TRUE(setOpen) << "released a set that was never made";
        setOpen = false;
        ++destroyed;
    }

    bool guidOk = true;
    uint32_t guidRequired = 1;
    std::optional<Set> failSet;
    std::optional<uint32_t> throwAt;
    std::vector<Device> devices;           // the "PORTS" setup class
    std::vector<Device> interfaceDevices;  // the COM-port interface

    std::string askedClass;
    uint32_t askedRoom = 0;
    std::vector<std::pair<Set, uint32_t>> asked;
    std::vector<uint32_t> fetchSizes;
    bool setOpen = false;
    int destroyed = 0;
    const std::vector<Device>* walked = nullptr;
    uint32_t current = 0;
};

FakeSetupApi::Device named(const std::string& friendlyName,
                           std::optional<std::string> instanceId = {}) {
    return {friendlyName, false, false, std::move(instanceId)};
}

struct FriendlyCase {
    const char* friendlyName;
    const char* port;
};

class FriendlyNames : public ::testing::TestWithParam<FriendlyCase> {};

TEST_P(FriendlyNames, GiveThePortInsideTheFirstParentheses) {
    FakeSetupApi api;
    api.devices = {named(GetParam().friendlyName)};
    EXPECT_EQ(winports::EnumeratePortsByClass(api), Ports{GetParam().port});
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FriendlyNames,
    ::testing::Values(FriendlyCase{"Some Device (COM1)", "COM1"},
                      FriendlyCase{"Communications Port (COM12)", "COM12"},
                      FriendlyCase{"No parentheses", ""},
                      FriendlyCase{"USB Serial (Prolific) (COM7)", "Prolific"},
                      FriendlyCase{"Unclosed (COM3", ""}, FriendlyCase{"Reversed )COM3(", ""},
                      FriendlyCase{"Empty ()", ""}, FriendlyCase{"(COM4)", "COM4"},
                      FriendlyCase{"Half) open", "Half"},  // no "(": counts from the start
                      FriendlyCase{"", ""}));

TEST(PortsByClass, AsksForThePresentPortsClassThenThePresentComPortInterfaceAndReleasesEach) {
    FakeSetupApi api;
    api.devices = {named("Communications Port (COM1)"), named("ECP Printer Port (LPT1)")};
    EXPECT_EQ(winports::EnumeratePortsByClass(api), (Ports{"COM1", "LPT1"}));
    EXPECT_EQ(api.askedClass, "PORTS");
    EXPECT_EQ(api.askedRoom, 1u);
    // The setup class without DIGCF_DEVICEINTERFACE: with it (0x12) the
    // class identifier is taken as an interface class and finds no port.
    using Set = FakeSetupApi::Set;
    EXPECT_EQ(api.asked, (std::vector<std::pair<Set, uint32_t>>{
                             {Set::PortsClass, 0x02}, {Set::ComPortInterface, 0x12}}));
    // The name is fetched into exactly the size reported, its zero included.
    EXPECT_EQ(api.fetchSizes, (std::vector<uint32_t>{27, 24}));
    EXPECT_EQ(api.destroyed, 2);
}

TEST(PortsByClass, ADeviceInBothSetsIsListedOnceWhereItWasFirstFound) {
    FakeSetupApi api;
    api.devices = {named("Communications Port (COM7)", "ACPI\\PNP0501\\1"),
                   named("USB Serial Port (COM21)", "FTDIBUS\\VID_0403+PID_6001+A1\\0000")};
    api.interfaceDevices = {named("Virtual Serial Port (COM20)", "ROOT\\VSERIAL\\0000"),
                            named("USB Serial Port (COM21)", "ftdibus\\vid_0403+pid_6001+a1\\0000"),
                            named("Virtual Serial Port (COM22)", "ROOT\\VSERIAL\\0001")};
    EXPECT_EQ(winports::EnumeratePortsByClass(api), (Ports{"COM7", "COM21", "COM20", "COM22"}));
}

TEST(PortsByClass, DevicesAreToldApartByTheirInstanceNotByTheirPortName) {
    FakeSetupApi api;
    api.devices = {named("A (COM3)", "ROOT\\PORTS\\0000"), named("B (COM3)")};
    // Another device with the same port name is listed; so is one whose
    // identifier cannot be read, wherever it is found.
    api.interfaceDevices = {named("C (COM3)", "ROOT\\VSERIAL\\0000"), named("B (COM3)")};
    EXPECT_EQ(winports::EnumeratePortsByClass(api), (Ports{"COM3", "COM3", "COM3", "COM3"}));
}

TEST(PortsByClass, KeepsDuplicatesInDeviceOrder) {
    FakeSetupApi api;
    api.devices = {named("A (COM3)"), named("B (COM1)"), named("C (COM3)")};
    EXPECT_EQ(winports::EnumeratePortsByClass(api), (Ports{"COM3", "COM1", "COM3"}));
}

TEST(PortsByClass, SkipsDevicesWhoseNameCannotBeRead) {
    FakeSetupApi api;
    FakeSetupApi::Device querySucceeds{"X (COM8)", true, false};
    FakeSetupApi::Device noName{std::nullopt, false, false};
    FakeSetupApi::Device fetchFails{"Y (COM9)", false, true};
    api.devices = {querySucceeds, named("A (COM2)"), noName, fetchFails, named("B (COM5)")};
    api.interfaceDevices = {noName, named("C (COM6)")};
    EXPECT_EQ(winports::EnumeratePortsByClass(api), (Ports{"COM2", "COM5", "COM6"}));
    EXPECT_EQ(api.destroyed, 2);
}

TEST(PortsByClass, NoDevicesGiveAnEmptyList) {
    FakeSetupApi api;
    EXPECT_TRUE(winports::EnumeratePortsByClass(api).empty());
    EXPECT_EQ(api.destroyed, 2);
}

TEST(PortsByClass, ClassLookupFailureTellsTheRequiredSize) {
    FakeSetupApi api;
    api.guidOk = false;
    api.guidRequired = 2;
    api.devices = {named("A (COM1)")};
    try {
        winports::EnumeratePortsByClass(api);
        FAIL() << "no error";
    } catch (const PortEnumerationError& e) {
        EXPECT_STREQ(e.what(), "Failed to retrieve Ports GUID!  Required PortsGUID array size is: 2");
    }
    EXPECT_TRUE(api.asked.empty());
    EXPECT_EQ(api.destroyed, 0);
}

TEST(PortsByClass, DeviceSetFailure) {
    FakeSetupApi api;
    api.failSet = FakeSetupApi::Set::PortsClass;
    try {
        winports::EnumeratePortsByClass(api);
        FAIL() << "no error";
    } catch (const PortEnumerationError& e) {
        EXPECT_STREQ(e.what(), "Could not create device info list!");
    }
    EXPECT_EQ(api.asked.size(), 1u);
    EXPECT_EQ(api.destroyed, 0);  // there is no set to release
}

TEST(PortsByClass, InterfaceSetFailureIsTheSameErrorAfterTheClassSetIsReleased) {
    FakeSetupApi api;
    api.devices = {named("A (COM1)")};
    api.failSet = FakeSetupApi::Set::ComPortInterface;
    try {
        winports::EnumeratePortsByClass(api);
        FAIL() << "no error";
    } catch (const PortEnumerationError& e) {
        EXPECT_STREQ(e.what(), "Could not create device info list!");
    }
    EXPECT_EQ(api.destroyed, 1);
}

TEST(PortsByClass, ReleasesTheSetWhenAnErrorEndsTheWalk) {
    FakeSetupApi api;
    api.devices = {named("A (COM1)"), named("B (COM2)")};
    api.throwAt = 1;
    EXPECT_THROW(winports::EnumeratePortsByClass(api), std::runtime_error);
    EXPECT_EQ(api.destroyed, 1);
}

// ---------------------------------------------------------- registry path ----

// HKEY_LOCAL_MACHINE in memory. Key paths compare without letter case; the
// fake checks that every key opened is closed once.
class FakeRegistry : public winports::Registry {
public:
    FakeRegistry() { nodes_[""]; }
    ~FakeRegistry() override {
        EXPECT_TRUE(open_.empty()) << open_.size() << " keys left open";
    }

    void value(const std::string& path, const std::string& name, std::optional<std::string> data) {
        node(path).values.emplace_back(name, std::move(data));
    }
    void key(const std::string& path) { node(path); }
    void lock(const std::string& path) { node(path).openable = false; }

    std::optional<Key> OpenKey(const std::string& path) override {
        ++opens;
        auto it = nodes_.find(normal(path));
        if (it == nodes_.end() || !it->second.openable) return std::nullopt;
        const Key k = next_++;
        open_[k] = it->first;
        openedPaths.push_back(it->first);
        return k;
    }
    std::vector<std::string> ValueNames(Key key) override {
        std::vector<std::string> names;
        for (const auto& [n, d] : at(key).values) names.push_back(n);
        return names;
    }
    std::vector<std::string> SubkeyNames(Key key) override { return at(key).subkeys; }
    bool ValueExists(Key key, const std::string& name) override { return find(key, name) != nullptr; }
    std::optional<std::string> ReadString(Key key, const std::string& name) override {
        const auto* v = find(key, name);
        return v ? *v : std::nullopt;
    }
    void CloseKey(Key key) override {
        EXPECT_EQ(open_.erase(key), 1u) << "closed a key that is not open";
    }

    int opens = 0;
    std::vector<std::string> openedPaths;

private:
    struct Node {
        std::vector<std::pair<std::string, std::optional<std::string>>> values;
        std::vector<std::string> subkeys;  // in the order added
        bool openable = true;
    };

    static std::string normal(std::string path) {
        while (!path.empty() && path.front() == '\\') path.erase(0, 1);
        for (auto& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return path;
    }
    Node& node(std::string path) {
        while (!path.empty() && path.front() == '\\') path.erase(0, 1);
        const std::string n = normal(path);
        if (auto it = nodes_.find(n); it != nodes_.end()) return it->second;
        const auto slash = path.rfind('\\');
        if (slash == std::string::npos) {
            node("").subkeys.push_back(path);
        } else {
            node(path.substr(0, slash)).subkeys.push_back(path.substr(slash + 1));
        }
        return nodes_[n];
    }
    Node& at(Key key) {
        EXPECT_TRUE(open_.count(key)) << "key used while not open";
        return nodes_[open_[key]];
    }
    const std::optional<std::string>* find(Key key, const std::string& name) {
        for (const auto& [n, d] : at(key).values)
            if (n == name) return &d;
        return nullptr;
    }

    std::map<std::string, Node> nodes_;
    std::map<Key, std::string> open_;
    Key next_ = 1;
};

const char* const kSerialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

TEST(PortsFromRegistry, SerialCommValuesGiveTheirData) {
    FakeRegistry reg;
    reg.value(kSerialComm, "\\Device\\Serial0", "COM1");
    reg.value(kSerialComm, "\\Device\\Serial1", "com3");
    reg.value(kSerialComm, "Modem", "Weird");  // taken as it is
    EXPECT_EQ(winports::EnumeratePortsFromRegistry(reg), (Ports{"COM1", "com3", "Weird"}));
}

TEST(PortsFromRegistry, SerialCommValueThatIsNotTextIsLeftOut) {
    FakeRegistry reg;
    reg.value(kSerialComm, "\\Device\\Serial0", std::nullopt);
    reg.value(kSerialComm, "\\Device\\Serial1", "COM2");
    EXPECT_EQ(winports::EnumeratePortsFromRegistry(reg), Ports{"COM2"});
}

TEST(PortsFromRegistry, EnumWalkAddsComPortNamesThreeLevelsDown) {
    FakeRegistry reg;
    reg.value(kSerialComm, "\\Device\\Serial0", "com3");
    reg.value("Enum\\Root\\*PNP0501\\0000", "PortName", "COM3");   // already listed as com3
    reg.value("Enum\\ACPI\\PNP0501\\1", "PortName", "COM4");
    reg.value("Enum\\ACPI\\PNP0501\\2", "PortName", "COM");        // nothing after COM
    reg.value("Enum\\ACPI\\PNP0501\\3", "PortName", "com5");       // small letters
    reg.value("Enum\\ACPI\\PNP0501\\4", "PortName", "LPT1");
    reg.value("Enum\\ACPI\\PNP0501\\5", "PortName", "COM4");       // listed just before
    reg.value("Enum\\ACPI\\PNP0501\\6", "FriendlyName", "COM6");   // not PortName
    reg.value("Enum\\ACPI\\PNP0501\\7", "PortName", std::nullopt);  // not text
    reg.value("Enum\\BIOS\\Serial", "PortName", "COM8");            // two levels: not looked at
    reg.value("Enum\\USB\\VID_1\\Inst\\Deeper", "PortName", "COM9");  // four levels
    reg.value("Enum\\USB\\VID_2\\Inst", "PortName", "COM10");
    reg.value("Enum\\Locked\\Dev\\0", "PortName", "COM11");
    reg.lock("Enum\\Locked");
    reg.value("Enum\\USB\\VID_3\\Locked", "PortName", "COM12");
    reg.lock("Enum\\USB\\VID_3\\Locked");
    reg.value("Enum\\USB\\VID_3\\Open", "PortName", "COM13");
    EXPECT_EQ(winports::EnumeratePortsFromRegistry(reg), (Ports{"com3", "COM4", "COM10", "COM13"}));
}

TEST(PortsFromRegistry, EitherSourceMayBeMissing) {
    {
        FakeRegistry reg;
        reg.value("Enum\\ACPI\\PNP0501\\1", "PortName", "COM4");
        EXPECT_EQ(winports::EnumeratePortsFromRegistry(reg), Ports{"COM4"});
    }
    {
        FakeRegistry reg;
        reg.value(kSerialComm, "\\Device\\Serial0", "COM1");
        EXPECT_EQ(winports::EnumeratePortsFromRegistry(reg), Ports{"COM1"});
    }
    {
        FakeRegistry reg;
        EXPECT_TRUE(winports::EnumeratePortsFromRegistry(reg).empty());
        reg.key("Enum");
        EXPECT_TRUE(winports::EnumeratePortsFromRegistry(reg).empty());
    }
}

TEST(PortsFromRegistry, WalkOpensEachKeyByItsFullPath) {
    FakeRegistry reg;
    reg.value("Enum\\ACPI\\PNP0501\\1", "PortName", "COM4");
    EXPECT_EQ(winports::EnumeratePortsFromRegistry(reg), Ports{"COM4"});
    // Enum by the caller and by the walk, then each level by the parent's
    // loop and again by the walk one level down.
    EXPECT_EQ(reg.openedPaths, (std::vector<std::string>{"enum", "enum", "enum\\acpi", "enum\\acpi",
                                                         "enum\\acpi\\pnp0501", "enum\\acpi\\pnp0501",
                                                         "enum\\acpi\\pnp0501\\1"}));
}
