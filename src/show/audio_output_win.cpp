// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows build plays no sound yet: the output says so, and the show
// plays silent.

#include "show/AudioOutput.h"

namespace {

class NoOutput : public AudioOutput {
public:
    void play(std::shared_ptr<const DecodedSound>, double, uint64_t) override {}
    void adjust(double) override {}
    void stop() override {}
    std::optional<HeardPoint> heard() const override { return std::nullopt; }
    std::string failure() const override { return "this build of the program has no sound output on Windows"; }
};

}  // namespace

std::unique_ptr<AudioOutput> makeSystemAudioOutput(TickSource&, const std::string&) {
    return std::make_unique<NoOutput>();
}
