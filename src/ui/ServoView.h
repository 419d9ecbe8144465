// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The servo view: what the simulated controller received and does, in a
// window of its own that does not block the main window. 32 servos drawn
// as horns at their current angle, the latest decoded messages newest
// first, and the controller's memory after a Download. Its state comes from
// the simulator's snapshots only, so it shows what reached the wire.
//
// It redraws the servos at about 33 frames per second while any of them
// moves and not at all while none does; new messages reach it through the
// simulator's change listener, so an idle controller costs nothing.

#include <QElapsedTimer>
#include <QWidget>
#include <atomic>
#include <memory>

#include "sim/ControllerSimulator.h"

class QLabel;
class QPlainTextEdit;
class QScrollArea;
class QTimer;
class ServoPanel;
class MessageList;

class ServoView : public QWidget {
    Q_OBJECT
public:
    // The messages listed.
    static constexpr size_t kListedMessages = 200;
    // Interval of the redraw while a servo moves (about 33 per second).
    static constexpr int kFrameIntervalMs = 30;

    explicit ServoView(QWidget* parent = nullptr);
    ~ServoView() override;

    // Shows this simulator from now on; null (a released controller) keeps
    // the last picture and says so.
    void setSimulator(std::shared_ptr<sim::ControllerSimulator> simulator);

    // For the player's waits, which handle no events: draws the servos now
    // if a frame is due, and says in how many milliseconds the next one is
    // (0 while the view is closed or nothing moves).
    uint32_t redrawWhileWaiting();

    // For tests and measurements.
    const sim::Snapshot& lastSnapshot() const { return snapshot_; }
    const std::vector<sim::Event>& listedMessages() const;
    QString memoryText() const;
    int servoPaints() const;
    bool animating() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void simulatorChanged();  // on the window's thread
    void refresh();           // takes a snapshot and redraws what changed

    std::shared_ptr<sim::ControllerSimulator> simulator_;
    sim::Snapshot snapshot_;
    uint64_t knownMessages_ = ~uint64_t{0};
    uint64_t shownDownloads_ = 0;
    std::atomic<bool> notified_{false};

    QLabel* state_;
    ServoPanel* servos_;
    MessageList* messages_;
    QScrollArea* messageScroll_;
    QPlainTextEdit* memory_;
    QTimer* frameTimer_;
    QElapsedTimer sinceRefresh_;
};
