#pragma once
// One quantity of a chart's readings (voltage, current, temperature) drawn as a line against the
// test time, or against the ampere-hours delivered. Drawing stays quick with millions of
// readings: against the test time, which the readings are sorted by, the line is sampled per
// pixel column from the readings' index of value ranges (a column holding many readings is drawn
// as its first reading, its value range and its last reading, which covers the same pixels as
// drawing each one), so a drawing costs about the chart's width in points. Against ampere-hours
// the readings are walked once, merging those that fall in one column. Owned by the plot of its
// axes, like any plottable; window's thread only.

#include <qcustomplot.h>

#include <memory>

#include "app/ChartReadings.h"

class TReadingLine : public QCPAbstractPlottable {
    Q_OBJECT

  public:
    enum TKey { kTestTime, kAmpHours };

    // `readings` is shared with the chart that fills it.
    TReadingLine(QCPAxis* keyAxis, QCPAxis* valueAxis,
                 std::shared_ptr<const TChartReadings> readings,
                 TChartReadings::TQuantity quantity);

    // What the bottom axis shows: the test time in days (seconds / 86400), or ampere-hours.
    void SetKey(TKey key) { FKey = key; }
    TKey Key() const { return FKey; }
    const TChartReadings& Readings() const { return *FReadings; }
    TChartReadings::TQuantity Quantity() const { return FQuantity; }
    // The key of reading `index` on the axis as it is now.
    double KeyAt(size_t index) const;
    double ValueAt(size_t index) const { return FReadings->Value(FQuantity, index); }

    double selectTest(const QPointF& pos, bool onlySelectable, QVariant* details) const override;
    QCPRange getKeyRange(bool& foundRange, QCP::SignDomain inSignDomain) const override;
    QCPRange getValueRange(bool& foundRange, QCP::SignDomain inSignDomain,
                           const QCPRange& inKeyRange) const override;

  protected:
    void draw(QCPPainter* painter) override;
    void drawLegendIcon(QCPPainter* painter, const QRectF& rect) const override;
    // The bottom axis ends exactly at the first and last readings, so their lines lie on the
    // plot area's left and right edges: the clip lets half the line width past those edges, or
    // a rise or fall at the newest reading would be cut away.
    QRect clipRect() const override;

  private:
    // Lines drawn without antialiasing go through whole pixels, and a value many millions of
    // pixels off the plot (a huge reading, or any reading against an axis without width) would
    // overflow them. Values are held within this many axis ranges beyond the axis, far enough
    // that where a line leaves the plot moves by a small part of a pixel.
    static constexpr double kDrawingReach = 1e5;

    // The line's points in pixels; a NaN point breaks the line.
    QVector<QPointF> SampledByTime() const;
    QVector<QPointF> SampledInOrder() const;
    QPointF Pixel(double key, double value) const;
    void DrawLine(QCPPainter* painter, const QVector<QPointF>& points) const;

    std::shared_ptr<const TChartReadings> FReadings;
    TChartReadings::TQuantity FQuantity;
    TKey FKey = kTestTime;
};
