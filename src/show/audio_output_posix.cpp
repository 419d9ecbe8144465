// SPDX-License-Identifier: GPL-3.0-or-later
// The sound output through the PulseAudio client library: a PulseAudio
// server, or PipeWire's pulse server, on the session's socket (or the one
// PULSE_SERVER names; PULSE_SINK chooses the device).
//
// Threads: PulseAudio's threaded main loop runs every callback here on its
// own thread. The program's thread only appends requests to a small queue
// and writes one byte to a pipe that the loop watches, and reads a snapshot
// of what is heard; it never takes the loop's lock, so nothing here can hold
// up the show.
//
// Each play() opens a new playback stream: its first sample is the point of
// the track that will be heard when the stream starts (now plus the delay the
// last stream showed between its first write and its first sample heard),
// and everything queued for the stream before is dropped with it, so that a
// new point is heard at once. The stream's own clock (pa_stream_get_time:
// the sample being heard, the server's and device's latency included, in
// the sound card's clock) gives what is heard; a log of where in the track
// each stretch of written samples came from turns it into a track point.
// When the first point a stream hears is more than kRestartFromMs away from
// what play() asked (the delay was not yet known: the first stream of a
// run), the stream is started once more with the delay it showed, at once
// rather than at the show's next frame. A stream that runs dry (its thread
// did not have the processor in time) is started afresh in the same way.
// adjust() plays 0.5 % fast or slow (linear interpolation) until done.

#include <fcntl.h>
#include <pulse/pulseaudio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "link/TickSource.h"
#include "show/AudioOutput.h"

namespace {

constexpr double kBufferMs = 40;       // the stream's target length: how far ahead it is written
constexpr double kAdjustRate = 0.005;  // how much faster or slower adjust() plays
constexpr double kFirstDelayGuessMs = 40;
constexpr double kRestartFromMs = 5;

class PulseOutput : public AudioOutput {
public:
    PulseOutput(TickSource& clock, const std::string& name) : clock_(clock) {
        if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) {
            setFailure(std::string("cannot start the sound output (") + std::strerror(errno) + ")");
            return;
        }
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) {
            setFailure("cannot start the sound output");
            return;
        }
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, name.c_str());
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "animation");
        context_ = pa_context_new_with_proplist(api, name.c_str(), props);
        pa_proplist_free(props);
        if (!context_) {
            setFailure("cannot start the sound output");
            return;
        }
        pa_context_set_state_callback(context_, &PulseOutput::contextState, this);
        wakeEvent_ = api->io_new(api, wake_[0], PA_IO_EVENT_INPUT, &PulseOutput::woken, this);
        // Never starts a server of its own: a session without one plays
        // silent and says so.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            setFailure(noServer());
            return;
        }
        if (pa_threaded_mainloop_start(loop_) < 0) {
            setFailure("cannot start the sound output's thread");
            return;
        }
        running_ = true;
    }

    ~PulseOutput() override {
        if (loop_) {
            if (running_) pa_threaded_mainloop_lock(loop_);
            closeStream();
            if (context_) {
                pa_context_set_state_callback(context_, nullptr, nullptr);
                pa_context_disconnect(context_);
            }
            if (wakeEvent_) pa_threaded_mainloop_get_api(loop_)->io_free(wakeEvent_);
            if (running_) {
                pa_threaded_mainloop_unlock(loop_);
                pa_threaded_mainloop_stop(loop_);
            }
            if (context_) pa_context_unref(context_);
            pa_threaded_mainloop_free(loop_);
        }
        for (int fd : wake_)
            if (fd != -1) ::close(fd);
    }

    void play(std::shared_ptr<const DecodedSound> sound, double trackMs, uint64_t atUs) override {
        request({Request::Play, std::move(sound), trackMs, atUs});
    }
    void adjust(double ms) override { request({Request::Adjust, nullptr, ms, 0}); }
    void stop() override { request({Request::Stop, nullptr, 0, 0}); }

    std::optional<HeardPoint> heard() const override {
        std::lock_guard lock(snapshotMutex_);
        return heard_;
    }
    std::string failure() const override {
        std::lock_guard lock(snapshotMutex_);
        return failure_;
    }

private:
    struct Request {
        enum Kind { Play, Adjust, Stop } kind;
        std::shared_ptr<const DecodedSound> sound;
        double ms;
        uint64_t atUs;
        bool again = false;  // the output's own restart of the play() before
    };
    // A stretch of the stream's samples: from output frame `at` on, taken
    // from the track's frame `from` onwards, `step` track frames per frame.
    struct Stretch {
        int64_t at;
        double from;
        double step;
    };

    // --- the program's thread ---
    void request(Request r) {
        {
            std::lock_guard lock(requestsMutex_);
            if (requests_.size() > 64) requests_.erase(requests_.begin());  // a loop that is gone
            requests_.push_back(std::move(r));
        }
        const char byte = 1;
        // A full pipe already wakes the loop.
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
    }

    void setFailure(const std::string& why) {
        std::lock_guard lock(snapshotMutex_);
        if (failure_.empty()) failure_ = why;
        heard_.reset();
    }
    bool failed() const {
        std::lock_guard lock(snapshotMutex_);
        return !failure_.empty();
    }
    void publish(std::optional<HeardPoint> point) {
        std::lock_guard lock(snapshotMutex_);
        heard_ = point;
    }

    // --- the loop's thread ---
    // The server is there but plays nothing of ours: most often PULSE_SINK
    // names a device it does not have.
    static std::string streamRefused(const std::string& why) {
        const char* sink = std::getenv("PULSE_SINK");
        const std::string device = sink && *sink ? std::string(sink) : std::string("its output");
        return "the sound server cannot play to " + device + " (" + why + ")";
    }
    std::string noServer() const {
        return std::string("no sound server (") + pa_strerror(pa_context_errno(context_)) + ")";
    }

    static void contextState(pa_context* c, void* self) {
        auto* out = static_cast<PulseOutput*>(self);
        switch (pa_context_get_state(c)) {
        case PA_CONTEXT_READY:
            out->ready_ = true;
            if (out->pendingPlay_) {
                Request r = std::move(*out->pendingPlay_);
                out->pendingPlay_.reset();
                out->handle(r);
            }
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            out->closeStream();
            out->setFailure(out->ready_ ? std::string("the sound server went away (") +
                                              pa_strerror(pa_context_errno(c)) + ")"
                                        : out->noServer());
            out->ready_ = false;
            break;
        default:
            break;
        }
    }

    static void woken(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* self) {
        char drain[64];
        while (::read(fd, drain, sizeof drain) > 0) {
        }
        auto* out = static_cast<PulseOutput*>(self);
        std::vector<Request> batch;
        {
            std::lock_guard lock(out->requestsMutex_);
            batch.swap(out->requests_);
        }
        for (Request& r : batch) out->handle(r);
    }

    void handle(Request& r) {
        if (failed()) return;
        switch (r.kind) {
        case Request::Play:
            if (!ready_) {
                pendingPlay_ = std::move(r);
                return;
            }
            if (r.again && (r.sound != sound_ || r.atUs != anchorUs_)) return;  // a newer play() came first
            startStream(std::move(r.sound), r.ms, r.atUs);
            restarted_ = r.again;
            break;
        case Request::Adjust:
            if (stream_) adjustLeftMs_ = r.ms;
            break;
        case Request::Stop:
            pendingPlay_.reset();
            closeStream();
            break;
        }
    }

    void closeStream() {
        if (stream_) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_write_callback(stream_, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        sound_.reset();
        stretches_.clear();
        publish(std::nullopt);
    }

    void startStream(std::shared_ptr<const DecodedSound> sound, double trackMs, uint64_t atUs) {
        closeStream();
        if (!sound || sound->sampleRate <= 0) return;
        pa_sample_spec spec{PA_SAMPLE_S16LE, static_cast<uint32_t>(sound->sampleRate),
                            static_cast<uint8_t>(sound->channels)};
        stream_ = pa_stream_new(context_, "Soundtrack", &spec, nullptr);
        if (!stream_) {
            setFailure(streamRefused(pa_strerror(pa_context_errno(context_))));
            return;
        }
        sound_ = std::move(sound);
        anchorMs_ = trackMs;
        anchorUs_ = atUs;
        written_ = 0;
        heardOnce_ = false;
        adjustLeftMs_ = 0;
        pa_stream_set_state_callback(stream_, &PulseOutput::streamState, this);
        pa_stream_set_write_callback(stream_, &PulseOutput::writable, this);
        pa_stream_set_underflow_callback(stream_, &PulseOutput::underflowed, this);
        const auto bytes = static_cast<uint32_t>(pa_usec_to_bytes(static_cast<pa_usec_t>(kBufferMs * 1000), &spec));
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = bytes;
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                          PA_STREAM_ADJUST_LATENCY);
        if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
            const std::string why = pa_strerror(pa_context_errno(context_));
            closeStream();
            setFailure(streamRefused(why));
        }
    }

    static void streamState(pa_stream* s, void* self) {
        auto* out = static_cast<PulseOutput*>(self);
        if (pa_stream_get_state(s) == PA_STREAM_FAILED) {
            const std::string why = pa_strerror(pa_context_errno(out->context_));
            out->closeStream();
            out->setFailure(streamRefused(why));
        }
    }

    // The stream ran dry: its output thread did not have the processor
    // before the written sound was played. The server waits for a full
    // buffer before it plays on, so all that follows would be heard late by
    // the time it waited; the stream is started afresh where the clock says
    // the track is, as play() asked, at once rather than at the show's next
    // frame.
    static void underflowed(pa_stream*, void* self) {
        auto* out = static_cast<PulseOutput*>(self);
        if (!out->sound_) return;
        // Through the queue: the stream is not closed inside its own callback.
        out->request({Request::Play, out->sound_, out->anchorMs_, out->anchorUs_, true});
    }

    double nowMs() const { return static_cast<double>(clock_.microseconds()) / 1000.0; }
    // Where the track should be heard now, by the last play().
    double targetMs() const { return anchorMs_ + nowMs() - static_cast<double>(anchorUs_) / 1000.0; }

    static void writable(pa_stream* s, size_t nbytes, void* self) {
        auto* out = static_cast<PulseOutput*>(self);
        out->updateHeard();
        out->write(s, nbytes);
    }

    void write(pa_stream* s, size_t nbytes) {
        const DecodedSound& snd = *sound_;
        const int ch = snd.channels;
        const double rate = snd.sampleRate;
        if (written_ == 0 && stretches_.empty()) {
            // The first sample is heard after the stream has started.
            cursor_ = std::round((targetMs() + delayMs_) * rate / 1000.0);
            stretches_.push_back({0, cursor_, 1});
        }
        void* data = nullptr;
        if (pa_stream_begin_write(s, &data, &nbytes) < 0 || !data) return;
        const size_t frames = nbytes / (sizeof(int16_t) * static_cast<size_t>(ch));
        auto* dst = static_cast<int16_t*>(data);
        const int64_t length = snd.frames();
        const double msPerAdjustedFrame = kAdjustRate * 1000.0 / rate;
        size_t done = 0;
        while (done < frames) {
            double step = 1;
            size_t run = frames - done;
            if (std::abs(adjustLeftMs_) >= msPerAdjustedFrame) {
                step = adjustLeftMs_ > 0 ? 1 + kAdjustRate : 1 - kAdjustRate;
                run = std::min(run, static_cast<size_t>(std::abs(adjustLeftMs_) / msPerAdjustedFrame));
                run = std::max<size_t>(run, 1);
            } else if (cursor_ != std::floor(cursor_)) {
                cursor_ = std::round(cursor_);  // back to whole samples: under half a sample off
            }
            const Stretch& last = stretches_.back();
            const double expected = last.from + static_cast<double>(written_ - last.at) * last.step;
            if (last.step != step || std::abs(expected - cursor_) > 1e-6) {
                if (last.at == written_)
                    stretches_.back() = {written_, cursor_, step};
                else
                    stretches_.push_back({written_, cursor_, step});
            }
            for (size_t i = 0; i < run; ++i) {
                const double pos = cursor_;
                const auto whole = static_cast<int64_t>(std::floor(pos));
                const double frac = pos - static_cast<double>(whole);
                int16_t* o = dst + (done + i) * static_cast<size_t>(ch);
                for (int c = 0; c < ch; ++c) {
                    auto at = [&](int64_t f) -> double {
                        return f >= 0 && f < length ? snd.samples[static_cast<size_t>(f * ch + c)] : 0.0;
                    };
                    o[c] = static_cast<int16_t>(frac == 0 ? at(whole) : std::lround(at(whole) * (1 - frac) + at(whole + 1) * frac));
                }
                cursor_ += step;
            }
            if (step != 1) adjustLeftMs_ -= (step > 1 ? 1 : -1) * msPerAdjustedFrame * static_cast<double>(run);
            done += run;
            written_ += static_cast<int64_t>(run);
        }
        pa_stream_write(s, data, frames * sizeof(int16_t) * static_cast<size_t>(ch), nullptr, 0, PA_SEEK_RELATIVE);
    }

    // The track's point at the stream's output frame `f`.
    double trackFrameAt(double f) {
        while (stretches_.size() > 1 && stretches_[1].at <= f) stretches_.pop_front();
        const Stretch& s = stretches_.front();
        return s.from + (f - static_cast<double>(s.at)) * s.step;
    }

    void updateHeard() {
        if (!stream_ || !sound_ || stretches_.empty()) return;
        pa_usec_t usec = 0;
        if (pa_stream_get_time(stream_, &usec) < 0 || usec == 0) return;  // not started yet
        const double rate = sound_->sampleRate;
        const double heardMs = trackFrameAt(static_cast<double>(usec) * rate / 1e6) * 1000.0 / rate;
        if (!heardOnce_) {
            // What this stream's start took beyond the guess; the next
            // stream starts with what this one showed.
            heardOnce_ = true;
            const double off = heardMs - targetMs();
            delayMs_ = std::clamp(delayMs_ - off, 0.0, 500.0);
            if (std::abs(off) > kRestartFromMs && !restarted_) {
                // Through the queue: the stream is not closed inside its own callback.
                request({Request::Play, sound_, anchorMs_, anchorUs_, true});
                return;
            }
        }
        publish(HeardPoint{heardMs, clock_.microseconds()});
    }

    TickSource& clock_;
    int wake_[2] = {-1, -1};
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_io_event* wakeEvent_ = nullptr;
    bool running_ = false;

    std::mutex requestsMutex_;
    std::vector<Request> requests_;
    mutable std::mutex snapshotMutex_;
    std::optional<HeardPoint> heard_;
    std::string failure_;

    // Only on the loop's thread.
    bool ready_ = false;
    std::optional<Request> pendingPlay_;
    pa_stream* stream_ = nullptr;
    std::shared_ptr<const DecodedSound> sound_;
    double anchorMs_ = 0;
    uint64_t anchorUs_ = 0;
    double cursor_ = 0;
    int64_t written_ = 0;
    double adjustLeftMs_ = 0;
    bool heardOnce_ = false;
    bool restarted_ = false;  // this stream is the restart: not again
    double delayMs_ = kFirstDelayGuessMs;
    std::deque<Stretch> stretches_;
};

}  // namespace

std::unique_ptr<AudioOutput> makeSystemAudioOutput(TickSource& clock, const std::string& name) {
    return std::make_unique<PulseOutput>(clock, name);
}
