// SPDX-License-Identifier: GPL-3.0-or-later
// Not a benchmark: makes the README's picture of the timeline. The main
// window with a show of six frames, a jump and moves that cannot finish,
// the timeline beside it, grabbed 5.2 s into a playback on the simulated
// controller. Under Xvfb, without a window manager:
//
//   xvfb-run -a -s "-screen 0 1760x720x24" build/bench/timeline_picture docs/timeline.png
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QElapsedTimer>
#include <cstdio>

#include "link/TickSource.h"
#include "ui/ServoView.h"
#include "ui/TMainForm.h"
#include "ui/TimelineWindow.h"

namespace {
class GrabTicks : public TickSource {
public:
    TickSource& real = systemTickSource();
    std::function<void()> during;
    uint32_t GetTickCount() override { return real.GetTickCount(); }
    uint64_t microseconds() override { return real.microseconds(); }
    void sleepMs(uint32_t ms) override { real.sleepMs(ms); if (during) during(); }
    void sleepUs(uint64_t us) override { real.sleepUs(us); if (during) during(); }
};
}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const char* out = argc > 1 ? argv[1] : "timeline.png";
    GrabTicks ticks;
    TMainForm form(ticks, [] { return std::vector<std::string>{}; });
    // Its changes are thrown away when it closes, unasked.
    form.answerQuestion = [](QMessageBox& box) { return box.button(QMessageBox::Discard); };
    form.show();
    form.move(0, 0);
    EditorCore& core = form.core();

    const int ch0[] = {1000, 2000, 1200, 2200, 900, 1800};
    const int ch1[] = {1500, 1100, 1900, 1300, 2100, 1500};
    const int ch2[] = {800, 2200, 900, 2300, 800, 2000};
    const int ch4[] = {1500, 1500, 1500, 2500, 2500, 1000};
    for (int f = 0; f < 6; ++f) {
        core.userStrip(0).RateEdit.setText("2");
        core.userStrip(0).PositionEdit.setText(std::to_string(ch0[f]));
        core.userStrip(0).PauseEdit.setText("250");
        core.userStrip(1).RateEdit.setText("4");
        core.userStrip(1).PositionEdit.setText(std::to_string(ch1[f]));
        core.userStrip(1).PauseEdit.setText("150");
        core.userStrip(2).RateEdit.setText("40");
        core.userStrip(2).PositionEdit.setText(std::to_string(ch2[f]));
        core.userStrip(4).RateEdit.setText("63");
        core.userStrip(4).PositionEdit.setText(std::to_string(ch4[f]));
        core.userStrip(4).PauseEdit.setText("100");
        core.WriteFrameClick();
    }
    core.DelFrameClick();  // the copy after frame 5
    core.PriorFrameClick();
    for (int i = 0; i < 3; ++i) core.IncButtonClick();  // frame 5 goes back to frame 2
    core.StartFrameClick();

    form.SimulatedControllerClick();
    if (form.servoView()) form.servoView()->close();
    form.TimelineClick();

    QElapsedTimer sincePlay;
    ticks.during = [&] {
        if (!sincePlay.isValid() || sincePlay.elapsed() < 5200) return;
        ticks.during = nullptr;
        TimelineWindow* t = form.timelineWindow();
        const QRect both = form.frameGeometry().united(t->frameGeometry());
        QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, both.x(), both.y(), both.width(), both.height());
        std::printf("saved %s: %d\n", out, shot.save(QString::fromLocal8Bit(out)));
        std::fflush(stdout);
        _exit(0);
    };
    QTimer::singleShot(800, &form, [&] {
        sincePlay.start();
        core.RunClick();
    });
    return app.exec();
}
