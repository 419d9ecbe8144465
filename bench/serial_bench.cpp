// SPDX-License-Identifier: GPL-3.0-or-later
// Measures what the serial link itself costs, apart from the line:
//  (a) one position command, from the call until the simulator has the
//      eighth byte, through a pseudo-terminal (which has no wire time), as a
//      share of the 33.3 ms that the 8 bytes take on a 2400-baud line;
//  (b) the processor time that Delay(1000) uses, as a share of one core.
// Targets: under 1 % of the wire floor; under 5 % of a core.

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "link/Commands.h"
#include "link/Notifier.h"
#include "link/TSerial.h"
#include "link/TickSource.h"
#include "sim/ControllerSimulator.h"

namespace {

constexpr int kCommands = 200;
constexpr double kWireFloorMs = 8 * 10 * 1000.0 / 2400;  // 8 bytes of 10 bits

double processCpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

using bench::cpuModel;

}  // namespace

int main() {
    std::printf("machine: %u processors, %s\n", std::thread::hardware_concurrency(),
                cpuModel().c_str());

    // (b) first, while this thread is the only one in the process.
    {
        TickSource& ticks = systemTickSource();
        const double cpu0 = processCpuMs();
        const auto wall0 = std::chrono::steady_clock::now();
        Delay(ticks, 1000);
        const double wallMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall0)
                .count();
        const double cpuMs = processCpuMs() - cpu0;
        std::printf("Delay(1000): %.1f ms elapsed, %.2f ms processor time = %.2f %% of one core"
                    " (target < 5 %%)\n",
                    wallMs, cpuMs, 100.0 * cpuMs / wallMs);
    }

    // (a)
    sim::ControllerSimulator sim;
    if (!sim.start()) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", sim.error().c_str());
        return 1;
    }
    ConsoleNotifier notifier;
    TSerial port(notifier, systemTickSource());
    if (!port.Open(sim.portName(), "2400", "None", "8", true)) return 1;

    std::vector<double> costs;
    costs.reserve(kCommands);
    for (int i = 0; i < kCommands; ++i) {
        const double start = sim.nowMs();
        sendPositionCommand(port, i % 32, i % 64, 1000 + i, 0);
        auto positions = [](const std::vector<sim::Event>& events) {
            return std::count_if(events.begin(), events.end(), [](const sim::Event& e) {
                return e.kind == sim::Event::Kind::Position;
            });
        };
        if (!sim.waitFor([&](const auto& ev) { return positions(ev) >= 1; },
                         std::chrono::seconds(5))) {
            std::fprintf(stderr, "command %d never arrived\n", i);
            return 1;
        }
        double lastByte = 0;
        for (const auto& e : sim.events())
            if (e.kind == sim::Event::Kind::Position) lastByte = e.timeMs;
        costs.push_back(lastByte - start);
        sim.clear();
        port.Drain(0, 100);  // the echo, before the next round starts its clock
    }
    port.Close();

    std::sort(costs.begin(), costs.end());
    double sum = 0;
    for (double c : costs) sum += c;
    const double mean = sum / costs.size();
    std::printf("position command: mean %.3f ms, median %.3f ms, max %.3f ms over %d commands\n",
                mean, costs[costs.size() / 2], costs.back(), kCommands);
    std::printf("  = %.2f %% of the %.1f ms wire floor (target < 1 %%)\n",
                100.0 * mean / kWireFloorMs, kWireFloorMs);
    return 0;
}
