// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/Decoder.h"

#include <string>

namespace sim {

namespace {

constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kProbe = 0x55;
constexpr uint8_t kFrameMarker = 'F';
constexpr int kChannels = 32;
constexpr char kQuery[] = "!SCVER?\r";
constexpr size_t kQueryLength = sizeof kQuery - 1;
constexpr size_t kPositionLength = 8;
constexpr size_t kHeaderLength = 7;  // "KDX" and the four stamp bytes
constexpr size_t kRecordLength = 6;
// Long runs of noise are reported in pieces rather than held without limit.
constexpr size_t kUnknownChunk = 256;
// The longest stream the application sends: frames 0..63, each channel at
// most once. A longer one is ended there, so a stream without end cannot
// grow without limit either.
constexpr size_t kMaxDownloadFrames = 64;

Event makeEvent(Event::Kind kind, double tMs) {
    Event e{};
    e.kind = kind;
    e.timeMs = tMs;
    return e;
}

}  // namespace

void Decoder::feed(uint8_t byte, double tMs, std::vector<Event>& out) {
    lastMs_ = tMs;
    switch (state_) {
    case State::Idle:
        start(byte, tMs, out);
        return;

    case State::Command: {
        msg_.push_back(byte);
        const size_t n = msg_.size();
        if (n <= 3) {
            if (byte != static_cast<uint8_t>("!SC"[n - 1])) mismatch(out);
            return;
        }
        if (msg_[3] == 'V') {
            if (byte != static_cast<uint8_t>(kQuery[n - 1])) {
                mismatch(out);
            } else if (n == kQueryLength) {
                Event e = makeEvent(Event::Kind::VersionQuery, tMs);
                e.raw = msg_;
                out.push_back(std::move(e));
                msg_.clear();
                state_ = State::Idle;
            }
            return;
        }
        if (n == 4 && byte >= kChannels) {
            mismatch(out);
            return;
        }
        if (n == kPositionLength) {
            if (byte != kCr) {
                mismatch(out);
                return;
            }
            Event e = makeEvent(Event::Kind::Position, tMs);
            e.position = PositionMessage{msg_[3], msg_[4], msg_[5] | (msg_[6] << 8)};
            e.raw = msg_;
            out.push_back(std::move(e));
            msg_.clear();
            state_ = State::Idle;
        }
        return;
    }

    case State::Header:
        msg_.push_back(byte);
        if (byte != static_cast<uint8_t>("KDX"[msg_.size() - 1])) {
            mismatch(out);
        } else if (msg_.size() == 3) {
            state_ = State::Stamp;
        }
        return;

    case State::Stamp:
        msg_.push_back(byte);
        if (msg_.size() == kHeaderLength) {
            download_ = DownloadMessage{};
            download_.stamp.assign(msg_.begin() + 3, msg_.end());
            downloadComplete_ = msg_.size();
            downloadLastMs_ = tMs;
            state_ = State::FrameMarker;
        }
        return;

    case State::FrameMarker:
        if (byte != kFrameMarker) {
            endDownload(out);
            start(byte, tMs, out);
            return;
        }
        msg_.push_back(byte);
        state_ = State::FrameNumber;
        return;

    case State::FrameNumber:
        msg_.push_back(byte);
        download_.frames.push_back(DownloadFrame{byte, {}});
        downloadComplete_ = msg_.size();
        downloadLastMs_ = tMs;
        state_ = State::RecordStart;
        return;

    case State::RecordStart:
        // Channel numbers are 0..31, so neither the frame marker nor the start
        // of a command can be mistaken for one.
        if (byte == kFrameMarker && download_.frames.size() < kMaxDownloadFrames) {
            msg_.push_back(byte);
            state_ = State::FrameNumber;
        } else if (byte < kChannels && download_.frames.back().channels.size() < static_cast<size_t>(kChannels)) {
            msg_.push_back(byte);
            record_.assign(1, byte);
            state_ = State::Record;
        } else {
            endDownload(out);
            start(byte, tMs, out);
        }
        return;

    case State::Record:
        msg_.push_back(byte);
        record_.push_back(byte);
        if (record_.size() == kRecordLength) {
            download_.frames.back().channels.push_back(DownloadChannel{
                record_[0], record_[1], (record_[2] << 8) | record_[3], (record_[4] << 8) | record_[5]});
            downloadComplete_ = msg_.size();
            downloadLastMs_ = tMs;
            state_ = State::RecordStart;
        }
        return;
    }
}

void Decoder::start(uint8_t byte, double tMs, std::vector<Event>& out) {
    if (byte == '!' || byte == 'K') {
        flushUnknown(out);
        msg_.assign(1, byte);
        state_ = byte == '!' ? State::Command : State::Header;
    } else if (byte == kProbe) {
        flushUnknown(out);
        Event e = makeEvent(Event::Kind::Probe, tMs);
        e.raw.assign(1, byte);
        out.push_back(std::move(e));
    } else {
        addUnknown(byte, tMs, out);
    }
}

// The collected bytes do not make the message they began. Only the first one
// is surely noise; the rest are looked at again, since a message may start
// among them.
void Decoder::mismatch(std::vector<Event>& out) {
    std::vector<uint8_t> rest(msg_.begin() + 1, msg_.end());
    const uint8_t first = msg_.front();
    msg_.clear();
    state_ = State::Idle;
    addUnknown(first, lastMs_, out);
    const double t = lastMs_;
    for (uint8_t b : rest) feed(b, t, out);
}

void Decoder::endDownload(std::vector<Event>& out) {
    std::vector<uint8_t> tail(msg_.begin() + static_cast<std::ptrdiff_t>(downloadComplete_), msg_.end());
    msg_.resize(downloadComplete_);
    Event e = makeEvent(Event::Kind::Download, downloadLastMs_);
    e.download = std::move(download_);
    e.raw = std::move(msg_);
    out.push_back(std::move(e));
    download_ = DownloadMessage{};
    msg_.clear();
    record_.clear();
    downloadComplete_ = 0;
    state_ = State::Idle;
    // A frame marker without its number, or a record cut short.
    for (uint8_t b : tail) addUnknown(b, lastMs_, out);
}

void Decoder::flush(std::vector<Event>& out) {
    switch (state_) {
    case State::Idle:
        break;
    case State::Command:
    case State::Header:
    case State::Stamp:
        for (uint8_t b : msg_) addUnknown(b, lastMs_, out);
        msg_.clear();
        state_ = State::Idle;
        break;
    case State::FrameMarker:
    case State::FrameNumber:
    case State::RecordStart:
    case State::Record:
        endDownload(out);
        break;
    }
    flushUnknown(out);
}

void Decoder::addUnknown(uint8_t byte, double tMs, std::vector<Event>& out) {
    unknown_.push_back(byte);
    unknownMs_ = tMs;
    if (unknown_.size() >= kUnknownChunk) flushUnknown(out);
}

void Decoder::flushUnknown(std::vector<Event>& out) {
    if (unknown_.empty()) return;
    Event e = makeEvent(Event::Kind::Unknown, unknownMs_);
    e.raw = std::move(unknown_);
    unknown_.clear();
    out.push_back(std::move(e));
}

}  // namespace sim
