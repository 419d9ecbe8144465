// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated controller from the port submenu and its servo view, on the
// offscreen platform: the entry, the view's redraws, what it shows after a
// playback and a download, and the end of the program with the view open.

#include "servo_view_test.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QToolButton>

#include "ui/ServoView.h"

namespace {

QAction* simulatedEntry(Window& w) {
    for (QAction* a : w.form->SelCommPort->actions())
        if (a->text() == QStringLiteral("Simulated controller")) return a;
    return nullptr;
}

void record(Window& w, ClickableText* text) {
    QTest::mouseClick(text, Qt::LeftButton);
    QTest::mouseClick(w.form->WriteButton, Qt::LeftButton);
}

double pulseShown(Window& w, int channel) {
    return w.form->servoView()->lastSnapshot().servos[static_cast<size_t>(channel)].currentPulse;
}

}  // namespace

void ServoViewTest::entryChoosesTheSimulatedControllerAndOpensTheView() {
    Window w;
    QAction* entry = simulatedEntry(w);
    QVERIFY(entry);
    entry->trigger();
    QCOMPARE(w.form->Msg->text(), QString("  Comm Port Open"));
    QVERIFY(w.core().simulatorChosen());
    ServoView* view = w.form->servoView();
    QVERIFY(view && view->isVisible());
    QVERIFY(!view->isModal());

    w.ticks.realTime = true;  // the controller answers in real time
    w.form->GetVer->trigger();
    w.ticks.realTime = false;
    QCOMPARE(w.form->Msg->text(), QString("      Version: 1.4"));
    QTRY_VERIFY(!view->listedMessages().empty());
    QCOMPARE(view->listedMessages().front().kind, sim::Event::Kind::VersionQuery);

    // Closing the view leaves the controller running; the entry brings it back.
    view->close();
    QVERIFY(w.core().simulatorChosen());
    entry->trigger();
    QVERIFY(view->isVisible());
    QCOMPARE(w.form->servoView(), view);
}

void ServoViewTest::redrawsWhileServosMoveAndNotWhenStill() {
    Window w;
    simulatedEntry(w)->trigger();
    ServoView* view = w.form->servoView();
    QVERIFY(QTest::qWaitForWindowExposed(view));

    // Rate 0: at the target at once, nothing to animate.
    QTest::mouseClick(w.strip(0).StaticTextMin, Qt::LeftButton);
    QTRY_COMPARE(pulseShown(w, 0), 250.0);
    QVERIFY(!view->animating());
    QVERIFY(view->lastSnapshot().servos[0].commanded);
    QVERIFY(!view->lastSnapshot().servos[1].commanded);

    // Rate 1: the full travel takes 0.71 s, drawn at about 33 per second.
    w.core().userStrip(0).RateEdit.setText("1");
    QTest::mouseClick(w.strip(0).StaticTextMax, Qt::LeftButton);
    QTRY_VERIFY(view->animating());
    const int atStart = view->servoPaints();
    QTest::qWait(300);
    QVERIFY2(view->servoPaints() - atStart >= 6, qPrintable(QString::number(view->servoPaints() - atStart)));
    const double midway = pulseShown(w, 0);
    QVERIFY(midway > 250 && midway < 1250);

    // Arrived: the redraws stop.
    QTRY_VERIFY_WITH_TIMEOUT(!view->animating(), 5000);
    QCOMPARE(pulseShown(w, 0), 1250.0);
    const int still = view->servoPaints();
    QTest::qWait(200);
    QCOMPARE(view->servoPaints(), still);
}

void ServoViewTest::playbackAndDownloadShowWhatReachedTheWire() {
    Window w;
    simulatedEntry(w)->trigger();
    ServoView* view = w.form->servoView();
    record(w, w.strip(0).StaticTextMax);
    record(w, w.strip(1).StaticTextMin);
    record(w, w.strip(2).StaticTextMax);
    // Moved away from the last frame's positions before playing.
    QTest::mouseClick(w.strip(0).StaticTextCtr, Qt::LeftButton);
    QTest::mouseClick(w.strip(2).StaticTextMin, Qt::LeftButton);
    QTRY_COMPARE(pulseShown(w, 2), 250.0);

    QTest::mouseClick(w.form->PlayButton, Qt::LeftButton);
    QCOMPARE(w.form->Msg->text(), QString(" Sequence Complete "));
    QTRY_COMPARE(pulseShown(w, 0), 1250.0);
    QTRY_COMPARE(pulseShown(w, 1), 250.0);
    QTRY_COMPARE(pulseShown(w, 2), 1250.0);

    QVERIFY(view->memoryText().startsWith("No download"));
    w.form->Download->trigger();
    // The stream has no end mark: it is decoded once the line goes quiet.
    QTRY_VERIFY_WITH_TIMEOUT(view->memoryText().startsWith("Stamp \"0.9g\""), 5000);
    QVERIFY2(view->memoryText().contains("Frame 2:"), qPrintable(view->memoryText()));
    QVERIFY(view->memoryText().contains("ch  2  position 2500 us"));
    QCOMPARE(view->listedMessages().front().kind, sim::Event::Kind::Download);
}

// The player's waits handle no events, yet a move during a long pause is
// drawn at the view's frame rate, not only at the next frame's start.
void ServoViewTest::aMoveIsDrawnDuringThePlayersWaits() {
    Window w;
    simulatedEntry(w)->trigger();
    ServoView* view = w.form->servoView();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    w.core().userStrip(0).RateEdit.setText("1");   // the full travel in 0.71 s
    w.core().userStrip(0).PauseEdit.setText("600");
    record(w, w.strip(0).StaticTextMax);
    QTest::mouseClick(w.strip(0).StaticTextMin, Qt::LeftButton);
    QTRY_COMPARE(pulseShown(w, 0), 250.0);
    QTRY_VERIFY(!view->animating());

    w.ticks.realTime = true;
    const int before = view->servoPaints();
    QTest::mouseClick(w.form->PlayButton, Qt::LeftButton);
    w.ticks.realTime = false;
    QCOMPARE(w.form->Msg->text(), QString(" Sequence Complete "));
    // About 20 frames in the 600 ms pause; a view drawn only when events are
    // handled gets one or two.
    QVERIFY2(view->servoPaints() - before >= 10, qPrintable(QString::number(view->servoPaints() - before)));
}

void ServoViewTest::closingTheMainWindowEndsTheSimulator() {
    Window w;
    simulatedEntry(w)->trigger();
    QPointer<ServoView> view = w.form->servoView();
    std::weak_ptr<sim::ControllerSimulator> simulator = w.core().simulator();
    QVERIFY(view->isVisible());
    w.form->close();
    QVERIFY(!view->isVisible());
    // Released by both the core and the view: its thread has been joined.
    QVERIFY(simulator.expired());
}
