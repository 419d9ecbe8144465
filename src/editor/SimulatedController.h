// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simulated controller of the port submenu: the controller simulator on
// a thread of its own at the far end of a pseudo-terminal pair that the
// program makes, so that the port selection, the serial port object and the
// command set work on it exactly as on a real port. Where the system has no
// pseudo-terminals there is none (simulated_controller_posix.cpp,
// simulated_controller_win.cpp).

#include <array>
#include <memory>
#include <optional>
#include <string>

namespace sim {
class ControllerSimulator;
}

// The entry's caption in "Select Comm Port", and the name kdx takes for it.
inline constexpr const char* kSimulatedControllerCaption = "Simulated controller";
inline constexpr const char* kSimulatedControllerPortName = "sim";

// True where a simulated controller can be made.
bool simulatedControllerAvailable();

// Makes the pair and starts serving it. Null, with the reason, when that
// cannot be done.
std::shared_ptr<sim::ControllerSimulator> startSimulatedController(std::string& reason);

// Its port name, for the serial port object.
std::string simulatedControllerPortName(const sim::ControllerSimulator& simulator);
// Ends its thread and closes its pair; its last state stays readable.
void stopSimulatedController(sim::ControllerSimulator& simulator);
// Where each of the 32 servos is at the moment of the call, in
// microseconds, once the simulator has taken what is still on its way over
// the line; nothing for a servo never commanded.
std::array<std::optional<long>, 32> simulatedServoPulses(const sim::ControllerSimulator& simulator);
