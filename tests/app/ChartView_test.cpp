// The chart against its real drawing: points, axes, the sampled lines of long series and the
// axis buttons, on the offscreen platform.
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "app/ChartView.h"
#include "app/ElapsedTimeTicker.h"
#include "support/Errors.h"
#include "support/LocaleText.h"

namespace {

constexpr double kDay = 86400;

// A number text as the chart shows it under the current locale.
QString L(const char* text) {
    return QString(text).replace('.', QChar(LocaleDecimalSeparator()));
}

TDeviceReading Reading(int testTime, float voltage, float current, int8_t temperature) {
    TDeviceReading reading{};
    reading.TestTime = testTime;
    reading.Voltage = voltage;
    reading.Current = current;
    reading.Temperature = temperature;
    reading.Status = 1;
    return reading;
}

QList<QPointF> PointsOf(const TChartView& chart, int series) {
    QList<QPointF> points;
    const TReadingLine& line = *chart.Series(series);
    for (size_t i = 0; i < line.Readings().Size(); ++i) {
        points.append({line.KeyAt(i), line.ValueAt(i)});
    }
    return points;
}

// The chart on screen at the window's design size, so that drawing and layout are real.
void ShowAtDesignSize(TChartView& chart) {
    chart.resize(522, 440);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
}

bool IsBlue(QRgb pixel) {
    return qBlue(pixel) > 200 && qRed(pixel) < 80 && qGreen(pixel) < 80;
}

// Whether the voltage line passes within two pixels of (key, value) in what is on screen.
bool VoltageLineNear(TChartView& chart, double key, double value) {
    chart.replot(QCustomPlot::rpImmediateRefresh);
    const QImage image = chart.grab().toImage();
    const QPointF at(chart.xAxis->coordToPixel(key), chart.yAxis->coordToPixel(value));
    if (!QRectF(image.rect()).contains(at)) return false;  // off screen: nothing to see there
    const int x = qRound(at.x());
    const int y = qRound(at.y());
    for (int dx = -2; dx <= 2; ++dx) {
        for (int dy = -2; dy <= 2; ++dy) {
            if (image.valid(x + dx, y + dy) && IsBlue(image.pixel(x + dx, y + dy))) return true;
        }
    }
    return false;
}

// Test times in the order a chart gets them when tests share it, each test starting again at
// 0 s among the points of the ones before; enough readings for many blocks to split.
void AddArrivalOrders() {
    QTest::addColumn<QList<int>>("times");
    QList<int> times;
    for (int second = 0; second < 30000; ++second) times.append(second);
    QTest::newRow("one test, in order") << times;
    times.clear();
    QRandomGenerator random(20240601);
    for (int i = 0; i < 30000; ++i) times.append(i % 3 == 0 ? random.bounded(30000) : i);
    QTest::newRow("one in three at an earlier time") << times;
    times.clear();
    for (int test = 0; test < 2; ++test) {
        for (int second = 0; second < 15000; ++second) times.append(second);
    }
    QTest::newRow("second test among the first") << times;
    times.clear();
    for (int second = 0; second < 10000; ++second) times.append(second);
    for (int i = 0; i < 30000; ++i) times.append(i / 10);
    QTest::newRow("second test at ten readings a second") << times;
    times.clear();
    for (int second = 0; second < 10000; ++second) times.append(second);
    for (int i = 0; i < 5000; ++i) times.append(5000);
    QTest::newRow("second test's clock standing still") << times;
    times.clear();
    for (int test = 0; test < 5; ++test) {
        for (int second = 0; second < 6000; ++second) times.append(second);
    }
    QTest::newRow("five tests on one chart") << times;
    times.clear();
    for (int second = 30000; second > 0; --second) times.append(second);
    QTest::newRow("newest first") << times;
    times.clear();
    for (int i = 0; i < 30000; ++i) times.append(random.bounded(10000));
    QTest::newRow("random times, many equal") << times;
}

// Readings at `times`, in that order, with random values (now and then not a number); the Ah
// hold the arrival number, which tells readings with equal times apart.
std::vector<TDeviceReading> ArrivingReadings(const QList<int>& times) {
    QRandomGenerator random(20240602);
    std::vector<TDeviceReading> readings;
    for (int i = 0; i < times.size(); ++i) {
        TDeviceReading reading{};
        reading.TestTime = times[i];
        reading.Voltage = i % 97 == 0 ? std::nanf("") : random.bounded(1000.0f) - 500;
        reading.Current = random.bounded(10.0f);
        reading.Temperature = static_cast<int8_t>(random.bounded(256) - 128);
        reading.AmpHours = static_cast<float>(i);
        readings.push_back(reading);
    }
    return readings;
}

// The arrival number ArrivingReadings put in the Ah.
int Arrival(float ampHours) {
    return static_cast<int>(ampHours);
}

// `arrived` as a store must hold them: by test time, equal times in arrival order.
std::vector<TDeviceReading> InTimeOrder(std::vector<TDeviceReading> arrived) {
    std::stable_sort(arrived.begin(), arrived.end(),
                     [](const auto& a, const auto& b) { return a.TestTime < b.TestTime; });
    return arrived;
}

double QuantityOf(const TDeviceReading& reading, TChartReadings::TQuantity quantity) {
    switch (quantity) {
        case TChartReadings::kVoltage:
            return reading.Voltage;
        case TChartReadings::kCurrent:
            return reading.Current;
        case TChartReadings::kTemperature:
            return reading.Temperature;
        default:
            return reading.AmpHours;
    }
}

}  // namespace

class ChartViewTest : public QObject {
    Q_OBJECT

  private slots:
    void SeriesAndAxesAsDesigned() {
        TChartView chart;
        ShowAtDesignSize(chart);
        chart.replot();
        const struct {
            const char* title;
            QColor colour;
            QCPAxis* valueAxis;
        } expected[] = {{"V", QColor(0, 0, 255), chart.yAxis},
                        {"A", QColor(255, 0, 0), chart.yAxis2},
                        {"t", QColor(0, 128, 0), chart.yAxis}};
        QCOMPARE(chart.plottableCount(), 3);
        for (int i = 0; i < 3; ++i) {
            TReadingLine* series = chart.Series(i);
            QCOMPARE(static_cast<QCPAbstractPlottable*>(series), chart.plottable(i));
            QCOMPARE(series->name(), QString::fromLatin1(expected[i].title));
            QCOMPARE(series->pen().color(), expected[i].colour);
            QCOMPARE(series->pen().widthF(), 2.0);
            QCOMPARE(series->valueAxis(), expected[i].valueAxis);
        }
        QCOMPARE(chart.yAxis->range(), QCPRange(0, 60));
        QCOMPARE(chart.yAxis->label(), QStringLiteral("V, t"));
        QCOMPARE(chart.yAxis->labelColor(), QColor(Qt::blue));
        QVERIFY(chart.yAxis2->visible());
        QCOMPARE(chart.yAxis2->range(), QCPRange(0, 10));
        QCOMPARE(chart.yAxis2->label(), QStringLiteral("A"));
        QCOMPARE(chart.yAxis2->labelColor(), QColor(Qt::red));
        QCOMPARE(chart.LeftAxisMax(), 60.0);
        QCOMPARE(chart.RightAxisMax(), 10.0);

        QVERIFY(chart.legend->visible());
        const QRect plotArea = chart.axisRect()->rect();
        const QRect legend = chart.legend->outerRect();
        QVERIFY(plotArea.contains(legend));
        QVERIFY(qAbs(legend.top() - plotArea.top() - 0.08 * plotArea.height()) <= 1);
    }

    void SameTestTimeAddsTwoPointsAtOneX() {
        TChartView chart;
        chart.AddChartPoints(Reading(30, 12.5f, 2.0f, 25));
        chart.AddChartPoints(Reading(30, 12.4f, 2.1f, 26));
        const double x = 30 / kDay;
        QCOMPARE(PointsOf(chart, 0), (QList<QPointF>{{x, 12.5f}, {x, 12.4f}}));
        QCOMPARE(PointsOf(chart, 1), (QList<QPointF>{{x, 2.0f}, {x, 2.1f}}));
        QCOMPARE(PointsOf(chart, 2), (QList<QPointF>{{x, 25}, {x, 26}}));
    }

    // A new test's points land among the points of an earlier one; a point goes after every
    // point with the same x, also where it is neither the first nor the last.
    void EarlierTestTimeGoesAfterEqualX_data() {
        QTest::addColumn<int>("testTime");
        QTest::addColumn<int>("position");
        QTest::newRow("before every point") << 5 << 0;
        QTest::newRow("equal to the first x") << 10 << 2;
        QTest::newRow("equal to a middle x") << 20 << 4;
        QTest::newRow("between two x") << 25 << 4;
        QTest::newRow("equal to the last x") << 30 << 5;
    }
    void EarlierTestTimeGoesAfterEqualX() {
        QFETCH(int, testTime);
        QFETCH(int, position);
        TChartView chart;
        for (const int time : {10, 10, 20, 20, 30}) chart.AddChartPoints(Reading(time, 1, 1, 1));
        chart.AddChartPoints(Reading(testTime, 9, 9, 9));
        for (int series = 0; series < 3; ++series) {
            const QList<QPointF> points = PointsOf(chart, series);
            QCOMPARE(points.size(), 6);
            QCOMPARE(points.at(position), QPointF(testTime / kDay, 9));
        }
    }

    void ClearEmptiesEverySeries() {
        TChartView chart;
        for (int time = 0; time < 5; ++time) chart.AddChartPoints(Reading(time, 12, 2, 25));
        chart.Clear();
        for (int series = 0; series < 3; ++series) QVERIFY(PointsOf(chart, series).isEmpty());
        chart.AddChartPoints(Reading(6, 11, 1, 24));
        QCOMPARE(PointsOf(chart, 0), QList<QPointF>{QPointF(6 / kDay, 11)});
    }

    void BottomAxisSpansPlottedPoints() {
        TChartView chart;
        chart.SetBottomAxisMax(1.0 / 144);
        chart.replot();
        QCOMPARE(chart.xAxis->range(), QCPRange(0, 1.0 / 144));
        // One point is no span: the range as set, holding it.
        chart.AddChartPoints(Reading(60, 12, 2, 25));
        chart.replot();
        QCOMPARE(chart.xAxis->range(), QCPRange(0, 1.0 / 144));
        for (int time = 120; time <= 7200; time += 60)
            chart.AddChartPoints(Reading(time, 12, 2, 25));
        chart.replot();
        QCOMPARE(chart.BottomAxisMax(), 1.0 / 12);
        QCOMPARE(chart.xAxis->range(), QCPRange(60 / kDay, 1.0 / 12));
    }

    // Nothing is tested for "not read": -1 is plotted as it is.
    void NotReadValuesPlottedAsMinusOne() {
        TChartView chart;
        chart.AddChartPoints(Reading(-1, -1, -1, -1));
        for (int series = 0; series < 3; ++series) {
            QCOMPARE(PointsOf(chart, series), QList<QPointF>{QPointF(-1 / kDay, -1)});
        }
    }

    void MaximumBelowMinimumRefused_data() {
        QTest::addColumn<int>("axis");  // 0 left, 1 right, 2 bottom
        QTest::addColumn<double>("value");
        QTest::newRow("left -5") << 0 << -5.0;
        QTest::newRow("right -0.01") << 1 << -0.01;
        QTest::newRow("bottom -1") << 2 << -1.0;
        QTest::newRow("left not a number") << 0 << std::nan("");
    }
    void MaximumBelowMinimumRefused() {
        QFETCH(int, axis);
        QFETCH(double, value);
        TChartView chart;
        chart.SetBottomAxisMax(1.0 / 144);
        const auto maxima = [&] {
            return QList<double>{chart.LeftAxisMax(), chart.RightAxisMax(), chart.BottomAxisMax()};
        };
        const QList<double> before = maxima();
        const QList<QCPAxis*> axes = {chart.yAxis, chart.yAxis2, chart.xAxis};
        const QCPRange shownBefore = axes[axis]->range();
        try {
            if (axis == 0) chart.SetLeftAxisMax(value);
            if (axis == 1) chart.SetRightAxisMax(value);
            if (axis == 2) chart.SetBottomAxisMax(value);
            QFAIL("the maximum was accepted");
        } catch (const Exception& error) {
            QCOMPARE(QString::fromUtf8(error.what()),
                     QStringLiteral("Axis Maximum Value must be >= Minimum"));
        }
        QCOMPARE(maxima(), before);
        QCOMPARE(axes[axis]->range(), shownBefore);
    }

    // The axis itself cannot hold a range without width; the chart keeps the 0 that was set and
    // shows it as one tick at 0, with every reading above it off the plot.
    void ZeroMaximumKeptAndShown() {
        TChartView chart;
        ShowAtDesignSize(chart);
        chart.SetLeftAxisMax(0);
        chart.SetRightAxisMax(0);
        chart.AddChartPoints(Reading(10, 12, 2, 25));
        chart.AddChartPoints(Reading(20, 11, 2, 26));
        chart.replot();
        QCOMPARE(chart.LeftAxisMax(), 0.0);
        QCOMPARE(chart.RightAxisMax(), 0.0);
        QCOMPARE(chart.yAxis->range().lower, 0.0);
        QCOMPARE(chart.yAxis->tickVector(), QVector<double>{0});
        QCOMPARE(chart.yAxis->tickVectorLabels(), QVector<QString>{QStringLiteral("0")});
        QVERIFY(!VoltageLineNear(chart, 15 / kDay, 11.5));
        QVERIFY(!VoltageLineNear(chart, 15 / kDay, 0));

        chart.SetLeftAxisMax(60);
        chart.replot();
        QCOMPARE(chart.yAxis->range(), QCPRange(0, 60));
        QVERIFY(chart.yAxis->tickVector().size() > 2);
    }

    // Any float a reading can hold is drawn in the direction it lies, however far off the plot:
    // the line to it leaves the plot straight up or down right after the point before it.
    void ExtremeValueLeavesThePlotItsWay_data() {
        QTest::addColumn<float>("voltage");
        QTest::addColumn<double>("passes");
        QTest::addColumn<double>("avoids");
        QTest::newRow("largest float") << std::numeric_limits<float>::max() << 55.0 << 5.0;
        QTest::newRow("lowest float") << std::numeric_limits<float>::lowest() << 5.0 << 55.0;
    }
    void ExtremeValueLeavesThePlotItsWay() {
        QFETCH(float, voltage);
        QFETCH(double, passes);
        QFETCH(double, avoids);
        TChartView chart;
        ShowAtDesignSize(chart);
        for (const int time : {0, 100, 300}) chart.AddChartPoints(Reading(time, 10, 2, 25));
        chart.AddChartPoints(Reading(200, voltage, 2, 25));
        QVERIFY(VoltageLineNear(chart, 100 / kDay, passes));
        QVERIFY(!VoltageLineNear(chart, 100 / kDay, avoids));
    }

    // Readings faster than frames are drawn together: a thousand added in one go are on screen
    // after one repaint, soon, not after a thousand.
    void ReadingsAreRepaintedOncePerFrame() {
        TChartView chart;
        ShowAtDesignSize(chart);
        struct TPaintCounter : QObject {
            int Count = 0;
            bool eventFilter(QObject*, QEvent* event) override {
                if (event->type() == QEvent::Paint) ++Count;
                return false;
            }
        } paints;
        chart.installEventFilter(&paints);
        for (int time = 0; time < 1000; ++time) chart.AddChartPoints(Reading(time, 12, 5, 25));
        QCOMPARE(paints.Count, 0);
        QTRY_VERIFY_WITH_TIMEOUT(paints.Count > 0, 10000);
        // Once the chart's frame timer has run out, no frame is left to come for them.
        const QList<QTimer*> timers = chart.findChildren<QTimer*>(Qt::FindDirectChildrenOnly);
        QVERIFY(!timers.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(
            std::none_of(timers.begin(), timers.end(), [](QTimer* t) { return t->isActive(); }),
            10000);
        QCoreApplication::processEvents();  // a repaint it asked for last
        QVERIFY(paints.Count <= 2);  // the frame, and perhaps one the window system asked for
        QVERIFY(VoltageLineNear(chart, 500 / kDay, 12));
    }

    void AxisButtonsStayAtTheirCorners() {
        TChartView chart;
        ShowAtDesignSize(chart);
        QToolButton* left = chart.LeftAxisButton();
        QToolButton* right = chart.RightAxisButton();
        QCOMPARE(left->objectName(), QStringLiteral("bLeftAxis"));
        QCOMPARE(right->objectName(), QStringLiteral("bRightAxis"));
        QCOMPARE(left->toolTip(), QStringLiteral("Set maximum value for voltage axis"));
        QCOMPARE(right->toolTip(), QStringLiteral("Set maximum value for current axis"));
        QCOMPARE(left->text(), QStringLiteral("..."));
        QCOMPARE(left->geometry(), QRect(0, 0, 17, 17));
        QCOMPARE(right->geometry(), QRect(465, 0, 17, 17));

        chart.resize(800, 300);
        QCOMPARE(left->geometry(), QRect(0, 0, 17, 17));
        QCOMPARE(right->geometry(), QRect(chart.width() - 57, 0, 17, 17));

        QSignalSpy leftClicks(&chart, &TChartView::LeftAxisButtonClicked);
        QSignalSpy rightClicks(&chart, &TChartView::RightAxisButtonClicked);
        right->click();
        QCOMPARE(leftClicks.count(), 0);
        QCOMPARE(rightClicks.count(), 1);
        left->click();
        QCOMPARE(leftClicks.count(), 1);
    }

    // Whatever order tests put their readings in, they stay sorted by time, readings with equal
    // times in the order they came; Insert tells where each went, and positions, bounds and the
    // walk over blocks agree on them after blocks were split among earlier readings.
    void InsertAmongEarlierReadingsKeepsTimeAndArrivalOrder_data() { AddArrivalOrders(); }
    void InsertAmongEarlierReadingsKeepsTimeAndArrivalOrder() {
        QFETCH(QList<int>, times);
        const std::vector<TDeviceReading> arrived = ArrivingReadings(times);
        TChartReadings readings;
        for (const TDeviceReading& reading : arrived) {
            const size_t position = readings.Insert(reading);
            QCOMPARE(readings.Value(TChartReadings::kAmpHours, position), double(reading.AmpHours));
        }
        const std::vector<TDeviceReading> expected = InTimeOrder(arrived);
        QCOMPARE(readings.Size(), expected.size());
        size_t index = 0;
        for (size_t b = 0; b < readings.BlockCount(); ++b) {
            const TChartReadings::TBlockView block = readings.Block(b);
            for (size_t at = 0; at < block.Size; ++at, ++index) {
                QCOMPARE(block.Seconds[at], expected[index].TestTime);
                QCOMPARE(Arrival(block.AmpHours[at]), Arrival(expected[index].AmpHours));
                QCOMPARE(readings.Seconds(index), expected[index].TestTime);
                QCOMPARE(readings.Value(TChartReadings::kAmpHours, index),
                         double(expected[index].AmpHours));
            }
        }
        QCOMPARE(index, expected.size());
        const auto byTime = [](const TDeviceReading& r, int time) { return r.TestTime < time; };
        const auto timeBefore = [](int time, const TDeviceReading& r) { return time < r.TestTime; };
        for (int time = expected.front().TestTime - 1; time <= expected.back().TestTime + 1;
             ++time) {
            const auto lower = std::lower_bound(expected.begin(), expected.end(), time, byTime);
            const auto upper = std::upper_bound(expected.begin(), expected.end(), time, timeBefore);
            QCOMPARE(readings.LowerBound(time), size_t(lower - expected.begin()));
            QCOMPARE(readings.UpperBound(time), size_t(upper - expected.begin()));
        }
    }

    // The index answers for any run of readings exactly what a look at each one would, after
    // readings were inserted among earlier ones in any order (splitting full blocks), some of
    // them not numbers.
    void ValueRangeIndexMatchesEveryReading_data() { AddArrivalOrders(); }
    void ValueRangeIndexMatchesEveryReading() {
        QFETCH(QList<int>, times);
        const std::vector<TDeviceReading> arrived = ArrivingReadings(times);
        TChartReadings readings;
        for (const TDeviceReading& reading : arrived) readings.Insert(reading);
        const std::vector<TDeviceReading> expected = InTimeOrder(arrived);
        const size_t size = expected.size();
        QRandomGenerator random(20240603);
        for (int check = 0; check < 2000; ++check) {
            size_t first = check == 0 ? 0 : random.bounded(quint64{size + 1});
            size_t last = check == 0 ? size : random.bounded(quint64{size + 1});
            if (first > last) std::swap(first, last);
            for (int q = 0; q < TChartReadings::kQuantityCount; ++q) {
                const auto quantity = static_cast<TChartReadings::TQuantity>(q);
                TValueSpan scanned;
                for (size_t i = first; i < last; ++i) {
                    const double value = QuantityOf(expected[i], quantity);
                    if (!std::isnan(value)) scanned.Extend(value);
                }
                const TValueSpan found = readings.ValueRange(quantity, first, last);
                QCOMPARE(found.Low, scanned.Low);
                QCOMPARE(found.High, scanned.High);
            }
        }
        // A run asked for past the last reading ends at it, instead of reading beyond the blocks.
        const TValueSpan whole = readings.ValueRange(TChartReadings::kVoltage, 0, size);
        const TValueSpan beyond = readings.ValueRange(TChartReadings::kVoltage, 0, size + 100);
        QCOMPARE(beyond.Low, whole.Low);
        QCOMPARE(beyond.High, whole.High);
    }

    // Readings that land among earlier ones split blocks; the halves, and a chart of a few
    // readings (a compared log holds one per test), take about what readings appended in order
    // take: 17 bytes each, their index, and little room to spare.
    void LaterTestsAmongEarlierOnesKeepMemoryPerReadingBounded_data() {
        AddArrivalOrders();
        QTest::newRow("ten readings") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    }
    void LaterTestsAmongEarlierOnesKeepMemoryPerReadingBounded() {
        QFETCH(QList<int>, times);
        TChartReadings readings;
        for (const TDeviceReading& reading : ArrivingReadings(times)) readings.Insert(reading);
        const size_t bound = 24 * readings.Size() + 2048;  // a block's bookkeeping beside
        QVERIFY2(readings.MemoryBytes() <= bound, qPrintable(QString("%1 bytes for %2 readings")
                                                                 .arg(readings.MemoryBytes())
                                                                 .arg(readings.Size())));
    }

    // Thousands of points share a pixel column; the one reading that stands out must still be
    // drawn, wherever it was inserted.
    void SampledLineKeepsLoneSpike_data() {
        QTest::addColumn<int>("spikeTime");
        QTest::newRow("appended") << 100000;
        QTest::newRow("inserted among earlier points") << 50000;
        QTest::newRow("inserted before every point") << -1;
    }
    void SampledLineKeepsLoneSpike() {
        QFETCH(int, spikeTime);
        TChartView chart;
        ShowAtDesignSize(chart);
        for (int time = 0; time < 100001; ++time) {
            chart.AddChartPointsWithoutRepaint(Reading(time, 10, 1, 20));
        }
        chart.AddChartPoints(Reading(spikeTime, 50, 1, 20));
        QVERIFY(VoltageLineNear(chart, spikeTime / kDay, 30));
        QVERIFY(!VoltageLineNear(chart, 25000 / kDay, 30));
        QVERIFY(VoltageLineNear(chart, 25000 / kDay, 10));
    }

    // The wheel over an axis narrows that axis only, over the plot all three, and then new
    // readings no longer move the bottom axis; a double click returns to the inputs' ranges and
    // to following the test.
    void WheelZoomsTheAxisUnderItAndDoubleClickReturns() {
        TChartView chart;
        ShowAtDesignSize(chart);
        for (int time = 0; time <= 600; time += 10) chart.AddChartPoints(Reading(time, 12, 2, 25));
        const QRect plot = chart.axisRect()->rect();
        const auto wheel = [&](QPoint at) {
            QWheelEvent event(at, chart.mapToGlobal(at), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(&chart, &event);
        };
        const QCPRange bottom = chart.xAxis->range();
        wheel({plot.left() - 10, plot.center().y()});  // over the left axis
        QVERIFY(chart.yAxis->range().size() < 60);
        QCOMPARE(chart.yAxis2->range(), QCPRange(0, 10));
        QCOMPARE(chart.xAxis->range(), bottom);
        QVERIFY(chart.Following());

        wheel(plot.center());  // over the plot
        QVERIFY(chart.xAxis->range().size() < bottom.size());
        QVERIFY(chart.yAxis2->range().size() < 10);
        QVERIFY(!chart.Following());
        const QCPRange zoomed = chart.xAxis->range();
        chart.AddChartPoints(Reading(1200, 12, 2, 25));
        QCOMPARE(chart.xAxis->range(), zoomed);

        QTest::mouseDClick(&chart, Qt::LeftButton, {}, plot.center());
        QVERIFY(chart.Following());
        QCOMPARE(chart.yAxis->range(), QCPRange(0, 60));
        QCOMPARE(chart.yAxis2->range(), QCPRange(0, 10));
        QCOMPARE(chart.xAxis->range(), QCPRange(0, 1200 / kDay));
    }

    void HoverReadsOutTheNearestReading() {
        TChartView chart;
        ShowAtDesignSize(chart);
        chart.AddChartPoints(Reading(0, 12.5f, 2.0f, 25));
        chart.AddChartPoints(Reading(3725, 11.25f, 1.5f, 31));
        chart.AddChartPoints(Reading(7200, 10.0f, 1.0f, 33));
        const auto hover = [&](QPointF at) {
            QMouseEvent move(QEvent::MouseMove, at, chart.mapToGlobal(at), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(&chart, &move);
        };
        hover(
            {chart.xAxis->coordToPixel(3700 / kDay), chart.axisRect()->rect().center().y() + 0.0});
        const QString text = chart.ReadoutText();
        QVERIFY2(text.startsWith("01:02:05") && text.contains(L("11.250") + " V") &&
                     text.contains(L("1.500") + " A") && text.contains("31 °C"),
                 qPrintable(text));
        hover({5, 300});  // off the plot
        QVERIFY(chart.ReadoutText().isEmpty());
    }

    void SavedChartIsAPngOrAPdf() {
        TChartView chart;
        ShowAtDesignSize(chart);
        for (int time = 0; time < 100; ++time) chart.AddChartPoints(Reading(time, 12, 2, 25));
        QTemporaryDir folder;
        for (const char* name : {"/chart.png", "/chart.pdf"}) {
            QVERIFY(chart.SaveChart(folder.path() + name));
            QFile file(folder.path() + name);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray head = file.read(8);
            QVERIFY2(head.startsWith("\x89PNG") || head.startsWith("%PDF"), name);
        }
        QVERIFY(!chart.SaveChart(folder.path() + "/missing/chart.png"));
    }

    // Each test of a compared log is drawn against its own elapsed time, or its Ah; removing the
    // log takes its curves away and leaves the live ones.
    void ComparedLogDrawsEachTestUntilRemoved() {
        TChartView chart;
        chart.AddChartPoints(Reading(5, 12, 2, 25));
        TLoggedTests log;
        log.Path = "/logs/Log_20261206_190357.csv";
        log.Date = "2026-12-06";
        log.Tests = {{1, {{0, 4.2f, 1.5f, 0}, {60, 4.0f, 1.5f, 0.025f}}},
                     {2, {}},
                     {3, {{0, 3.9f, 1.0f, 0}}}};
        const TComparedTests::TEntry entry = chart.CompareWith(log);
        QCOMPARE(entry.Label, QString("Log_20261206_190357.csv"));
        QCOMPARE(chart.plottableCount(), 3 + 4);  // V and A of the two tests with points
        const auto* first = qobject_cast<TReadingLine*>(chart.plottable(3));
        QCOMPARE(first->name(), QString("2026-12-06 #1"));
        QCOMPARE(first->KeyAt(1), 60 / kDay);
        QCOMPARE(first->ValueAt(1), 4.0);
        chart.SetBottomKey(TChartView::kAmpHoursKey);
        QCOMPARE(first->KeyAt(1), double(0.025f));
        chart.RemoveCompared(entry.Id);
        QCOMPARE(chart.plottableCount(), 3);
        QVERIFY(chart.ComparedLogs().empty());
    }

    void ElapsedTimeText_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "00:00:00";
        QTest::newRow("one hour two minutes five seconds") << 3725.0 << "01:02:05";
        QTest::newRow("just under 100 hours") << 359999.0 << "99:59:59";
        QTest::newRow("100 hours") << 360000.0 << "100:00:00";
        QTest::newRow("past 255 hours, no wrap") << 1080001.0 << "300:00:01";
        QTest::newRow("before the start") << -1.0 << "-00:00:01";
    }
    void ElapsedTimeText() {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(TElapsedTimeTicker::ElapsedTimeText(seconds / kDay), text);
    }

    void BottomTicksFallOnWholeHoursOverLongTests() {
        TChartView chart;
        ShowAtDesignSize(chart);
        chart.AddChartPoints(Reading(0, 12, 2, 25));
        chart.AddChartPoints(Reading(300 * 3600, 11, 2, 25));
        chart.replot();
        const QVector<QString> labels = chart.xAxis->tickVectorLabels();
        QVERIFY2(labels.size() >= 2 && labels.size() <= 10,
                 qPrintable(QStringList(labels).join(' ')));
        for (const QString& label : labels) QVERIFY2(label.endsWith(":00:00"), qPrintable(label));
    }
};

QTEST_MAIN(ChartViewTest)
#include "ChartView_test.moc"
