// SPDX-License-Identifier: GPL-3.0-or-later
#include "show/MotionPlot.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "show/SvgWriter.h"

namespace {

constexpr double kWidth = 1000;
constexpr double kLeft = 90;    // lane names
constexpr double kRight = 20;
constexpr double kTop = 44;     // title and frame numbers
constexpr double kLaneHeight = 64;
constexpr double kLaneGap = 12;
constexpr double kBottom = 44;  // the time axis

const char* const kTargetColour = "#9a9a9a";
const char* const kPositionColour = "#1f5fbf";
const char* const kUnfinishedColour = "#d62020";

// A step of 1, 2 or 5 times a power of ten that gives about eight ticks.
double tickStepMs(double spanMs) {
    const double rough = spanMs / 8;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= rough) return m * power;
    return 10 * power;
}

std::string secondsLabel(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", ms / 1000);
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s + " s";
}

}  // namespace

std::string plotMotionSvg(const Timeline& timeline, const std::vector<Move>& moves) {
    // A channel moves when some command sends its servo elsewhere and it is
    // still on its way once Play has begun (moves made while loading showed
    // frame 0 at full speed are over by then).
    std::array<bool, kChannelCount> moving{};
    std::array<double, kChannelCount> low{}, high{};
    low.fill(1e9);
    high.fill(-1e9);
    for (const Move& m : moves) {
        const auto c = static_cast<size_t>(m.command.channel);
        if (m.fromPulse != m.command.pulse && m.startMs + std::min(m.needsMs, m.availableMs) > 0) moving[c] = true;
        low[c] = std::min({low[c], m.fromPulse, double(m.command.pulse)});
        high[c] = std::max({high[c], m.fromPulse, double(m.command.pulse)});
    }
    std::vector<int> lanes;
    for (int c = 0; c < kChannelCount; ++c)
        if (moving[static_cast<size_t>(c)]) lanes.push_back(c);

    const double endMs = std::max(timeline.passMs, 1.0);
    const double plotWidth = kWidth - kLeft - kRight;
    const double lanesHeight = lanes.empty() ? kLaneHeight : lanes.size() * (kLaneHeight + kLaneGap) - kLaneGap;
    const double height = kTop + lanesHeight + kBottom;
    auto x = [&](double ms) { return kLeft + std::clamp(ms, 0.0, endMs) / endMs * plotWidth; };

    SvgWriter svg(kWidth, height);
    svg.element("rect", {{"width", SvgWriter::num(kWidth)}, {"height", SvgWriter::num(height)}, {"fill", "white"}});
    svg.text(kLeft, 16, "One pass, " + secondsLabel(endMs) + "; grey: commanded target, blue: modelled position, red: unfinished move",
             {{"font-family", "sans-serif"}, {"font-size", "12"}});

    // Frame starts, across all lanes, numbered above them.
    svg.open("g", {{"class", "frames"}, {"font-family", "sans-serif"}, {"font-size", "10"}});
    for (const FrameBegun& f : timeline.frames) {
        svg.element("line", {{"x1", SvgWriter::num(x(f.atMs))}, {"y1", SvgWriter::num(kTop - 10)},
                             {"x2", SvgWriter::num(x(f.atMs))}, {"y2", SvgWriter::num(kTop + lanesHeight)},
                             {"stroke", "#c8c8c8"}, {"stroke-dasharray", "3 3"}});
        svg.text(x(f.atMs) + 2, kTop - 12, std::to_string(f.frame), {{"fill", "#555555"}});
    }
    svg.close();

    for (size_t i = 0; i < lanes.size(); ++i) {
        const int c = lanes[i];
        const auto ci = static_cast<size_t>(c);
        const double top = kTop + i * (kLaneHeight + kLaneGap);
        const double lo = low[ci], hi = std::max(high[ci], low[ci] + 1);
        auto y = [&](double pulse) { return top + kLaneHeight - 6 - (pulse - lo) / (hi - lo) * (kLaneHeight - 12); };

        svg.open("g", {{"class", "lane"}, {"data-channel", std::to_string(c)}});
        svg.element("rect", {{"x", SvgWriter::num(kLeft)}, {"y", SvgWriter::num(top)},
                             {"width", SvgWriter::num(plotWidth)}, {"height", SvgWriter::num(kLaneHeight)},
                             {"fill", "#f4f6fa"}});
        svg.text(8, top + kLaneHeight / 2 + 4, "channel " + std::to_string(c),
                 {{"font-family", "sans-serif"}, {"font-size", "12"}});
        svg.text(kLeft - 4, top + 10, std::to_string(static_cast<long>(std::lround(hi * 2))) + " us",
                 {{"font-family", "sans-serif"}, {"font-size", "9"}, {"text-anchor", "end"}, {"fill", "#777777"}});
        svg.text(kLeft - 4, top + kLaneHeight - 2, std::to_string(static_cast<long>(std::lround(lo * 2))) + " us",
                 {{"font-family", "sans-serif"}, {"font-size", "9"}, {"text-anchor", "end"}, {"fill", "#777777"}});

        std::string target, position;
        std::vector<std::string> unfinished;
        for (const Move& m : moves) {
            if (m.command.channel != c) continue;
            const double t0 = m.startMs;
            const double t1 = t0 + m.availableMs;
            const double arrive = t0 + std::min(m.needsMs, m.availableMs);
            const double reached = m.endPulse;
            const std::string y0 = SvgWriter::num(y(m.command.pulse));
            target += (target.empty() ? "M" : "L") + SvgWriter::num(x(t0)) + ' ' + y0 + " H" + SvgWriter::num(x(t1)) + ' ';
            position += (position.empty() ? "M" : "L") + SvgWriter::num(x(t0)) + ' ' + SvgWriter::num(y(m.fromPulse)) +
                        " L" + SvgWriter::num(x(arrive)) + ' ' + SvgWriter::num(y(reached)) + " L" +
                        SvgWriter::num(x(t1)) + ' ' + SvgWriter::num(y(reached)) + ' ';
            if (!m.finishes())
                unfinished.push_back("M" + SvgWriter::num(x(t0)) + ' ' + SvgWriter::num(y(m.fromPulse)) + " L" +
                                     SvgWriter::num(x(t1)) + ' ' + SvgWriter::num(y(reached)));
        }
        svg.element("path", {{"class", "target"}, {"d", target}, {"fill", "none"}, {"stroke", kTargetColour},
                             {"stroke-width", "1.5"}});
        svg.element("path", {{"class", "position"}, {"d", position}, {"fill", "none"}, {"stroke", kPositionColour},
                             {"stroke-width", "1.5"}});
        for (const std::string& d : unfinished)
            svg.element("path", {{"class", "unfinished"}, {"d", d}, {"fill", "none"}, {"stroke", kUnfinishedColour},
                                 {"stroke-width", "3"}});
        svg.close();
    }

    // The time axis.
    const double axisY = kTop + lanesHeight + 8;
    svg.open("g", {{"class", "axis"}, {"font-family", "sans-serif"}, {"font-size", "10"}});
    svg.element("line", {{"x1", SvgWriter::num(kLeft)}, {"y1", SvgWriter::num(axisY)},
                         {"x2", SvgWriter::num(kLeft + plotWidth)}, {"y2", SvgWriter::num(axisY)},
                         {"stroke", "#333333"}});
    const double step = tickStepMs(endMs);
    for (double t = 0; t <= endMs + 1e-9; t += step) {
        svg.element("line", {{"x1", SvgWriter::num(x(t))}, {"y1", SvgWriter::num(axisY)},
                             {"x2", SvgWriter::num(x(t))}, {"y2", SvgWriter::num(axisY + 5)},
                             {"stroke", "#333333"}});
        svg.text(x(t), axisY + 17, secondsLabel(t), {{"text-anchor", "middle"}});
    }
    svg.close();
    return svg.finish();
}
