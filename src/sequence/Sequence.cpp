// SPDX-License-Identifier: GPL-3.0-or-later
#include "sequence/Sequence.h"

#include <cstdlib>
#include <cstring>

namespace {
void checkIndex(bool ok) {
    if (!ok) std::abort();  // a frame outside 0..127 must never be addressed
}

ChannelSetting defaultChannel() {
    ChannelSetting s{};
    s.position = kDefaultPosition;
    return s;
}
}  // namespace

void Sequence::initialise() {
    std::memset(frames_, 0, sizeof frames_);
    for (Frame& f : frames_) {
        for (ChannelSetting& c : f.channels) c = defaultChannel();
        f.jumpTo = -1;
    }
}

Frame& Sequence::frame(int f) {
    checkIndex(validFrame(f));
    return frames_[f];
}

const Frame& Sequence::frame(int f) const {
    checkIndex(validFrame(f));
    return frames_[f];
}

ChannelSetting& Sequence::channel(int f, int c) {
    checkIndex(validChannel(c));
    return frame(f).channels[c];
}

const ChannelSetting& Sequence::channel(int f, int c) const {
    checkIndex(validChannel(c));
    return frame(f).channels[c];
}

void Sequence::copyFrame(int from, int to) {
    std::memcpy(&frame(to), &frame(from), sizeof(Frame));
}

void Sequence::resetChannels(int f) {
    for (ChannelSetting& c : frame(f).channels) {
        c.position = kDefaultPosition;
        c.rate = 0;
        c.offset = 0;
        c.pause = 0;
        c.changed = 0;
    }
}

std::span<uint8_t> Sequence::image() {
    return {reinterpret_cast<uint8_t*>(frames_), sizeof frames_};
}

std::span<const uint8_t> Sequence::image() const {
    return {reinterpret_cast<const uint8_t*>(frames_), sizeof frames_};
}
