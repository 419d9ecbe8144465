// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Splits the byte stream that reaches the controller into messages: position
// commands, the version query, download streams and probe bytes. Whatever
// fits none of them is reported as unknown bytes. Not thread-safe; the
// simulator's thread owns it.

#include <cstdint>
#include <vector>

#include "sim/ControllerSimulator.h"

namespace sim {

class Decoder {
public:
    // Takes one byte that arrived at tMs; appends the messages it completes.
    void feed(uint8_t byte, double tMs, std::vector<Event>& out);
    // The line has been quiet for the idle gap: a download stream ends here
    // (it has no terminator) and a message cut short becomes unknown bytes.
    void flush(std::vector<Event>& out);
    // True while bytes are held back waiting for more bytes or for the gap.
    bool pending() const { return state_ != State::Idle || !unknown_.empty(); }
    double lastByteMs() const { return lastMs_; }

private:
    enum class State { Idle, Command, Header, Stamp, FrameMarker, FrameNumber, RecordStart, Record };

    void start(uint8_t byte, double tMs, std::vector<Event>& out);
    void mismatch(std::vector<Event>& out);
    void endDownload(std::vector<Event>& out);
    void addUnknown(uint8_t byte, double tMs, std::vector<Event>& out);
    void flushUnknown(std::vector<Event>& out);

    State state_ = State::Idle;
    std::vector<uint8_t> msg_;  // bytes of the message being collected
    double lastMs_ = 0;

    DownloadMessage download_;
    size_t downloadComplete_ = 0;  // bytes of msg_ up to the last whole record
    double downloadLastMs_ = 0;
    std::vector<uint8_t> record_;

    std::vector<uint8_t> unknown_;
    double unknownMs_ = 0;
};

}  // namespace sim
