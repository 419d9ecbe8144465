// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/SimulatedController.h"

// No pseudo-terminals here: the submenu leaves the entry out.
bool simulatedControllerAvailable() { return false; }

std::shared_ptr<sim::ControllerSimulator> startSimulatedController(std::string& reason) {
    reason = "this system has no pseudo-terminals";
    return nullptr;
}

std::string simulatedControllerPortName(const sim::ControllerSimulator&) { return {}; }

void stopSimulatedController(sim::ControllerSimulator&) {}

std::array<std::optional<long>, 32> simulatedServoPulses(const sim::ControllerSimulator&) { return {}; }
