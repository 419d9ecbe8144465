// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {

constexpr int kGap = 8;
// Room kept for a title bar and borders that a window manager adds around
// a window not yet shown (its frame is not known before).
constexpr int kDecoration = 32;

struct Candidate {
    QRect rect;
    bool whole = false;   // the wanted size fits
    bool fits = false;    // at least the minimum fits
    bool clear = false;   // covers none of the others
    long long area = 0;
};

}  // namespace

QRect placeBeside(QSize wanted, QSize minimum, const QRect& main, const QRect& screen,
                  const QList<QRect>& others) {
    // The room on each side of the main window, in order of preference.
    const QRect rooms[] = {
        QRect(QPoint(main.right() + 1 + kGap, screen.top()), screen.bottomRight()),
        QRect(QPoint(screen.left(), main.bottom() + 1 + kGap), screen.bottomRight()),
        QRect(screen.topLeft(), QPoint(main.left() - 1 - kGap, screen.bottom())),
        QRect(screen.topLeft(), QPoint(screen.right(), main.top() - 1 - kGap)),
    };
    std::vector<Candidate> candidates;
    for (int side = 0; side < 4; ++side) {
        const QRect room = rooms[side];
        if (room.width() <= 0 || room.height() <= 0) {
            candidates.push_back({});
            continue;
        }
        const QSize size(std::min(wanted.width(), room.width()), std::min(wanted.height(), room.height()));
        QRect r(QPoint(0, 0), size);
        // Level with the main window's top (beside) or left (below), kept
        // within the room.
        const bool besides = side == 0 || side == 2;
        const int x = besides ? (side == 0 ? room.left() : room.right() + 1 - size.width())
                              : std::clamp(main.left(), room.left(), room.right() + 1 - size.width());
        const int y = besides ? std::clamp(main.top(), room.top(), room.bottom() + 1 - size.height())
                              : (side == 1 ? room.top() : room.bottom() + 1 - size.height());
        r.moveTopLeft(QPoint(x, y));
        Candidate c;
        c.rect = r;
        c.whole = size == wanted;
        c.fits = size.width() >= minimum.width() && size.height() >= minimum.height();
        c.clear = std::none_of(others.begin(), others.end(), [&](const QRect& o) { return o.intersects(r); });
        c.area = static_cast<long long>(size.width()) * size.height();
        candidates.push_back(c);
    }
    // Whole and clear, then whole, then the most room that takes the minimum.
    for (const Candidate& c : candidates)
        if (c.whole && c.clear) return c.rect;
    for (const Candidate& c : candidates)
        if (c.whole) return c.rect;
    const Candidate* best = nullptr;
    for (const Candidate& c : candidates)
        if (c.fits && (!best || (c.clear && !best->clear) || (c.clear == best->clear && c.area > best->area)))
            best = &c;
    if (best) return best->rect;

    // No side takes even the minimum: the minimum size where it covers the
    // main window least, at the side with the most room.
    const Candidate* roomiest = &candidates[0];
    for (const Candidate& c : candidates)
        if (c.area > roomiest->area) roomiest = &c;
    QRect r(roomiest->rect.topLeft(), wanted.boundedTo(screen.size()).expandedTo(minimum.boundedTo(screen.size())));
    if (r.right() > screen.right()) r.moveRight(screen.right());
    if (r.bottom() > screen.bottom()) r.moveBottom(screen.bottom());
    if (r.left() < screen.left()) r.moveLeft(screen.left());
    if (r.top() < screen.top()) r.moveTop(screen.top());
    return r;
}

void placeBeside(QWidget& window, const QWidget& main, const QList<const QWidget*>& others) {
    QScreen* screen = main.screen() ? main.screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QList<QRect> taken;
    for (const QWidget* w : others)
        if (w && w != &window && w->isVisible()) taken.push_back(w->frameGeometry());
    const QSize decoration(0, window.isVisible() ? window.frameGeometry().height() - window.height() : kDecoration);
    const QSize wanted = (window.size().isValid() && window.testAttribute(Qt::WA_Resized) ? window.size()
                                                                                          : window.sizeHint()) +
                         decoration;
    const QSize minimum = window.minimumSizeHint().expandedTo(window.minimumSize()) + decoration;
    const QRect frame = placeBeside(wanted, minimum, main.frameGeometry(), screen->availableGeometry(), taken);
    window.resize(frame.size() - decoration);
    window.move(frame.topLeft());  // a top-level window's position is its frame's
}
