#include "app/ReadingLine.h"

#include <cmath>

#include "support/DateTime.h"

namespace {

// The value of `quantity` at `at` of a block walked in order.
double BlockValue(const TChartReadings::TBlockView& block, TChartReadings::TQuantity quantity,
                  size_t at) {
    switch (quantity) {
        case TChartReadings::kVoltage:
            return block.Volts[at];
        case TChartReadings::kCurrent:
            return block.Amperes[at];
        case TChartReadings::kTemperature:
            return block.Celsius[at];
        default:
            return block.AmpHours[at];
    }
}

// Whether going on from `line`'s end to `to` keeps to the same row or column, the same way.
bool ContinuesStraight(const QLineF& line, const QPointF& to) {
    const QPointF a = line.p1(), b = line.p2();
    if (a.y() == b.y() && b.y() == to.y()) return (b.x() - a.x()) * (to.x() - b.x()) > 0;
    if (a.x() == b.x() && b.x() == to.x()) return (b.y() - a.y()) * (to.y() - b.y()) > 0;
    return false;
}

}  // namespace

TReadingLine::TReadingLine(QCPAxis* keyAxis, QCPAxis* valueAxis,
                           std::shared_ptr<const TChartReadings> readings,
                           TChartReadings::TQuantity quantity)
    : QCPAbstractPlottable(keyAxis, valueAxis),
      FReadings(std::move(readings)),
      FQuantity(quantity) {}

double TReadingLine::KeyAt(size_t index) const {
    if (FKey == kAmpHours) return FReadings->Value(TChartReadings::kAmpHours, index);
    return static_cast<double>(FReadings->Seconds(index)) / kSecondsPerDay;
}

double TReadingLine::selectTest(const QPointF&, bool, QVariant*) const {
    return -1;  // readings are read out by the chart's hover, not selected
}

QCPRange TReadingLine::getKeyRange(bool& foundRange, QCP::SignDomain) const {
    foundRange = !FReadings->Empty();
    if (!foundRange) return {};
    if (FKey == kAmpHours) {
        const TValueSpan span =
            FReadings->ValueRange(TChartReadings::kAmpHours, 0, FReadings->Size());
        foundRange = !span.Empty();
        return foundRange ? QCPRange(span.Low, span.High) : QCPRange();
    }
    return {KeyAt(0), KeyAt(FReadings->Size() - 1)};
}

QCPRange TReadingLine::getValueRange(bool& foundRange, QCP::SignDomain,
                                     const QCPRange& inKeyRange) const {
    size_t first = 0;
    size_t last = FReadings->Size();
    if (FKey == kTestTime && inKeyRange != QCPRange()) {
        first = FReadings->LowerBound(inKeyRange.lower * kSecondsPerDay);
        last = FReadings->UpperBound(inKeyRange.upper * kSecondsPerDay);
    }
    const TValueSpan span = FReadings->ValueRange(FQuantity, first, last);
    foundRange = !span.Empty();
    return foundRange ? QCPRange(span.Low, span.High) : QCPRange();
}

QRect TReadingLine::clipRect() const {
    const int overhang = qCeil(mPen.widthF() / 2);
    return QCPAbstractPlottable::clipRect().adjusted(-overhang, 0, overhang, 0);
}

QPointF TReadingLine::Pixel(double key, double value) const {
    const QCPRange range = mValueAxis->range();
    const double reach = kDrawingReach * range.size();
    if (!std::isnan(value)) value = std::clamp(value, range.lower - reach, range.upper + reach);
    return coordsToPixels(key, value);
}

QVector<QPointF> TReadingLine::SampledByTime() const {
    const TChartReadings& readings = *FReadings;
    const QCPAxis* keyAxis = mKeyAxis.data();
    const QCPRange visible = keyAxis->range();
    // One reading beyond each edge, so that the line runs on to the edge.
    size_t first = readings.LowerBound(visible.lower * kSecondsPerDay);
    size_t last = readings.UpperBound(visible.upper * kSecondsPerDay);
    if (first > 0) --first;
    if (last < readings.Size()) ++last;
    QVector<QPointF> points;
    if (first >= last) return points;

    const double pixelSpan =
        std::fabs(keyAxis->coordToPixel(KeyAt(first)) - keyAxis->coordToPixel(KeyAt(last - 1)));
    if (last - first < 2 * pixelSpan + 2) {  // as many readings as pixels, or fewer: all drawn
        points.reserve(static_cast<int>(last - first));
        for (size_t i = first; i < last; ++i) points.append(Pixel(KeyAt(i), ValueAt(i)));
        return points;
    }
    // Column by column: the readings of a pixel column are a run, found by binary search, since
    // they are sorted by time. Only columns that hold readings are visited.
    const double direction = keyAxis->pixelOrientation();
    points.reserve(4 * static_cast<int>(std::min<double>(pixelSpan + 2, last - first)));
    for (size_t run = first; run < last;) {
        const double key = KeyAt(run);
        const double column = std::floor(keyAxis->coordToPixel(key) * direction);
        const double columnEnd = keyAxis->pixelToCoord((column + 1) * direction) * kSecondsPerDay;
        const size_t runEnd = std::clamp(readings.LowerBound(columnEnd), run + 1, last);
        const double head = ValueAt(run);
        if (runEnd - run <= 2) {
            points.append(Pixel(key, head));
            if (runEnd - run == 2) points.append(Pixel(KeyAt(run + 1), ValueAt(run + 1)));
        } else {
            const TValueSpan span = readings.ValueRange(FQuantity, run, runEnd);
            points.append(Pixel(key, head));
            if (span.Empty()) {
                points.append(Pixel(key, std::nan("")));
            } else {
                points.append(Pixel(key, span.Low));
                points.append(Pixel(key, span.High));
            }
            points.append(Pixel(KeyAt(runEnd - 1), ValueAt(runEnd - 1)));
        }
        run = runEnd;
    }
    return points;
}

QVector<QPointF> TReadingLine::SampledInOrder() const {
    QVector<QPointF> points;
    const QCPAxis* keyAxis = mKeyAxis.data();
    // The readings of the column being walked: the first, the value range and the last.
    size_t count = 0;
    double column = 0;
    double headKey = 0;
    double headValue = 0;
    QPointF tail;
    TValueSpan span;
    const auto flush = [&] {
        if (count == 0) return;
        points.append(Pixel(headKey, headValue));
        if (count > 2 && !span.Empty()) {
            points.append(Pixel(headKey, span.Low));
            points.append(Pixel(headKey, span.High));
        }
        if (count > 1) points.append(tail);
    };
    for (size_t b = 0; b < FReadings->BlockCount(); ++b) {
        const TChartReadings::TBlockView block = FReadings->Block(b);
        for (size_t i = 0; i < block.Size; ++i) {
            const double key = block.AmpHours[i];
            const double value = BlockValue(block, FQuantity, i);
            const double pixel = std::floor(keyAxis->coordToPixel(key));
            if (count == 0 || pixel != column) {
                flush();
                count = 0;
                column = pixel;
                headKey = key;
                headValue = value;
                span = {};
            }
            ++count;
            if (!std::isnan(value)) span.Extend(value);
            tail = Pixel(key, value);
        }
    }
    flush();
    return points;
}

void TReadingLine::DrawLine(QCPPainter* painter, const QVector<QPointF>& points) const {
    painter->setPen(mPen);
    painter->setBrush(Qt::NoBrush);
    applyDefaultAntialiasingHint(painter);
    // One segment at a time where the plot asks for it: a wide polyline zigzagging through
    // dense columns costs the rasteriser far more than the same segments drawn apart.
    const bool segments = mParentPlot->plottingHints().testFlag(QCP::phFastPolylines) &&
                          painter->pen().style() == Qt::SolidLine &&
                          !painter->modes().testFlag(QCPPainter::pmVectorized) &&
                          !painter->modes().testFlag(QCPPainter::pmNoCaching);
    const auto valid = [](const QPointF& p) { return !std::isnan(p.x()) && !std::isnan(p.y()); };
    if (segments) {
        // Whole pixels, as a line without antialiasing is drawn, with the points that only
        // continue a straight run left out: a flat or steadily stepping curve of thousands of
        // points then takes a few dozen segments, drawn in one call.
        QVector<QLineF> lines;
        lines.reserve(points.size());
        QPointF from(std::nan(""), std::nan(""));
        for (const QPointF& point : points) {
            if (!valid(point)) {
                from = point;
                continue;
            }
            const QPointF to(std::round(point.x()), std::round(point.y()));
            if (!valid(from)) {
                from = to;
                if (points.size() == 1) lines.append(QLineF(to, to));
                continue;
            }
            if (to == from) continue;
            if (!lines.isEmpty() && lines.last().p2() == from &&
                ContinuesStraight(lines.last(), to)) {
                lines.last().setP2(to);
            } else {
                lines.append(QLineF(from, to));
            }
            from = to;
        }
        painter->drawLines(lines);
        return;
    }
    int start = 0;
    for (int i = 0; i <= points.size(); ++i) {
        if (i < points.size() && valid(points[i])) continue;
        if (i - start > 1) painter->drawPolyline(points.constData() + start, i - start);
        start = i + 1;
    }
}

void TReadingLine::draw(QCPPainter* painter) {
    if (!mKeyAxis || !mValueAxis || FReadings->Empty()) return;
    if (mKeyAxis->range().size() <= 0) return;
    DrawLine(painter, FKey == kTestTime ? SampledByTime() : SampledInOrder());
}

void TReadingLine::drawLegendIcon(QCPPainter* painter, const QRectF& rect) const {
    painter->setPen(mPen);
    painter->setBrush(Qt::NoBrush);
    applyDefaultAntialiasingHint(painter);
    painter->drawLine(QLineF(rect.left(), rect.center().y(), rect.right(), rect.center().y()));
}
