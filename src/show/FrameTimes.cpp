// SPDX-License-Identifier: GPL-3.0-or-later
#include "show/FrameTimes.h"

RecordedFrameTimes::RecordedFrameTimes(const MotionRecord& record) {
    for (const FrameStart& f : record.frames) begins_.emplace(f.frame, f.atMs);
}

std::optional<double> RecordedFrameTimes::frameMs(int frame) const {
    auto it = begins_.find(frame);
    if (it == begins_.end()) return std::nullopt;
    return it->second;
}
