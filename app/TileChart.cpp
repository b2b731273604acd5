#include "app/TileChart.h"

#include <QTimer>

namespace {

constexpr int kFrameMs = 1000;
constexpr double kShortestSpan_s = 60;

}  // namespace

TTileChart::TTileChart(QWidget* parent) : QCustomPlot(parent), FFrame(new QTimer(this)) {
    setNoAntialiasingOnDrag(true);
    setPlottingHint(QCP::phFastPolylines, true);
    QCPGraph* voltage = addGraph(xAxis, yAxis);
    voltage->setPen(QPen(Qt::blue));
    QCPGraph* current = addGraph(xAxis, yAxis2);
    current->setPen(QPen(Qt::red));
    auto ticker = QSharedPointer<QCPAxisTickerTime>::create();
    ticker->setTimeFormat("%h:%m");
    xAxis->setTicker(ticker);
    yAxis2->setVisible(true);
    for (QCPAxis* axis : {xAxis, yAxis, yAxis2}) {
        QFont font = axis->tickLabelFont();
        font.setPointSizeF(font.pointSizeF() * 0.8);
        axis->setTickLabelFont(font);
    }
    yAxis->setTickLabelColor(Qt::blue);
    yAxis2->setTickLabelColor(Qt::red);
    FFrame->setSingleShot(true);
    FFrame->setInterval(kFrameMs);
    connect(FFrame, &QTimer::timeout, this, &TTileChart::Draw);
}

void TTileChart::Add(const TDeviceReading& reading) {
    if (reading.TestTime < FLastTime) FCurves.Clear();
    FLastTime = reading.TestTime;
    FCurves.Add(reading);
    if (!FFrame->isActive()) FFrame->start();
}

int TTileChart::PointCount() const {
    return graph(0)->dataCount();
}

void TTileChart::Draw() {
    const std::vector<TDeviceReading>& readings = FCurves.Readings();
    QVector<double> keys, volts, amps;
    keys.reserve(static_cast<qsizetype>(readings.size()));
    volts.reserve(keys.capacity());
    amps.reserve(keys.capacity());
    for (const TDeviceReading& r : readings) {
        keys << r.TestTime;
        volts << r.Voltage;
        amps << r.Current;
    }
    graph(0)->setData(keys, volts, true);
    graph(1)->setData(keys, amps, true);
    graph(0)->rescaleValueAxis();
    graph(1)->rescaleValueAxis();
    // From the test's start; the first minute before the curve fills it.
    xAxis->setRange(0, std::max(kShortestSpan_s, keys.isEmpty() ? 0.0 : keys.back()));
    replot(rpQueuedReplot);
}
