// SPDX-License-Identifier: GPL-3.0-or-later
// What the undo history costs on a full show (128 frames, 32 channels, every
// value different): the heap that 1,000 steps of strip edits and frame
// operations keep, and the time of each Undo and Redo of them, in the editor
// core without a window and with no port open (so no command costs time).
//
//   undo_bench [STEPS]
//
// The steps, in turn: a drag of a position slider, a typed pause, an arrow
// click on a rate box, a wheel step of an offset slider, Write Frame, Insert,
// Delete, Reset and a jump edit; every 100th step opens another full show, the
// largest step there is (every frame changes). Clicks are made more than a
// second apart, so that each is a step of its own.

#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../tests/support/FakeTicks.h"
#include "../tests/support/FakeView.h"
#include "editor/EditorCore.h"
#include "link/Notifier.h"

using Clock = std::chrono::steady_clock;

namespace {

class SilentNotifier : public Notifier {
public:
    void Beep(unsigned, unsigned) override {}
    void ShowMessage(const std::string&) override {}
};

std::size_t heapInUse() { return mallinfo2().uordblks; }

// A show in which every channel of every frame differs from its neighbours.
std::unique_ptr<Sequence> fullShow(unsigned seed) {
    auto s = std::make_unique<Sequence>();
    std::mt19937 random(seed);
    for (int f = 0; f < kFrameCount; ++f) {
        for (int c = 0; c < kChannelCount; ++c) {
            ChannelSetting& ch = s->channel(f, c);
            ch.position = 500 + 2 * static_cast<int32_t>(random() % 1001);
            ch.rate = static_cast<int32_t>(random() % 64);
            ch.offset = static_cast<int32_t>(random() % 101) - 50;
            ch.pause = static_cast<int32_t>(random() % 500);
            ch.changed = 1;
        }
        s->frame(f).frameUsed = 1;
        s->frame(f).jumpTo = -1;
    }
    return s;
}

void step(EditorCore& core, FakeTicks& ticks, int k) {
    ticks.advance(1100);
    const int c = k % kChannelCount;
    if (k % 100 == 99) {
        core.openSequence(*fullShow(static_cast<unsigned>(k)), "other.KDX");
        return;
    }
    switch (k % 9) {
    case 0: {
        SliderModel& t = core.userStrip(c).Track;
        t.userPress();
        for (int p = 0; p < 5; ++p) t.userMove(600 + (k * 7 + p * 150) % 1800);
        t.userRelease();
        break;
    }
    case 1: core.userStrip(c).PauseEdit.setText(std::to_string(k % 1000)); break;
    case 2: core.userStrip(c).RateEdit.stepUp(); break;
    case 3: core.userStrip(c).OffsetTrack.userMove(k % 2 ? 10 : -10); break;
    case 4: core.WriteFrameClick(); break;
    case 5: core.InsFrameClick(); break;
    case 6: core.DelFrameClick(); break;
    case 7: core.FrameResetClick(); break;
    case 8: core.IncButtonClick(); break;
    }
    // Somewhere else next time, as a user moves about the show.
    if (k % 9 == 8) core.showFrame((k * 37) % kFrameCount);
}

void printTimes(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double share) { return ms[std::min(ms.size() - 1, static_cast<std::size_t>(share * ms.size()))]; };
    std::printf("%-8s n=%zu  median %.3f ms  p99 %.3f ms  max %.3f ms\n", what, ms.size(), at(0.5), at(0.99),
                ms.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int steps = argc > 1 ? std::atoi(argv[1]) : static_cast<int>(EditorCore::kStepsKept);

    FakeView view;
    SilentNotifier notifier;
    FakeTicks ticks;
    EditorCore core(view, notifier, ticks, [] { return std::vector<std::string>{}; });
    core.FormCreate();
    core.openSequence(*fullShow(1), "show.KDX");
    core.showFrame(60);
    // The history of the show begins here: the Open before is not counted.
    {
        auto copy = std::make_unique<RecoveryCopy>();
        core.copyForRecovery(*copy);
        core.recover(*copy);
    }

    malloc_trim(0);
    const std::size_t heapBefore = heapInUse();
    const auto t0 = Clock::now();
    for (int k = 0; k < steps; ++k) step(core, ticks, k);
    const double makeMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    malloc_trim(0);
    const std::size_t heapAfter = heapInUse();

    std::vector<double> undoMs, redoMs;
    int undone = 0;
    for (;;) {
        const auto s = Clock::now();
        if (!core.undo()) break;
        undoMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - s).count());
        ++undone;
    }
    for (;;) {
        const auto s = Clock::now();
        if (!core.redo()) break;
        redoMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - s).count());
    }

    std::printf("%d actions made %d steps in %.1f ms (%.3f ms each, the snapshots included)\n", steps, undone,
                makeMs, makeMs / steps);
    std::printf("heap kept by the history: %.2f MB (%.1f KB a step; a whole sequence is %.1f KB)\n",
                double(heapAfter - heapBefore) / (1024.0 * 1024.0),
                double(heapAfter - heapBefore) / 1024.0 / std::max(undone, 1), sizeof(Sequence) / 1024.0);
    if (!undoMs.empty()) printTimes("undo", undoMs);
    if (!redoMs.empty()) printTimes("redo", redoMs);
    return undone > 0 ? 0 : 1;
}
