// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/EditorCore.h"

#include "link/Commands.h"
#include "link/PortEnumeration.h"
#include "link/TickSource.h"

EditorCore::EditorCore(MainWindowView& view, Notifier& notifier, TickSource& ticks, PortLister ports)
    : EditorCore(view, notifier, ticks, std::move(ports), makeSystemSerialDevice()) {}

EditorCore::EditorCore(MainWindowView& view, Notifier& notifier, TickSource& ticks, PortLister ports,
                       std::unique_ptr<SerialDevice> device)
    : serialPort_(notifier, ticks, std::move(device)),
      view_(view),
      ticks_(ticks),
      schedule_(ticks),
      ports_(std::move(ports)) {
    if (!ports_) ports_ = [] { return EnumerateComPorts(); };
    // The strips exist from construction so that a window can bind its
    // widgets to them before FormCreate attaches the handlers.
    for (int i = 0; i < kChannelCount; ++i) channelStrips_[i] = std::make_unique<TChannel>(i);
}

EditorCore::~EditorCore() { releaseSimulator(); }

void EditorCore::FormCreate() {
    state_.versionStamp = {'0', '.', '9', 'g', ' '};
    state_.lastFrame = 0;
    for (auto& s : channelStrips_) {
        attachHandlers(*s);
        s->GroupBox = "Ch " + std::to_string(s->channel());
    }
    state_.portStatus = -1;
    sequence_.initialise();
    UpdatePortDirectiveList();
    state_.currentFrame = 0;
    state_.playing = false;
    state_.paused = false;
    // The fresh sequence is what counts as unchanged.
    history_.clear();
    saved_ = snapshotNow();
}

void EditorCore::Delay(uint32_t ms) { ::Delay(ticks_, ms); }

void EditorCore::ReadClick() {
    runVersionQuery(serialPort_, state_.portStatus, view_);
    handlePortLost();
}

void EditorCore::sendPosition(int channel, int rate, int position, int offset) {
    // Outside the show: at once, and its time teaches the player the line's.
    schedule_.sendAtOnce([&] { sendPositionCommand(serialPort_, channel, rate, position, offset); });
    handlePortLost();
}

void EditorCore::DownloadClick() {
    sendDownloadStream(serialPort_, sequence_, state_.versionStamp);
    handlePortLost();
}

bool EditorCore::handlePortLost() {
    if (!serialPort_.deviceGone()) return false;
    lostPortName_ = serialPort_.portName();
    ++portLosses_;
    serialPort_.Close();
    state_.portStatus = -1;
    view_.ShowStatus("    Comm Port Lost", kYellow, true);
    return true;
}

void EditorCore::QuitClick() {
    // The menu that chose Exit has closed, but what it covered is drawn
    // anew only by a repaint: the waits below handle no window events.
    view_.repaintNow();
    if (state_.portStatus != -1) {
        serialPort_.Close();
        view_.ShowStatus("  Closing Comm Port", kYellow, true);
        Delay(750);
    }
    // A playback running below this handler ends without showing or playing
    // anything more.
    abandonPlayback();
    view_.ShowStatus("    Ending Session", kAqua, true);
    Delay(750);
    view_.quitApplication();
}

void EditorCore::abandonPlayback() {
    // Not a frame number: a player running below ends at its next look at
    // the index without showing or playing anything.
    state_.currentFrame = kFrameCount;
}

void EditorCore::FormClose() {
    // A playback below this handler must not touch the port once it is gone:
    // end it the way Exit does.
    abandonPlayback();
    state_.playing = false;
    serialPort_.Close();
    releaseSimulator();
}
