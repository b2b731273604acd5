#include "app/ChartView.h"

#include <QFont>
#include <QToolButton>
#include <cmath>

#include "app/ElapsedTimeTicker.h"
#include "support/Errors.h"

namespace {

constexpr double kSecondsPerDay = 86400;
constexpr int kLineWidth = 2;
constexpr double kLegendTop = 0.08;  // legend's top edge, as a part of the plot area's height
constexpr int kAxisButtonSize = 17;
constexpr int kRightButtonGap = 40;  // from the right axis button to the chart's right edge

const char* const kMaximumBelowMinimum = "Axis Maximum Value must be >= Minimum";

QFont AxisFont(bool bold) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    font.setBold(bold);
    return font;
}

}  // namespace

TChartView::TChartView(QWidget* parent) : QCustomPlot(parent) {
    setBackground(Qt::white);
    // One segment at a time: a wide polyline zigzagging through dense columns costs the
    // rasteriser far more than the same segments drawn apart.
    setPlottingHint(QCP::phFastPolylines, true);
    SetUpAxes();
    SetUpSeries();
    SetUpLegend();
    SetUpButtons();
    connect(this, &QCustomPlot::beforeReplot, this, &TChartView::FitBottomAxisToPoints);
    connect(this, &QCustomPlot::afterLayout, this, &TChartView::PlaceLegend);
}

void TChartView::SetUpAxes() {
    const auto valueLabel = [this](double value) { return locale().toString(value, 'g', 6); };
    // Ticks point outwards, so that none is drawn over a line at the plot area's edges.
    for (QCPAxis* axis : {xAxis, yAxis, yAxis2}) {
        axis->setTickLength(0, 4);
        axis->setSubTickLength(0, 2);
    }

    xAxis->setBasePen(Qt::NoPen);
    FBottom = {xAxis, 0, 1.0 / 144, QSharedPointer<TElapsedTimeTicker>::create(),
               &TElapsedTimeTicker::ElapsedTimeText};
    xAxis->setTicker(FBottom.Ticker);

    yAxis->setBasePen(Qt::NoPen);
    yAxis->setSubTicks(false);
    yAxis->grid()->setPen(QPen(QColor(0, 128, 192), 0, Qt::DotLine));
    yAxis->setTickLabelFont(AxisFont(false));
    yAxis->setTickLabelColor(Qt::blue);
    yAxis->setLabel(QStringLiteral("V, t"));
    yAxis->setLabelFont(AxisFont(true));
    yAxis->setLabelColor(Qt::blue);
    FLeft = {yAxis, 0, 60, yAxis->ticker(), valueLabel};

    yAxis2->setVisible(true);
    yAxis2->setBasePen(Qt::NoPen);
    QPen smallDots(QColor(255, 128, 128), 0);
    smallDots.setDashPattern({1, 1});
    yAxis2->grid()->setPen(smallDots);
    yAxis2->grid()->setVisible(true);
    yAxis2->setTickLabelFont(AxisFont(false));
    yAxis2->setTickLabelColor(Qt::red);
    yAxis2->setLabel(QStringLiteral("A"));
    yAxis2->setLabelFont(AxisFont(true));
    yAxis2->setLabelColor(Qt::red);
    FRight = {yAxis2, 0, 10, yAxis2->ticker(), valueLabel};

    for (const TAxisLimits* limits : {&FBottom, &FLeft, &FRight}) ShowRange(*limits);
}

void TChartView::SetUpSeries() {
    struct TLook {
        const char* Title;
        QColor Colour;
        QCPAxis* ValueAxis;
    };
    // In TSeriesIndex order.
    const TLook looks[] = {{"V", QColor(0, 0, 255), yAxis},
                           {"A", QColor(255, 0, 0), yAxis2},
                           {"t", QColor(0, 128, 0), yAxis}};
    for (const TLook& look : looks) {
        auto* series = new TSampledGraph(xAxis, look.ValueAxis);
        series->setName(QString::fromLatin1(look.Title));
        series->setPen(QPen(look.Colour, kLineWidth));
        series->setLineStyle(QCPGraph::lsLine);
        series->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
        series->setAntialiased(false);
        FSeries.push_back(series);
    }
}

void TChartView::SetUpLegend() {
    legend->setVisible(true);
    legend->setBorderPen(Qt::NoPen);
    // The legend lies over the plot area, at its top right, 8 % of its height down (PlaceLegend).
    axisRect()->insetLayout()->setInsetPlacement(0, QCPLayoutInset::ipBorderAligned);
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
}

void TChartView::SetUpButtons() {
    FLeftAxisButton = new QToolButton(this);
    FLeftAxisButton->setObjectName(QStringLiteral("bLeftAxis"));
    FLeftAxisButton->setToolTip(QStringLiteral("Set maximum value for voltage axis"));
    FRightAxisButton = new QToolButton(this);
    FRightAxisButton->setObjectName(QStringLiteral("bRightAxis"));
    FRightAxisButton->setToolTip(QStringLiteral("Set maximum value for current axis"));
    for (QToolButton* button : {FLeftAxisButton, FRightAxisButton}) {
        button->setText(QStringLiteral("..."));
        button->setFixedSize(kAxisButtonSize, kAxisButtonSize);
    }
    connect(FLeftAxisButton, &QToolButton::clicked, this, &TChartView::LeftAxisButtonClicked);
    connect(FRightAxisButton, &QToolButton::clicked, this, &TChartView::RightAxisButtonClicked);
    PlaceAxisButtons();
}

void TChartView::AddChartPoints(const TDeviceReading& reading) {
    AddChartPointsWithoutRepaint(reading);
    replot(rpImmediateRefresh);
}

void TChartView::AddChartPointsWithoutRepaint(const TDeviceReading& reading) {
    const double x = reading.TestTime / kSecondsPerDay;
    FSeries[kVoltageSeries]->Points().Insert(x, reading.Voltage);
    FSeries[kCurrentSeries]->Points().Insert(x, reading.Current);
    FSeries[kTemperatureSeries]->Points().Insert(x, reading.Temperature);
    // Never refused: the maximum only grows.
    ApplyMaximum(FBottom, std::max(x, BottomAxisMax()));
}

void TChartView::Clear() {
    for (TSampledGraph* series : FSeries) series->Points().Clear();
    replot(rpQueuedReplot);
}

void TChartView::SetLeftAxisMax(double value) {
    ApplyMaximum(FLeft, value);
    replot(rpQueuedReplot);
}

void TChartView::SetRightAxisMax(double value) {
    ApplyMaximum(FRight, value);
    replot(rpQueuedReplot);
}

void TChartView::SetBottomAxisMax(double value) {
    ApplyMaximum(FBottom, value);
    replot(rpQueuedReplot);
}

void TChartView::ApplyMaximum(TAxisLimits& limits, double value) {
    if (!(value >= limits.Min)) throw Exception(kMaximumBelowMinimum);
    limits.Max = value;
    ShowRange(limits);
}

void TChartView::ShowRange(const TAxisLimits& limits) {
    const double reach = QCPRange::maxRange / 4;
    const double lower = std::clamp(limits.Min, -reach, reach);
    const double upper = std::clamp(limits.Max, -reach, reach);
    if (QCPRange::validRange(lower, upper)) {
        limits.Axis->setRange(lower, upper);
        limits.Axis->setTicker(limits.Ticker);
        return;
    }
    // The axis refuses a range without width: it shows one that starts at the minimum and is too
    // narrow for any reading to fall inside, with one tick, at the minimum.
    limits.Axis->setRange(lower, lower + 1e-9 * std::max(1.0, std::fabs(lower)));
    auto pinned = QSharedPointer<QCPAxisTickerText>::create();
    pinned->addTick(lower, limits.PinnedLabel(lower));
    limits.Axis->setTicker(pinned);
}

void TChartView::FitBottomAxisToPoints() {
    TValueSpan keys;
    for (const TSampledGraph* series : FSeries) {
        const TIndexedPoints& points = series->Points();
        if (points.isEmpty()) continue;
        keys.Extend({points.constBegin()->key, points.constBegin()->key});
        keys.Extend({(points.constEnd() - 1)->key, (points.constEnd() - 1)->key});
    }
    if (keys.Empty()) return;
    if (keys.High > keys.Low) {
        FBottom.Min = keys.Low;
        FBottom.Max = keys.High;
    } else {
        // All points at one x: widen the range as set just enough to hold them.
        FBottom.Min = std::min(FBottom.Min, keys.Low);
        FBottom.Max = std::max(FBottom.Max, keys.High);
    }
    ShowRange(FBottom);
}

void TChartView::PlaceLegend() {
    QCPLayoutInset* insets = axisRect()->insetLayout();
    QMargins margins = insets->margins();
    const int top = qRound(axisRect()->height() * kLegendTop);
    if (margins.top() == top) return;
    margins.setTop(top);
    insets->setMargins(margins);
    insets->update(QCPLayoutElement::upLayout);
}

void TChartView::PlaceAxisButtons() {
    FLeftAxisButton->move(0, 0);
    FRightAxisButton->move(width() - kAxisButtonSize - kRightButtonGap, 0);
}

void TChartView::resizeEvent(QResizeEvent* event) {
    QCustomPlot::resizeEvent(event);
    PlaceAxisButtons();
}
