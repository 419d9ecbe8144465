// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An editor core without a window, wired to a controller simulator on the far
// side of a real pseudo-terminal. The clock is fake: the core's waits cost no
// real time and can be read back from `ticks`. What the core sent is read
// from the simulator's decoded position commands.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "FakeTicks.h"
#include "FakeView.h"
#include "RecordingNotifier.h"
#include "editor/EditorCore.h"
#include "link/Commands.h"
#include "sim/ControllerSimulator.h"

// One position command as the controller decoded it.
struct Sent {
    int channel, rate, pulse;
    friend bool operator==(const Sent&, const Sent&) = default;
};

inline void PrintTo(const Sent& s, std::ostream* os) {
    *os << "(ch " << s.channel << ", rate " << s.rate << ", pulse " << s.pulse << ")";
}

// The pulse on the wire for a position and an offset.
inline int pulseOf(int position, int offset = 0) { return (position + offset) / 2; }

class CoreRig {
public:
    // A command no strip can produce (the box stops at 2500, the offset at
    // 50): it marks the end of what a test step sent.
    static constexpr int kMarkChannel = 31;
    static constexpr int kMarkRate = 63;
    static constexpr int kMarkPosition = 2998;

    CoreRig() : core(view, notifier, ticks, [] { return std::vector<std::string>{}; }) {
        core.FormCreate();
    }
    ~CoreRig() { core.FormClose(); }
    CoreRig(const CoreRig&) = delete;
    CoreRig& operator=(const CoreRig&) = delete;

    // Starts the simulator and opens its port the way the port menu does.
    ::testing::AssertionResult openPort() {
        if (!sim.start()) return ::testing::AssertionFailure() << "no pty: " << sim.error();
        if (!core.openPort(sim.portName()))
            return ::testing::AssertionFailure() << "cannot open " << sim.portName();
        return ::testing::AssertionSuccess();
    }

    static std::vector<Sent> positionsIn(const std::vector<sim::Event>& events) {
        std::vector<Sent> out;
        for (const sim::Event& e : events)
            if (e.kind == sim::Event::Kind::Position)
                out.push_back({e.position.channel, e.position.rate, e.position.pulse});
        return out;
    }

    // Waits until the simulator has decoded at least n position commands.
    bool waitForPositions(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return sim.waitFor([n](const std::vector<sim::Event>& ev) { return positionsIn(ev).size() >= n; },
                           timeout);
    }

    // Everything the core has sent since the last call: sends the end mark
    // through the core's port, waits until the simulator decoded it, and
    // returns the position commands before it. The line is a FIFO, so
    // nothing the core sent earlier can still be on its way.
    std::vector<Sent> takeSent() {
        static const Sent mark{kMarkChannel, kMarkRate, pulseOf(kMarkPosition)};
        core.sendPosition(kMarkChannel, kMarkRate, kMarkPosition, 0);
        auto hasMark = [](const std::vector<sim::Event>& ev) {
            auto p = positionsIn(ev);
            return std::find(p.begin(), p.end(), mark) != p.end();
        };
        EXPECT_TRUE(sim.waitFor(hasMark, std::chrono::seconds(10))) << "end mark never arrived";
        std::vector<sim::Event> events = sim.events();
        sim.clear();
        std::vector<Sent> out;
        for (const sim::Event& e : events) {
            if (e.kind == sim::Event::Kind::Unknown) ADD_FAILURE() << "undecodable bytes on the line";
            if (e.kind != sim::Event::Kind::Position) continue;
            Sent s{e.position.channel, e.position.rate, e.position.pulse};
            if (s == mark) break;
            out.push_back(s);
        }
        return out;
    }

    // --- the sequence, as a loaded file holds it: a copy edited, handed in ---
    void setChannel(int frame, int channel, int32_t position, int32_t rate = 0, int32_t offset = 0,
                    int32_t pause = 0, bool changed = true) {
        editSequence([&](Sequence& seq) {
            ChannelSetting& s = seq.channel(frame, channel);
            s.position = position;
            s.rate = rate;
            s.offset = offset;
            s.pause = pause;
            s.changed = changed ? 1 : 0;
        });
    }
    void useFrame(int frame, int32_t jumpTo = -1) {
        editSequence([&](Sequence& seq) {
            seq.frame(frame).frameUsed = 1;
            seq.frame(frame).jumpTo = jumpTo;
        });
    }
    template <typename Edit> void editSequence(Edit edit) {
        auto seq = std::make_unique<Sequence>(core.sequence());
        edit(*seq);
        core.replaceSequence(*seq);
    }

    // The current and last frame as a recovered copy sets them: nothing is
    // shown, and the strips keep their values (so nothing is sent).
    void setFrames(int current, int last) {
        auto copy = std::make_unique<RecoveryCopy>();
        core.copyForRecovery(*copy);
        copy->currentFrame = current;
        copy->lastFrame = last;
        ASSERT_TRUE(core.recover(*copy));
    }
    void setCurrentFrame(int current) { setFrames(current, core.state().lastFrame); }

    // --- the strips, through the user's actions on their controls ---
    // Each value that differs is put in as a user does: the box's text
    // replaced, the offset slider moved there.
    void editStrip(int channel, int32_t position, int32_t rate = 0, int32_t offset = 0,
                   int32_t pause = 0) {
        TChannel& s = core.userStrip(channel);
        s.PositionEdit.setText(std::to_string(position));
        s.RateEdit.setText(std::to_string(rate));
        if (s.OffsetTrack.position() != offset) s.OffsetTrack.userMove(offset);
        s.PauseEdit.setText(std::to_string(pause));
    }

    FakeView view;
    RecordingNotifier notifier;
    FakeTicks ticks;
    sim::ControllerSimulator sim;
    EditorCore core;  // last: it goes first, before the simulator it talks to
};

// A test fixture whose port is open on the simulator.
class CoreFixture : public ::testing::Test, public CoreRig {
protected:
    void SetUp() override { ASSERT_TRUE(openPort()); }
};

// The same with a parameter table.
template <typename Param>
class CoreFixtureP : public ::testing::TestWithParam<Param>, public CoreRig {
protected:
    void SetUp() override { ASSERT_TRUE(openPort()); }
};
