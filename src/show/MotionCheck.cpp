// SPDX-License-Identifier: GPL-3.0-or-later
#include "show/MotionCheck.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <optional>

#include "sim/RampModel.h"

bool Move::finishes() const {
    // Within a microsecond: the time a move takes is computed, not measured.
    return needsMs <= availableMs + 1e-3;
}

std::vector<Move> modelMoves(const Timeline& timeline) {
    struct Servo {
        bool commanded = false;
        double startPulse = 0, startMs = 0;  // the motion under way, as the simulator keeps it
        int target = 0, rate = 0;
        std::optional<size_t> move;  // its entry in moves
    };
    std::array<Servo, kChannelCount> servos{};
    std::vector<Move> moves;
    for (const SentCommand& c : timeline.commands) {
        if (c.channel < 0 || c.channel >= kChannelCount) continue;
        Servo& s = servos[static_cast<size_t>(c.channel)];
        const double at =
            s.commanded ? sim::rampPulse(s.startPulse, s.target, s.rate, c.atMs - s.startMs) : c.pulse;
        if (s.commanded && c.pulse == s.target) {
            Move& m = moves[*s.move];
            if (at != c.pulse) m.needsMs = c.atMs - m.startMs + sim::rampDurationMs(at, c.pulse, c.rate);
            m.command = c;
        } else {
            if (s.move) {
                Move& m = moves[*s.move];
                m.availableMs = c.atMs - m.startMs;
                m.endPulse = at;
                m.redirected = true;
            }
            s.move = moves.size();
            moves.push_back({c, c.atMs, at, sim::rampDurationMs(at, c.pulse, c.rate), 0, at, false});
        }
        s.commanded = true;
        s.startPulse = at;
        s.startMs = c.atMs;
        s.target = c.pulse;
        s.rate = c.rate;
    }
    for (const Servo& s : servos) {
        if (!s.move) continue;
        Move& m = moves[*s.move];
        m.availableMs = timeline.passMs - m.startMs;
        m.endPulse = sim::rampPulse(s.startPulse, s.target, s.rate, timeline.passMs - s.startMs);
    }
    return moves;
}

namespace {
// Two decimals, rounded so that the printed figures never hide the shortfall.
std::string seconds(double ms, bool up) {
    const double hundredths = up ? std::ceil(ms / 10.0 - 1e-6) : std::floor(ms / 10.0 + 1e-6);
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::max(0.0, hundredths) / 100.0);
    return text;
}
}  // namespace

std::string describeUnfinished(const Move& m) {
    char head[128];
    std::snprintf(head, sizeof head, "frame %d channel %d: %ld -> %d us at rate %d needs ", m.command.frame,
                  m.command.channel, std::lround(m.fromPulse * 2), m.command.pulse * 2, m.command.rate);
    return head + seconds(m.needsMs, true) + " s, " +
           (m.redirected ? "the next command comes after " : "the pass ends after ") +
           seconds(m.availableMs, false) + " s";
}
