// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every byte the application sends to the controller, and the one reply it
// reads: the position command, the version query and the download stream.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sequence/Sequence.h"

class TSerial;
class StatusDisplay;

// The line to the controller: 2400 baud, ten bits a byte on the wire (a
// start bit, eight data bits, a stop bit).
inline constexpr uint32_t kLineBaud = 2400;
inline constexpr uint32_t kLineBitsPerByte = 10;
// A byte's time on the wire, 4166.7 us, in whole microseconds rounded up
// (4167 us): a time reckoned from it never comes before the wire is done.
// The player's pace and the timeline of a show are both built on it.
inline constexpr uint64_t kByteWireUs = (kLineBitsPerByte * 1000000 + kLineBaud - 1) / kLineBaud;

inline constexpr size_t kPositionCommandBytes = 8;
// A position command's time on the wire: 33.336 ms.
inline constexpr uint64_t kPositionCommandWireUs = kPositionCommandBytes * kByteWireUs;

// The eight bytes "!SC", channel, rate, pulse low, pulse high, CR, where the
// pulse is (position + offset) / 2 truncated toward zero.
std::array<uint8_t, kPositionCommandBytes> encodePositionCommand(int channel, int32_t rate, int32_t position,
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
