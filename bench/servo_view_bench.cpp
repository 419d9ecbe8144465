// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated controller inside the window, on the real clock:
//  1. playback with the servo view open against the same playback with it
//     closed, alternating in one run (wall time of Play, medians);
//  2. the window thread's processor time while all 32 servos move and while
//     none does, as a share of one core over a few seconds of event loop;
//  3. the time from choosing the simulated controller to "  Comm Port Open",
//     beside the same selection of a port served by a simulator outside the
//     window (the selection's own waits are 1000 ms for a first open).
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
//
//   servo_view_bench [passes]

#include <time.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "link/TickSource.h"
#include "show/Timeline.h"
#include "sim/ControllerSimulator.h"
#include "ui/ServoView.h"
#include "ui/TMainForm.h"

namespace {

constexpr int kFrames = 10;
constexpr int kChannelsPerFrame = 8;
constexpr int kPauseMs = 10;

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void runEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Frames whose servos sweep back and forth at a rate that keeps them moving.
void buildSequence(EditorCore& core) {
    auto show = std::make_unique<Sequence>(core.sequence());
    for (int f = 0; f < kFrames; ++f) {
        Frame& frame = show->frame(f);
        frame.frameUsed = 1;
        for (int c = 0; c < kChannelsPerFrame; ++c) {
            ChannelSetting& s = frame.channels[c * (kChannelCount / kChannelsPerFrame)];
            s.position = (f % 2) ? 2300 : 700;
            s.rate = 4;
            s.pause = kPauseMs;
            s.changed = 1;
        }
    }
    core.replaceSequence(*show);
}

// Wall time of one Play; the window thread's processor time in cpuMs.
double playMs(TMainForm& form, double& cpuMs) {
    const double cpu0 = threadCpuMs();
    QElapsedTimer t;
    t.start();
    form.core().RunClick();
    cpuMs = threadCpuMs() - cpu0;
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// Share of one core that the window thread used over ms of event loop.
double windowCpuShare(int ms) {
    const double cpu0 = threadCpuMs();
    QElapsedTimer t;
    t.start();
    runEventLoop(ms);
    return (threadCpuMs() - cpu0) / (static_cast<double>(t.nsecsElapsed()) / 1e6);
}

void sendAll(EditorCore& core, int rate, int position) {
    for (int c = 0; c < kChannelCount; ++c) {
        core.userStrip(c).RateEdit.setText(std::to_string(rate));
        core.userStrip(c).PositionEdit.setText(std::to_string(position));
    }
}

// Window-thread processor time per live edit handled with the events that
// follow it (the view's refresh and redraw when it is open), rate 0.
double msPerEdit(TMainForm& form, int edits) {
    EditorCore& core = form.core();
    core.userStrip(3).RateEdit.setText("0");
    const double cpu0 = threadCpuMs();
    for (int i = 0; i < edits; ++i) {
        core.userStrip(3).PositionEdit.setText(std::to_string(i % 2 ? 1000 : 2000));
        auto simulator = core.simulator();
        simulator->waitForBytes(simulator->receivedCount(), std::chrono::milliseconds(0));
        QCoreApplication::processEvents();
        runEventLoop(2);  // the listener's call arrives from the simulator's thread
    }
    return (threadCpuMs() - cpu0) / edits;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    // 3 first: a fresh window each, so both are first opens.
    double simulatedOpenMs = 0, externalOpenMs = 0;
    {
        TMainForm form(systemTickSource(), [] { return std::vector<std::string>{}; });
        // Its changes are thrown away when it closes, unasked.
        form.answerQuestion = [](QMessageBox& box) { return box.button(QMessageBox::Discard); };
        form.show();
        QElapsedTimer t;
        t.start();
        form.SimulatedControllerClick();
        simulatedOpenMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
        if (form.Msg->text() != QStringLiteral("  Comm Port Open")) {
            std::fprintf(stderr, "the simulated controller did not open\n");
            return 1;
        }
        form.close();
    }
    {
        sim::ControllerSimulator outside;
        if (!outside.start()) {
            std::fprintf(stderr, "no pseudo-terminal: %s\n", outside.error().c_str());
            return 1;
        }
        TMainForm form(systemTickSource(), [] { return std::vector<std::string>{}; });
        // Its changes are thrown away when it closes, unasked.
        form.answerQuestion = [](QMessageBox& box) { return box.button(QMessageBox::Discard); };
        form.show();
        QElapsedTimer t;
        t.start();
        form.core().ComPortComboClick(outside.portName());
        externalOpenMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
        form.close();
    }

    TMainForm form(systemTickSource(), [] { return std::vector<std::string>{}; });
    // Its changes are thrown away when it closes, unasked.
    form.answerQuestion = [](QMessageBox& box) { return box.button(QMessageBox::Discard); };
    form.show();
    form.SimulatedControllerClick();
    ServoView* view = form.servoView();
    if (!view || !form.core().simulatorChosen()) {
        std::fprintf(stderr, "the simulated controller did not open\n");
        return 1;
    }
    buildSequence(form.core());

    // 1. Closed and open in turn, so that drift of the machine hits both.
    std::vector<double> closed, open, closedCpu, openCpu;
    for (int i = 0; i < passes; ++i) {
        double cpu = 0;
        view->hide();
        runEventLoop(50);
        closed.push_back(playMs(form, cpu));
        closedCpu.push_back(cpu);
        view->show();
        runEventLoop(50);
        open.push_back(playMs(form, cpu));
        openCpu.push_back(cpu);
    }
    const double ideal = Timeline::of(form.core().sequence()).passMs;  // the pauses and the wire time

    // The same work per frame without the player's waits: one edit each.
    view->hide();
    runEventLoop(50);
    const double closedEditMs = msPerEdit(form, 100);
    view->show();
    runEventLoop(50);
    const double openEditMs = msPerEdit(form, 100);

    // 2. All 32 moving (rate 63: 45 s for the full travel), then none.
    view->show();
    sendAll(form.core(), 0, 500);
    runEventLoop(300);
    sendAll(form.core(), 63, 2500);
    runEventLoop(300);
    const bool moving = view->animating();
    const double movingShare = windowCpuShare(3000);
    sendAll(form.core(), 0, 1500);
    runEventLoop(300);
    const bool still = !view->animating();
    const double stillShare = windowCpuShare(3000);

    std::printf("playback, %d frames x %d channels, %d ms pauses (the timeline's pass %.0f ms), %d passes each:\n", kFrames,
                kChannelsPerFrame, kPauseMs, ideal, passes);
    std::printf("  view closed  median %8.1f ms  (window thread CPU %.1f ms)\n", median(closed), median(closedCpu));
    std::printf("  view open    median %8.1f ms  (window thread CPU %.1f ms)\n", median(open), median(openCpu));
    std::printf("  open/closed  %.4f\n", median(open) / median(closed));
    for (int i = 0; i < passes; ++i) std::printf("    pass %d: closed %.1f ms, open %.1f ms\n", i, closed[static_cast<size_t>(i)], open[static_cast<size_t>(i)]);
    std::printf("window thread CPU per live edit and its events: closed %.3f ms, open %.3f ms\n", closedEditMs,
                openEditMs);
    std::printf("window thread CPU, 3 s each:\n");
    std::printf("  32 servos moving%s  %6.2f %% of one core\n", moving ? "" : " (NOT MOVING)", movingShare * 100);
    std::printf("  none moving%s       %6.2f %% of one core\n", still ? "" : " (STILL MOVING)", stillShare * 100);
    std::printf("selection to \"  Comm Port Open\" (first open, waits 1000 ms):\n");
    std::printf("  simulated controller  %8.1f ms\n", simulatedOpenMs);
    std::printf("  port of an outside simulator %8.1f ms\n", externalOpenMs);
    form.close();
    return 0;
}
