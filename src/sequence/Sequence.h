// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sequence record: 128 frames of 32 channel settings. Its byte image is
// also the layout of the sequence file, so every size and offset is fixed.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

// The image is little-endian; fields are stored in host order, so only
// little-endian hosts can use it directly.
static_assert(std::endian::native == std::endian::little,
              "the sequence image is little-endian; this host is big-endian");

inline constexpr int kFrameCount = 128;
inline constexpr int kChannelCount = 32;

struct ChannelSetting {
    int32_t position;   // pulse width in microseconds
    int32_t rate;       // ramp value, 0 = no ramping, 63 = slowest
    int32_t offset;     // centre fine-tune, added to position when sent
    int32_t pause;      // ms to wait after this channel during playback
    uint8_t changed;    // channel is part of the frame; non-zero counts as set
    uint8_t spare[7];   // carried along, never interpreted
};

struct Frame {
    ChannelSetting channels[kChannelCount];
    int32_t jumpTo;     // -1 = none, else the frame that follows during playback
    uint8_t frameUsed;  // frame holds a recording; non-zero counts as set
    uint8_t padding[3];
};

static_assert(sizeof(ChannelSetting) == 24);
static_assert(offsetof(ChannelSetting, position) == 0);
static_assert(offsetof(ChannelSetting, rate) == 4);
static_assert(offsetof(ChannelSetting, offset) == 8);
static_assert(offsetof(ChannelSetting, pause) == 12);
static_assert(offsetof(ChannelSetting, changed) == 16);
static_assert(offsetof(ChannelSetting, spare) == 17);
static_assert(sizeof(Frame) == 776);
static_assert(offsetof(Frame, channels) == 0);
static_assert(offsetof(Frame, jumpTo) == 768);
static_assert(offsetof(Frame, frameUsed) == 772);
static_assert(offsetof(Frame, padding) == 773);

inline constexpr int32_t kDefaultPosition = 1500;

class Sequence {
public:
    Sequence() { initialise(); }

    // Every frame to its defaults: 1500/0/0/0, changed 0, jumpTo -1, unused,
    // spare bytes and padding 0.
    void initialise();

    static bool validFrame(int f) { return f >= 0 && f < kFrameCount; }
    static bool validChannel(int c) { return c >= 0 && c < kChannelCount; }

    // Index checked access: an index outside 0..127 / 0..31 aborts, since
    // no operation may touch a frame that does not exist.
    Frame& frame(int f);
    const Frame& frame(int f) const;
    ChannelSetting& channel(int f, int c);
    const ChannelSetting& channel(int f, int c) const;

    // Whole 776-byte copy: channels with spare bytes, jumpTo, frameUsed, padding.
    void copyFrame(int from, int to);
    // The 32 channel settings to 1500/0/0/0, changed 0; jumpTo, frameUsed,
    // spare bytes and padding stay as they are.
    void resetChannels(int f);

    std::span<uint8_t> image();
    std::span<const uint8_t> image() const;

private:
    Frame frames_[kFrameCount];
};

static_assert(sizeof(Sequence) == 99328);
static_assert(std::is_standard_layout_v<Sequence>);

// The small editor state shared by the frame editor, the player, the strips,
// the port menu and the window. One instance, owned by the editor core.
struct EditorState {
    int32_t currentFrame = 0;     // 0..127; 128 only as Exit's stop signal
    int32_t lastFrame = 0;        // end of the recording
    bool playing = false;
    bool paused = false;
    bool typingPosition = false;  // a position box is being typed into
    int32_t portStatus = -1;      // -1 until a port has been opened
    std::array<uint8_t, 5> versionStamp{'0', '.', '9', 'g', ' '};
};
