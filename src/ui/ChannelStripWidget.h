// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One channel's strip on screen: the group box "Ch N" with the position
// slider (500 at the top, shown as 2500), the offset slider, the position,
// rate and pause boxes and the four clickable texts, at the geometry of
// TChannel. The strip renders the TChannel models and feeds them; the page
// layout places the box.

#include <QGroupBox>
#include <functional>

class EditorCore;
class TChannel;
class ModelSlider;
class NumberBox;
class ClickableText;

class ChannelStripWidget : public QGroupBox {
    Q_OBJECT
public:
    // beep sounds a refused key in one of the boxes.
    ChannelStripWidget(EditorCore& core, int channel, std::function<void()> beep, QWidget* page);

    int channel() const { return channel_; }
    // Takes the caption from the model ("Ch N" once the core has laid it out).
    void refreshCaption();
    // Stops feeding the models: after the window has closed nothing reaches
    // the core any more.
    void detach();

    ModelSlider* Track;
    ModelSlider* OffsetTrack;
    NumberBox* PositionEdit;
    NumberBox* RateEdit;
    NumberBox* PauseEdit;
    ClickableText* StaticTextOff;
    ClickableText* StaticTextMax;
    ClickableText* StaticTextCtr;
    ClickableText* StaticTextMin;

private:
    TChannel& model_;
    int channel_;
};
