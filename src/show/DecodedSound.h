// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A soundtrack decoded into memory, ready to play from any point at once:
// 16-bit samples at the file's own rate, mono or stereo interleaved (more
// channels are mixed down to two). Decoded once, then shared read-only by
// the audio output's thread and the waveform; never changed after decoding.
//
// decodeSoundFile (sound_decoder_posix.cpp with libsndfile: WAV, FLAC, Ogg
// Vorbis, MP3 and what else libsndfile reads; sound_decoder_win.cpp: none)
// reads the whole file. It runs on any thread; a decode that is no longer
// wanted is given up when `cancelled` turns true.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct DecodedSound {
    int sampleRate = 0;
    int channels = 0;               // 1 or 2
    std::vector<int16_t> samples;   // frames x channels, interleaved

    int64_t frames() const { return channels ? static_cast<int64_t>(samples.size()) / channels : 0; }
    double durationMs() const { return sampleRate ? frames() * 1000.0 / sampleRate : 0; }
};

struct DecodeResult {
    std::shared_ptr<const DecodedSound> sound;  // null on failure
    std::string error;  // why, for "FILE: REASON" ("No such file or directory", ...)
};

DecodeResult decodeSoundFile(const std::string& path, const std::atomic<bool>* cancelled = nullptr);

// The waveform: per slice of sliceMs of the track, the lowest and highest
// sample of any channel, -1..1.
struct PeakSlice {
    float low, high;
};
struct SoundPeaks {
    double sliceMs = 0;
    std::vector<PeakSlice> slices;
};
SoundPeaks computePeaks(const DecodedSound& sound, double sliceMs);
