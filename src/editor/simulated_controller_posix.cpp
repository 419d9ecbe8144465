// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/SimulatedController.h"

#include <chrono>
#include <cmath>

#include "sim/ControllerSimulator.h"

namespace {
// What a display of the controller lists; the simulator keeps no more.
constexpr size_t kRecentMessages = 200;
constexpr size_t kRecentBytes = 4096;
}  // namespace

bool simulatedControllerAvailable() { return true; }

std::shared_ptr<sim::ControllerSimulator> startSimulatedController(std::string& reason) {
    sim::Options options;
    options.historyEvents = kRecentMessages;
    options.historyBytes = kRecentBytes;
    auto simulator = std::make_shared<sim::ControllerSimulator>(options);
    if (!simulator->start()) {
        reason = simulator->error();
        return nullptr;
    }
    return simulator;
}

std::string simulatedControllerPortName(const sim::ControllerSimulator& simulator) {
    return simulator.portName();
}

void stopSimulatedController(sim::ControllerSimulator& simulator) {
    simulator.stop();
    simulator.vanish();  // once stopped: only closes the pair
}

std::array<std::optional<long>, 32> simulatedServoPulses(const sim::ControllerSimulator& simulator) {
    const double atMs = simulator.nowMs();
    // The last bytes written may still be on their way: wait until the line
    // has been quiet a moment (at most a few seconds for one that keeps
    // talking). The servos are then read as they were at atMs.
    constexpr auto kQuiet = std::chrono::milliseconds(100);
    for (int i = 0; i < 50; ++i)
        if (!simulator.waitForBytes(simulator.receivedCount() + 1, kQuiet)) break;
    std::array<std::optional<long>, 32> pulses;
    for (int c = 0; c < sim::kServoCount; ++c) {
        const sim::ServoState servo = simulator.servoAt(c, atMs);
        if (servo.commanded) pulses[static_cast<size_t>(c)] = std::lround(servo.currentPulse * 2);
    }
    return pulses;
}
