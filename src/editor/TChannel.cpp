// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/TChannel.h"

#include <algorithm>
#include <cstdint>

TChannel::TChannel(int channel)
    : GroupBox("Ch "),
      Track(500, 2500, 1500, 2, 2),
      OffsetTrack(-50, 50, 0, 1, 2),
      PositionEdit(500, 2500, 2, 1500),
      RateEdit(0, 63, 1, 0),
      PauseEdit(0, 65535, 1, 0),
      StaticTextOff{"Offset", 22, 128, 32, 17},
      StaticTextMax{"2500", 40, 20, 28, 17},
      StaticTextCtr{"1500", 40, 66, 28, 17},
      StaticTextMin{"500", 46, 111, 22, 17},
      channel_(channel) {}

int TChannel::trackFor(int32_t position) const {
    // Computed wide: a typed value may be any 32-bit number.
    const int64_t p = int64_t{Track.maximum()} - (int64_t{position} - PositionEdit.minimum());
    return static_cast<int>(std::clamp<int64_t>(p, Track.minimum(), Track.maximum()));
}

int TChannel::layoutLeft(int channel) {
    const int column = (channel % 16) / 2;
    return (kGroupBox.width + 7) * column + 7;
}

int TChannel::layoutTop(int channel) { return channel % 2 == 0 ? 10 : 290; }
