// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/PortDetails.h"

namespace {

// A USB device's strings are whatever its firmware says; keep them to one
// printable line.
std::string printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7F) ? '?' : c;
    }
    return out;
}

void appendField(std::string& line, const std::string& field) {
    if (field.empty()) return;
    line += "  ";
    line += field;
}

}  // namespace

std::string formatPortDetails(const PortDetails& port) {
    std::string line = port.name;
    appendField(line, printable(port.driver));
    std::string usb;
    if (!port.vendorId.empty())
        usb = printable(port.vendorId) + ":" + printable(port.productId);
    for (const std::string* name : {&port.manufacturer, &port.product}) {
        if (name->empty()) continue;
        if (!usb.empty()) usb += ' ';
        usb += printable(*name);
    }
    appendField(line, usb);
    appendField(line, printable(port.serial));
    return line;
}
