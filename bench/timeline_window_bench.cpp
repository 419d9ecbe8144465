// SPDX-License-Identifier: GPL-3.0-or-later
// The timeline window on the real clock and the simulated controller:
//  1. the window thread's processor time during a playback with the
//     timeline open (its play head moving) against the same playback with
//     it closed, alternating in one run, as a share of one core;
//  2. the window thread's share over a few seconds at rest with the
//     timeline open, and how many times it drew meanwhile;
//  3. the time an edit of a full show (128 frames x 32 channels, all
//     marked) takes to reach the window: recomputing the pass and drawing.
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
//
//   timeline_window_bench [passes]

#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "link/TickSource.h"
#include "show/MotionCheck.h"
#include "ui/ServoView.h"
#include "ui/TMainForm.h"
#include "ui/TimelineWindow.h"

namespace {

constexpr int kFrames = 10;
constexpr int kChannelsPerFrame = 4;
constexpr int kPauseMs = 60;

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

void buildSequence(EditorCore& core, int frames, int channels, int pause) {
    auto show = std::make_unique<Sequence>(core.sequence());
    for (int f = 0; f < frames; ++f) {
        Frame& frame = show->frame(f);
        frame.frameUsed = 1;
        for (int c = 0; c < channels; ++c) {
            ChannelSetting& s = frame.channels[c * (kChannelCount / channels)];
            s.position = (f % 2) ? 2300 : 700;
            s.rate = 4;
            s.pause = pause;
            s.changed = 1;
        }
    }
    core.replaceSequence(*show);
}

struct Play {
    double wallMs, cpuMs;
};

Play play(TMainForm& form) {
    const double cpu0 = threadCpuMs();
    QElapsedTimer t;
    t.start();
    form.core().RunClick();
    return {static_cast<double>(t.nsecsElapsed()) / 1e6, threadCpuMs() - cpu0};
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    TMainForm form(systemTickSource(), [] { return std::vector<std::string>{}; });
    form.show();
    form.SimulatedControllerClick();
    if (!form.core().simulatorChosen()) {
        std::fprintf(stderr, "the simulated controller did not open\n");
        return 1;
    }
    if (form.servoView()) form.servoView()->hide();  // only the timeline draws
    buildSequence(form.core(), kFrames, kChannelsPerFrame, kPauseMs);
    form.core().StartFrameClick();
    form.TimelineClick();
    TimelineWindow* timeline = form.timelineWindow();
    runEventLoop(200);

    // 1. Closed and open in turn, so that drift of the machine hits both.
    std::vector<double> closedShare, openShare, openPaints;
    for (int i = 0; i < passes; ++i) {
        timeline->hide();
        runEventLoop(50);
        const Play closed = play(form);
        closedShare.push_back(closed.cpuMs / closed.wallMs);
        timeline->show();
        runEventLoop(50);
        const int paints0 = timeline->paints();
        const Play open = play(form);
        openShare.push_back(open.cpuMs / open.wallMs);
        openPaints.push_back((timeline->paints() - paints0) * 1000.0 / open.wallMs);
    }

    // 2. At rest, open.
    runEventLoop(300);
    const int restPaints0 = timeline->paints();
    const double cpu0 = threadCpuMs();
    QElapsedTimer rest;
    rest.start();
    runEventLoop(3000);
    const double restShare = (threadCpuMs() - cpu0) / (static_cast<double>(rest.nsecsElapsed()) / 1e6);
    const int restPaints = timeline->paints() - restPaints0;

    // 3. A full show, one edit at a time: Inc on the jump of frame 127,
    // each handled with the events that follow it.
    form.core().StopClick();
    buildSequence(form.core(), kFrameCount, kChannelCount, 5);
    form.core().showFrame(kFrameCount - 1);
    runEventLoop(200);
    std::vector<double> editMs;
    for (int i = 0; i < 20; ++i) {
        const int computed = timeline->passesComputed();
        QElapsedTimer t;
        t.start();
        form.core().IncButtonClick();
        while (timeline->passesComputed() == computed) QCoreApplication::processEvents();
        QCoreApplication::processEvents();  // the paint
        editMs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }

    // The pass alone, as the motion check computes it.
    std::vector<double> passMs;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        const Timeline record = Timeline::of(form.core().sequence());
        const std::vector<Move> moves = modelMoves(record);
        passMs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }

    // Drawing the whole picture anew, as after an edit.
    std::vector<double> drawMs;
    for (int i = 0; i < 5; ++i) {
        timeline->setSoundtrackPeaks({}, 0, 0);  // no lane: only makes the picture stale
        QElapsedTimer t;
        t.start();
        timeline->viewport()->repaint();
        drawMs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }

    std::printf("playback, %d frames x %d channels, %d ms pauses, %d passes each (window thread, share of one core):\n",
                kFrames, kChannelsPerFrame, kPauseMs, passes);
    std::printf("  timeline closed       median %6.2f %%\n", median(closedShare) * 100);
    std::printf("  timeline open         median %6.2f %%  (%.0f draws a second)\n", median(openShare) * 100,
                median(openPaints));
    std::printf("  the timeline's part   %6.2f %%\n", (median(openShare) - median(closedShare)) * 100);
    std::printf("at rest, timeline open, 3 s: %6.2f %% of one core, %d draws\n", restShare * 100, restPaints);
    std::printf("an edit of a full show (128 x 32, all marked) to the redrawn timeline: median %.1f ms, worst %.1f ms\n",
                median(editMs), *std::max_element(editMs.begin(), editMs.end()));
    std::printf("  of which the picture drawn anew: median %.1f ms\n", median(drawMs));
    std::printf("  of which the pass and its moves (Timeline::of, modelMoves): median %.1f ms\n", median(passMs));
    form.close();
    return 0;
}
