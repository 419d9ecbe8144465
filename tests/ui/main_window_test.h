// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include "UiTestSupport.h"

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void startState();
    void geometryMatchesTheDesign();
    void statusWithoutColourKeepsTheLastOne();
    void helpPanelStaysOverTheTabs();
    void aboutDoesNotBlockTheMainWindow();
    void exitWithoutPort();
    void exitWithOpenedPort();
    void exitDuringPlaybackPlaysNoFurtherFrame();
    void closingDuringPlaybackLeavesThePortAlone();
    void exitFromTheMenuClosesItAndDrawsBeforeTheWaits();
    void theStripsShowTheFramePlayedDuringItsPass();
    void aDeviceLostDuringPlaybackStopsItAndShowsTheLoss();
    void buttonsAndMenusEndTypingFirst();

    // Every button and menu entry reaches its handler.
    void writeButton();
    void frameNavigationButtons();
    void insertButton();
    void deleteButton();
    void resetButton();
    void playButton();
    void pauseAndStopButtons();
    void jumpToButtonsAndDoubleClick();
    void portMenuEntryOpensThePort();
    void portMenuShowsNamesAsTheyAre();
    void getVersionMenu();
    void downloadMenu();
    void saveAndOpenMenus();
    void openShortFileShowsTheError();
    void readmeAndAboutMenus();
};
