// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How the serial port tells the user that a port cannot be opened or set up:
// a 1000 Hz, 75 ms beep, then a modal message box. The window supplies the
// real one; tests record the calls.

#include <string>

class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void Beep(unsigned frequencyHz, unsigned durationMs) = 0;
    // Modal; returns when the user has closed the box.
    virtual void ShowMessage(const std::string& text) = 0;
};

// Writes the message to standard error and rings the terminal bell; for
// programs without a window.
class ConsoleNotifier : public Notifier {
public:
    void Beep(unsigned frequencyHz, unsigned durationMs) override;
    void ShowMessage(const std::string& text) override;
};
