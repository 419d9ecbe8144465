// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include "UiTestSupport.h"

class SoundtrackWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void theSoundtrackEntryFollowsTimelineInTheSequenceMenu();
    void aChoiceInTheDialogIsSavedBesideTheSequenceRelativeAndReadBackByOpen();
    void aMissingSoundAtOpenGivesOneMessageNamingItAndWhyAndTheSequenceOpens();
    void theWaveformReachesTheTimelineOnceDecodedAtTheOffset();
    void withoutASoundServerThePlaybackRunsToItsEndAndTheReasonIsShownWithoutBlocking();
};
