// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ServoView.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace {

constexpr int kColumns = 16;
constexpr int kCellWidth = 74;
constexpr int kCellHeight = 118;

// Pulse values are in units of 2 us on the wire.
double microseconds(double pulse) { return pulse * 2.0; }

// 500..2500 us sweep -90..+90 degrees; 0 points straight up.
double hornDegrees(double pulse) { return (microseconds(pulse) - 1500.0) * 90.0 / 1000.0; }

const char* kindName(sim::Event::Kind kind) {
    switch (kind) {
    case sim::Event::Kind::Position: return "position";
    case sim::Event::Kind::VersionQuery: return "version";
    case sim::Event::Kind::Download: return "download";
    case sim::Event::Kind::Probe: return "probe";
    case sim::Event::Kind::Unknown: return "unknown";
    }
    return "";
}

QString hex(const std::vector<uint8_t>& bytes) {
    QString s;
    for (size_t i = 0; i < bytes.size() && i < 16; ++i)
        s += QStringLiteral("%1 ").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    if (bytes.size() > 16) s += QStringLiteral("...");
    return s.trimmed();
}

// time, kind, channel, values: one line per decoded message.
QString messageLine(const sim::Event& e) {
    QString line = QStringLiteral("%1 s  %2").arg(e.timeMs / 1000.0, 9, 'f', 3).arg(QLatin1String(kindName(e.kind)), -8);
    switch (e.kind) {
    case sim::Event::Kind::Position:
        line += QStringLiteral("  ch %1  rate %2  pulse %3 us")
                    .arg(e.position.channel, 2)
                    .arg(e.position.rate, 2)
                    .arg(e.position.pulse * 2);
        break;
    case sim::Event::Kind::Download: {
        size_t channels = 0;
        for (const auto& f : e.download.frames) channels += f.channels.size();
        line += QStringLiteral("  %1 frames, %2 channels").arg(e.download.frames.size()).arg(channels);
        break;
    }
    case sim::Event::Kind::Unknown:
        line += QStringLiteral("  ") + hex(e.raw);
        break;
    default:
        break;
    }
    return line;
}

QString stampText(const std::string& stamp) {
    QString s;
    for (unsigned char c : stamp) s += (c >= 0x20 && c < 0x7F) ? QChar(c) : QChar(0xB7);
    return s;
}

QString memoryTextOf(const sim::DownloadMessage& m) {
    QString text = QStringLiteral("Stamp \"%1\", %2 frames\n").arg(stampText(m.stamp)).arg(m.frames.size());
    for (const auto& f : m.frames) {
        text += QStringLiteral("Frame %1: %2 channels\n").arg(f.frame).arg(f.channels.size());
        for (const auto& c : f.channels)
            text += QStringLiteral("  ch %1  position %2 us  rate %3  pause %4 ms\n")
                        .arg(c.channel, 2)
                        .arg(c.position)
                        .arg(c.rate)
                        .arg(c.pause);
    }
    return text;
}

}  // namespace

// The 32 horns, in two rows as the strips are numbered.
class ServoPanel : public QWidget {
public:
    explicit ServoPanel(QWidget* parent) : QWidget(parent) {
        setFixedSize(kColumns * kCellWidth, 2 * kCellHeight);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    // Redraws only the servos whose picture changes.
    void show(const sim::Snapshot& s) {
        for (int c = 0; c < sim::kServoCount; ++c) {
            const size_t i = static_cast<size_t>(c);
            const Drawn now = drawn(s.servos[i]);
            if (now == shown_[i]) continue;
            shown_[i] = now;
            servos_[i] = s.servos[i];
            update(cellRect(c));
        }
    }
    int paints() const { return paints_; }

protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints_;
        QPainter p(this);
        p.fillRect(event->rect(), palette().window());
        for (int c = 0; c < sim::kServoCount; ++c) {
            const QRect cell = cellRect(c);
            if (event->rect().intersects(cell)) paintServo(p, cell, c, servos_[static_cast<size_t>(c)]);
        }
    }

private:
    // What a cell shows, to the microsecond.
    struct Drawn {
        bool commanded = false, moving = false, redirected = false;
        long us = 0;
        int target = 0, rate = 0;
        friend bool operator==(const Drawn&, const Drawn&) = default;
    };
    static Drawn drawn(const sim::ServoState& s) {
        return {s.commanded, s.moving(), s.redirected, std::lround(microseconds(s.currentPulse)), s.targetPulse,
                s.rate};
    }
    static QRect cellRect(int c) {
        return QRect((c % kColumns) * kCellWidth, (c / kColumns) * kCellHeight, kCellWidth, kCellHeight);
    }

    void paintServo(QPainter& p, const QRect& cell, int channel, const sim::ServoState& s) {
        const bool live = s.commanded;
        const QColor ink = live ? QColor(20, 20, 20) : QColor(170, 170, 170);
        const QRect box = cell.adjusted(2, 2, -2, -2);
        if (s.redirected) {
            // A move cut short by a new target: marked until it arrives.
            p.setPen(QPen(QColor(230, 120, 0), 2));
            p.setBrush(QColor(255, 236, 200));
        } else {
            p.setPen(QPen(QColor(200, 200, 200), 1));
            p.setBrush(live ? QColor(250, 250, 250) : QColor(238, 238, 238));
        }
        p.drawRoundedRect(box, 4, 4);

        const QPointF hub(cell.center().x(), cell.top() + 44);
        p.setPen(Qt::NoPen);
        p.setBrush(live ? QColor(60, 60, 60) : QColor(200, 200, 200));
        p.drawRect(QRectF(hub.x() - 18, hub.y() - 6, 36, 26));  // the servo's body
        const double rad = (live ? hornDegrees(s.currentPulse) : 0.0) * M_PI / 180.0;
        const QPointF tip(hub.x() + 30 * std::sin(rad), hub.y() - 30 * std::cos(rad));
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(live ? (s.moving() ? QColor(0, 110, 220) : QColor(30, 140, 60)) : QColor(190, 190, 190), 6,
                      Qt::SolidLine, Qt::RoundCap));
        p.drawLine(hub, tip);
        p.setPen(Qt::NoPen);
        p.setBrush(live ? QColor(240, 240, 240) : QColor(225, 225, 225));
        p.drawEllipse(hub, 4, 4);
        p.setRenderHint(QPainter::Antialiasing, false);

        p.setPen(ink);
        QFont f = font();
        f.setPixelSize(11);
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRect(box.left() + 4, box.top() + 2, 30, 14), Qt::AlignLeft, QString::number(channel));
        f.setBold(false);
        p.setFont(f);
        const int y = cell.top() + 70;
        if (!live) {
            p.drawText(QRect(box.left(), y, box.width(), 14), Qt::AlignCenter, QStringLiteral("idle"));
            return;
        }
        p.drawText(QRect(box.left(), y, box.width(), 14), Qt::AlignCenter,
                   QStringLiteral("%1 us").arg(std::lround(microseconds(s.currentPulse))));
        p.drawText(QRect(box.left(), y + 14, box.width(), 14), Qt::AlignCenter,
                   QStringLiteral("to %1").arg(s.targetPulse * 2));
        p.drawText(QRect(box.left(), y + 28, box.width(), 14), Qt::AlignCenter,
                   QStringLiteral("rate %1").arg(s.rate));
    }

    std::array<sim::ServoState, sim::kServoCount> servos_{};
    std::array<Drawn, sim::kServoCount> shown_{};
    int paints_ = 0;
};

// The latest messages, newest first; only the rows in view are drawn.
class MessageList : public QWidget {
public:
    explicit MessageList(QWidget* parent) : QWidget(parent) {
        QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        f.setPixelSize(11);
        setFont(f);
        rowHeight_ = fontMetrics().height();
        setMinimumSize(480, rowHeight_ + 4);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    // added: how many of them are new since the last call.
    void setMessages(std::vector<sim::Event> messages, uint64_t added) {
        messages_ = std::move(messages);
        const int h = std::max<int>(1, static_cast<int>(messages_.size())) * rowHeight_ + 4;
        if (h == minimumHeight() && added > 0 && added < static_cast<uint64_t>(height() / rowHeight_)) {
            // The older rows move down as drawn; only the new ones are drawn.
            scroll(0, static_cast<int>(added) * rowHeight_);
            return;
        }
        setMinimumHeight(h);
        update();
    }
    const std::vector<sim::Event>& messages() const { return messages_; }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter p(this);
        p.fillRect(event->rect(), Qt::white);
        p.setPen(Qt::black);
        if (messages_.empty()) {
            p.setPen(Qt::gray);
            p.drawText(QRect(4, 0, width(), rowHeight_), Qt::AlignLeft | Qt::AlignVCenter,
                       QStringLiteral("No message received yet."));
            return;
        }
        const int first = std::max(0, (event->rect().top() - 2) / rowHeight_);
        const int last = std::min(static_cast<int>(messages_.size()) - 1, (event->rect().bottom() - 2) / rowHeight_);
        for (int i = first; i <= last; ++i)
            p.drawText(QRect(4, 2 + i * rowHeight_, width() - 4, rowHeight_), Qt::AlignLeft | Qt::AlignVCenter,
                       messageLine(messages_[static_cast<size_t>(i)]));
    }

private:
    std::vector<sim::Event> messages_;
    int rowHeight_ = 14;
};

ServoView::ServoView(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("ServoView"));
    setWindowTitle(QStringLiteral("Simulated controller"));

    auto* layout = new QVBoxLayout(this);
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("SimulatorState"));
    layout->addWidget(state_);
    servos_ = new ServoPanel(this);
    servos_->setObjectName(QStringLiteral("ServoPanel"));
    layout->addWidget(servos_);

    auto* lower = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel(QStringLiteral("Messages received, newest first"), this));
    messageScroll_ = new QScrollArea(this);
    messages_ = new MessageList(messageScroll_);
    messageScroll_->setWidget(messages_);
    messageScroll_->setWidgetResizable(true);  // as wide as the list's pane
    messageScroll_->setMinimumHeight(200);
    left->addWidget(messageScroll_);
    lower->addLayout(left, 3);

    auto* right = new QVBoxLayout;
    right->addWidget(new QLabel(QStringLiteral("Controller memory (after a Download)"), this));
    memory_ = new QPlainTextEdit(this);
    memory_->setObjectName(QStringLiteral("ControllerMemory"));
    memory_->setReadOnly(true);
    memory_->setFont(messages_->font());
    memory_->setPlainText(QStringLiteral("No download received yet."));
    right->addWidget(memory_);
    lower->addLayout(right, 2);
    layout->addLayout(lower);

    frameTimer_ = new QTimer(this);
    frameTimer_->setTimerType(Qt::PreciseTimer);
    frameTimer_->setInterval(kFrameIntervalMs);
    connect(frameTimer_, &QTimer::timeout, this, &ServoView::refresh);

    setSimulator(nullptr);
}

ServoView::~ServoView() { setSimulator(nullptr); }

void ServoView::setSimulator(std::shared_ptr<sim::ControllerSimulator> simulator) {
    if (simulator == simulator_ && simulator) return;
    // Once cleared, the old simulator's thread never calls in again.
    if (simulator_) simulator_->setChangeListener({});
    const bool fresh = simulator && simulator != simulator_;
    simulator_ = std::move(simulator);
    knownMessages_ = ~uint64_t{0};
    if (fresh) {
        // A new controller: nothing received yet.
        shownDownloads_ = 0;
        memory_->setPlainText(QStringLiteral("No download received yet."));
    }
    if (!simulator_) {
        frameTimer_->stop();
        state_->setText(QStringLiteral("The simulated controller is not chosen: the picture is its last state."));
        return;
    }
    state_->setText(QStringLiteral("The simulated controller on %1").arg(QString::fromStdString(simulator_->devicePath())));
    simulator_->setChangeListener([this] {
        // Many messages in a row make one refresh.
        if (!notified_.exchange(true))
            QMetaObject::invokeMethod(this, &ServoView::simulatorChanged, Qt::QueuedConnection);
    });
    refresh();
}

void ServoView::simulatorChanged() {
    notified_ = false;
    refresh();
}

void ServoView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();  // what happened while it was closed
}

void ServoView::refresh() {
    // A closed view costs nothing; it catches up when shown again.
    if (!simulator_ || !isVisible()) {
        frameTimer_->stop();
        return;
    }
    sinceRefresh_.start();
    snapshot_ = simulator_->snapshot(knownMessages_, kListedMessages);
    servos_->show(snapshot_);
    if (snapshot_.changed) {
        const uint64_t added = knownMessages_ == ~uint64_t{0} ? ~uint64_t{0} : snapshot_.messages - knownMessages_;
        knownMessages_ = snapshot_.messages;
        messages_->setMessages(std::move(snapshot_.recent), added);
        snapshot_.recent.clear();
        if (snapshot_.downloads != shownDownloads_) {
            shownDownloads_ = snapshot_.downloads;
            memory_->setPlainText(memoryTextOf(snapshot_.memory));
        }
    }
    // Smooth while something moves; nothing at all once everything rests.
    if (snapshot_.anyMoving && !frameTimer_->isActive())
        frameTimer_->start();
    else if (!snapshot_.anyMoving)
        frameTimer_->stop();
}

const std::vector<sim::Event>& ServoView::listedMessages() const { return messages_->messages(); }

QString ServoView::memoryText() const { return memory_->toPlainText(); }

int ServoView::servoPaints() const { return servos_->paints(); }

uint32_t ServoView::redrawWhileWaiting() {
    if (!simulator_ || !isVisible()) return 0;
    // Commands sent just before the wait may not show in the last snapshot
    // yet, so a frame not yet due is asked for, not ruled out.
    const qint64 since = sinceRefresh_.isValid() ? sinceRefresh_.elapsed() : kFrameIntervalMs;
    if (since < kFrameIntervalMs) return static_cast<uint32_t>(kFrameIntervalMs - since);
    refresh();
    servos_->repaint();  // now: no event is handled until the wait ends
    return snapshot_.anyMoving ? kFrameIntervalMs : 0;
}

bool ServoView::animating() const { return frameTimer_->isActive(); }
