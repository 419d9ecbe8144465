// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ChannelStripWidget.h"

#include "editor/EditorCore.h"
#include "ui/StripControls.h"

namespace {
void place(QWidget* w, const ControlGeometry& g) { w->setGeometry(g.left, g.top, g.width, g.height); }
void place(QWidget* w, const StaticTextModel& t) { w->setGeometry(t.left, t.top, t.width, t.height); }
}  // namespace

ChannelStripWidget::ChannelStripWidget(EditorCore& core, int channel, std::function<void()> beep,
                                       QWidget* page)
    : QGroupBox(page), model_(core.userStrip(channel)), channel_(channel) {
    TChannel& m = model_;
    setObjectName(QStringLiteral("GroupBox%1").arg(channel));
    setTitle(QString::fromStdString(m.GroupBox));
    resize(TChannel::kGroupBox.width, TChannel::kGroupBox.height);

    // Created in field order, which is the focus order within the strip.
    Track = new ModelSlider(m.Track, Qt::Vertical, this);
    Track->setObjectName(QStringLiteral("Track"));
    Track->setInvertedAppearance(true);  // the minimum (500, meaning 2500) at the top
    Track->setInvertedControls(true);    // Up arrow and Page Up move the thumb up
    Track->setTickPosition(QSlider::TicksRight);
    Track->setTickInterval(100);
    place(Track, TChannel::kTrack);

    OffsetTrack = new ModelSlider(m.OffsetTrack, Qt::Horizontal, this);
    OffsetTrack->setObjectName(QStringLiteral("OffsetTrack"));
    OffsetTrack->setTickPosition(QSlider::TicksBelow);
    OffsetTrack->setTickInterval(5);
    place(OffsetTrack, TChannel::kOffsetTrack);

    PositionEdit = new NumberBox(m.PositionEdit, beep, this);
    PositionEdit->setObjectName(QStringLiteral("PositionEdit"));
    place(PositionEdit, TChannel::kPositionEdit);
    RateEdit = new NumberBox(m.RateEdit, beep, this);
    RateEdit->setObjectName(QStringLiteral("RateEdit"));
    place(RateEdit, TChannel::kRateEdit);
    PauseEdit = new NumberBox(m.PauseEdit, beep, this);
    PauseEdit->setObjectName(QStringLiteral("PauseEdit"));
    place(PauseEdit, TChannel::kPauseEdit);
    // The up/down buttons take no focus, and the wheel moves a slider that
    // has none: so these end typing mode themselves (in whichever position
    // box it is set), before their own step.
    for (NumberBox* box : {PositionEdit, RateEdit, PauseEdit})
        box->onButtonPress = [&core] { core.endTypingMode(); };
    for (ModelSlider* slider : {Track, OffsetTrack}) slider->onUserMove = [&core] { core.endTypingMode(); };

    // A click on another control ends typing mode in a position box first;
    // the strip's own texts are the exception: they leave it as it is.
    auto text = [&](const StaticTextModel& t, const char* name, void (EditorCore::*click)(int)) {
        auto clicked = [&core, click, channel] {
            if (core.typingChannel() != channel) core.endTypingMode();
            (core.*click)(channel);
        };
        auto* label = new ClickableText(QString::fromStdString(t.caption), clicked, this);
        label->setObjectName(QString::fromLatin1(name));
        place(label, t);
        return label;
    };
    StaticTextOff = text(m.StaticTextOff, "StaticTextOff", &EditorCore::StaticTextOffClick);
    StaticTextOff->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    StaticTextMax = text(m.StaticTextMax, "StaticTextMax", &EditorCore::StaticTextMaxClick);
    StaticTextCtr = text(m.StaticTextCtr, "StaticTextCtr", &EditorCore::StaticTextCtrClick);
    StaticTextMin = text(m.StaticTextMin, "StaticTextMin", &EditorCore::StaticTextMinClick);
}

void ChannelStripWidget::refreshCaption() { setTitle(QString::fromStdString(model_.GroupBox)); }

void ChannelStripWidget::detach() {
    Track->detach();
    OffsetTrack->detach();
    PositionEdit->detach();
    RateEdit->detach();
    PauseEdit->detach();
    StaticTextOff->detach();
    StaticTextMax->detach();
    StaticTextCtr->detach();
    StaticTextMin->detach();
}
