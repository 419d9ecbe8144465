#include "editor/SimulatedController.h"

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

void stopSimulatedController(sim::ControllerSimulator& simulator) { simulator.stop(); }
