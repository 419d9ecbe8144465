// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Draws one pass of a show (Timeline, MotionCheck) as an SVG timeline: one lane per
// channel that moves, the commanded target as steps, the modelled servo
// position as a line, frame starts and numbers along the time axis, and the
// unfinished moves in red.

#include <string>
#include <vector>

#include "show/MotionCheck.h"

std::string plotMotionSvg(const Timeline& timeline, const std::vector<Move>& moves);
