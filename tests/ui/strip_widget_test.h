// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include "UiTestSupport.h"

class StripWidgetTest : public QObject {
    Q_OBJECT
private slots:
    void typingThenEnterSyncsOnceAndRefusesTheEnter();
    void upArrowWhileTypingStepsThenSyncs();
    void tabLeavesTheBoxAndSyncs();
    void homeEndsTypingWithoutSync();
    void refusedCharactersBeepAndLeaveTheText();
    void keypadDigitSyncsAtOnce();
    void stripTextsDoNotTakeTheFocus();
    void offsetTextResetsTheOffset();
    void upDownButtonsRepeatWhileHeld();
    void sliderTopMeansHighestPosition();
    void everySliderNotificationIsOneCommand();
    void aMouseDragClosesWithOneCommand();
    void aMouseDragIsOneUndoStepHoweverSlow();
    void anotherStripsArrowEndsTypingFirst();
    void anotherStripsTextEndsTypingFirst();
    void virtualKeyNumbers();
};
