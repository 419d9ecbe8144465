// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The soundtrack of the open sequence: what was chosen (read at Open from
// the sidecar or the same-name rule, changed by Sequence > Soundtrack...,
// written at Save), whether that differs from what the sidecar holds, and
// the track decoded in the background with its waveform.
//
// Lives on the program's thread. Decoding runs on a thread of its own and
// is handed over by poll() (or waitDecoded()); a newer choice cancels the
// decode of an older one. Every problem is reported once, through report,
// as one message that names the file and the reason; the sequence is never
// changed by any of it.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "show/DecodedSound.h"
#include "show/SoundtrackFile.h"

class SoundtrackSession {
public:
    // The slices of the waveform.
    static constexpr double kPeakSliceMs = 2;

    // report: a message for the user. decoded: called on the decoding
    // thread when a decode has finished, so that the owner can have poll()
    // run on its own thread (the window posts it to its event loop).
    explicit SoundtrackSession(std::function<void(const std::string&)> report,
                               std::function<void()> decoded = {});
    ~SoundtrackSession();
    SoundtrackSession(const SoundtrackSession&) = delete;
    SoundtrackSession& operator=(const SoundtrackSession&) = delete;

    // Open read sequencePath: its soundtrack is found and decoding starts.
    void opened(const std::string& sequencePath);
    // Save wrote sequencePath: the sidecar is written where wanted. Empty
    // on success (or when nothing needed writing), else the message; the
    // old sidecar is then as it was.
    std::string saved(const std::string& sequencePath);
    // Sequence > Soundtrack... chose this; decoding starts when the file
    // differs.
    void choose(const SoundtrackChoice& choice);

    const SoundtrackChoice& choice() const { return choice_; }
    // The choice differs from what Open read or Save last wrote.
    bool changedSinceSaved() const { return !(choice_ == saved_); }

    // Takes a finished decode (reporting its failure); true when sound()
    // changed.
    bool poll();
    // Waits for the decode under way, then polls.
    bool waitDecoded();
    // The decoded track of the choice; null while decoding, without a
    // soundtrack, or when it could not be decoded.
    const std::shared_ptr<const DecodedSound>& sound() const { return sound_; }
    const SoundPeaks& peaks() const { return peaks_; }

private:
    void startDecoding();
    void cancelDecoding();

    std::function<void(const std::string&)> report_;
    std::function<void()> decoded_;
    SoundtrackChoice choice_, saved_;
    std::string sidecarText_;      // the sidecar as read, for its unknown keys
    bool keepInvalidSidecar_ = false;  // not valid at Open: left alone unless the choice changes

    std::shared_ptr<const DecodedSound> sound_;
    SoundPeaks peaks_;
    std::string decodedPath_;

    struct Decode {
        std::string path;
        std::atomic<bool> cancelled{false};
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        DecodeResult result;
        SoundPeaks peaks;
    };
    std::shared_ptr<Decode> decode_;
    std::thread thread_;
};
