// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class MotionPlotTest : public QObject {
    Q_OBJECT
private slots:
    void aLanePerMovingChannelAndQtRendersIt();
};
