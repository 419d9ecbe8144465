#pragma once

#include <QObject>

class MotionPlotTest : public QObject {
    Q_OBJECT
private slots:
    void aLanePerMovingChannelAndQtRendersIt();
};
