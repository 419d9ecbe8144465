// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/RampModel.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {
double unitsPerMs(int rate) { return kFullTravelUnits / (kSlowestTravelMs * rate / kSlowestRate); }
}  // namespace

double rampPulse(double startPulse, int targetPulse, int rate, double elapsedMs) {
    if (rate <= 0) return targetPulse;
    const double distance = targetPulse - startPulse;
    const double moved = unitsPerMs(rate) * std::max(0.0, elapsedMs);
    if (moved >= std::fabs(distance)) return targetPulse;
    return startPulse + (distance > 0 ? moved : -moved);
}

double rampDurationMs(double startPulse, int targetPulse, int rate) {
    if (rate <= 0) return 0;
    return std::fabs(targetPulse - startPulse) / unitsPerMs(rate);
}

}  // namespace sim
