// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include "UiTestSupport.h"

class ServoViewTest : public QObject {
    Q_OBJECT
private slots:
    void entryChoosesTheSimulatedControllerAndOpensTheView();
    void redrawsWhileServosMoveAndNotWhenStill();
    void playbackAndDownloadShowWhatReachedTheWire();
    void aMoveIsDrawnDuringThePlayersWaits();
    void closingTheMainWindowEndsTheSimulator();
};
