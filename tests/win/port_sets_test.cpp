// SPDX-License-Identifier: GPL-3.0-or-later
// What the device-setup calls find on a machine whose registry holds its
// ports as Windows 10 holds them (scripts/windows-test seeds Wine so and sets
// KDX_TEST_PORTS_SEEDED; without it the tests are skipped): why the port list
// asks for the Ports setup class without DIGCF_DEVICEINTERFACE, and why it
// adds the devices that expose the COM-port interface.

#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// GUID_DEVINTERFACE_COMPORT.
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

using Devices = std::vector<std::string>;

// The instance identifiers of the set SetupDiGetClassDevsA(guid, flags) makes.
Devices devicesOf(const GUID& guid, DWORD flags) {
    Devices found;
    const HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, flags);
    EXPECT_NE(set, INVALID_HANDLE_VALUE);
    if (set == INVALID_HANDLE_VALUE) return found;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        char id[256] = {};
        EXPECT_TRUE(SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr));
        found.emplace_back(id);
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

bool holds(const Devices& devices, const std::string& id) {
    return std::find(devices.begin(), devices.end(), id) != devices.end();
}

class SeededPorts : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("KDX_TEST_PORTS_SEEDED")) GTEST_SKIP() << "KDX_TEST_PORTS_SEEDED is not set";
        DWORD required = 0;
        ASSERT_TRUE(SetupDiClassGuidsFromNameA("PORTS", &portsClass, 1, &required));
        classDevices = devicesOf(portsClass, DIGCF_PRESENT);
        ASSERT_FALSE(classDevices.empty()) << "no Ports-class device seeded";
    }
    GUID portsClass{};
    Devices classDevices;
};

TEST_F(SeededPorts, ThePortsClassAskedForAsAnInterfaceClassFindsNoneOfItsDevices) {
    // Flags 0x12: the class identifier is taken as an interface class.
    for (const auto& id : devicesOf(portsClass, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE))
        EXPECT_FALSE(holds(classDevices, id)) << id;
}

TEST_F(SeededPorts, TheComPortInterfaceFindsPortsOutsideThePortsClass) {
    const Devices exposing = devicesOf(kComPortInterface, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_TRUE(std::any_of(exposing.begin(), exposing.end(),
                            [this](const std::string& id) { return !holds(classDevices, id); }));
}

}  // namespace
