// SPDX-License-Identifier: GPL-3.0-or-later
// The motion plot is plain SVG text: it must parse as XML, hold one lane per
// channel that moves, and render through Qt's SVG module without a warning,
// its unfinished move drawn in red.

#include "motion_plot_test.h"

#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTest>
#include <QXmlStreamReader>

#include "show/MotionCheck.h"
#include "show/MotionPlot.h"

void MotionPlotTest::aLanePerMovingChannelAndQtRendersIt() {
    // Channel 0 moves slowly and is cut short, channel 3 moves at once,
    // channel 5 moves (to its offset) only while loading shows frame 0 and
    // stays put once Play has begun.
    Sequence seq;
    for (int f = 0; f < 3; ++f) {
        seq.frame(f).frameUsed = 1;
        seq.channel(f, 0) = {1000 + 500 * f, 7, 0, 200, 1, {}};
        seq.channel(f, 3) = {f == 1 ? 800 : 2200, 0, 0, 200, 1, {}};
        seq.channel(f, 5) = {1700, 0, -20, 200, 1, {}};
    }
    const Timeline timeline = Timeline::of(seq);
    const std::string svg = plotMotionSvg(timeline, modelMoves(timeline));

    QXmlStreamReader xml(QByteArray::fromStdString(svg));
    QStringList lanes;
    int unfinished = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const QString cls = xml.attributes().value("class").toString();
        if (xml.name() == QLatin1String("g") && cls == "lane") lanes << xml.attributes().value("data-channel").toString();
        if (cls == "unfinished") ++unfinished;
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(lanes, (QStringList{"0", "3"}));
    QVERIFY(unfinished >= 1);

    QTest::failOnWarning(QRegularExpression(".*"));
    QSvgRenderer renderer(QByteArray::fromStdString(svg));
    QVERIFY(renderer.isValid());
    QImage image(renderer.defaultSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            red += c.red() > 180 && c.green() < 90 && c.blue() < 90;
        }
    QVERIFY2(red > 20, "the unfinished move is not drawn in red");
}
