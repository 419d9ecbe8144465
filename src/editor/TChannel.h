// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One channel's strip of controls: the position slider (inverted axis) and
// box, the offset slider, the rate and pause boxes, four clickable texts and
// changedMark, the strip's copy of the shown frame's changed flag.

#include <cstdint>
#include <string>

#include "editor/ControlModels.h"

// A clickable text of the strip; it never takes the focus.
struct StaticTextModel {
    std::string caption;
    int left, top, width, height;
};

struct ControlGeometry {
    int left, top, width, height;
};

class TChannel {
public:
    explicit TChannel(int channel);
    TChannel(const TChannel&) = delete;
    TChannel& operator=(const TChannel&) = delete;

    int channel() const { return channel_; }  // the tag of every control
    // The slider position that shows a position value: the slider runs
    // against the box (p stands for 3000 - p), held to the slider's range. A
    // typed value may be any 32-bit number.
    int trackFor(int32_t position) const;

    // The fields, in the order of creation and keyboard focus.
    std::string GroupBox;             // caption, "Ch N" once laid out
    SliderModel Track;                // 500..2500, 500 at the top end
    SliderModel OffsetTrack;          // -50..50
    NumberBoxModel PositionEdit;      // 500..2500 step 2
    NumberBoxModel RateEdit;          // 0..63
    NumberBoxModel PauseEdit;         // 0..65535
    StaticTextModel StaticTextOff;    // "Offset"
    StaticTextModel StaticTextMax;    // "2500"
    StaticTextModel StaticTextCtr;    // "1500"
    StaticTextModel StaticTextMin;    // "500"
    bool changedMark = false;

    // Geometry within the group box, in pixels.
    static constexpr ControlGeometry kGroupBox{0, 0, 73, 273};
    static constexpr ControlGeometry kTrack{8, 16, 33, 113};
    static constexpr ControlGeometry kOffsetTrack{2, 144, 69, 23};
    static constexpr ControlGeometry kPositionEdit{9, 176, 55, 22};
    static constexpr ControlGeometry kRateEdit{9, 208, 55, 22};
    static constexpr ControlGeometry kPauseEdit{9, 240, 55, 22};

    // Page layout: even channels above (top 10), odd below (top 290);
    // column (i mod 16) div 2 at left (73 + 7) * column + 7.
    static int layoutLeft(int channel);
    static int layoutTop(int channel);

private:
    int channel_;
};
