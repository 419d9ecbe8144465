// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How a simulated servo moves toward its target; shared by the simulated
// controller and the motion check, on every platform.

namespace sim {

// The ramp model. A servo moves at a constant speed toward its target. Rate 0
// means no speed control: the servo is at its target at once. Any other rate
// r takes r/63 of kSlowestTravelMs for the full travel of kFullTravelUnits
// (pulse 250..1250, i.e. 500..2500 us): rate 63 about 45 s, rate 1 about
// 0.71 s. The speed is therefore proportional to 1/rate.
inline constexpr double kFullTravelUnits = 1000.0;
inline constexpr double kSlowestTravelMs = 45000.0;
inline constexpr int kSlowestRate = 63;
// Where a servo that set off from startPulse toward targetPulse at this rate
// is elapsedMs later; it stops at the target and never overshoots.
double rampPulse(double startPulse, int targetPulse, int rate, double elapsedMs);
// How long that movement takes to arrive (0 at rate 0 or already there).
double rampDurationMs(double startPulse, int targetPulse, int rate);

}  // namespace sim
