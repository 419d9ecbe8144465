// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The timeline: one pass of the show in a window of its own that does not
// block the main window. A time axis in seconds; each frame begun as a band
// at its time, numbered, the current frame highlighted, a jump as an arrow
// to its target; one lane per channel the pass plays, with the commanded
// target as steps and the modelled servo position as a line, a move that
// cannot finish in red (its sentence as the tooltip).
//
// It follows every change of the show at once (recomputed once per burst of
// changes, and only when the show differs from what it drew). During a
// playback a play head stands at the player's point and moves smoothly,
// drawn also during the player's waits (redrawWhileWaiting); at rest
// nothing is redrawn and no timer runs. A click on a frame's band shows that
// frame in the strips, as the frame buttons do (not during playback). Ctrl
// and the wheel zoom about the pointer; the scroll bars move along the time
// and through the lanes; the whole pass fits the window when it opens.
//
// Above the frames there is room for a soundtrack: a lane of peak envelopes
// drawn only while one is set.

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QPixmap>
#include <memory>
#include <optional>
#include <vector>

#include "ui/TimelineSource.h"

class EditorCore;
class TickSource;

class TimelineWindow : public QAbstractScrollArea {
    Q_OBJECT
public:
    // Interval of the play head's redraw while the player plays.
    static constexpr int kFrameIntervalMs = 30;

    TimelineWindow(EditorCore& core, TickSource& ticks, QWidget* parent = nullptr);
    ~TimelineWindow() override;

    // The core is going away: the window keeps its last picture and calls
    // nothing any more.
    void detach();

    // For the player's waits, which handle no events: moves the play head
    // now if a redraw is due, and says in how many milliseconds the next one
    // is (0 while the window is closed or nothing plays).
    uint32_t redrawWhileWaiting();

    // The soundtrack's envelope: per time slice of sliceMs its lowest and
    // highest sample (-1..1), the first slice starting offsetMs into the
    // pass. An empty envelope removes the lane.
    struct Peak {
        float low, high;
    };
    void setSoundtrackPeaks(std::vector<Peak> peaks, double sliceMs, double offsetMs);

    // --- for tests and measurements ---
    const ShowPass& pass() const { return pass_; }
    int passesComputed() const { return passesComputed_; }
    int paints() const { return paints_; }
    int highlightedFrame() const { return highlighted_; }
    std::optional<double> playHeadMs() const { return headMs_; }
    double pixelsPerMs() const { return pxPerMs_; }
    // Where the band of `frame` is within the viewport (empty when none).
    QRect bandRect(int frame) const;
    // Where a moment of a lane is within the viewport.
    QPoint lanePoint(int channel, double ms, double pulse) const;
    QString toolTipAt(const QPoint& viewportPos) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void showChanged();   // queued after the core's changes
    void playbackChanged();
    void recompute();
    void fitWhole();
    void zoomAbout(double factor, int viewportX);
    void updateScrollBars();
    void invalidate();    // the static picture is drawn anew at the next paint
    // Moves the play head and the highlight to where the player is; draws
    // now (during a wait) or at the next paint.
    void followPlayer(bool now);
    int currentHighlight() const;

    void paintPicture(QPainter& p);
    void paintSoundtrack(QPainter& p, const QRect& lane);
    void paintLane(QPainter& p, int channel, const QRect& lane, double low, double high);

    // Geometry in viewport coordinates.
    double xOf(double ms) const;
    double msAt(int x) const;
    int soundHeight() const;
    int headerTop() const { return soundHeight(); }
    int lanesTop() const;
    int lanesBottom() const;
    int plotLeft() const;
    int plotRight() const;
    int laneHeight() const;
    QRect laneRect(int index) const;
    QRect headRect(double ms) const;

    std::unique_ptr<TimelineSource> source_;
    ShowPass pass_;
    std::vector<double> laneLow_, laneHigh_;  // pulse range of each lane
    bool changeQueued_ = false;
    bool fitted_ = true;  // zoom follows the window until the user zooms
    bool opened_ = false;
    double pxPerMs_ = 0.1;
    int passesComputed_ = 0;
    int paints_ = 0;
    int highlighted_ = -1;
    std::optional<double> headMs_;
    QElapsedTimer sinceHeadDrawn_;

    std::vector<Peak> peaks_;
    double sliceMs_ = 0, peaksOffsetMs_ = 0;

    QPixmap picture_;  // everything but the play head
    bool pictureValid_ = false;
};
