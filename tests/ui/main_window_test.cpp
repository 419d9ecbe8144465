// SPDX-License-Identifier: GPL-3.0-or-later
// The main window on the offscreen platform: start state, layout, status
// field, help panel, about window, Exit and closing, and every button and
// menu entry reaching its handler.

#include "main_window_test.h"

#include <QAction>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QToolButton>
#include <filesystem>

#include "ShowTime.h"
#include "TempFolder.h"

namespace {

// Sets channel 0 with one of its texts ("2500", "1500", "500") and writes
// the frame.
void record(Window& w, ClickableText* text) {
    QTest::mouseClick(text, Qt::LeftButton);
    QTest::mouseClick(w.form->WriteButton, Qt::LeftButton);
}

QString box(Window& w, int channel) { return w.strip(channel).PositionEdit->edit()->text(); }

// The widget under a point of the tab control, as a user would hit it.
QWidget* hitInTabs(Window& w, QPoint p) { return w.form->TabSet1->childAt(p); }

bool within(QWidget* child, QWidget* ancestor) {
    for (QWidget* x = child; x; x = x->parentWidget())
        if (x == ancestor) return true;
    return false;
}

// Types a name into a file dialog and presses its accept button.
void typeFileName(QFileDialog* dialog, const QString& name) {
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    edit->setText(name);
    static_cast<QDialog*>(dialog)->accept();
}

void openSim(Window& w, sim::ControllerSimulator& s) {
    QVERIFY2(s.start(), s.error().c_str());
    w.core().ComPortComboClick(s.portName());
    QVERIFY(w.core().serialPort().isOpen());
    s.clear();
}

}  // namespace

void MainWindowTest::startState() {
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    QCOMPARE(w.form->windowTitle(), QString("Vantorel Servo Controller Interface v0.9h Beta"));
    QCOMPARE(w.form->Msg->text(), QString());
    QCOMPARE(w.form->Msg->palette().color(QPalette::Base), QLineEdit().palette().color(QPalette::Base));
    QCOMPARE(w.form->Label1->text(), QString("0"));
    QCOMPARE(w.form->Label2->text(), QString("-1"));
    QCOMPARE(w.form->TabBar->currentIndex(), 0);
    QCOMPARE(w.form->TabBar->tabText(0), QString("Channel 0-15"));
    QCOMPARE(w.form->TabBar->tabText(1), QString("Channel 16-31"));
    QVERIFY(w.form->Page1->isVisible());
    QVERIFY(!w.form->Page2->isVisible());
    QVERIFY(!w.form->HelpPanel->isVisible());
    for (int i = 0; i < 32; ++i) {
        QCOMPARE(w.strip(i).isVisible(), i < 16);
        QCOMPARE(w.strip(i).title(), QString("Ch %1").arg(i));
    }
    QVERIFY(!w.about->isVisible());
    // The port submenu was built from the (empty) port list: only the
    // simulated controller, after a separator.
    const auto entries = w.form->SelCommPort->actions();
    QCOMPARE(entries.size(), 2);
    QVERIFY(entries[0]->isSeparator());
    QCOMPARE(entries[1]->text(), QString("Simulated controller"));
}

void MainWindowTest::geometryMatchesTheDesign() {
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    QWidget* client = w.form->centralWidget();
    QCOMPARE(client->size(), QSize(796, 600));
    QCOMPARE(w.form->size(), QSize(796, 600 + w.form->menuBar()->height()));
    QCOMPARE(w.form->minimumSize(), w.form->maximumSize());  // not resizable
    QVERIFY(!(w.form->windowFlags() & Qt::WindowMaximizeButtonHint));

    QCOMPARE(w.form->Msg->geometry(), QRect(12, 318, 112, 21));
    QCOMPARE(w.form->PlayButton->geometry(), QRect(12, 382, 28, 22));
    QCOMPARE(w.form->LastFrame->geometry(), QRect(96, 404, 28, 22));
    QCOMPARE(w.form->ResetButton->geometry(), QRect(53, 426, 30, 22));
    QCOMPARE(w.form->TabSet1->geometry(), QRect(138, 0, 649, 591));
    QCOMPARE(w.form->Page2->geometry(), QRect(0, 20, 649, 571));
    QCOMPARE(w.strip(3).geometry(), QRect(87, 290, 73, 273));
    QCOMPARE(w.strip(14).geometry(), QRect(567, 10, 73, 273));
    QCOMPARE(w.strip(3).PositionEdit->geometry(), QRect(9, 176, 55, 22));
    QCOMPARE(w.strip(3).Track->geometry(), QRect(8, 16, 33, 113));

    // The window as drawn: the status field's background where the design
    // puts it, and the captions level with the boxes of the upper row.
    w.form->ShowStatus("  Comm Port Open", kLime, true);
    const QImage shot = w.form->grab().toImage();
    const QPoint clientOrigin = client->mapTo(w.form.get(), QPoint(0, 0));
    QCOMPARE(shot.size(), w.form->size() * shot.devicePixelRatio());
    const QPoint inMsg = clientOrigin + QPoint(12 + 108, 318 + 10);  // right end, past the text
    QCOMPARE(QColor(shot.pixel(inMsg)), rgb(kLime));
    const QPoint leftOfMsg = clientOrigin + QPoint(6, 318 + 10);
    QVERIFY(QColor(shot.pixel(leftOfMsg)) != rgb(kLime));
    auto* label3 = client->findChild<QLabel*>("Label3");
    QVERIFY(label3);
    const int captionMiddle = label3->geometry().center().y();
    const QRect posBox(w.strip(0).PositionEdit->mapTo(client, QPoint(0, 0)), QSize(55, 22));
    QVERIFY(std::abs(captionMiddle - posBox.center().y()) <= 4);
}

void MainWindowTest::statusWithoutColourKeepsTheLastOne() {
    Window w;
    w.form->ShowStatus("         Searching", kAqua, true);
    w.form->ShowStatus("    KDX not found ", std::nullopt, true);
    QCOMPARE(w.form->Msg->text(), QString("    KDX not found "));
    QCOMPARE(w.form->Msg->palette().color(QPalette::Base), rgb(kAqua));
    w.form->ShowStatus("      Version: 1.4", kLime, false);
    QCOMPARE(w.form->Msg->palette().color(QPalette::Base), rgb(kLime));
}

void MainWindowTest::helpPanelStaysOverTheTabs() {
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    const QPoint inPage(300, 300);  // in the tab control, over the pages
    QTest::mouseClick(w.form->TabBar, Qt::LeftButton, {},
                      w.form->TabBar->tabRect(1).center());
    QCOMPARE(w.form->TabBar->currentIndex(), 1);
    QVERIFY(w.form->Page2->isVisible());
    QVERIFY(!w.form->Page1->isVisible());

    w.form->Readme1->trigger();
    QVERIFY(w.form->HelpPanel->isVisible());
    QVERIFY(within(hitInTabs(w, inPage), w.form->HelpPanel));
    QVERIFY(w.form->HelpMemo->toPlainText().startsWith("SERVO CONTROLLER INTERFACE"));
    QVERIFY(w.form->HelpMemo->isReadOnly());

    // Switching tabs underneath leaves the help on top; the tabs still work.
    QTest::mouseClick(w.form->TabBar, Qt::LeftButton, {},
                      w.form->TabBar->tabRect(0).center());
    QCOMPARE(w.form->TabBar->currentIndex(), 0);
    QVERIFY(w.form->Page1->isVisible());
    QVERIFY(within(hitInTabs(w, inPage), w.form->HelpPanel));

    QTest::mouseClick(w.form->CloseButton, Qt::LeftButton);
    QVERIFY(!w.form->HelpPanel->isVisible());
    QVERIFY(within(hitInTabs(w, inPage), w.form->Page1));
}

void MainWindowTest::aboutDoesNotBlockTheMainWindow() {
    Window w;
    w.form->About1->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(w.about.get()));
    QCOMPARE(w.about->windowTitle(), QString("Vantorel Servo Controller Interface - About"));
    QCOMPARE(w.about->size(), QSize(491, 298));
    QVERIFY(!w.about->isModal());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QVERIFY(!(w.about->windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint)));

    // The main window goes on taking input.
    QTest::mouseClick(w.form->WriteButton, Qt::LeftButton);
    QCOMPARE(w.form->Label1->text(), QString("1"));

    const QRect where = w.about->geometry();
    w.form->About1->trigger();
    QVERIFY(w.about->isVisible());
    QCOMPARE(w.about->geometry(), where);

    QCOMPARE(w.about->AboutOK->geometry(), QRect(210, 210, 79, 49));
    QTest::mouseClick(w.about->AboutOK, Qt::LeftButton);
    QVERIFY(!w.about->isVisible());
    w.form->About1->trigger();  // and once more after OK
    QVERIFY(w.about->isVisible());
}

void MainWindowTest::exitWithoutPort() {
    Window w;
    uint64_t sleptAtQuit = 0;
    w.form->onQuit = [&] { sleptAtQuit = w.ticks.totalSlept(); };
    w.form->Exit->trigger();
    QCOMPARE(w.ticks.seen.size(), size_t(1));
    QCOMPARE(w.ticks.seen[0].text, QString("    Ending Session"));
    QCOMPARE(w.ticks.seen[0].background, rgb(kAqua));
    QCOMPARE(w.ticks.seen[0].ms, 750u);
    QVERIFY(w.form->quitRequested());
    QCOMPARE(sleptAtQuit, uint64_t(750));  // the loop ends after the wait
}

void MainWindowTest::exitWithOpenedPort() {
    Window w;
    sim::ControllerSimulator s;
    openSim(w, s);
    w.ticks.seen.clear();
    w.form->Exit->trigger();
    QVERIFY(!w.core().serialPort().isOpen());
    QCOMPARE(w.ticks.seen.size(), size_t(2));
    QCOMPARE(w.ticks.seen[0].text, QString("  Closing Comm Port"));
    QCOMPARE(w.ticks.seen[0].background, rgb(kYellow));
    QCOMPARE(w.ticks.seen[0].ms, 750u);
    QCOMPARE(w.ticks.seen[1].text, QString("    Ending Session"));
    QCOMPARE(w.ticks.seen[1].background, rgb(kAqua));
    QCOMPARE(w.ticks.seen[1].ms, 750u);
    QVERIFY(w.form->quitRequested());
}

void MainWindowTest::exitDuringPlaybackPlaysNoFurtherFrame() {
    Window w;
    sim::ControllerSimulator s;
    openSim(w, s);
    record(w, w.strip(0).StaticTextMax);  // frame 0: channel 0 at 2500
    record(w, w.strip(0).StaticTextMin);  // frame 1: channel 0 at 500
    QCOMPARE(box(w, 0), QString("500"));
    QVERIFY(waitForPositions(s, 2));  // the two edits, before looking on
    s.clear();
    // Chosen from the menu while the player handles events at frame 0.
    QTimer::singleShot(0, w.form->Exit, &QAction::trigger);
    w.form->PlayButton->click();
    QVERIFY(w.form->quitRequested());
    QCOMPARE(w.form->Label1->text(), QString("0"));
    QCOMPARE(box(w, 0), QString("500"));  // frame 0 never shown
    QCOMPARE(w.form->Msg->text(), QString("    Ending Session"));
    QCOMPARE(positionsAfterSettling(s), size_t(0));
}

void MainWindowTest::closingDuringPlaybackLeavesThePortAlone() {
    Window w;
    sim::ControllerSimulator s;
    openSim(w, s);
    record(w, w.strip(0).StaticTextMax);
    record(w, w.strip(0).StaticTextMin);
    QVERIFY(waitForPositions(s, 2));
    s.clear();
    QTimer::singleShot(0, w.form.get(), &QWidget::close);
    w.form->PlayButton->click();
    QVERIFY(!w.form->isVisible());
    QVERIFY(!w.core().serialPort().isOpen());
    QCOMPARE(box(w, 0), QString("500"));
    // Events still arriving after the close reach nothing.
    QTest::mouseClick(w.form->WriteButton, Qt::LeftButton);
    QTest::keyClick(w.strip(1).Track, Qt::Key_Home);
    QCOMPARE(w.form->Label1->text(), QString("0"));
    QCOMPARE(w.core().strip(1).Track.position(), 1500);
    QCOMPARE(positionsAfterSettling(s), size_t(0));
    QVERIFY(s.receivedBytes().empty());
}

void MainWindowTest::exitFromTheMenuClosesItAndDrawsBeforeTheWaits() {
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    auto* file = w.form->findChild<QMenu*>("File1");
    QVERIFY(file);
    QMenuBar* bar = w.form->menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(file->menuAction()).center());
    QTRY_VERIFY(file->isVisible());

    // Paints of the picture that the open menu covers.
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } counter;
    auto* underMenu = w.form->findChild<QLabel*>("Image1");
    QVERIFY(underMenu);
    QVERIFY(file->geometry().intersects(QRect(underMenu->mapToGlobal(QPoint(0, 0)), underMenu->size())));
    underMenu->installEventFilter(&counter);
    bool menuUpAtWait = true;
    int paintsAtWait = 0;
    w.ticks.onSleep = [&](uint64_t slept) {
        if (slept != 1) return;
        menuUpAtWait = file->isVisible() || QApplication::activePopupWidget() != nullptr;
        paintsAtWait = counter.paints;
    };
    QTest::mouseClick(file, Qt::LeftButton, {}, file->actionGeometry(w.form->Exit).center());

    QVERIFY(w.form->quitRequested());
    QVERIFY(!menuUpAtWait);
    QVERIFY(paintsAtWait > 0);  // the area the menu covered is drawn anew
    underMenu->removeEventFilter(&counter);
}

namespace {

// What the window shows on screen in a widget's area (the offscreen
// platform keeps the painted pixels), and what it would show if drawn now.
QImage onScreen(Window& w, QWidget* widget) {
    const QPoint at = widget->mapTo(w.form.get(), QPoint(0, 0));
    const QPixmap shot = w.form->screen()->grabWindow(w.form->winId());
    return shot.toImage().copy(QRect(at, widget->size())).convertToFormat(QImage::Format_RGB32);
}
QImage drawnNow(QWidget* widget) { return widget->grab().toImage().convertToFormat(QImage::Format_RGB32); }

}  // namespace

void MainWindowTest::theStripsShowTheFramePlayedDuringItsPass() {
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    // Channel 0 at 2500 in frame 0 and at 500 in frame 1, 100 ms after each.
    w.editSequence([](Sequence& seq) {
        seq.channel(0, 0) = {2500, 0, 0, 100, 1, {}};
        seq.channel(1, 0) = {500, 0, 0, 100, 1, {}};
        seq.frame(0).frameUsed = 1;
        seq.frame(1).frameUsed = 1;
    });
    QApplication::processEvents();
    std::vector<bool> drawnInPass;
    std::vector<QString> labelInPass;
    uint64_t lastSlept = 0;
    w.ticks.onSleep = [&](uint64_t slept) {
        // The end of each pause, still inside the pass (the waits for the
        // commands' wire time are a third as long).
        const uint64_t step = slept - lastSlept;
        lastSlept = slept;
        if (step < 90) return;
        drawnInPass.push_back(onScreen(w, &w.strip(0)) == drawnNow(&w.strip(0)));
        labelInPass.push_back(w.strip(0).PositionEdit->edit()->text());
    };
    QTest::mouseClick(w.form->PlayButton, Qt::LeftButton);

    QCOMPARE(labelInPass, (std::vector<QString>{"2500", "500"}));
    QCOMPARE(drawnInPass, (std::vector<bool>{true, true}));
}

void MainWindowTest::aDeviceLostDuringPlaybackStopsItAndShowsTheLoss() {
    Window w;
    sim::ControllerSimulator s;
    openSim(w, s);
    w.editSequence([](Sequence& seq) {
        for (int f = 0; f < 3; ++f) {
            seq.channel(f, 0) = {1500 + 100 * f, 0, 0, 1000, 1, {}};
            seq.frame(f).frameUsed = 1;
        }
    });
    // Pulled as frame 1's pause ends: its two pauses and the wire time of
    // the two commands waited for.
    bool pulled = false;
    w.ticks.onSleep = [&](uint64_t slept) {
        if (pulled || slept < playedMs(2000, 2)) return;
        s.vanish();
        pulled = true;
    };
    w.ticks.seen.clear();
    QTest::mouseClick(w.form->PlayButton, Qt::LeftButton);

    // Nothing is waited after the loss: no wire time and no pause of frame
    // 2. (The first command went at once, on a line not seen yet.)
    QCOMPARE(w.ticks.totalSlept(), playedMs(2000, 2));
    QCOMPARE(w.form->Msg->text(), QString("    Comm Port Lost"));
    QCOMPARE(w.form->Msg->palette().color(QPalette::Base), rgb(kYellow));
    QVERIFY(!w.core().serialPort().isOpen());
    QCOMPARE(w.core().state().portStatus, -1);
    QVERIFY(!w.core().state().playing);
    QCOMPARE(w.form->Label1->text(), QString("0"));
    QCOMPARE(box(w, 0), QString("1500"));
    QVERIFY(w.form->WriteButton->isEnabled());
    QVERIFY(w.form->InsertButton->isEnabled());
    QVERIFY(w.form->DelButton->isEnabled());
    // Drawn at once: what the field showed on screen when the loss was met.
    QCOMPARE(onScreen(w, w.form->Msg), drawnNow(w.form->Msg));

    // Re-plugged: the new device's port opens without a closing step.
    sim::ControllerSimulator replugged;
    QVERIFY2(replugged.start(), replugged.error().c_str());
    w.ticks.seen.clear();
    w.core().ComPortComboClick(replugged.portName());
    QCOMPARE(w.form->Msg->text(), QString("  Comm Port Open"));
    for (const auto& seen : w.ticks.seen) QVERIFY(seen.text != QString("   Closing old Port"));
}

void MainWindowTest::buttonsAndMenusEndTypingFirst() {
    Window w;
    sim::ControllerSimulator s;
    openSim(w, s);
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    NumberEdit* edit = w.positionBox(2);
    auto typeInto = [&](const char* text) {
        edit->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(edit, text);
        QVERIFY(w.core().state().typingPosition);
    };
    // Write Frame stores what the servo was sent and the slider shows.
    typeInto("1800");
    QTest::mouseClick(w.form->WriteButton, Qt::LeftButton);
    QVERIFY(!w.core().state().typingPosition);
    QCOMPARE(w.core().sequence().channel(0, 2).position, 1800);
    QCOMPARE(w.strip(2).Track->value(), 1200);
    QVERIFY(waitForPositions(s, 1));
    QCOMPARE(positions(s)[0].pulse, 900);
    QVERIFY(edit->hasFocus());

    // Navigation shows the next frame through a synced slider.
    typeInto("1000");
    QTest::mouseClick(w.form->PriorFrame, Qt::LeftButton);
    QCOMPARE(box(w, 2), QString("1800"));
    QCOMPARE(w.strip(2).Track->value(), 1200);
    // The typed 1000 went out first, then frame 0's 1800 (its change and
    // its mark).
    QVERIFY(waitForPositions(s, 4));
    QCOMPARE(positions(s)[1].pulse, 500);
    QCOMPARE(positions(s)[2].pulse, 900);

    // A menu entry too: the typed value goes out before the download.
    typeInto("2000");
    w.form->Download->trigger();
    QVERIFY(s.waitFor(
        [](const std::vector<sim::Event>& events) {
            return !events.empty() && events.back().kind == sim::Event::Kind::Download;
        },
        std::chrono::seconds(10)));
    const auto events = s.events();
    QVERIFY(events.size() >= 2);
    const sim::Event& beforeDownload = events[events.size() - 2];
    QCOMPARE(beforeDownload.kind, sim::Event::Kind::Position);
    QCOMPARE(beforeDownload.position.pulse, 1000);
}

void MainWindowTest::writeButton() {
    Window w;
    QTest::mouseClick(w.form->WriteButton, Qt::LeftButton);
    QCOMPARE(w.form->Label1->text(), QString("1"));
    QCOMPARE(w.core().state().lastFrame, 1);
}

void MainWindowTest::frameNavigationButtons() {
    Window w;
    record(w, w.strip(0).StaticTextMax);
    record(w, w.strip(0).StaticTextMin);
    QCOMPARE(w.form->Label1->text(), QString("2"));
    QTest::mouseClick(w.form->StartFrame, Qt::LeftButton);
    QCOMPARE(w.form->Label1->text(), QString("0"));
    QCOMPARE(box(w, 0), QString("2500"));
    QTest::mouseClick(w.form->NextFrame, Qt::LeftButton);
    QCOMPARE(w.form->Label1->text(), QString("1"));
    QCOMPARE(box(w, 0), QString("500"));
    QCOMPARE(w.form->Msg->text(), QString("      Animating"));
    QTest::mouseClick(w.form->PriorFrame, Qt::LeftButton);
    QCOMPARE(w.form->Label1->text(), QString("0"));
    QTest::mouseClick(w.form->LastFrame, Qt::LeftButton);
    QCOMPARE(w.form->Label1->text(), QString("2"));
}

void MainWindowTest::insertButton() {
    Window w;
    record(w, w.strip(0).StaticTextMax);
    QTest::mouseClick(w.form->StartFrame, Qt::LeftButton);
    QTest::mouseClick(w.strip(0).StaticTextMin, Qt::LeftButton);
    QTest::mouseClick(w.form->InsertButton, Qt::LeftButton);
    QCOMPARE(w.core().sequence().channel(0, 0).position, 500);
    QCOMPARE(w.core().sequence().channel(1, 0).position, 2500);
    QCOMPARE(w.form->Label1->text(), QString("0"));
}

void MainWindowTest::deleteButton() {
    Window w;
    record(w, w.strip(0).StaticTextMax);
    record(w, w.strip(0).StaticTextMin);
    QTest::mouseClick(w.form->StartFrame, Qt::LeftButton);
    QTest::mouseClick(w.form->DelButton, Qt::LeftButton);
    QCOMPARE(w.core().sequence().channel(0, 0).position, 500);
    QCOMPARE(w.core().state().lastFrame, 1);
}

void MainWindowTest::resetButton() {
    Window w;
    QTest::mouseClick(w.strip(9).StaticTextMax, Qt::LeftButton);
    QTest::keyClick(w.strip(9).OffsetTrack, Qt::Key_Right);
    QTest::mouseClick(w.form->ResetButton, Qt::LeftButton);
    QCOMPARE(box(w, 9), QString("1500"));
    QCOMPARE(w.strip(9).OffsetTrack->value(), 0);
    QCOMPARE(w.strip(9).Track->value(), 1500);
    QCOMPARE(w.core().sequence().frame(0).frameUsed, uint8_t(0));
}

void MainWindowTest::playButton() {
    Window w;
    record(w, w.strip(0).StaticTextMax);  // frames 0 and 1 used
    QTest::mouseClick(w.form->PlayButton, Qt::LeftButton);
    QCOMPARE(w.form->Msg->text(), QString(" Sequence Complete "));
    QCOMPARE(w.form->Label1->text(), QString("2"));
    QVERIFY(w.form->WriteButton->isEnabled());
    QVERIFY(!w.form->InsertButton->isEnabled());
    QVERIFY(!w.form->DelButton->isEnabled());
}

void MainWindowTest::pauseAndStopButtons() {
    Window w;
    QTest::mouseClick(w.form->PauseButton, Qt::LeftButton);
    QCOMPARE(w.form->Msg->text(), QString("           Paused"));
    QVERIFY(w.core().state().paused);
    record(w, w.strip(0).StaticTextMax);
    QTest::mouseClick(w.form->StopButton, Qt::LeftButton);
    QCOMPARE(w.form->Msg->text(), QString("           Stopped"));
    QCOMPARE(w.form->Label1->text(), QString("0"));
    QVERIFY(w.form->InsertButton->isEnabled());
}

void MainWindowTest::jumpToButtonsAndDoubleClick() {
    Window w;
    QTest::mouseClick(w.form->IncButton, Qt::LeftButton);
    QCOMPARE(w.form->Label2->text(), QString("0"));
    QTest::mouseClick(w.form->IncButton, Qt::LeftButton);
    QTest::mouseClick(w.form->IncButton, Qt::LeftButton);
    QTest::mouseClick(w.form->DecButton, Qt::LeftButton);
    QCOMPARE(w.form->Label2->text(), QString("1"));
    QTest::mouseDClick(w.form->Label2, Qt::LeftButton);
    QCOMPARE(w.form->Label2->text(), QString("-1"));
    QCOMPARE(w.core().sequence().frame(0).jumpTo, -1);
}

void MainWindowTest::portMenuEntryOpensThePort() {
    sim::ControllerSimulator s;
    QVERIFY2(s.start(), s.error().c_str());
    Window w([&s] { return std::vector<std::string>{s.portName()}; });
    const auto entries = w.form->SelCommPort->actions();
    QCOMPARE(entries.size(), 3);  // the port, a separator, the simulated controller
    QCOMPARE(entries[0]->text(), QString::fromStdString(s.portName()));
    entries[0]->trigger();
    QVERIFY(w.core().serialPort().isOpen());
    QCOMPARE(w.form->Msg->text(), QString("  Comm Port Open"));
    QCOMPARE(w.form->Msg->palette().color(QPalette::Base), rgb(kLime));
}

void MainWindowTest::portMenuShowsNamesAsTheyAre() {
    Window w([] { return std::vector<std::string>{"Port&1", "ttyS0"}; });
    const auto entries = w.form->SelCommPort->actions();
    QCOMPARE(entries.size(), 4);
    // "&&" shows one "&" and makes no mnemonic.
    QCOMPARE(entries[0]->text(), QString("Port&&1"));
    QCOMPARE(entries[1]->text(), QString("ttyS0"));
    QString message, caption;
    onNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box) {
            message = box->text();
            caption = box->windowTitle();
        }
        modal->close();
    });
    const int beeps = w.form->beepCount();
    entries[0]->trigger();
    QVERIFY2(message.startsWith("Could not open port: Port&1."), qPrintable(message));
    QCOMPARE(caption, QString("KDX Interface"));
    QCOMPARE(w.form->beepCount(), beeps + 1);
}

void MainWindowTest::getVersionMenu() {
    Window w;
    w.form->GetVer->trigger();
    QCOMPARE(w.form->Msg->text(), QString("    Choose port"));

    sim::ControllerSimulator s;
    w.ticks.realTime = true;  // the controller answers in real time
    openSim(w, s);
    w.form->GetVer->trigger();
    QCOMPARE(w.form->Msg->text(), QString("      Version: 1.4"));
    QCOMPARE(w.form->Msg->palette().color(QPalette::Base), rgb(kLime));
}

void MainWindowTest::downloadMenu() {
    Window w;
    sim::ControllerSimulator s;
    openSim(w, s);
    record(w, w.strip(0).StaticTextMax);
    w.form->Download->trigger();
    QVERIFY(s.waitFor(
        [](const std::vector<sim::Event>& events) {
            for (const auto& e : events)
                if (e.kind == sim::Event::Kind::Download) return true;
            return false;
        },
        std::chrono::seconds(10)));
}

void MainWindowTest::saveAndOpenMenus() {
    TempFolder folder;
    const QString typed = QString::fromStdString(folder.file("walk"));
    const std::string saved = folder.file("walk.KDX");
    {
        Window w;
        record(w, w.strip(0).StaticTextMax);
        onNextModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            QVERIFY(dialog);
            QCOMPARE(dialog->selectedFiles().value(0).section('/', -1), QString("Untitled.KDX"));
            typeFileName(dialog, typed);  // no extension typed
        });
        w.form->Save1->trigger();
        QVERIFY(std::filesystem::exists(saved));
        const auto bytes = readWholeFile(saved);
        QCOMPARE(bytes.size(), size_t(16384));
        QCOMPARE(std::string(bytes.begin() + 17, bytes.begin() + 22), std::string("0.9g "));

        // The dialog proposes the last name; cancelling writes nothing.
        QString proposed;
        onNextModal([&](QWidget* modal) {
            proposed = qobject_cast<QFileDialog*>(modal)->selectedFiles().value(0);
            qobject_cast<QDialog*>(modal)->reject();
        });
        QTest::mouseClick(w.strip(0).StaticTextMin, Qt::LeftButton);
        QTest::mouseClick(w.form->WriteButton, Qt::LeftButton);
        w.form->Save1->trigger();
        QCOMPARE(proposed, QString::fromStdString(saved));
        QCOMPARE(readWholeFile(saved), bytes);
    }
    Window w;
    onNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        typeFileName(dialog, QString::fromStdString(saved));
    });
    w.form->Open1->trigger();
    QCOMPARE(box(w, 0), QString("2500"));
    QCOMPARE(w.form->Label1->text(), QString("0"));
    QCOMPARE(w.core().sequence().frame(1).frameUsed, uint8_t(1));
}

void MainWindowTest::openShortFileShowsTheError() {
    Window w;
    QString message, caption;
    onNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        typeFileName(dialog, QStringLiteral(KDX_TEST_DATA "/short.KDX"));
        onNextModal([&](QWidget* next) {
            if (auto* box = qobject_cast<QMessageBox*>(next)) {
                message = box->text();
                caption = box->windowTitle();
            }
            next->close();
        });
    });
    w.form->Open1->trigger();
    QCOMPARE(message, QString("Read beyond end of file."));
    QCOMPARE(caption, QString("KDX Interface"));
}

void MainWindowTest::readmeAndAboutMenus() {
    Window w;
    w.form->Readme1->trigger();
    QVERIFY(w.form->HelpPanel->isVisible());
    w.form->About1->trigger();
    QVERIFY(w.about->isVisible());
}
