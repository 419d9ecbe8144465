// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TimelineWindow.h"

#include <QHelpEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "link/TickSource.h"

namespace {

constexpr int kNameWidth = 70;     // lane names
constexpr int kRightMargin = 14;
constexpr int kSoundHeight = 48;   // the soundtrack's lane, when set
constexpr int kHeaderHeight = 42;  // frame numbers and jumps
constexpr int kLaneHeight = 48;      // at least; lanes share the room up to kTallestLane
constexpr int kTallestLane = 110;
constexpr int kLaneGap = 6;
constexpr int kAxisHeight = 26;
constexpr double kMostPxPerMs = 8.0;  // a command's 33 ms is then 267 pixels

const QColor kBandColours[2] = {QColor(246, 247, 250), QColor(236, 239, 245)};
const QColor kHighlight(255, 240, 170);
const QColor kHighlightEdge(214, 170, 0);
const QColor kTarget(150, 150, 150);
const QColor kPosition(31, 95, 191);
const QColor kUnfinished(214, 32, 32);
const QColor kJump(122, 61, 184);
const QColor kPlayHead(0, 150, 60);
const QColor kSound(60, 130, 80);

QString seconds(double ms, int decimals) { return QString::number(ms / 1000.0, 'f', decimals) + QStringLiteral(" s"); }

// A step of 1, 2 or 5 times a power of ten, at least `least` ms.
double tickStepMs(double least) {
    const double power = std::pow(10.0, std::floor(std::log10(std::max(least, 1e-3))));
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= least) return m * power;
    return 10 * power;
}

}  // namespace

TimelineWindow::TimelineWindow(EditorCore& core, TickSource& ticks, QWidget* parent)
    : QAbstractScrollArea(parent), source_(std::make_unique<TimelineSource>(core, ticks)) {
    setWindowFlag(Qt::Window);
    setObjectName(QStringLiteral("TimelineWindow"));
    setWindowTitle(QStringLiteral("Timeline"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setMouseTracking(false);
    setMinimumSize(320, 220);
    resize(900, 560);
    source_->onChange = [this] { showChanged(); };
    source_->onPlayback = [this] { playbackChanged(); };
}

TimelineWindow::~TimelineWindow() { detach(); }

void TimelineWindow::detach() {
    if (source_) source_->detach();
    headMs_.reset();
}

// --- following the core ---

void TimelineWindow::showChanged() {
    // One recomputation for a burst of changes (showing a frame marks 32
    // channels), once the handler that made them is done.
    if (changeQueued_) return;
    changeQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            changeQueued_ = false;
            recompute();
        },
        Qt::QueuedConnection);
}

void TimelineWindow::playbackChanged() { followPlayer(false); }

void TimelineWindow::recompute() {
    // A closed window costs nothing; it catches up when shown.
    if (!source_->attached() || !isVisible()) return;
    if (std::optional<ShowPass> pass = source_->passIfChanged()) {
        pass_ = std::move(*pass);
        ++passesComputed_;
        laneLow_.assign(kChannelCount, 1e9);
        laneHigh_.assign(kChannelCount, -1e9);
        for (const Move& m : pass_.moves) {
            const auto c = static_cast<size_t>(m.command.channel);
            laneLow_[c] = std::min({laneLow_[c], m.fromPulse, double(m.command.pulse)});
            laneHigh_[c] = std::max({laneHigh_[c], m.fromPulse, double(m.command.pulse)});
        }
        if (fitted_)
            fitWhole();
        else
            zoomAbout(1.0, plotLeft());  // held to the new pass's bounds
        invalidate();
    }
    followPlayer(false);
}

int TimelineWindow::currentHighlight() const {
    if (!source_->attached()) return highlighted_;
    return source_->playing() ? source_->playedFrame() : source_->currentFrame();
}

void TimelineWindow::followPlayer(bool now) {
    const std::optional<double> point = source_->attached() ? source_->playPointMs(pass_) : std::nullopt;
    const int highlight = currentHighlight();
    if (highlight != highlighted_) {
        highlighted_ = highlight;
        headMs_ = point;
        invalidate();
        if (now) viewport()->repaint();
        return;
    }
    // Keep the head in view: the picture moves along once it nears the edge.
    if (point && !fitted_) {
        const double x = xOf(*point);
        if (x > plotRight() - 8 || x < plotLeft()) {
            headMs_ = point;
            horizontalScrollBar()->setValue(static_cast<int>(*point * pxPerMs_ - (plotRight() - plotLeft()) / 5.0));
            if (now) viewport()->repaint();
            return;
        }
    }
    const auto pixel = [this](const std::optional<double>& ms) {
        return ms ? std::lround(xOf(*ms)) : std::numeric_limits<long>::min();
    };
    if (pixel(point) == pixel(headMs_)) {
        headMs_ = point;
        return;
    }
    QRect dirty;
    if (headMs_) dirty |= headRect(*headMs_);
    if (point) dirty |= headRect(*point);
    headMs_ = point;
    if (now)
        viewport()->repaint(dirty);
    else
        viewport()->update(dirty);
}

uint32_t TimelineWindow::redrawWhileWaiting() {
    if (!source_->attached() || !isVisible()) return 0;
    if (!source_->playing()) {
        if (headMs_) followPlayer(true);
        return 0;
    }
    const qint64 since = sinceHeadDrawn_.isValid() ? sinceHeadDrawn_.elapsed() : kFrameIntervalMs;
    if (since < kFrameIntervalMs) return static_cast<uint32_t>(kFrameIntervalMs - since);
    sinceHeadDrawn_.start();
    followPlayer(true);
    return kFrameIntervalMs;
}

void TimelineWindow::setSoundtrackPeaks(std::vector<Peak> peaks, double sliceMs, double offsetMs) {
    peaks_ = sliceMs > 0 ? std::move(peaks) : std::vector<Peak>{};
    sliceMs_ = sliceMs;
    peaksOffsetMs_ = offsetMs;
    updateScrollBars();
    invalidate();
}

// --- geometry ---

int TimelineWindow::soundHeight() const { return peaks_.empty() ? 0 : kSoundHeight; }
int TimelineWindow::lanesTop() const { return headerTop() + kHeaderHeight; }
int TimelineWindow::lanesBottom() const { return viewport()->height() - kAxisHeight; }
int TimelineWindow::plotLeft() const { return kNameWidth; }
int TimelineWindow::plotRight() const { return std::max(plotLeft() + 1, viewport()->width() - kRightMargin); }

double TimelineWindow::xOf(double ms) const {
    return plotLeft() + ms * pxPerMs_ - horizontalScrollBar()->value();
}

double TimelineWindow::msAt(int x) const {
    return (x - plotLeft() + horizontalScrollBar()->value()) / pxPerMs_;
}

int TimelineWindow::laneHeight() const {
    // A few lanes share the window's height; many scroll.
    const int lanes = std::max<int>(1, static_cast<int>(pass_.lanes.size()));
    return std::clamp((lanesBottom() - lanesTop()) / lanes - kLaneGap, kLaneHeight, kTallestLane);
}

QRect TimelineWindow::laneRect(int index) const {
    return QRect(plotLeft(), lanesTop() + index * (laneHeight() + kLaneGap) - verticalScrollBar()->value(),
                 plotRight() - plotLeft(), laneHeight());
}

QRect TimelineWindow::headRect(double ms) const {
    const int x = static_cast<int>(std::lround(xOf(ms)));
    return QRect(x - 6, headerTop(), 13, lanesBottom() - headerTop() + 1);
}

QRect TimelineWindow::bandRect(int frame) const {
    const FrameBegun* b = pass_.timeline.frame(frame);
    if (!b) return {};
    const int x0 = static_cast<int>(std::lround(xOf(b->atMs)));
    const int x1 = static_cast<int>(std::lround(xOf(b->endMs())));
    return QRect(QPoint(x0, headerTop()), QPoint(std::max(x0, x1 - 1), lanesBottom()))
        .intersected(QRect(QPoint(plotLeft(), 0), QPoint(plotRight(), lanesBottom())));
}

QPoint TimelineWindow::lanePoint(int channel, double ms, double pulse) const {
    const auto it = std::find(pass_.lanes.begin(), pass_.lanes.end(), channel);
    if (it == pass_.lanes.end()) return {};
    const QRect lane = laneRect(static_cast<int>(it - pass_.lanes.begin()));
    const auto c = static_cast<size_t>(channel);
    const double lo = laneLow_[c], hi = std::max(laneHigh_[c], lo + 1);
    return QPoint(static_cast<int>(std::lround(xOf(ms))),
                  static_cast<int>(std::lround(lane.bottom() - 5 - (pulse - lo) / (hi - lo) * (lane.height() - 10))));
}

void TimelineWindow::fitWhole() {
    fitted_ = true;
    const double width = plotRight() - plotLeft();
    pxPerMs_ = pass_.timeline.passMs > 0 ? width / pass_.timeline.passMs : 0.1;
    updateScrollBars();
    horizontalScrollBar()->setValue(0);
}

void TimelineWindow::zoomAbout(double factor, int viewportX) {
    const double width = plotRight() - plotLeft();
    const double least = pass_.timeline.passMs > 0 ? width / pass_.timeline.passMs : 0.1;
    const double most = std::max(least, kMostPxPerMs);
    const double ms = msAt(viewportX);
    const double px = std::clamp(pxPerMs_ * factor, least, most);
    if (px <= least * 1.0001) {
        fitWhole();
        invalidate();
        return;
    }
    fitted_ = false;
    pxPerMs_ = px;
    updateScrollBars();
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(ms * pxPerMs_ - (viewportX - plotLeft()))));
    invalidate();
}

void TimelineWindow::updateScrollBars() {
    const int width = plotRight() - plotLeft();
    const int content = static_cast<int>(std::ceil(pass_.timeline.passMs * pxPerMs_));
    horizontalScrollBar()->setRange(0, std::max(0, content - width));
    horizontalScrollBar()->setPageStep(width);
    horizontalScrollBar()->setSingleStep(std::max(1, width / 20));
    const int lanes = static_cast<int>(pass_.lanes.size());
    const int height = lanes * (laneHeight() + kLaneGap);
    const int room = std::max(1, lanesBottom() - lanesTop());
    verticalScrollBar()->setRange(0, std::max(0, height - room));
    verticalScrollBar()->setPageStep(room);
    verticalScrollBar()->setSingleStep(laneHeight() + kLaneGap);
}

void TimelineWindow::invalidate() {
    pictureValid_ = false;
    viewport()->update();
}

// --- events ---

void TimelineWindow::showEvent(QShowEvent* event) {
    QAbstractScrollArea::showEvent(event);
    if (!opened_) {
        opened_ = true;
        fitted_ = true;
    }
    recompute();
    fitWhole();
    invalidate();
}

void TimelineWindow::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (fitted_)
        fitWhole();
    else
        updateScrollBars();
    invalidate();
}

void TimelineWindow::scrollContentsBy(int, int) { invalidate(); }

void TimelineWindow::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() != Qt::LeftButton || pos.x() < plotLeft() || pos.x() > plotRight() ||
        pos.y() < headerTop() || pos.y() > lanesBottom()) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    // As the frame buttons show a frame; the core refuses during playback.
    if (const FrameBegun* b = pass_.timeline.frameAt(msAt(pos.x()))) source_->showFrame(b->frame);
    event->accept();
}

void TimelineWindow::wheelEvent(QWheelEvent* event) {
    if (event->modifiers() & Qt::ControlModifier) {
        const double steps = event->angleDelta().y() / 120.0;
        if (steps != 0) zoomAbout(std::pow(1.25, steps), static_cast<int>(event->position().x()));
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

bool TimelineWindow::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = toolTipAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, viewport());
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

QString TimelineWindow::toolTipAt(const QPoint& pos) const {
    if (pos.x() < plotLeft() || pos.x() > plotRight() || pos.y() < headerTop() || pos.y() > lanesBottom())
        return {};
    const double ms = msAt(pos.x());
    if (pos.y() >= lanesTop()) {
        const int index = (pos.y() - lanesTop() + verticalScrollBar()->value()) / (laneHeight() + kLaneGap);
        if (index < 0 || index >= static_cast<int>(pass_.lanes.size())) return {};
        const int channel = pass_.lanes[static_cast<size_t>(index)];
        for (const Move& m : pass_.moves) {
            if (m.command.channel != channel || m.finishes()) continue;
            if (ms >= std::max(0.0, m.startMs) - 2 / pxPerMs_ && ms <= m.startMs + m.availableMs + 2 / pxPerMs_)
                return QString::fromStdString(describeUnfinished(m));
        }
    }
    const FrameBegun* b = pass_.timeline.frameAt(ms);
    if (!b) return {};
    QString text = QStringLiteral("frame %1 at %2, for %3").arg(b->frame).arg(seconds(b->atMs, 3), seconds(b->holdsMs, 3));
    for (const JumpTaken& j : pass_.timeline.jumps)
        if (j.pass == b->frame) text += QStringLiteral("; jumps to frame %1 at %2").arg(j.to).arg(seconds(j.atMs, 3));
    return text;
}

// --- drawing ---

void TimelineWindow::paintEvent(QPaintEvent* event) {
    ++paints_;
    QWidget* view = viewport();
    const qreal dpr = view->devicePixelRatioF();
    if (!pictureValid_ || picture_.size() != view->size() * dpr) {
        picture_ = QPixmap(view->size() * dpr);
        picture_.setDevicePixelRatio(dpr);
        QPainter p(&picture_);
        paintPicture(p);
        pictureValid_ = true;
    }
    QPainter p(view);
    const QRect r = event->rect();
    p.drawPixmap(r, picture_, QRectF(r.topLeft() * dpr, r.size() * dpr));
    if (headMs_) {
        const double x = std::round(xOf(*headMs_)) + 0.5;
        if (x >= plotLeft() && x <= plotRight()) {
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setPen(QPen(kPlayHead, 2));
            p.drawLine(QPointF(x, headerTop()), QPointF(x, lanesBottom()));
            QPainterPath mark;
            mark.moveTo(x - 6, headerTop());
            mark.lineTo(x + 6, headerTop());
            mark.lineTo(x, headerTop() + 9);
            mark.closeSubpath();
            p.fillPath(mark, kPlayHead);
        }
    }
}

void TimelineWindow::paintPicture(QPainter& p) {
    const QRect all(QPoint(0, 0), viewport()->size());
    p.fillRect(all, Qt::white);
    QFont small = font();
    small.setPixelSize(10);
    QFont normal = font();
    normal.setPixelSize(12);

    if (pass_.timeline.frames.empty()) {
        p.setFont(normal);
        p.setPen(Qt::darkGray);
        p.drawText(all, Qt::AlignCenter, QStringLiteral("No frame is played: frame 0 holds no recording."));
        return;
    }
    const QRect plot(QPoint(plotLeft(), headerTop()), QPoint(plotRight(), lanesBottom()));
    const QRect lanesArea(QPoint(plotLeft(), lanesTop()), QPoint(plotRight(), lanesBottom()));

    // The frames' bands, across the header and the lanes.
    p.save();
    p.setClipRect(plot);
    p.setFont(small);
    for (size_t i = 0; i < pass_.timeline.frames.size(); ++i) {
        const FrameBegun& b = pass_.timeline.frames[i];
        const double x0 = xOf(b.atMs), x1 = xOf(b.endMs());
        if (x1 < plot.left() || x0 > plot.right()) continue;
        const QRectF band(QPointF(x0, plot.top()), QPointF(x1, plot.bottom()));
        const bool current = b.frame == highlighted_;
        p.fillRect(band, current ? kHighlight : kBandColours[i % 2]);
        p.setPen(current ? QPen(kHighlightEdge, 1) : QPen(QColor(200, 200, 200), 1));
        p.drawLine(QPointF(x0, plot.top()), QPointF(x0, plot.bottom()));
        p.setPen(current ? Qt::black : QColor(80, 80, 80));
        QFont f = small;
        f.setBold(current);
        p.setFont(f);
        if (x1 - x0 >= 10 || current)
            p.drawText(QRectF(x0 + 3, headerTop() + 2, std::max(40.0, x1 - x0), 14), Qt::AlignLeft | Qt::AlignVCenter,
                       QString::number(b.frame));
    }
    p.setFont(small);

    // Jumps: an arrow from where the player takes it to its target's band.
    p.setRenderHint(QPainter::Antialiasing, true);
    const double base = headerTop() + kHeaderHeight - 5;
    for (const JumpTaken& j : pass_.timeline.jumps) {
        const double from = xOf(j.atMs);
        const FrameBegun* target = pass_.timeline.frame(j.to);
        const double to = target ? xOf(target->atMs) + 2 : from + 24;
        QPainterPath arc;
        arc.moveTo(from, base);
        const double lift = std::clamp(std::abs(from - to) / 4, 8.0, 20.0);
        arc.cubicTo(from, base - lift, to, base - lift, to, base);
        p.setPen(QPen(kJump, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawPath(arc);
        QPainterPath head;
        head.moveTo(to, base + 1);
        head.lineTo(to - 4, base - 6);
        head.lineTo(to + 4, base - 6);
        head.closeSubpath();
        p.fillPath(head, kJump);
        if (!target) {
            p.setPen(kJump);
            p.drawText(QPointF(to + 5, base - 1), QString::number(j.to));
        }
    }
    p.restore();

    // The lanes.
    p.save();
    p.setClipRect(lanesArea);
    for (size_t i = 0; i < pass_.lanes.size(); ++i) {
        const QRect lane = laneRect(static_cast<int>(i));
        if (!lane.intersects(lanesArea)) continue;
        const auto c = static_cast<size_t>(pass_.lanes[i]);
        paintLane(p, pass_.lanes[i], lane, laneLow_[c], std::max(laneHigh_[c], laneLow_[c] + 1));
    }
    p.restore();

    // Lane names, kept in view as the time scrolls.
    p.save();
    p.setClipRect(QRect(QPoint(0, lanesTop()), QPoint(plotLeft() - 1, lanesBottom())));
    for (size_t i = 0; i < pass_.lanes.size(); ++i) {
        const QRect lane = laneRect(static_cast<int>(i));
        const auto c = static_cast<size_t>(pass_.lanes[i]);
        p.setPen(Qt::black);
        p.setFont(normal);
        p.drawText(QRect(6, lane.top(), plotLeft() - 10, lane.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("ch %1").arg(pass_.lanes[i]));
        p.setFont(small);
        p.setPen(QColor(120, 120, 120));
        p.drawText(QRect(0, lane.top(), plotLeft() - 4, 12), Qt::AlignRight | Qt::AlignTop,
                   QString::number(std::lround(std::max(laneHigh_[c], laneLow_[c] + 1) * 2)));
        p.drawText(QRect(0, lane.bottom() - 12, plotLeft() - 4, 12), Qt::AlignRight | Qt::AlignBottom,
                   QString::number(std::lround(laneLow_[c] * 2)));
    }
    p.restore();
    p.setFont(small);
    p.setPen(QColor(80, 80, 80));
    p.drawText(QRect(6, headerTop(), plotLeft() - 8, kHeaderHeight / 2), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("frame"));

    if (!peaks_.empty()) paintSoundtrack(p, QRect(QPoint(plotLeft(), 0), QPoint(plotRight(), kSoundHeight - 3)));

    // The time axis.
    const int axis = lanesBottom() + 4;
    p.setPen(QColor(60, 60, 60));
    p.drawLine(plotLeft(), axis, plotRight(), axis);
    const double step = tickStepMs(80 / pxPerMs_);
    const int decimals = step >= 1000 ? 0 : step >= 100 ? 1 : step >= 10 ? 2 : 3;
    p.setClipRect(QRect(QPoint(plotLeft() - 30, axis), QPoint(plotRight() + kRightMargin, viewport()->height())));
    for (double t = std::floor(msAt(plotLeft()) / step) * step; t <= std::min(pass_.timeline.passMs, msAt(plotRight())) + 1e-9;
         t += step) {
        if (t < 0) continue;
        const double x = xOf(t);
        p.drawLine(QPointF(x, axis), QPointF(x, axis + 4));
        // Centred under its tick; the first starts at it, clear of the
        // pass's length on the left.
        if (x - 40 < plotLeft())
            p.drawText(QRectF(x, axis + 5, 80, 14), Qt::AlignLeft | Qt::AlignTop, seconds(t, decimals));
        else
            p.drawText(QRectF(x - 40, axis + 5, 80, 14), Qt::AlignHCenter | Qt::AlignTop, seconds(t, decimals));
    }
    p.setClipping(false);
    p.drawText(QRect(4, axis + 5, plotLeft() - 8, 14), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("pass %1").arg(seconds(pass_.timeline.passMs, 2)));
}

void TimelineWindow::paintLane(QPainter& p, int channel, const QRect& lane, double low, double high) {
    p.fillRect(lane, QColor(244, 246, 250, 170));
    p.setPen(QColor(225, 228, 235));
    p.drawLine(lane.left(), lane.bottom(), lane.right(), lane.bottom());
    const double endMs = pass_.timeline.passMs;
    auto x = [&](double ms) { return xOf(std::clamp(ms, 0.0, endMs)); };
    auto y = [&](double pulse) { return lane.bottom() - 5 - (pulse - low) / (high - low) * (lane.height() - 10); };
    const double leftMs = msAt(lane.left()) - 1, rightMs = msAt(lane.right()) + 1;

    QPainterPath target, position, unfinished;
    bool first = true;
    for (const Move& m : pass_.moves) {
        if (m.command.channel != channel) continue;
        const double t0 = m.startMs, t1 = m.startMs + m.availableMs;
        if (t1 < leftMs || t0 > rightMs) {
            first = true;
            continue;
        }
        const double arrive = t0 + std::min(m.needsMs, m.availableMs);
        if (first) {
            target.moveTo(x(t0), y(m.command.pulse));
            position.moveTo(x(t0), y(m.fromPulse));
            first = false;
        } else {
            target.lineTo(x(t0), y(m.command.pulse));
            position.lineTo(x(t0), y(m.fromPulse));
        }
        target.lineTo(x(t1), y(m.command.pulse));
        position.lineTo(x(arrive), y(m.endPulse));
        position.lineTo(x(t1), y(m.endPulse));
        if (!m.finishes()) {
            unfinished.moveTo(x(t0), y(m.fromPulse));
            unfinished.lineTo(x(t1), y(m.endPulse));
        }
    }
    // Hair-line pens: a long show packs many segments into a pixel, which
    // a wide pen's outline would make slow to fill.
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setBrush(Qt::NoBrush);
    QPen pen(kTarget, 1);
    pen.setCosmetic(true);
    p.setPen(pen);
    p.drawPath(target);
    pen.setColor(kPosition);
    p.setPen(pen);
    p.drawPath(position);
    // The unfinished moves over them, wider: a few straight strokes each.
    p.setPen(QPen(kUnfinished, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(unfinished);
}

void TimelineWindow::paintSoundtrack(QPainter& p, const QRect& lane) {
    p.fillRect(QRect(QPoint(0, lane.top()), QPoint(lane.right(), lane.bottom())), QColor(240, 247, 241));
    p.setPen(QColor(80, 80, 80));
    QFont f = font();
    f.setPixelSize(12);
    p.setFont(f);
    p.drawText(QRect(6, lane.top(), plotLeft() - 10, lane.height()), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("sound"));
    p.save();
    p.setClipRect(lane);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(kSound);
    const double mid = lane.center().y() + 0.5, half = lane.height() / 2.0 - 2;
    // One vertical stroke per pixel column, over the slices it covers.
    for (int px = lane.left(); px <= lane.right(); ++px) {
        const double t0 = msAt(px) - peaksOffsetMs_, t1 = msAt(px + 1) - peaksOffsetMs_;
        long first = static_cast<long>(std::floor(t0 / sliceMs_));
        long last = static_cast<long>(std::floor(t1 / sliceMs_));
        first = std::max(first, 0L);
        last = std::min(last, static_cast<long>(peaks_.size()) - 1);
        if (first > last) continue;
        float lo = 1, hi = -1;
        for (long i = first; i <= last; ++i) {
            lo = std::min(lo, peaks_[static_cast<size_t>(i)].low);
            hi = std::max(hi, peaks_[static_cast<size_t>(i)].high);
        }
        p.drawLine(QPointF(px, mid - hi * half), QPointF(px, mid - lo * half));
    }
    p.restore();
}
