// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Records the beeps and message boxes of the serial port, in order.

#include <string>
#include <vector>

#include "link/Notifier.h"

class RecordingNotifier : public Notifier {
public:
    struct Call {
        enum Kind { Beep, Message } kind;
        unsigned frequency = 0, duration = 0;
        std::string text;
    };
    void Beep(unsigned frequencyHz, unsigned durationMs) override {
        calls.push_back({Call::Beep, frequencyHz, durationMs, {}});
    }
    void ShowMessage(const std::string& text) override {
        calls.push_back({Call::Message, 0, 0, text});
    }
    std::vector<Call> calls;
};
