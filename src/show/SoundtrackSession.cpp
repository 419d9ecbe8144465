// SPDX-License-Identifier: GPL-3.0-or-later
#include "show/SoundtrackSession.h"

SoundtrackSession::SoundtrackSession(std::function<void(const std::string&)> report, std::function<void()> decoded)
    : report_(std::move(report)), decoded_(std::move(decoded)) {}

SoundtrackSession::~SoundtrackSession() { cancelDecoding(); }

void SoundtrackSession::opened(const std::string& sequencePath) {
    const SoundtrackLookup found = findSoundtrack(sequencePath);
    if (!found.message.empty() && report_) report_(found.message);
    choice_ = saved_ = found.choice;
    sidecarText_ = found.sidecarText;
    keepInvalidSidecar_ = found.sidecarInvalid;
    startDecoding();
}

std::string SoundtrackSession::saved(const std::string& sequencePath) {
    if (keepInvalidSidecar_ && !changedSinceSaved()) return {};
    if (!sidecarWanted(sequencePath, choice_)) {
        saved_ = choice_;
        return {};
    }
    std::string error = writeSidecar(sequencePath, choice_, sidecarText_);
    if (!error.empty()) return error;
    saved_ = choice_;
    keepInvalidSidecar_ = false;
    return {};
}

void SoundtrackSession::choose(const SoundtrackChoice& choice) {
    const bool otherFile = choice.path != choice_.path;
    choice_ = choice;
    if (otherFile) startDecoding();
}

void SoundtrackSession::cancelDecoding() {
    if (decode_) decode_->cancelled = true;
    if (thread_.joinable()) thread_.join();
    decode_.reset();
}

void SoundtrackSession::startDecoding() {
    cancelDecoding();
    sound_.reset();
    peaks_ = {};
    decodedPath_.clear();
    if (choice_.none()) return;
    decode_ = std::make_shared<Decode>();
    decode_->path = choice_.path;
    thread_ = std::thread([d = decode_, notify = decoded_] {
        DecodeResult r = decodeSoundFile(d->path, &d->cancelled);
        SoundPeaks peaks;
        if (r.sound) peaks = computePeaks(*r.sound, kPeakSliceMs);
        {
            std::lock_guard lock(d->mutex);
            d->result = std::move(r);
            d->peaks = std::move(peaks);
            d->finished = true;
        }
        d->done.notify_all();
        if (notify && !d->cancelled) notify();
    });
}

bool SoundtrackSession::poll() {
    if (!decode_) return false;
    {
        std::lock_guard lock(decode_->mutex);
        if (!decode_->finished) return false;
    }
    thread_.join();
    std::shared_ptr<Decode> d = std::move(decode_);
    decode_.reset();
    if (!d->result.sound) {
        if (report_)
            report_("The soundtrack " + displayName(d->path) + ": " + d->result.error +
                    "; the sequence plays without it.");
        return false;
    }
    sound_ = std::move(d->result.sound);
    peaks_ = std::move(d->peaks);
    decodedPath_ = d->path;
    return true;
}

bool SoundtrackSession::waitDecoded() {
    if (!decode_) return false;
    {
        std::unique_lock lock(decode_->mutex);
        decode_->done.wait(lock, [&] { return decode_->finished; });
    }
    return poll();
}
