// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/Commands.h"

#include <cstring>
#include <string>

#include "link/StatusDisplay.h"
#include "link/TSerial.h"

namespace {

constexpr int kDrainCount = 0;  // discard everything received so far
constexpr int kDrainTimeoutMs = 100;
constexpr int kByteTimeoutMs = 150;
constexpr int kQueryEndTimeoutMs = 125;
constexpr int kDownloadFrames = 64;  // frames 64..127 never go to the controller

}  // namespace

std::array<uint8_t, kPositionCommandBytes> encodePositionCommand(int channel, int32_t rate, int32_t position,
                                                                 int32_t offset) {
    // Units of 2 us; C++ division truncates toward zero as the controller
    // expects. Summed in 64 bits: a file may hold any 32-bit value, and only
    // the low 16 bits of the pulse go on the wire.
    const auto pulse =
        static_cast<uint16_t>((static_cast<int64_t>(position) + static_cast<int64_t>(offset)) / 2);
    return {0x21,
            0x53,
            0x43,
            static_cast<uint8_t>(channel),
            static_cast<uint8_t>(rate),
            static_cast<uint8_t>(pulse & 0xFF),
            static_cast<uint8_t>(pulse >> 8),
            0x0D};
}

void sendPositionCommand(TSerial& port, int channel, int32_t rate, int32_t position,
                         int32_t offset) {
    port.Drain(kDrainCount, kDrainTimeoutMs);
    for (uint8_t b : encodePositionCommand(channel, rate, position, offset))
        port.SendByte(b, kByteTimeoutMs);  // a lost byte goes unreported
    port.Drain(kDrainCount, kDrainTimeoutMs);
}

std::vector<uint8_t> buildDownloadStream(const Sequence& sequence,
                                         const std::array<uint8_t, 5>& versionStamp) {
    std::vector<uint8_t> out{'K', 'D', 'X', versionStamp[0], versionStamp[1], versionStamp[2],
                             versionStamp[3]};
    for (int f = 0; f < kDownloadFrames; ++f) {
        const Frame& frame = sequence.frame(f);
        if (!frame.frameUsed) continue;
        out.push_back('F');
        out.push_back(static_cast<uint8_t>(f));
        for (int c = 0; c < kChannelCount; ++c) {
            const ChannelSetting& s = frame.channels[c];
            if (!s.changed) continue;
            // Microseconds as stored, high byte first; the offset is not part of it.
            out.push_back(static_cast<uint8_t>(c));
            out.push_back(static_cast<uint8_t>(s.rate));
            out.push_back(static_cast<uint8_t>(s.position / 256));
            out.push_back(static_cast<uint8_t>(s.position % 256));
            out.push_back(static_cast<uint8_t>(s.pause / 256));
            out.push_back(static_cast<uint8_t>(s.pause % 256));
        }
    }
    return out;
}

void sendDownloadStream(TSerial& port, const Sequence& sequence,
                        const std::array<uint8_t, 5>& versionStamp) {
    port.Drain(kDrainCount, kDrainTimeoutMs);
    for (uint8_t b : buildDownloadStream(sequence, versionStamp)) port.SendByte(b, kByteTimeoutMs);
}

bool runVersionQuery(TSerial& port, int32_t portStatus, StatusDisplay& status) {
    uint8_t reply[13];
    std::memset(reply, '.', sizeof reply);

    if (portStatus == -1) {
        status.ShowStatus("    Choose port", std::nullopt, false);
        return false;
    }
    // Painted now: the waits below handle no window events.
    status.ShowStatus("         Searching", kAqua, true);
    port.Delay(500);
    if (!port.Probe()) {
        status.ShowStatus("    KDX not found ", std::nullopt, true);
        return false;
    }
    port.SendString("!SCVER?");
    port.SendByte(0x0D, kQueryEndTimeoutMs);
    port.Delay(500);
    // The line returns the eight query bytes first; the version follows.
    port.Read(reply, 11);

    char text[20] = "      Version: ";  // the rest of the array is zero
    text[15] = static_cast<char>(reply[8]);
    text[16] = static_cast<char>(reply[9]);
    text[17] = static_cast<char>(reply[10]);
    status.ShowStatus(std::string(text), kLime, false);  // up to the first zero byte
    return true;
}
