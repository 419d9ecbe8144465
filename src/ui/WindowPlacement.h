// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a helper window of the main window (the servo view, the timeline)
// opens: beside or below the main window where its screen has room, never
// over it.

#include <QList>
#include <QRect>
#include <QSize>

class QWidget;

// The frame rectangle for a window of `wanted` size (at least `minimum`)
// next to `main` (a frame rectangle) within `screen` (its available area):
// to the right, below, to the left or above, in that order of preference,
// taking the first side where it fits whole without covering `others`, else
// the side with the most room, shrunk to that room. It never overlaps
// `main` unless no side has even the minimum room; then it overlaps as
// little as the screen allows.
QRect placeBeside(QSize wanted, QSize minimum, const QRect& main, const QRect& screen,
                  const QList<QRect>& others = {});

// Moves and sizes the top-level `window` so, before it is first shown,
// beside `main` on main's screen, clear of the other visible `others`.
void placeBeside(QWidget& window, const QWidget& main, const QList<const QWidget*>& others = {});
