// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Pictures.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <QPainter>
#include <QSvgRenderer>

static void registerResources() { Q_INIT_RESOURCE(kdx); }

void initKdxResources() {
    static const bool done = (registerResources(), true);
    (void)done;
}

QPixmap svgPixmap(const QString& path, QSize size, qreal devicePixelRatio) {
    initKdxResources();
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(path);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon svgIcon(const QString& path, QSize size) {
    QIcon icon;
    icon.addPixmap(svgPixmap(path, size, 1.0));
    icon.addPixmap(svgPixmap(path, size, 2.0));
    return icon;
}

QIcon windowIcon() {
    QIcon icon;
    for (int s : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(svgPixmap(QStringLiteral(":/kdx/kdx-interface.svg"), QSize(s, s)));
    return icon;
}

void centreOnScreen(QWidget& window) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
}
