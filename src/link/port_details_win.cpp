// SPDX-License-Identifier: GPL-3.0-or-later
// Windows: the port list says no more than the names.

#include "link/PortDetails.h"
#include "link/PortEnumeration.h"

std::vector<PortDetails> DescribeComPorts() {
    std::vector<PortDetails> result;
    for (auto& name : EnumerateComPorts()) {
        PortDetails port;
        port.name = std::move(name);
        result.push_back(std::move(port));
    }
    return result;
}
