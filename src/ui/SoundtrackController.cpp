// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SoundtrackController.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>

#include "editor/EditorCore.h"
#include "show/Timeline.h"
#include "ui/SoundtrackDialog.h"
#include "ui/TimelineWindow.h"

SoundtrackController::SoundtrackController(EditorCore& core, TickSource& ticks, QWidget* window,
                                           OutputFactory output)
    : core_(&core),
      ticks_(ticks),
      window_(window),
      makeOutput_(output ? std::move(output) : OutputFactory([&ticks] {
          return makeSystemAudioOutput(ticks, "KDX Interface");
      })),
      session_([this](const std::string& m) { tell(m); },
               // From the decoding thread: handled on the window's.
               [self = QPointer<SoundtrackController>(this)] {
                   if (self) QMetaObject::invokeMethod(self.data(), [self] { if (self) self->decoded(); },
                                                       Qt::QueuedConnection);
               }) {
    core.addFileListener([this](EditorCore::FileEvent e, const std::string& path) {
        if (!core_) return;
        if (e == EditorCore::FileEvent::Opened) {
            session_.opened(path);
            applySound();
        } else if (std::string error = session_.saved(path); !error.empty()) {
            core_->view().showErrorBox(error);
        }
    });
    core.addChangeListener([this] { timesStale_ = true; });
    core.addPlaybackObserver(this);
}

SoundtrackController::~SoundtrackController() { detach(); }

void SoundtrackController::detach() {
    if (core_) core_->removePlaybackObserver(this);
    core_ = nullptr;
    if (player_) player_->playbackEnded(PlaybackEnd::Stopped);
    timeline_ = nullptr;
}

void SoundtrackController::ask() {
    if (auto chosen = SoundtrackDialog::ask(session_.choice(), window_)) choose(*chosen);
}

void SoundtrackController::choose(const SoundtrackChoice& choice) {
    session_.choose(choice);
    applySound();
}

void SoundtrackController::recovered(const std::string& path) {
    if (path.empty())
        session_.choose({});
    else
        session_.opened(path);
    applySound();
}

void SoundtrackController::showOn(TimelineWindow* timeline) {
    timeline_ = timeline;
    applySound();
}

void SoundtrackController::decoded() {
    if (session_.poll()) applySound();
}

// The decoded track (or none) to the player and the timeline.
void SoundtrackController::applySound() {
    const std::shared_ptr<const DecodedSound>& sound = session_.sound();
    const double offset = session_.choice().offsetMs;
    if (sound && !output_) {
        output_ = makeOutput_();
        player_.emplace(*output_, ticks_, [this](const std::string& why) { tell("no sound output: " + why); });
    }
    if (player_) player_->setSound(sound, offset);
    if (timeline_) {
        std::vector<TimelineWindow::Peak> peaks;
        if (sound) {
            peaks.reserve(session_.peaks().slices.size());
            for (const PeakSlice& s : session_.peaks().slices) peaks.push_back({s.low, s.high});
        }
        // The track's start lies `offset` before frame 0.
        timeline_->setSoundtrackPeaks(std::move(peaks), session_.peaks().sliceMs, -offset);
    }
    if (sound) emit soundReady();
}

void SoundtrackController::tell(const std::string& text) {
    messages_.push_back(text);
    if (!window_) return;
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Soundtrack"), QString::fromStdString(text),
                                QMessageBox::Ok, window_);
    box->setObjectName(QStringLiteral("SoundtrackMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void SoundtrackController::playbackStarted(int frame, bool resumed) {
    if (!player_) return;
    if (timesStale_ && core_) {
        // An edit since the last Play: the timeline of the show as it is.
        player_->setTimeline(std::make_shared<const Timeline>(Timeline::of(core_->sequence())));
        timesStale_ = false;
    }
    player_->playbackStarted(frame, resumed);
}

void SoundtrackController::frameBegins(int frame) {
    if (player_) player_->frameBegins(frame);
}

void SoundtrackController::jumped(int frame) {
    if (player_) player_->jumped(frame);
}

void SoundtrackController::playbackEnded(PlaybackEnd how) {
    if (player_) player_->playbackEnded(how);
}
