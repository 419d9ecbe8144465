// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include "UiTestSupport.h"

class TimelineWindowTest : public QObject {
    Q_OBJECT
private slots:
    void opensFromTheSequenceMenuWithoutBlockingTheMainWindow();
    void aHelperWindowOpensBesideOrBelowTheMainWindowNeverOverIt();
    void aClickOnABandShowsThatFrameExceptDuringPlayback();
    void anEditAndAJumpEditRedrawItAtOnce();
    void thePlayHeadMovesDuringASimulatedPlaybackAndRestsAfterIt();
};
