// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the platform knows about each communication port, so that a user can
// tell two adapters apart: the driver and, for USB adapters, the IDs, names
// and serial number the device reports. One implementation per platform,
// chosen by file (port_details_linux.cpp, port_details_win.cpp).

#include <string>
#include <vector>

struct PortDetails {
    std::string name;    // as EnumerateComPorts gives it
    std::string driver;  // empty when unknown
    // USB adapters only; empty otherwise.
    std::string vendorId, productId;  // four hexadecimal digits each
    std::string manufacturer, product, serial;
};

// The ports of EnumerateComPorts, in the same order, with their details.
// Throws PortEnumerationError as EnumerateComPorts does.
std::vector<PortDetails> DescribeComPorts();

// One line: name, driver, "VID:PID MANUFACTURER PRODUCT", serial number,
// separated by two blanks; unknown parts are left out. Texts that come from
// the device are printed with control characters replaced by '?'.
std::string formatPortDetails(const PortDetails& port);

// Linux: the ports that sysfs below sysfsRoot knows of (as
// listSysfsSerialPorts finds them), with the details sysfs has.
std::vector<PortDetails> describeSysfsSerialPorts(const std::string& sysfsRoot);
