// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Sound files written for a test with libsndfile, in any format it writes:
// a click (a short burst of a tone) at each given time, silence between.

#include <sndfile.h>

#include <cmath>
#include <string>
#include <vector>

enum class SoundFormat { wav, flac, ogg, mp3 };

inline int sndfileFormat(SoundFormat f) {
    switch (f) {
    case SoundFormat::wav: return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    case SoundFormat::flac: return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case SoundFormat::ogg: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case SoundFormat::mp3: return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    }
    return 0;
}

// lengthMs of mono sound at rate; a 5 ms click of a 2 kHz tone at each of
// clicksMs. False when the file could not be written.
inline bool writeClickTrack(const std::string& path, SoundFormat format, double lengthMs,
                            const std::vector<double>& clicksMs, int rate = 44100) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = sndfileFormat(format);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    const auto frames = static_cast<size_t>(lengthMs * rate / 1000.0);
    std::vector<float> samples(frames, 0.0f);
    const auto clickFrames = static_cast<size_t>(rate * 5 / 1000);
    for (double at : clicksMs) {
        const auto start = static_cast<size_t>(std::llround(at * rate / 1000.0));
        for (size_t i = 0; i < clickFrames && start + i < frames; ++i)
            samples[start + i] = 0.8f * static_cast<float>(std::sin(2 * M_PI * 2000.0 * static_cast<double>(i) / rate));
    }
    // In chunks: some encoders take no large writes.
    bool ok = true;
    for (size_t at = 0; at < frames && ok; at += 4096) {
        const auto n = static_cast<sf_count_t>(std::min<size_t>(4096, frames - at));
        ok = sf_writef_float(file, samples.data() + at, n) == n;
    }
    return sf_close(file) == 0 && ok;
}
