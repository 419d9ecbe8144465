// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared pieces of the window tests: a window on fake ticks that records
// what the status field shows during every wait, a simulator with helpers,
// and answering the next modal window.

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FakeTicks.h"
#include "sim/ControllerSimulator.h"
#include "ui/ChannelStripWidget.h"
#include "ui/StripControls.h"
#include "ui/TAboutForm.h"
#include "ui/TMainForm.h"

// A fake tick counter that notes the status field's text and background at
// every wait: what the user sees while the program does not repaint.
class WatchedTicks : public FakeTicks {
public:
    struct Seen {
        QString text;
        QColor background;
        uint32_t ms;
    };
    QLineEdit* field = nullptr;
    std::vector<Seen> seen;
    bool realTime = false;  // also wait for real, where a device must answer

    void sleepMs(uint32_t ms) override {
        if (realTime) std::this_thread::sleep_for(std::chrono::milliseconds(ms ? ms : 1));
        if (field) {
            const QColor bg = field->palette().color(QPalette::Base);
            if (!seen.empty() && seen.back().text == field->text() && seen.back().background == bg)
                seen.back().ms += ms;
            else
                seen.push_back({field->text(), bg, ms});
        }
        FakeTicks::sleepMs(ms);
    }
};

// The main window and the about window as the program makes them, shown
// and active.
struct Window {
    WatchedTicks ticks;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<TAboutForm> about;
    bool quit = false;

    explicit Window(EditorCore::PortLister ports = [] { return std::vector<std::string>{}; }) {
        form = std::make_unique<TMainForm>(ticks, std::move(ports));
        form->onQuit = [this] { quit = true; };
        about = std::make_unique<TAboutForm>();
        form->setAboutForm(about.get());
        ticks.field = form->Msg;
        form->show();
        form->activateWindow();
    }
    ~Window() {
        // Like the program's end: closing first releases the port.
        if (form && form->isVisible()) form->close();
    }
    EditorCore& core() { return form->core(); }
    // A copy of the sequence edited and handed in, as a loaded file holds it.
    void editSequence(const std::function<void(Sequence&)>& edit) {
        auto seq = std::make_unique<Sequence>(core().sequence());
        edit(*seq);
        core().replaceSequence(*seq);
    }
    ChannelStripWidget& strip(int i) { return *form->strip(i); }
    NumberEdit* positionBox(int i) { return strip(i).PositionEdit->edit(); }
};

inline QColor rgb(const Rgb& c) { return QColor(c.red, c.green, c.blue); }

// Runs answer on the next modal window once it is up (a message box or a
// file dialog opened by a handler inside exec()).
inline void onNextModal(std::function<void(QWidget*)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        answer(modal);
    });
    timer->start();
}

// Position commands decoded by the simulator, in order.
inline std::vector<sim::PositionMessage> positions(const sim::ControllerSimulator& s) {
    std::vector<sim::PositionMessage> out;
    for (const auto& e : s.events())
        if (e.kind == sim::Event::Kind::Position) out.push_back(e.position);
    return out;
}

// Waits until the simulator has decoded n position commands.
inline bool waitForPositions(const sim::ControllerSimulator& s, size_t n) {
    return s.waitFor(
        [n](const std::vector<sim::Event>& events) {
            size_t count = 0;
            for (const auto& e : events) count += e.kind == sim::Event::Kind::Position;
            return count >= n;
        },
        std::chrono::seconds(5));
}

// What reaches the wire after the last expected command: a short look for
// anything more, since silence cannot be awaited.
inline size_t positionsAfterSettling(const sim::ControllerSimulator& s) {
    QTest::qWait(150);
    return positions(s).size();
}
