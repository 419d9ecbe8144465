// SPDX-License-Identifier: GPL-3.0-or-later
// The channel strip widgets driven with real key presses and clicks: typing
// mode in the position box, refused characters, the repeating up/down
// buttons, the inverted position slider; commands checked at the simulator.

#include "strip_widget_test.h"

#include <QToolButton>
#include <QWheelEvent>

namespace {

// Opens the simulator's port through the port menu's handler and forgets
// what the opening sent.
void openSimPort(Window& w, sim::ControllerSimulator& s) {
    QVERIFY2(s.start(), s.error().c_str());
    w.core().ComPortComboClick(s.portName());
    QVERIFY(w.core().serialPort().isOpen());
    s.clear();
}

// Focuses a box and selects its text, so that typing replaces it.
void focusAndSelectAll(QWidget* box) {
    box->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
}

}  // namespace

void StripWidgetTest::typingThenEnterSyncsOnceAndRefusesTheEnter() {
    Window w;
    sim::ControllerSimulator s;
    openSimPort(w, s);
    NumberEdit* box = w.positionBox(4);
    focusAndSelectAll(box);
    const int beeps = w.form->beepCount();

    QTest::keyClicks(box, "1800");
    QCOMPARE(box->text(), QString("1800"));
    QVERIFY(w.core().state().typingPosition);
    QCOMPARE(w.strip(4).Track->value(), 1500);  // nothing synced while typing

    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(w.strip(4).Track->value(), 1200);
    QCOMPARE(w.core().strip(4).Track.position(), 1200);
    QVERIFY(!w.core().state().typingPosition);
    QCOMPARE(w.form->beepCount(), beeps + 1);  // the Enter character itself

    QVERIFY(waitForPositions(s, 1));
    QCOMPARE(positionsAfterSettling(s), size_t(1));
    const auto sent = positions(s).front();
    QCOMPARE(sent.channel, 4);
    QCOMPARE(sent.pulse, 900);  // 1800 us
}

void StripWidgetTest::upArrowWhileTypingStepsThenSyncs() {
    Window w;
    sim::ControllerSimulator s;
    openSimPort(w, s);
    NumberEdit* box = w.positionBox(0);
    focusAndSelectAll(box);
    QTest::keyClicks(box, "1800");
    QTest::keyClick(box, Qt::Key_Up);
    QCOMPARE(box->text(), QString("1802"));
    QCOMPARE(w.strip(0).Track->value(), 1198);
    QVERIFY(waitForPositions(s, 1));
    QCOMPARE(positionsAfterSettling(s), size_t(1));
    QCOMPARE(positions(s).front().pulse, 901);
}

void StripWidgetTest::tabLeavesTheBoxAndSyncs() {
    Window w;
    sim::ControllerSimulator s;
    openSimPort(w, s);
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    NumberEdit* box = w.positionBox(2);
    focusAndSelectAll(box);
    QTRY_VERIFY(box->hasFocus());
    QTest::keyClicks(box, "1800");
    const uint8_t usedBefore = w.core().sequence().frame(0).frameUsed;
    QTest::keyClick(box, Qt::Key_Tab);
    // Focus went on to the rate box of the same strip; the sync sent 1800.
    QTRY_VERIFY(w.strip(2).RateEdit->edit()->hasFocus());
    QCOMPARE(w.strip(2).Track->value(), 1200);
    QVERIFY(waitForPositions(s, 1));
    QCOMPARE(positions(s).front().pulse, 900);
    QCOMPARE(usedBefore, uint8_t(1));  // the typed digits marked the frame
}

void StripWidgetTest::homeEndsTypingWithoutSync() {
    Window w;
    NumberEdit* box = w.positionBox(1);
    focusAndSelectAll(box);
    QTest::keyClicks(box, "1800");
    QTest::keyClick(box, Qt::Key_Home);
    QVERIFY(!w.core().state().typingPosition);
    QTest::keyClick(box, Qt::Key_Return);  // no longer typing: nothing to sync
    QCOMPARE(box->text(), QString("1800"));
    QCOMPARE(w.strip(1).Track->value(), 1500);
}

void StripWidgetTest::refusedCharactersBeepAndLeaveTheText() {
    Window w;
    NumberEdit* box = w.positionBox(0);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_End);
    const int beeps = w.form->beepCount();
    QTest::keyClicks(box, "xZ ");
    QTest::keyClick(box, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(box->text(), QString("1500"));
    QCOMPARE(w.form->beepCount(), beeps + 4);
    // Signs and the decimal point are typed in as they are.
    QLineEdit* rate = w.strip(0).RateEdit->edit();
    rate->setFocus();
    QTest::keyClick(rate, Qt::Key_End);
    QTest::keyClicks(rate, "-.+");
    QCOMPARE(rate->text(), QString("0-.+"));
    QCOMPARE(w.core().strip(0).RateEdit.text(), std::string("0-.+"));
    QCOMPARE(w.form->beepCount(), beeps + 4);
}

void StripWidgetTest::keypadDigitSyncsAtOnce() {
    Window w;
    NumberEdit* box = w.positionBox(0);
    focusAndSelectAll(box);
    QTest::keyClick(box, Qt::Key_1, Qt::KeypadModifier);
    // Not a typing key: "1" synced at once, clamped through the slider.
    QCOMPARE(w.strip(0).Track->value(), 2500);
    QCOMPARE(box->text(), QString("500"));
}

void StripWidgetTest::stripTextsDoNotTakeTheFocus() {
    Window w;
    sim::ControllerSimulator s;
    openSimPort(w, s);
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    NumberEdit* box = w.positionBox(6);
    focusAndSelectAll(box);
    QTRY_VERIFY(box->hasFocus());
    QTest::keyClicks(box, "1800");
    QTest::mouseClick(w.strip(6).StaticTextMax, Qt::LeftButton);
    QVERIFY(box->hasFocus());
    QVERIFY(w.core().state().typingPosition);  // the click left typing mode alone
    QCOMPARE(box->text(), QString("2500"));
    QCOMPARE(w.strip(6).Track->value(), 500);
    QVERIFY(waitForPositions(s, 1));
    QCOMPARE(positionsAfterSettling(s), size_t(1));
    QCOMPARE(positions(s).front().pulse, 1250);
}

void StripWidgetTest::offsetTextResetsTheOffset() {
    Window w;
    sim::ControllerSimulator s;
    openSimPort(w, s);
    QTest::keyClick(w.strip(3).OffsetTrack, Qt::Key_Right);
    QTest::keyClick(w.strip(3).OffsetTrack, Qt::Key_Right);
    QCOMPARE(w.core().strip(3).OffsetTrack.position(), 2);
    QTest::mouseClick(w.strip(3).StaticTextOff, Qt::LeftButton);
    QCOMPARE(w.strip(3).OffsetTrack->value(), 0);
    // Each key is a step and, on its release, the end of the movement.
    QVERIFY(waitForPositions(s, 5));
    QCOMPARE(positions(s)[0].pulse, 750);  // (1500 + 1) / 2
    QCOMPARE(positions(s)[1].pulse, 750);
    QCOMPARE(positions(s)[2].pulse, 751);
    QCOMPARE(positions(s)[3].pulse, 751);
    QCOMPARE(positions(s)[4].pulse, 750);
    // At 0 already: nothing more is sent, but the channel is marked.
    w.editSequence([](Sequence& seq) { seq.channel(0, 3).changed = 0; });
    QTest::mouseClick(w.strip(3).StaticTextOff, Qt::LeftButton);
    QCOMPARE(positionsAfterSettling(s), size_t(5));
    QCOMPARE(w.core().sequence().channel(0, 3).changed, uint8_t(1));
}

void StripWidgetTest::upDownButtonsRepeatWhileHeld() {
    Window w;
    QToolButton* up = w.strip(0).RateEdit->upButton();
    QLineEdit* rate = w.strip(0).RateEdit->edit();
    QTest::mousePress(up, Qt::LeftButton);
    QCOMPARE(rate->text(), QString("1"));  // the first step comes with the press
    QTRY_VERIFY_WITH_TIMEOUT(rate->text().toInt() >= 3, 3000);
    QTest::mouseRelease(up, Qt::LeftButton);
    const QString held = rate->text();
    QTest::qWait(300);  // a stopped repeat cannot be awaited
    QCOMPARE(rate->text(), held);

    QToolButton* down = w.strip(0).RateEdit->downButton();
    for (int i = 0; i < 10; ++i) QTest::mouseClick(down, Qt::LeftButton);
    QCOMPARE(rate->text(), QString("0"));  // clamped at the minimum
}

void StripWidgetTest::sliderTopMeansHighestPosition() {
    Window w;
    ModelSlider* track = w.strip(5).Track;
    QTest::keyClick(track, Qt::Key_Home);
    QCOMPARE(track->value(), 500);
    QCOMPARE(w.strip(5).PositionEdit->edit()->text(), QString("2500"));
    QVERIFY(track->handleRect().center().y() < track->height() / 2);
    QVERIFY(w.strip(5).StaticTextMax->y() < w.strip(5).StaticTextMin->y());

    QTest::keyClick(track, Qt::Key_End);
    QCOMPARE(w.strip(5).PositionEdit->edit()->text(), QString("500"));
    QVERIFY(track->handleRect().center().y() > track->height() / 2);

    // The Up arrow moves the thumb up, which raises the position.
    QTest::keyClick(track, Qt::Key_Up);
    QCOMPARE(w.strip(5).PositionEdit->edit()->text(), QString("502"));
}

void StripWidgetTest::everySliderNotificationIsOneCommand() {
    Window w;
    sim::ControllerSimulator s;
    openSimPort(w, s);
    ModelSlider* track = w.strip(7).Track;
    // A key press moves the slider; its release closes the movement: two
    // notifications, two commands, even where the position stays.
    QTest::keyClick(track, Qt::Key_Home);
    QTest::keyClick(track, Qt::Key_Home);  // at the end already: still notified
    QTest::keyClick(track, Qt::Key_PageDown);
    QVERIFY(waitForPositions(s, 6));
    QCOMPARE(positionsAfterSettling(s), size_t(6));
    const int expected[] = {1250, 1250, 1250, 1250, 1249, 1249};
    for (int i = 0; i < 6; ++i) QCOMPARE(positions(s)[i].pulse, expected[i]);
}

void StripWidgetTest::aMouseDragClosesWithOneCommand() {
    Window w;
    sim::ControllerSimulator s;
    openSimPort(w, s);
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    ModelSlider* track = w.strip(7).Track;
    const QPoint grip = track->handleRect().center();
    QTest::mousePress(track, Qt::LeftButton, {}, grip);
    QTest::mouseMove(track, grip + QPoint(0, 20));
    QTest::mouseMove(track, grip + QPoint(0, 40));
    QTest::mouseRelease(track, Qt::LeftButton, {}, grip + QPoint(0, 40));
    const int end = w.core().strip(7).Track.position();
    QVERIFY(end > 1500);  // dragged down: a lower position
    // Two drag steps and the release that closes the movement: three
    // commands, the last one for where the drag ended.
    QVERIFY(waitForPositions(s, 3));
    QCOMPARE(positionsAfterSettling(s), size_t(3));
    const auto sent = positions(s);
    QCOMPARE(sent.back().pulse, (3000 - end) / 2);
    QCOMPARE(sent[sent.size() - 2].pulse, (3000 - end) / 2);
}

void StripWidgetTest::aMouseDragIsOneUndoStepHoweverSlow() {
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    ModelSlider* track = w.strip(7).Track;
    const QPoint grip = track->handleRect().center();
    QTest::mousePress(track, Qt::LeftButton, {}, grip);
    QTest::mouseMove(track, grip + QPoint(0, 20));
    w.ticks.advance(1500);  // held still a while: clicks this far apart would be two steps
    QTest::mouseMove(track, grip + QPoint(0, 40));
    QTest::mouseRelease(track, Qt::LeftButton, {}, grip + QPoint(0, 40));
    const int end = w.core().strip(7).Track.position();
    QVERIFY(end > 1500);
    // A key step right after the release is a step of its own.
    QTest::keyClick(track, Qt::Key_Up);
    QVERIFY(w.core().strip(7).Track.position() != end);

    QVERIFY(w.core().undo());
    QCOMPARE(w.core().strip(7).Track.position(), end);
    QVERIFY(w.core().undo());
    QCOMPARE(w.core().strip(7).Track.position(), 1500);
    QCOMPARE(track->value(), 1500);
    QVERIFY(!w.core().canUndo());
}

void StripWidgetTest::anotherStripsArrowEndsTypingFirst() {
    Window w;
    sim::ControllerSimulator s;
    openSimPort(w, s);
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    NumberEdit* box = w.positionBox(4);
    focusAndSelectAll(box);
    QTRY_VERIFY(box->hasFocus());
    QTest::keyClicks(box, "1800");
    QTest::mouseClick(w.strip(5).PositionEdit->upButton(), Qt::LeftButton);
    // Strip 4 is synced and sent first, then strip 5 steps to 1502.
    QVERIFY(!w.core().state().typingPosition);
    QCOMPARE(w.strip(4).Track->value(), 1200);
    QCOMPARE(w.strip(5).PositionEdit->edit()->text(), QString("1502"));
    QVERIFY(waitForPositions(s, 2));
    QCOMPARE(positionsAfterSettling(s), size_t(2));
    QCOMPARE(positions(s)[0].channel, 4);
    QCOMPARE(positions(s)[0].pulse, 900);
    QCOMPARE(positions(s)[1].channel, 5);
    QCOMPARE(positions(s)[1].pulse, 751);
    QVERIFY(box->hasFocus());  // the buttons take no focus

    // So does the wheel over another strip's slider.
    QTest::keyClicks(box, "0");  // "18000": typing again
    QVERIFY(w.core().state().typingPosition);
    QWheelEvent wheel(QPointF(10, 10), w.strip(9).OffsetTrack->mapToGlobal(QPointF(10, 10)), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.strip(9).OffsetTrack, &wheel);
    QVERIFY(!w.core().state().typingPosition);
    QCOMPARE(w.strip(4).Track->value(), 500);  // 18000 synced to the slider's top end
    QVERIFY(w.core().strip(9).OffsetTrack.position() != 0);
    QVERIFY(waitForPositions(s, 4));
    QCOMPARE(positions(s)[2].channel, 4);
    QCOMPARE(positions(s)[2].pulse, 1250);
    QCOMPARE(positions(s)[3].channel, 9);
    QCOMPARE(box->text(), QString("2500"));

    // The typed box's own arrows end typing the same way.
    QTest::keyClicks(box, "0");  // "25000": typing again
    QVERIFY(w.core().state().typingPosition);
    QTest::mouseClick(w.strip(4).PositionEdit->downButton(), Qt::LeftButton);
    QVERIFY(!w.core().state().typingPosition);
    QCOMPARE(box->text(), QString("2498"));  // clamped when typing ended, then stepped down
    QCOMPARE(w.strip(4).Track->value(), 502);
}

void StripWidgetTest::anotherStripsTextEndsTypingFirst() {
    Window w;
    sim::ControllerSimulator s;
    openSimPort(w, s);
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    NumberEdit* box = w.positionBox(6);
    focusAndSelectAll(box);
    QTRY_VERIFY(box->hasFocus());
    QTest::keyClicks(box, "1800");
    QTest::mouseClick(w.strip(7).StaticTextMax, Qt::LeftButton);
    QVERIFY(!w.core().state().typingPosition);
    QCOMPARE(w.strip(6).Track->value(), 1200);
    QCOMPARE(w.strip(7).PositionEdit->edit()->text(), QString("2500"));
    QVERIFY(waitForPositions(s, 2));
    QCOMPARE(positionsAfterSettling(s), size_t(2));
    QCOMPARE(positions(s)[0].channel, 6);
    QCOMPARE(positions(s)[0].pulse, 900);
    QCOMPARE(positions(s)[1].channel, 7);
    QCOMPARE(positions(s)[1].pulse, 1250);
}

void StripWidgetTest::virtualKeyNumbers() {
    auto code = [](int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QKeyEvent e(QEvent::KeyPress, key, mods);
        return virtualKeyFor(e);
    };
    QCOMPARE(code(Qt::Key_0), 48);
    QCOMPARE(code(Qt::Key_9), 57);
    QCOMPARE(code(Qt::Key_0, Qt::KeypadModifier), 96);
    QCOMPARE(code(Qt::Key_9, Qt::KeypadModifier), 105);
    QCOMPARE(code(Qt::Key_Return), 13);
    QCOMPARE(code(Qt::Key_Enter, Qt::KeypadModifier), 13);
    QCOMPARE(code(Qt::Key_Backspace), 8);
    QCOMPARE(code(Qt::Key_Delete), 46);
    QCOMPARE(code(Qt::Key_Shift), 16);
    QCOMPARE(code(Qt::Key_Escape), 27);
    QCOMPARE(code(Qt::Key_Home), 36);
    QCOMPARE(code(Qt::Key_End), 35);
    QCOMPARE(code(Qt::Key_Left), 37);
    QCOMPARE(code(Qt::Key_Down), 40);
    QCOMPARE(code(Qt::Key_Q), 81);
    // Keys no handler knows stay outside the typing keys.
    const int other = code(Qt::Key_Launch0);
    QVERIFY(other != 8 && other != 37 && other != 39 && other != 46 && (other < 48 || other > 57));
}
