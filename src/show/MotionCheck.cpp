// SPDX-License-Identifier: GPL-3.0-or-later
#include "show/MotionCheck.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <set>

#include "editor/EditorCore.h"
#include "editor/MainWindowView.h"
#include "link/Notifier.h"
#include "link/SerialDevice.h"
#include "link/TickSource.h"
#include "sim/ControllerSimulator.h"
#include "sim/Decoder.h"

namespace {

// Ten bit times at 2400 baud: a byte's time on the line.
constexpr uint64_t kByteUs = 4167;

// A clock that moves only when waited on, or when the line takes a byte.
class ModelClock : public TickSource {
public:
    uint32_t GetTickCount() override { return static_cast<uint32_t>(us_ / 1000); }
    uint64_t microseconds() override { return us_; }
    void sleepMs(uint32_t ms) override { us_ += uint64_t{ms} * 1000; }
    void advanceUs(uint64_t us) { us_ += us; }
    double ms() const { return static_cast<double>(us_) / 1000.0; }

private:
    uint64_t us_ = 0;
};

// The line to the controller: every byte takes its time on the wire and is
// decoded as the controller decodes it; nothing ever comes back.
class ModelLine : public SerialDevice {
public:
    ModelLine(ModelClock& clock, std::function<void(const sim::Event&)> received)
        : clock_(clock), received_(std::move(received)) {}

    Handle CreateFile(const std::string&, uint32_t&) override { return 1; }
    bool CloseHandle() override { return true; }
    bool GetCommState(LineSettings& settings) override {
        settings = settings_;
        return true;
    }
    bool SetCommState(const LineSettings& settings) override {
        settings_ = settings;
        return true;
    }
    bool SetCommTimeouts(const CommTimeouts&) override { return true; }
    bool ReadFile(void*, uint32_t, uint32_t& bytesRead) override {
        bytesRead = 0;
        return true;
    }
    bool WriteFile(const void* src, uint32_t count, uint32_t& bytesWritten) override {
        const auto* bytes = static_cast<const uint8_t*>(src);
        for (uint32_t i = 0; i < count; ++i) {
            clock_.advanceUs(kByteUs);
            decoder_.feed(bytes[i], clock_.ms(), events_);
        }
        for (const sim::Event& e : events_) received_(e);
        events_.clear();
        bytesWritten = count;
        return true;
    }
    bool ClearCommError(uint32_t& errors, CommStatus& status) override {
        errors = 0;
        status = {};
        return true;
    }
    bool EscapeCommFunction(uint32_t) override { return true; }
    bool WaitOutputDrained(uint32_t) override { return true; }
    bool gone() const override { return false; }

private:
    ModelClock& clock_;
    std::function<void(const sim::Event&)> received_;
    sim::Decoder decoder_;
    std::vector<sim::Event> events_;
    LineSettings settings_;  // as the port object sets it
};

class Silent : public Notifier {
public:
    void Beep(unsigned, unsigned) override {}
    void ShowMessage(const std::string&) override {}
};

// A window that nobody sees. At the start of every used frame (the only
// place where the player handles events with a frame number just shown) it
// notes the pass; a pass of a frame already begun ends the show, as Exit
// ends it: the player then returns without playing it.
class PassView : public MainWindowView {
public:
    std::function<void()> onFrameStart;

    void ShowStatus(const std::string&, std::optional<Rgb>, bool) override {}
    void setFrameLabel(const std::string&) override { labelShown_ = true; }
    void setJumpLabel(const std::string&) override {}
    void setButtonEnabled(ViewButton, bool) override {}
    void showErrorBox(const std::string&) override {}
    void showWarningBox(const std::string&) override {}
    std::optional<std::string> askOpenFileName() override { return std::nullopt; }
    std::optional<std::string> askSaveFileName() override { return std::nullopt; }
    void setPortMenu(const std::vector<std::string>&) override {}
    void quitApplication() override {}
    void processPendingEvents() override {
        const bool frameStarts = labelShown_;
        labelShown_ = false;
        if (frameStarts && onFrameStart) onFrameStart();
    }

private:
    bool labelShown_ = false;
};

}  // namespace

MotionRecord recordPass(const Sequence& loaded) {
    MotionRecord record;
    ModelClock clock;
    PassView view;
    Silent notifier;
    EditorCore* corePtr = nullptr;
    // Times on the model's clock until the pass is over, then from Play.
    auto line = std::make_unique<ModelLine>(clock, [&](const sim::Event& e) {
        if (e.kind != sim::Event::Kind::Position || !corePtr) return;
        record.commands.push_back(
            {e.timeMs, corePtr->state().currentFrame, e.position.channel, e.position.rate, e.position.pulse});
    });
    EditorCore core(view, notifier, clock, [] { return std::vector<std::string>{}; }, std::move(line));
    corePtr = &core;
    core.FormCreate();
    core.openPort("KDX", false);

    std::set<int> begun;
    view.onFrameStart = [&] {
        if (!core.state().playing) return;  // Play has ended; nothing starts
        const int frame = core.state().currentFrame;
        if (!begun.insert(frame).second) {
            core.abandonPlayback();
            return;
        }
        record.frames.push_back({clock.ms(), frame});
    };

    // As after loading the file: frame 0 is shown, which marks and sends.
    core.openSequence(loaded);
    const double originMs = clock.ms();
    core.RunClick();
    record.endMs = clock.ms() - originMs;
    for (SentCommand& c : record.commands) c.atMs -= originMs;
    for (FrameStart& f : record.frames) f.atMs -= originMs;
    core.FormClose();
    return record;
}

bool Move::finishes() const {
    // Within a microsecond: the time a move takes is computed, not measured.
    return needsMs <= availableMs + 1e-3;
}

std::vector<Move> modelMoves(const MotionRecord& record) {
    struct Servo {
        bool commanded = false;
        double startPulse = 0, startMs = 0;  // the motion under way, as the simulator keeps it
        int target = 0, rate = 0;
        std::optional<size_t> move;  // its entry in moves
    };
    std::array<Servo, kChannelCount> servos{};
    std::vector<Move> moves;
    for (const SentCommand& c : record.commands) {
        if (c.channel < 0 || c.channel >= kChannelCount) continue;
        Servo& s = servos[static_cast<size_t>(c.channel)];
        const double at =
            s.commanded ? sim::rampPulse(s.startPulse, s.target, s.rate, c.atMs - s.startMs) : c.pulse;
        if (s.commanded && c.pulse == s.target) {
            Move& m = moves[*s.move];
            if (at != c.pulse) m.needsMs = c.atMs - m.startMs + sim::rampDurationMs(at, c.pulse, c.rate);
            m.command = c;
        } else {
            if (s.move) {
                Move& m = moves[*s.move];
                m.availableMs = c.atMs - m.startMs;
                m.endPulse = at;
                m.redirected = true;
            }
            s.move = moves.size();
            moves.push_back({c, c.atMs, at, sim::rampDurationMs(at, c.pulse, c.rate), 0, at, false});
        }
        s.commanded = true;
        s.startPulse = at;
        s.startMs = c.atMs;
        s.target = c.pulse;
        s.rate = c.rate;
    }
    for (const Servo& s : servos) {
        if (!s.move) continue;
        Move& m = moves[*s.move];
        m.availableMs = record.endMs - m.startMs;
        m.endPulse = sim::rampPulse(s.startPulse, s.target, s.rate, record.endMs - s.startMs);
    }
    return moves;
}

namespace {
// Two decimals, rounded so that the printed figures never hide the shortfall.
std::string seconds(double ms, bool up) {
    const double hundredths = up ? std::ceil(ms / 10.0 - 1e-6) : std::floor(ms / 10.0 + 1e-6);
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::max(0.0, hundredths) / 100.0);
    return text;
}
}  // namespace

std::string describeUnfinished(const Move& m) {
    char head[128];
    std::snprintf(head, sizeof head, "frame %d channel %d: %ld -> %d us at rate %d needs ", m.command.frame,
                  m.command.channel, std::lround(m.fromPulse * 2), m.command.pulse * 2, m.command.rate);
    return head + seconds(m.needsMs, true) + " s, " +
           (m.redirected ? "the next command comes after " : "the pass ends after ") +
           seconds(m.availableMs, false) + " s";
}
