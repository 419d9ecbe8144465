// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the editor core needs of the main window: the status field, the two
// labels, the transport and edit buttons, message boxes, the file dialogs,
// the port submenu, processing pending events, drawing at once and ending
// the application.
// The Qt window implements it; tests use a recording fake.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/StatusDisplay.h"

enum class ViewButton { Play, Pause, Stop, Write, Insert, Delete };

class MainWindowView : public StatusDisplay {
public:
    virtual void setFrameLabel(const std::string& text) = 0;  // Label1
    virtual void setJumpLabel(const std::string& text) = 0;   // Label2
    virtual void setButtonEnabled(ViewButton button, bool enabled) = 0;

    // Modal boxes captioned with the application title.
    virtual void showErrorBox(const std::string& text) = 0;
    virtual void showWarningBox(const std::string& text) = 0;

    // The sequence file dialogs, each kept for the whole run and proposing
    // the last name chosen in it. The chosen path, or nothing when cancelled.
    virtual std::optional<std::string> askOpenFileName() = 0;
    virtual std::optional<std::string> askSaveFileName() = 0;

    // Replaces the entries of the "Select Comm Port" submenu.
    virtual void setPortMenu(const std::vector<std::string>& portNames) = 0;

    // Handles every pending window event, then returns. Handlers of the
    // window may run inside this call.
    virtual void processPendingEvents() = 0;

    // Ends the event loop once the current event is done.
    virtual void quitApplication() = 0;

    // Draws every change made so far at once, without handling events: the
    // caller goes on with busy waits that handle none. A view that draws
    // nothing need not implement it.
    virtual void repaintNow() {}

    // While the player waits: redraws what shows motion (the servo view)
    // without handling events, and says in how many milliseconds it wants
    // to again; 0 when nothing is to be drawn, and the wait sleeps through.
    virtual uint32_t redrawWhileWaiting() { return 0; }
};
