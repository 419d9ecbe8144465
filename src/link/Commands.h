// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every byte the application sends to the controller, and the one reply it
// reads: the position command, the version query and the download stream.

#include <array>
#include <cstdint>
#include <vector>

#include "sequence/Sequence.h"

class TSerial;
class StatusDisplay;

// The eight bytes "!SC", channel, rate, pulse low, pulse high, CR, where the
// pulse is (position + offset) / 2 truncated toward zero.
std::array<uint8_t, 8> encodePositionCommand(int channel, int32_t rate, int32_t position,
                                             int32_t offset);

// Drain, the eight bytes each with a 150 ms write time-out, Drain. Results
// of the sends are not looked at.
void sendPositionCommand(TSerial& port, int channel, int32_t rate, int32_t position,
                         int32_t offset);

// "KDX", the first four stamp bytes, then for each used frame 0..63 "F", f and
// six bytes per changed channel (c, rate, position high, low, pause high, low).
std::vector<uint8_t> buildDownloadStream(const Sequence& sequence,
                                         const std::array<uint8_t, 5>& versionStamp);

// Drain, then every byte of the stream with a 150 ms write time-out.
void sendDownloadStream(TSerial& port, const Sequence& sequence,
                        const std::array<uint8_t, 5>& versionStamp);

// The version query: probes the controller, sends "!SCVER?" CR and shows
// "      Version: " with reply bytes 8..10 (or the failure texts) in the
// status field. Returns true when the probe was answered.
bool runVersionQuery(TSerial& port, int32_t portStatus, StatusDisplay& status);
