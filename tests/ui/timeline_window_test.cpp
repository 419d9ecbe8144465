// SPDX-License-Identifier: GPL-3.0-or-later
// The timeline window on the offscreen platform: the menu entry, where it
// opens, a click on a frame's band, following edits, and the play head
// during a playback on the simulated controller.

#include "timeline_window_test.h"

#include <QAction>
#include <QMenu>
#include <QScrollBar>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>

#include "ui/TimelineWindow.h"
#include "ui/WindowPlacement.h"

namespace {

// Sets channel `channel` with one of its texts and writes the frame.
void record(Window& w, int channel, ClickableText* ChannelStripWidget::*text) {
    QTest::mouseClick(w.strip(channel).*text, Qt::LeftButton);
    QTest::mouseClick(w.form->WriteButton, Qt::LeftButton);
}

TimelineWindow* openTimeline(Window& w) {
    w.form->Timeline->trigger();
    TimelineWindow* t = w.form->timelineWindow();
    if (t && !QTest::qWaitForWindowExposed(t)) return nullptr;
    return t;
}

}  // namespace

void TimelineWindowTest::opensFromTheSequenceMenuWithoutBlockingTheMainWindow() {
    Window w;
    // Sequence: Open, Save, Download, a separator, Timeline.
    QMenu* menu = w.form->findChild<QMenu*>(QStringLiteral("Sequence1"));
    QVERIFY(menu);
    const auto entries = menu->actions();
    const qsizetype at = entries.indexOf(w.form->Timeline);
    QVERIFY(at >= 2);
    QCOMPARE(w.form->Timeline->text(), QString("Timeline"));
    QVERIFY(entries[at - 1]->isSeparator());
    QCOMPARE(entries[at - 2], w.form->Download);

    TimelineWindow* t = openTimeline(w);
    QVERIFY(t && t->isVisible());
    QVERIFY(!t->isModal());
    QVERIFY(t->isWindow());
    QVERIFY(w.form->isEnabled());
    // Closed and chosen again: the same window, back on view.
    t->close();
    w.form->Timeline->trigger();
    QCOMPARE(w.form->timelineWindow(), t);
    QVERIFY(t->isVisible());
}

void TimelineWindowTest::aHelperWindowOpensBesideOrBelowTheMainWindowNeverOverIt() {
    const QRect screen(0, 0, 1920, 1080);
    const QRect main(562, 200, 796, 640);
    // Room on the right: there, level with the main window's top.
    QRect r = placeBeside(QSize(500, 400), QSize(300, 200), main, screen);
    QVERIFY(!r.intersects(main));
    QVERIFY(screen.contains(r));
    QCOMPARE(r.top(), main.top());
    QVERIFY(r.left() > main.right());
    QVERIFY(r.left() - main.right() <= 16);  // next to it, not at the screen's edge
    // Too wide for either side whole: the roomiest side that takes the
    // minimum, shrunk to it.
    r = placeBeside(QSize(900, 500), QSize(300, 200), main, screen);
    QVERIFY(!r.intersects(main));
    QVERIFY(screen.contains(r));
    QVERIFY(r.width() >= 300);
    QVERIFY(r.height() >= 200);
    // Flush with the screen's right edge: no room there, so the left.
    const QRect right(1124, 100, 796, 640);
    r = placeBeside(QSize(500, 400), QSize(300, 200), right, screen);
    QVERIFY(!r.isEmpty());
    QVERIFY(!r.intersects(right));
    QVERIFY(screen.contains(r));
    // A main window that fills the screen leaves no room: the helper still
    // opens whole on the screen.
    r = placeBeside(QSize(500, 400), QSize(300, 200), screen, screen);
    QCOMPARE(r.size(), QSize(500, 400));
    QVERIFY(screen.contains(r));
    // The right taken by another helper window: below, or the left side.
    const QRect other(1366, 0, 554, 1080);
    r = placeBeside(QSize(500, 200), QSize(300, 150), main, screen, {other});
    QVERIFY(!r.intersects(main));
    QVERIFY(!r.intersects(other));
    // The main window at the top left of a small screen: below it.
    const QRect small(0, 0, 1024, 1300);
    const QRect topLeft(0, 0, 796, 640);
    r = placeBeside(QSize(900, 500), QSize(300, 200), topLeft, small);
    QVERIFY(!r.intersects(topLeft));
    QVERIFY(r.top() > topLeft.bottom());
    QVERIFY(small.contains(r));
}

void TimelineWindowTest::aClickOnABandShowsThatFrameExceptDuringPlayback() {
    Window w;
    record(w, 0, &ChannelStripWidget::StaticTextMax);  // frame 0: 2500
    record(w, 0, &ChannelStripWidget::StaticTextMin);  // frame 1: 500
    record(w, 0, &ChannelStripWidget::StaticTextCtr);  // frame 2: 1500
    TimelineWindow* t = openTimeline(w);
    QVERIFY(t);
    // Write copies each frame forward: frame 3 holds frame 2's recording.
    QTRY_COMPARE(t->pass().timeline.frames.size(), size_t{4});
    QCOMPARE(t->highlightedFrame(), 3);  // where Write moved on to

    const QRect band = t->bandRect(1);
    QVERIFY(!band.isEmpty());
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, band.center());
    QCOMPARE(w.form->Label1->text(), QString("1"));
    QCOMPARE(w.positionBox(0)->text(), QString("500"));
    QTRY_COMPARE(t->highlightedFrame(), 1);

    // A click inside a playback (a handler run between the player's steps)
    // leaves the frames to the player.
    std::vector<int> framesAfterClick;
    w.ticks.onSleep = [&](uint64_t) {
        if (!w.core().state().playing || !framesAfterClick.empty()) return;
        const int before = w.core().state().currentFrame;
        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->bandRect(2).center());
        framesAfterClick = {before, w.core().state().currentFrame};
    };
    w.core().userStrip(0).PauseEdit.setText("50");  // the pass waits, so the click lands inside it
    QTest::mouseClick(w.form->WriteButton, Qt::LeftButton);  // frame 1 again, with its pause
    QTest::mouseClick(w.form->PlayButton, Qt::LeftButton);
    w.ticks.onSleep = nullptr;
    QCOMPARE(framesAfterClick.size(), size_t{2});
    QCOMPARE(framesAfterClick[1], framesAfterClick[0]);
}

void TimelineWindowTest::anEditAndAJumpEditRedrawItAtOnce() {
    Window w;
    // Channel 5 at the slowest rate in every frame, still at first.
    w.core().userStrip(5).RateEdit.setText("63");
    QTest::mouseClick(w.strip(5).StaticTextMin, Qt::LeftButton);
    record(w, 0, &ChannelStripWidget::StaticTextMax);
    record(w, 0, &ChannelStripWidget::StaticTextMin);
    TimelineWindow* t = openTimeline(w);
    QVERIFY(t);
    QTRY_COMPARE(t->pass().timeline.frames.size(), size_t{3});
    QCOMPARE(t->pass().lanes, (std::vector<int>{0, 5}));
    const auto unfinished = [t] {
        return std::count_if(t->pass().moves.begin(), t->pass().moves.end(),
                             [](const Move& m) { return m.command.channel == 5 && !m.finishes(); });
    };
    QCOMPARE(unfinished(), 0);

    // Frame 1 shown; an edit in a strip marks channel 7 in it: its lane
    // comes at once, from one recomputation for the burst of changes.
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->bandRect(1).center());
    QCOMPARE(w.form->Label1->text(), QString("1"));
    const int passes = t->passesComputed();
    const int paints = t->paints();
    QTest::mouseClick(w.strip(7).StaticTextCtr, Qt::LeftButton);
    QTRY_COMPARE(t->pass().lanes, (std::vector<int>{0, 5, 7}));
    QCOMPARE(t->passesComputed(), passes + 1);
    QTRY_VERIFY(t->paints() > paints);

    // Channel 5 sent to the far end and written: a move the pass cannot
    // finish, drawn in red with its sentence as the tooltip.
    QTest::mouseClick(w.strip(5).StaticTextMax, Qt::LeftButton);
    QTest::mouseClick(w.form->WriteButton, Qt::LeftButton);
    QTRY_VERIFY(unfinished() > 0);

    const Move* slow = nullptr;
    for (const Move& m : t->pass().moves)
        if (m.command.channel == 5 && !m.finishes()) slow = &m;
    QVERIFY(slow);
    const QString tip = t->toolTipAt(t->lanePoint(5, slow->startMs + slow->availableMs / 2, slow->fromPulse));
    QCOMPARE(tip, QString::fromStdString(describeUnfinished(*slow)));

    // A jump edit: frame 1 now goes on to frame 0.
    QVERIFY(t->pass().timeline.jumps.empty());
    QTest::mouseClick(w.form->IncButton, Qt::LeftButton);  // -1 -> 0
    QCOMPARE(w.form->Label2->text(), QString("0"));
    QTRY_COMPARE(t->pass().timeline.jumps.size(), size_t{1});
    QCOMPARE(t->pass().timeline.jumps[0].from, 1);  // frame 2 is never begun now
    QCOMPARE(t->pass().timeline.frames.size(), size_t{2});
    QCOMPARE(t->pass().timeline.jumps[0].to, 0);

    // The whole pass fits; Ctrl and the wheel zoom in about the pointer,
    // and the time then scrolls.
    QVERIFY(t->bandRect(1).right() < t->viewport()->width());
    QCOMPARE(t->horizontalScrollBar()->maximum(), 0);
    const double fitted = t->pixelsPerMs();
    const QPoint at = t->bandRect(1).center();
    QWheelEvent wheel(at, t->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 480), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(t->viewport(), &wheel);
    QVERIFY(t->pixelsPerMs() > 1.2 * fitted);
    QVERIFY(t->horizontalScrollBar()->maximum() > 0);
    QVERIFY(t->bandRect(1).contains(at));  // what was under the pointer stays there
}

void TimelineWindowTest::thePlayHeadMovesDuringASimulatedPlaybackAndRestsAfterIt() {
    Window w;
    w.form->SimulatedControllerClick();
    QVERIFY(w.core().simulatorChosen());
    w.core().userStrip(0).RateEdit.setText("2");
    w.core().userStrip(0).PauseEdit.setText("400");
    record(w, 0, &ChannelStripWidget::StaticTextMax);
    record(w, 0, &ChannelStripWidget::StaticTextMin);
    TimelineWindow* t = openTimeline(w);
    QVERIFY(t);
    QTRY_COMPARE(t->pass().timeline.frames.size(), size_t{3});
    QVERIFY(!t->playHeadMs());

    // Where the head stands at every step of the player's waits.
    std::vector<double> heads;
    int paintsDuringPlay = 0;
    const int paintsBefore = t->paints();
    w.ticks.onSleep = [&](uint64_t) {
        if (t->playHeadMs()) heads.push_back(*t->playHeadMs());
        paintsDuringPlay = t->paints() - paintsBefore;
    };
    w.ticks.realTime = true;  // the waits take their time, so the head is drawn in them
    QTest::mouseClick(w.form->PlayButton, Qt::LeftButton);
    w.ticks.realTime = false;
    w.ticks.onSleep = nullptr;
    QCOMPARE(w.form->Msg->text(), QString(" Sequence Complete "));

    // Three pauses of 400 ms drawn every 30 ms: the head went forward in many
    // steps, never back, within the pass.
    QVERIFY2(heads.size() >= 8, qPrintable(QString::number(heads.size())));
    QVERIFY(std::is_sorted(heads.begin(), heads.end()));
    QVERIFY(heads.back() > heads.front());
    QVERIFY(heads.back() <= t->pass().timeline.passMs);
    QVERIFY2(paintsDuringPlay >= 8, qPrintable(QString::number(paintsDuringPlay)));

    // At rest: no head, and nothing drawn while nothing changes.
    QTRY_VERIFY(!t->playHeadMs());
    QTest::qWait(100);
    const int still = t->paints();
    QTest::qWait(200);
    QCOMPARE(t->paints(), still);
}
