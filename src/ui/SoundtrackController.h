// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window's soundtrack: Sequence > Soundtrack... and the choice kept per
// open sequence (read by Open, written by Save, through the core's file
// listener), the sound played in step during the window's playback, and its
// waveform on the timeline window once decoded in the background.
//
// Messages about the soundtrack, and "no sound output: REASON" (once per
// run), are shown in a box that does not block the window or a playback.

#include <QObject>
#include <functional>
#include <memory>
#include <optional>

#include "show/AudioOutput.h"
#include "show/SoundtrackPlayer.h"
#include "show/SoundtrackSession.h"

class EditorCore;
class QWidget;
class TickSource;
class TimelineWindow;

class SoundtrackController : public QObject, private PlaybackObserver {
    Q_OBJECT
public:
    using OutputFactory = std::function<std::unique_ptr<AudioOutput>()>;

    // output: makes the sound output when a first track is decoded (by
    // default this system's).
    SoundtrackController(EditorCore& core, TickSource& ticks, QWidget* window, OutputFactory output = {});
    ~SoundtrackController() override;

    // Sequence > Soundtrack...: asks with the dialog, keeps the answer.
    void ask();
    void choose(const SoundtrackChoice& choice);
    const SoundtrackChoice& choice() const { return session_.choice(); }
    // The choice differs from what the last Open read or Save wrote.
    bool changedSinceSaved() const { return session_.changedSinceSaved(); }

    // The timeline window shows the waveform from now on.
    void showOn(TimelineWindow* timeline);
    // The core is going away: nothing more is told to it or asked of it.
    void detach();

    // For tests: the decoded track (null until ready) and the messages shown.
    const std::shared_ptr<const DecodedSound>& sound() const { return session_.sound(); }
    const std::vector<std::string>& messages() const { return messages_; }

signals:
    void soundReady();

private:
    void decoded();  // on the window's thread, after the decoding thread said so
    void applySound();
    void tell(const std::string& text);

    void playbackStarted(int frame, bool resumed) override;
    void frameBegins(int frame) override;
    void jumped(int frame) override;
    void playbackEnded(PlaybackEnd how) override;

    EditorCore* core_;
    TickSource& ticks_;
    QWidget* window_;
    OutputFactory makeOutput_;
    SoundtrackSession session_;
    std::unique_ptr<AudioOutput> output_;
    std::optional<SoundtrackPlayer> player_;
    bool timesStale_ = true;
    TimelineWindow* timeline_ = nullptr;
    std::vector<std::string> messages_;
};
