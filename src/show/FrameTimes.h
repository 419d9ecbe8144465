// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// When each frame's pass begins on the show's timeline, as the soundtrack
// needs it: the one place where the soundtrack reads the timeline.

#include <map>
#include <optional>

#include "show/MotionCheck.h"

class FrameTimes {
public:
    virtual ~FrameTimes() = default;
    // Milliseconds from the start of the pass at which the pass of `frame`
    // begins; nothing for a frame the pass does not begin.
    virtual std::optional<double> frameMs(int frame) const = 0;
};

// From one pass as recordPass plays it: the first time each frame begins.
class RecordedFrameTimes : public FrameTimes {
public:
    explicit RecordedFrameTimes(const MotionRecord& record);
    std::optional<double> frameMs(int frame) const override;

private:
    std::map<int, double> begins_;
};
