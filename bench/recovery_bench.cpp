// SPDX-License-Identifier: GPL-3.0-or-later
// What keeping a recovery copy costs the editing thread. The editing thread
// takes a snapshot of a full sequence (128 frames, 32 strips, a file name)
// and hands it to the writer, while the writer thread writes copies to the
// real file system (synced, renamed) as fast as it can: the worst case, as
// the window hands over at most one a second. Prints the editing thread's
// time per handover (median, 99th percentile, largest), and, for scale, what
// one copy written on the editing thread itself would cost.
//
//   recovery_bench [FOLDER] [HANDOVERS]
//
// FOLDER (default: a new folder under the system's temporary folder) is
// where the copies go; it is left empty afterwards.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "editor/RecoveryCopy.h"
#include "editor/RecoveryStore.h"
#include "editor/RecoveryWriter.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The processor time this thread has used: what the work itself costs, without
// the time other programs had the processor.
double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void printFigures(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    const auto over = ms.end() - std::upper_bound(ms.begin(), ms.end(), 2.0);
    const auto at = [&](double share) { return ms[std::min(ms.size() - 1, static_cast<std::size_t>(share * ms.size()))]; };
    std::printf("%-46s n=%zu  median %.3f ms  p99 %.3f ms  max %.3f ms  over 2 ms: %td\n", what, ms.size(),
                at(0.5), at(0.99), ms.back(), over);
}

// The editor's state as the core would hold it: a full sequence.
struct EditedShow {
    Sequence sequence;
    std::array<StripValues, kChannelCount> strips{};
    std::string fileName = "/home/user/shows/A rather long show name.KDX";
};

}  // namespace

int main(int argc, char** argv) {
    fs::path folder;
    if (argc > 1) {
        folder = argv[1];
    } else {
        std::random_device random;
        folder = fs::temp_directory_path() / ("kdx-recovery-bench-" + std::to_string(random()));
    }
    const int handovers = argc > 2 ? std::atoi(argv[2]) : 3000;

    EditedShow editor;
    std::mt19937 random(1);
    for (uint8_t& b : editor.sequence.image()) b = static_cast<uint8_t>(random());

    std::vector<double> handover, handoverCpu, direct, alone, aloneCpu;
    // The same snapshots with no writer thread: what the machine itself
    // adds (other programs, page faults) to any piece of work this size.
    for (int k = 0; k < handovers; ++k) {
        editor.sequence.channel(k % kFrameCount, k % kChannelCount).position = 500 + k % 2000;
        const auto start = Clock::now();
        const double startCpu = threadCpuMs();
        auto copy = std::make_unique<RecoveryCopy>();
        copy->sequence = editor.sequence;
        copy->strips = editor.strips;
        copy->fileName = editor.fileName;
        aloneCpu.push_back(threadCpuMs() - startCpu);
        alone.push_back(msSince(start));
    }
    {
        RecoveryStore store(folder);
        {
            RecoveryWriter writer(store);
            for (int k = 0; k < handovers; ++k) {
                // An edit between the handovers, as the editor would make.
                editor.sequence.channel(k % kFrameCount, k % kChannelCount).position = 500 + k % 2000;
                const auto start = Clock::now();
                const double startCpu = threadCpuMs();
                std::unique_ptr<RecoveryCopy> copy = writer.spare();
                copy->sequence = editor.sequence;
                copy->strips = editor.strips;
                copy->currentFrame = k % kFrameCount;
                copy->lastFrame = kFrameCount - 1;
                copy->fileName = editor.fileName;
                copy->savedAt = recoveryTimeNow();
                writer.submit(std::move(copy));
                handoverCpu.push_back(threadCpuMs() - startCpu);
                handover.push_back(msSince(start));
                // Room for the writer thread to take the copy now and then.
                if (k % 10 == 0) std::this_thread::yield();
            }
            writer.flush();
            if (auto failure = writer.takeFailure()) std::printf("writer: %s\n", failure->c_str());
        }
        RecoveryCopy copy;
        copy.sequence = editor.sequence;
        copy.fileName = editor.fileName;
        for (int k = 0; k < 200; ++k) {
            const auto start = Clock::now();
            const FileResult result = store.write(copy);
            direct.push_back(msSince(start));
            if (!result.ok()) {
                std::printf("write failed: %s\n", result.error.c_str());
                break;
            }
        }
        store.remove();
    }
    std::error_code ec;
    if (argc <= 1) fs::remove_all(folder, ec);

    RecoveryCopy sized;
    sized.fileName = editor.fileName;
    std::printf("recovery copy: %zu bytes, folder %s\n", encodeRecoveryCopy(sized).size(), folder.string().c_str());
    printFigures("editing thread: snapshot alone, no writer", alone);
    printFigures("  the same, the thread's processor time", aloneCpu);
    printFigures("editing thread: snapshot + handover", handover);
    printFigures("  the same, the thread's processor time", handoverCpu);
    printFigures("for scale: one copy written on the spot", direct);
    // Wall-time outliers beyond 2 ms come from the machine (see the
    // snapshot alone); the target is judged on the work itself.
    const double worst = *std::max_element(handoverCpu.begin(), handoverCpu.end());
    std::printf("target: no handover costs the editing thread over 2 ms: %s\n", worst <= 2.0 ? "met" : "MISSED");
    return 0;
}
