#include "app/ChartView.h"

#include <QFont>
#include <QMouseEvent>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>

#include "app/ElapsedTimeTicker.h"
#include "support/Errors.h"

namespace {

constexpr double kSecondsPerDay = 86400;
constexpr int kLineWidth = 2;
constexpr double kLegendTop = 0.08;  // legend's top edge, as a part of the plot area's height
constexpr int kAxisButtonSize = 17;
constexpr int kRightButtonGap = 40;         // from the right axis button to the chart's right edge
constexpr int kFrameMs = 33;                // at most one repaint for new readings in so long
constexpr double kZoomPerWheelStep = 0.85;  // range kept by one step of the wheel, zooming in
constexpr double kFitMargin = 0.05;         // around fitted curves, as a part of their span

const char* const kMaximumBelowMinimum = "Axis Maximum Value must be >= Minimum";

QFont AxisFont(bool bold) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    font.setBold(bold);
    return font;
}

}  // namespace

TChartView::TChartView(QWidget* parent)
    : QCustomPlot(parent), FReadings(std::make_shared<TChartReadings>()) {
    setBackground(Qt::white);
    // Every pixel is painted here: what lies beneath need not be painted first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // One segment at a time: a wide polyline zigzagging through dense columns costs the
    // rasteriser far more than the same segments drawn apart.
    setPlottingHint(QCP::phFastPolylines, true);
    SetUpAxes();
    SetUpSeries();
    SetUpLegend();
    SetUpButtons();
    FCompared = std::make_unique<TComparedTests>(xAxis, yAxis, yAxis2);
    FFrame = new QTimer(this);
    FFrame->setSingleShot(true);
    FFrame->setInterval(kFrameMs);
    // Drawn now, shown with the window's other changes of this pass in one paint.
    connect(FFrame, &QTimer::timeout, this, [this] { replot(rpQueuedRefresh); });
    // Rows kept for a range that changed say nothing about the new picture.
    for (QCPAxis* axis : {yAxis, yAxis2}) {
        connect(axis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, [this] {
            for (TPixelRows& rows : FNewestRows) rows = {};
        });
    }
    FReadoutMark = new QCPItemTracer(this);
    FReadoutMark->setLayer(QStringLiteral("overlay"));
    FReadoutMark->setStyle(QCPItemTracer::tsCircle);
    FReadoutMark->setSize(7);
    FReadoutMark->setVisible(false);
    FReadout = new QCPItemText(this);
    FReadout->setLayer(QStringLiteral("overlay"));
    FReadout->setClipToAxisRect(false);
    FReadout->position->setType(QCPItemPosition::ptAxisRectRatio);
    FReadout->position->setCoords(0.01, 0.01);
    FReadout->setPositionAlignment(Qt::AlignTop | Qt::AlignLeft);
    FReadout->setBrush(QColor(255, 255, 255, 220));
    FReadout->setPadding(QMargins(4, 2, 4, 2));
    FReadout->setFont(AxisFont(false));
    FReadout->setVisible(false);
    setMouseTracking(true);
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
        TChartReadings::TQuantity Quantity;
    };
    // In TSeriesIndex order.
    const TLook looks[] = {{"V", QColor(0, 0, 255), yAxis, TChartReadings::kVoltage},
                           {"A", QColor(255, 0, 0), yAxis2, TChartReadings::kCurrent},
                           {"t", QColor(0, 128, 0), yAxis, TChartReadings::kTemperature}};
    for (const TLook& look : looks) {
        auto* series = new TReadingLine(xAxis, look.ValueAxis, FReadings, look.Quantity);
        series->setName(QString::fromLatin1(look.Title));
        series->setPen(QPen(look.Colour, kLineWidth));
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
    const bool seen = DrawnAlready(reading);
    AddChartPointsWithoutRepaint(reading);
    if (!seen && !FFrame->isActive()) FFrame->start();
}

bool TChartView::DrawnAlready(const TDeviceReading& reading) {
    // A tester's clock moves once a second while readings come many times a second: a reading at
    // the newest test time lands in the pixel column already drawn there, and when each of its
    // values falls within the rows that column covers, the picture stays as it is.
    const bool newest =
        !FReadings->Empty() && reading.TestTime == FReadings->Seconds(FReadings->Size() - 1);
    const double values[] = {reading.Voltage, reading.Current,
                             static_cast<double>(reading.Temperature)};
    const auto row = [&](int series, double value) {
        return std::round(FSeries[series]->valueAxis()->coordToPixel(value));
    };
    bool within = newest && FFollowing && FBottomKey == kTestTimeKey && !FFrame->isActive();
    for (int series = 0; series < 3; ++series) {
        const double at = row(series, values[series]);
        TPixelRows& rows = FNewestRows[series];
        if (!newest || rows.Bottom < rows.Top) rows = {at, at}, within = false;
        if (!(at >= rows.Top && at <= rows.Bottom)) within = false;
        rows = {std::min(rows.Top, at), std::max(rows.Bottom, at)};
    }
    return within;
}

void TChartView::AddChartPointsWithoutRepaint(const TDeviceReading& reading) {
    const double x = reading.TestTime / kSecondsPerDay;
    FReadings->Insert(reading);
    // Never refused: the maximum only grows. The view moves only while it follows the test.
    FBottom.Max = std::max(x, BottomAxisMax());
    if (FFollowing && FBottomKey == kTestTimeKey) ShowRange(FBottom);
}

void TChartView::Clear() {
    FReadings->Clear();
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
    if (!FFollowing) return;
    bool found = false;
    QCPRange range = FSeries[kVoltageSeries]->getKeyRange(found, QCP::sdBoth);
    for (const TReadingLine* line : FCompared->Lines()) {
        bool lineFound = false;
        const QCPRange keys = line->getKeyRange(lineFound, QCP::sdBoth);
        if (!lineFound) continue;
        range = found
                    ? QCPRange(std::min(range.lower, keys.lower), std::max(range.upper, keys.upper))
                    : keys;
        found = true;
    }
    if (!found) return;
    if (FBottomKey == kAmpHoursKey) {
        xAxis->setRange(range.lower, std::max(range.upper, range.lower + 1e-3));
        return;
    }
    const TValueSpan keys{range.lower, range.upper};
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

void TChartView::SetBottomKey(TBottomKey key) {
    FBottomKey = key;
    const TReadingLine::TKey lineKey =
        key == kAmpHoursKey ? TReadingLine::kAmpHours : TReadingLine::kTestTime;
    for (TReadingLine* series : FSeries) series->SetKey(lineKey);
    FCompared->SetKey(lineKey);
    xAxis->setLabel(key == kAmpHoursKey ? QStringLiteral("Ah") : QString());
    ResetView();
}

void TChartView::ResetView() {
    FFollowing = true;
    ShowRange(FLeft);
    ShowRange(FRight);
    if (FBottomKey == kTestTimeKey) {
        ShowRange(FBottom);
    } else {
        xAxis->setTicker(QSharedPointer<QCPAxisTicker>::create());
    }
    HideReadout();
    replot(rpImmediateRefresh);
}

QList<QCPAxis*> TChartView::AxesAt(const QPointF& pos) const {
    const QRect plot = axisRect()->rect();
    const bool besidePlot = pos.y() >= plot.top() && pos.y() <= plot.bottom();
    const bool belowPlot = pos.x() >= plot.left() && pos.x() <= plot.right();
    if (plot.contains(pos.toPoint())) return {xAxis, yAxis, yAxis2};
    if (besidePlot && pos.x() < plot.left()) return {yAxis};
    if (besidePlot && pos.x() > plot.right()) return {yAxis2};
    if (belowPlot && pos.y() > plot.bottom()) return {xAxis};
    return {};
}

void TChartView::ViewChanged(const QList<QCPAxis*>& axes) {
    for (const TAxisLimits* limits : {&FBottom, &FLeft, &FRight}) {
        if (!axes.contains(limits->Axis)) continue;
        // A range without width showed one pinned tick; a zoomed view has width again.
        if (limits->Axis != xAxis || FBottomKey == kTestTimeKey) {
            limits->Axis->setTicker(limits->Ticker);
        }
    }
    if (axes.contains(xAxis)) FFollowing = false;
}

void TChartView::ZoomAt(const QPointF& pos, double factor) {
    const QList<QCPAxis*> axes = AxesAt(pos);
    if (axes.isEmpty()) return;
    for (QCPAxis* axis : axes) {
        const double at = axis->orientation() == Qt::Horizontal ? pos.x() : pos.y();
        axis->scaleRange(factor, axis->pixelToCoord(at));
    }
    ViewChanged(axes);
    replot(rpImmediateRefresh);
}

void TChartView::FitVoltage() {
    size_t first = 0;
    size_t last = FReadings->Size();
    if (FBottomKey == kTestTimeKey) {
        first = FReadings->LowerBound(xAxis->range().lower * kSecondsPerDay);
        last = FReadings->UpperBound(xAxis->range().upper * kSecondsPerDay);
    }
    TValueSpan span = FReadings->ValueRange(TChartReadings::kVoltage, first, last);
    span.Extend(FReadings->ValueRange(TChartReadings::kTemperature, first, last));
    if (span.Empty()) return;
    const double margin = std::max(kFitMargin * (span.High - span.Low), kFitMargin);
    yAxis->setRange(span.Low - margin, span.High + margin);
    ViewChanged({yAxis});
    replot(rpImmediateRefresh);
}

bool TChartView::SaveChart(const QString& path) {
    HideReadout();
    if (path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) return savePdf(path);
    return savePng(path);
}

QString TChartView::ReadoutText() const {
    return FReadout->visible() ? FReadout->text() : QString();
}

size_t TChartView::NearestReading(double key) const {
    const size_t count = FReadings->Size();
    if (count == 0) return count;
    const TReadingLine& line = *FSeries[kVoltageSeries];
    if (FBottomKey == kTestTimeKey) {
        const size_t after = FReadings->LowerBound(key * kSecondsPerDay);
        if (after == 0) return 0;
        if (after == count) return count - 1;
        return key - line.KeyAt(after - 1) <= line.KeyAt(after) - key ? after - 1 : after;
    }
    size_t nearest = 0;
    double distance = std::numeric_limits<double>::infinity();
    for (size_t b = 0, index = 0; b < FReadings->BlockCount(); ++b) {
        const TChartReadings::TBlockView block = FReadings->Block(b);
        for (size_t i = 0; i < block.Size; ++i, ++index) {
            const double d = std::fabs(block.AmpHours[i] - key);
            if (d < distance) {
                distance = d;
                nearest = index;
            }
        }
    }
    return nearest;
}

void TChartView::ShowReadout(const QPointF& pos) {
    const size_t index = axisRect()->rect().contains(pos.toPoint())
                             ? NearestReading(xAxis->pixelToCoord(pos.x()))
                             : FReadings->Size();
    if (index >= FReadings->Size()) return HideReadout();
    const QLocale numbers = locale();
    const auto fixed = [&](TChartReadings::TQuantity quantity, int decimals) {
        return numbers.toString(FReadings->Value(quantity, index), 'f', decimals);
    };
    FReadout->setText(
        QStringLiteral("%1   %2 V   %3 A   %4 °C   %5 Ah")
            .arg(TElapsedTimeTicker::ElapsedTimeText(FReadings->Seconds(index) / kSecondsPerDay),
                 fixed(TChartReadings::kVoltage, 3), fixed(TChartReadings::kCurrent, 3),
                 fixed(TChartReadings::kTemperature, 0), fixed(TChartReadings::kAmpHours, 3)));
    const TReadingLine& voltage = *FSeries[kVoltageSeries];
    FReadoutMark->position->setAxes(xAxis, yAxis);
    FReadoutMark->position->setCoords(voltage.KeyAt(index), voltage.ValueAt(index));
    FReadout->setVisible(true);
    FReadoutMark->setVisible(true);
    // While it shows, the readout lies on a layer of a buffer of its own, repainted alone as the
    // mouse moves; otherwise that buffer would cost every frame its clearing and blending.
    QCPLayer* overlay = layer(QStringLiteral("overlay"));
    if (overlay->mode() != QCPLayer::lmBuffered) {
        overlay->setMode(QCPLayer::lmBuffered);
        replot(rpImmediateRefresh);
        return;
    }
    overlay->replot();
}

void TChartView::HideReadout() {
    if (!FReadout->visible()) return;
    FReadout->setVisible(false);
    FReadoutMark->setVisible(false);
    layer(QStringLiteral("overlay"))->setMode(QCPLayer::lmLogical);
    replot(rpImmediateRefresh);
}

void TChartView::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0) ZoomAt(event->position(), std::pow(kZoomPerWheelStep, steps));
    event->accept();
}

void TChartView::mousePressEvent(QMouseEvent* event) {
    QCustomPlot::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) return;
    FDragFrom = event->position();
    FDragged.clear();
    for (QCPAxis* axis : AxesAt(FDragFrom)) FDragged.append({axis, axis->range()});
}

void TChartView::mouseMoveEvent(QMouseEvent* event) {
    QCustomPlot::mouseMoveEvent(event);
    if (FDragged.isEmpty() || !(event->buttons() & Qt::LeftButton)) {
        ShowReadout(event->position());
        return;
    }
    QList<QCPAxis*> axes;
    for (const auto& [axis, from] : FDragged) {
        const bool across = axis->orientation() == Qt::Horizontal;
        axis->setRange(from);
        const double shift =
            axis->pixelToCoord(across ? FDragFrom.x() : FDragFrom.y()) -
            axis->pixelToCoord(across ? event->position().x() : event->position().y());
        axis->setRange(from.lower + shift, from.upper + shift);
        axes.append(axis);
    }
    ViewChanged(axes);
    HideReadout();
    replot(rpImmediateRefresh);
}

void TChartView::mouseReleaseEvent(QMouseEvent* event) {
    QCustomPlot::mouseReleaseEvent(event);
    FDragged.clear();
}

void TChartView::mouseDoubleClickEvent(QMouseEvent* event) {
    QCustomPlot::mouseDoubleClickEvent(event);
    FDragged.clear();
    ResetView();
}

void TChartView::leaveEvent(QEvent* event) {
    QCustomPlot::leaveEvent(event);
    HideReadout();
}

TComparedTests::TEntry TChartView::CompareWith(const TLoggedTests& log) {
    const TComparedTests::TEntry entry = FCompared->Add(log);
    replot(rpImmediateRefresh);
    return entry;
}

void TChartView::RemoveCompared(int id) {
    FCompared->Remove(id);
    replot(rpImmediateRefresh);
}
