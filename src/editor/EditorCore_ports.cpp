// SPDX-License-Identifier: GPL-3.0-or-later
// The "Select Comm Port" submenu: filling it at start-up and opening the
// port of a clicked entry.

#include "editor/EditorCore.h"
#include "editor/SimulatedController.h"
#include "link/PortEnumeration.h"

void EditorCore::UpdatePortDirectiveList() {
    std::vector<std::string> ports;
    try {
        ports = ports_();
    } catch (const PortEnumerationError& e) {
        // The submenu stays empty and start-up goes on.
        view_.setPortMenu({});
        view_.showErrorBox(e.what());
        return;
    }
    // No ports: an empty submenu, and nothing to tell the user.
    view_.setPortMenu(ports);
}

void EditorCore::ComPortComboClick(const std::string& caption) {
    // Every status is repainted at once: the waits handle no window events.
    Delay(500);
    if (state_.portStatus != -1) {
        view_.ShowStatus("   Closing old Port", kYellow, true);
        serialPort_.Close();
        Delay(500);
    }
    // A real port takes the place of the simulated controller.
    if (simulator_ && caption != simulatedControllerPortName(*simulator_)) releaseSimulator();
    view_.ShowStatus(" Opening Comm Port", kAqua, true);
    Delay(500);
    if (openPort(caption)) view_.ShowStatus("  Comm Port Open", kLime, true);
    // A failed open has beeped and shown its message; the status stays.
}

bool EditorCore::openPort(const std::string& name, bool reportFailure) {
    if (!serialPort_.Open(name, "2400", "None", "8", reportFailure)) return false;
    schedule_.forgetLine();  // its sends may take another time
    ++state_.portStatus;
    lostPortName_.clear();
    return true;
}

bool EditorCore::simulatorAvailable() const { return simulatedControllerAvailable(); }

void EditorCore::SimulatedControllerClick() {
    if (!simulator_) {
        std::string reason;
        simulator_ = startSimulatedController(reason);
        if (!simulator_) {
            // Nothing was closed or waited for: the port stays as it was.
            view_.showErrorBox("The simulated controller could not start: " + reason + ".");
            return;
        }
    }
    ComPortComboClick(simulatedControllerPortName(*simulator_));
    if (!simulatorChosen()) releaseSimulator();
}

bool EditorCore::simulatorChosen() const {
    return simulator_ && serialPort_.isOpen() && serialPort_.portName() == simulatedControllerPortName(*simulator_);
}

void EditorCore::releaseSimulator() {
    if (!simulator_) return;
    stopSimulatedController(*simulator_);
    simulator_.reset();
}
