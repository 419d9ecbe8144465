// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keeps a show's commands on its time line, on any line. The schedule holds
// the show's point: the moment on the clock at which the last command of the
// show reached the controller and its pause ended. The next command is due a
// wire time after the point (kPositionCommandWireUs: eight bytes at 2400
// baud). Before sending it, the schedule waits until that moment less the
// time a send takes on this line, so that the command arrives when due:
// - on a real 2400-baud line a send takes the wire time itself (its writes
//   and drains block until the bytes are out): nothing is waited;
// - on a line that takes no time (a pseudo-terminal, the simulated
//   controller) the wire time is waited and the command arrives at once.
// The time a send takes is learnt from the sends on the line, each timed
// from its start to the return of its final drain and held to 0..the wire
// time: the median of the last kSendsLearnt, so that one send held up by a
// busy machine does not make the next ones leave early. Until the line has
// one, a send is taken to take the wire time; a first command that then
// arrives early sets the point where it arrived.
//
// A pause after a command ends at the point plus the pause. What a wait, a
// send or the time between them (showing a frame, handlers run between
// frames) ends late is made up by the later waits, since each is measured
// against the point rather than against the one before; lateness is never
// made up by sending early, and nothing waits past its moment. A command or
// wait that ends more than kLongestCatchUpUs late (a suspended computer, a
// stopped process) moves the point to where it ended instead: making that
// up would send a burst of commands without their time. Times are kept in
// microseconds, so the clock's rounding does not add up. A wait sleeps,
// handles no window events and never ends before its moment.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

class TickSource;

class PlaybackSchedule {
public:
    // Called as a wait begins and then as often as it asks (its result:
    // milliseconds until the next call, 0 for none); its time belongs to
    // the wait.
    using Redraw = std::function<uint32_t()>;

    // The point starts at the moment of construction.
    explicit PlaybackSchedule(TickSource& ticks);

    // The show goes on from now (Play, a resume, Stop, navigation): the
    // point is now, and lateness from before is dropped.
    void restart();
    // The line is another one (a port was opened): how long its sends take
    // is not known until it has had one.
    void forgetLine();

    // A command of the show: waits until it should leave, calls `send`, and
    // moves the point to the moment the command was due.
    template <typename Send>
    void send(Send&& send, const Redraw& redraw = nullptr) {
        const uint64_t t0 = awaitSend(redraw);
        send();
        sent(t0);
    }
    // A command outside the show (a live edit at rest): sent at once; its
    // time teaches the schedule how long a send takes on this line.
    template <typename Send>
    void sendAtOnce(Send&& send) {
        const uint64_t t0 = nowUs();
        send();
        learn(nowUs() - t0);
    }
    // The pause after a command: waits until the point plus ms, less what
    // earlier steps ended late, and moves the point there.
    void wait(uint32_t ms, const Redraw& redraw = nullptr);

    // How far (in microseconds) the last command or wait ended behind its
    // moment, not yet made up.
    uint64_t behindUs() const { return behindUs_; }
    // How long a send takes on this line as learnt; nothing before the
    // line's first send.
    std::optional<uint64_t> sendUs() const;

    static constexpr uint64_t kLongestCatchUpUs = 1000000;
    static constexpr size_t kSendsLearnt = 5;

private:
    uint64_t awaitSend(const Redraw& redraw);  // the send's start
    void sent(uint64_t startUs);
    uint64_t nowUs();
    void sleepUntil(uint64_t momentUs, const Redraw& redraw);
    void learn(uint64_t sendUs);
    void settle();  // behindUs_ from now; a stall moves the point

    TickSource& ticks_;
    uint64_t pointUs_;
    uint64_t behindUs_ = 0;
    std::array<uint64_t, kSendsLearnt> sends_{};  // the latest, oldest overwritten first
    size_t sendsSeen_ = 0;
    uint64_t medianSendUs_ = 0;  // of the latest kSendsLearnt
};
