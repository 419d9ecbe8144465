// SPDX-License-Identifier: GPL-3.0-or-later
#include "show/DecodedSound.h"

#include <algorithm>
#include <cmath>

SoundPeaks computePeaks(const DecodedSound& sound, double sliceMs) {
    SoundPeaks peaks;
    if (sliceMs <= 0 || sound.sampleRate <= 0 || sound.channels <= 0) return peaks;
    peaks.sliceMs = sliceMs;
    const double framesPerSlice = sound.sampleRate * sliceMs / 1000.0;
    const int64_t frames = sound.frames();
    const auto count = static_cast<int64_t>(std::ceil(static_cast<double>(frames) / framesPerSlice));
    peaks.slices.reserve(static_cast<size_t>(count));
    const int16_t* s = sound.samples.data();
    for (int64_t i = 0; i < count; ++i) {
        const auto begin = static_cast<int64_t>(std::llround(i * framesPerSlice)) * sound.channels;
        const auto end =
            std::min(frames, static_cast<int64_t>(std::llround((i + 1) * framesPerSlice))) * sound.channels;
        int lo = 0, hi = 0;
        for (int64_t k = begin; k < end; ++k) {
            lo = std::min<int>(lo, s[k]);
            hi = std::max<int>(hi, s[k]);
        }
        peaks.slices.push_back({static_cast<float>(lo) / 32768.0f, static_cast<float>(hi) / 32767.0f});
    }
    return peaks;
}
