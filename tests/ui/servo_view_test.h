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
