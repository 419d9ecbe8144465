// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The pictures of the program, drawn from the SVG files in the resources.

#include <QIcon>
#include <QPixmap>
#include <QString>

// Makes sure the compiled-in resources are registered (the library is static).
void initKdxResources();

// The picture at path (a resource path such as ":/kdx/about.svg") drawn at
// size, sharp on high-density screens.
QPixmap svgPixmap(const QString& path, QSize size, qreal devicePixelRatio = 1.0);
QIcon svgIcon(const QString& path, QSize size);
QIcon windowIcon();

class QWidget;
// Centres a top-level window on the primary screen (once, when first shown).
void centreOnScreen(QWidget& window);

// The application's title: captions of the message boxes.
inline const QString kApplicationTitle = QStringLiteral("KDX Interface");
