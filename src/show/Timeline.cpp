// SPDX-License-Identifier: GPL-3.0-or-later
#include "show/Timeline.h"

#include <array>
#include <bitset>
#include <functional>
#include <memory>
#include <optional>

#include "editor/EditorCore.h"
#include "editor/MainWindowView.h"
#include "editor/PlaybackObserver.h"
#include "link/Commands.h"
#include "link/Notifier.h"
#include "link/SerialDevice.h"
#include "link/TickSource.h"
#include "sim/Decoder.h"

namespace {

// A clock that moves only when waited on, or when the line takes a byte.
class ModelClock : public TickSource {
public:
    uint32_t GetTickCount() override { return static_cast<uint32_t>(us_ / 1000); }
    uint64_t microseconds() override { return us_; }
    void sleepMs(uint32_t ms) override { us_ += uint64_t{ms} * 1000; }
    void sleepUs(uint64_t us) override { us_ += us; }
    void advanceUs(uint64_t us) { us_ += us; }
    double ms() const { return static_cast<double>(us_) / 1000.0; }

private:
    uint64_t us_ = 0;
};

// The line to the controller: every byte takes its time on the wire and is
// decoded as the controller decodes it; nothing ever comes back. A send
// (its writes and drains) therefore takes the wire time, as on a real line.
class ModelLine : public SerialDevice {
public:
    // sending: told before the bytes of a write take their time.
    ModelLine(ModelClock& clock, std::function<void()> sending, std::function<void(const sim::Event&)> received)
        : clock_(clock), sending_(std::move(sending)), received_(std::move(received)) {}

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
        sending_();
        const auto* bytes = static_cast<const uint8_t*>(src);
        for (uint32_t i = 0; i < count; ++i) {
            clock_.advanceUs(kByteWireUs);
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
    std::function<void()> sending_;
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

// A window that nobody sees. The player handles its events at the start of
// every used frame, right after showing the frame's number (the one place
// where it does so with a frame number just shown): a frame already begun
// ends the pass there, as Exit ends a playback, and the player returns
// without playing it. The player draws the strips at once when a frame's
// display is done and before the frame's pass sends its settings.
class PassView : public MainWindowView {
public:
    std::function<void()> onFrameStart;
    std::function<void()> onFrameShown;

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
    void repaintNow() override {
        if (onFrameShown) onFrameShown();
    }

private:
    bool labelShown_ = false;
};

// Notes the pass as the player plays it, on the model's clock.
class PassRecorder : public PlaybackObserver {
public:
    PassRecorder(Timeline& timeline, const ModelClock& clock) : t_(timeline), clock_(clock) {}

    // A command reached the controller.
    void received(const sim::Event& e, int frame) {
        if (e.kind != sim::Event::Kind::Position) return;
        t_.commands.push_back(
            {e.timeMs, frame, pass_, e.position.channel, e.position.rate, e.position.pulse, showing_, 0});
        if (!showing_) pausing_ = t_.commands.size() - 1;
    }
    // The next step begins: the pause of the pass's last command is over.
    void step() {
        if (!pausing_) return;
        SentCommand& c = t_.commands[*pausing_];
        c.pauseMs = clock_.ms() - c.atMs;
        pausing_.reset();
    }
    // The frame's display is done: what follows is the pass's.
    void frameShown() { showing_ = false; }

    void playbackStarted(int, bool) override {}
    void frameBegins(int frame) override {
        step();
        pass_ = frame;
        showing_ = true;
        t_.frames.push_back({frame, clock_.ms(), 0, 0});
    }
    void jumped(int frame) override {
        const int from = pausing_ ? t_.commands[*pausing_].frame : pass_;
        step();
        t_.jumps.push_back({clock_.ms(), pass_, from, frame});
    }
    void playbackEnded(PlaybackEnd) override { step(); }

private:
    Timeline& t_;
    const ModelClock& clock_;
    int pass_ = -1;
    bool showing_ = true;  // loading's display comes first
    std::optional<size_t> pausing_;
};

}  // namespace

Timeline Timeline::of(const Sequence& loaded) {
    Timeline timeline;
    ModelClock clock;
    PassView view;
    Silent notifier;
    PassRecorder recorder(timeline, clock);
    EditorCore* corePtr = nullptr;
    auto line = std::make_unique<ModelLine>(
        clock, [&] { recorder.step(); },
        [&](const sim::Event& e) {
            if (corePtr) recorder.received(e, corePtr->state().currentFrame);
        });
    EditorCore core(view, notifier, clock, [] { return std::vector<std::string>{}; }, std::move(line));
    corePtr = &core;
    core.FormCreate();
    core.openPort("KDX", false);

    std::bitset<kFrameCount> begun;
    view.onFrameStart = [&] {
        if (!core.state().playing) return;  // Play has ended; nothing starts
        const int frame = core.state().currentFrame;
        if (!Sequence::validFrame(frame)) return;
        if (begun.test(static_cast<size_t>(frame))) {
            core.abandonPlayback();
            return;
        }
        begun.set(static_cast<size_t>(frame));
    };
    view.onFrameShown = [&] { recorder.frameShown(); };

    // At most a display's commands and a pass's for each used frame, and
    // loading's: room for them all at once.
    int used = 0;
    for (int f = 0; f < kFrameCount; ++f) used += loaded.frame(f).frameUsed != 0;
    timeline.commands.reserve(static_cast<size_t>(2 * kChannelCount * (used + 1)));
    timeline.frames.reserve(static_cast<size_t>(used));

    // As after loading the file: frame 0 is shown, which marks and sends.
    core.replaceSequence(loaded);
    core.StartFrameClick();
    const double originMs = clock.ms();
    core.addPlaybackObserver(&recorder);
    core.RunClick();
    core.removePlaybackObserver(&recorder);
    core.FormClose();

    timeline.passMs = clock.ms() - originMs;
    for (SentCommand& c : timeline.commands) c.atMs -= originMs;
    for (JumpTaken& j : timeline.jumps) j.atMs -= originMs;
    // A frame's pass is begun once: its commands are those that name it.
    std::array<int, kFrameCount> sent{};
    for (const SentCommand& c : timeline.commands)
        if (Sequence::validFrame(c.pass)) ++sent[static_cast<size_t>(c.pass)];
    for (size_t i = 0; i < timeline.frames.size(); ++i) {
        FrameBegun& f = timeline.frames[i];
        f.atMs -= originMs;
        const double end = i + 1 < timeline.frames.size() ? timeline.frames[i + 1].atMs - originMs : timeline.passMs;
        f.holdsMs = end - f.atMs;
        f.commands = sent[static_cast<size_t>(f.frame)];
    }
    return timeline;
}

const FrameBegun* Timeline::frame(int frame) const {
    for (const FrameBegun& f : frames)
        if (f.frame == frame) return &f;
    return nullptr;
}

std::optional<double> Timeline::frameAtMs(int frame) const {
    const FrameBegun* f = this->frame(frame);
    if (!f) return std::nullopt;
    return f->atMs;
}

std::optional<double> Timeline::commandDoneMs(int frame, int channel) const {
    for (const SentCommand& c : commands)
        if (c.pass == frame && c.channel == channel && !c.live) return c.atMs + c.pauseMs;
    return std::nullopt;
}

const FrameBegun* Timeline::frameAt(double ms) const {
    for (const FrameBegun& f : frames)
        if (ms >= f.atMs && ms < f.endMs()) return &f;
    if (!frames.empty() && ms >= frames.back().atMs && ms <= passMs) return &frames.back();
    return nullptr;
}
