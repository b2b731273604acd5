#pragma once
// The console's chart: voltage, current and temperature against the test time while a test
// runs, with the two buttons that open the inputs for the vertical axes' maxima.
//
// Series, addressed by index: 0 "V" (blue, left axis), 1 "A" (red, right axis), 2 "t" (green,
// left axis). x is the test time in days (seconds / 86400); the bottom axis reads it as elapsed
// hours:minutes:seconds. Points stay sorted by x; a point goes after any points with the same x.
// Every drawing stretches the bottom axis over the plotted points; the left and right axes keep
// the range they were given.
//
// Used on the window's thread only. Drawing stays quick with millions of points per series:
// each line is sampled per pixel column from an index of value ranges, so a drawing costs about
// the chart's width in points, whatever the number of points.

#include <qcustomplot.h>

#include <QSharedPointer>
#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

#include "app/SampledGraph.h"
#include "device/DeviceReading.h"

class QToolButton;

class TChartView : public QCustomPlot {
    Q_OBJECT

  public:
    enum TSeriesIndex { kVoltageSeries = 0, kCurrentSeries = 1, kTemperatureSeries = 2 };

    explicit TChartView(QWidget* parent = nullptr);

    // Adds (x, Voltage) to series 0, (x, Current) to series 1 and (x, Temperature) to series 2,
    // x = TestTime / 86400, whatever the values (-1, "not read", is plotted as -1); raises the
    // bottom maximum to x when x is larger; repaints before returning.
    void AddChartPoints(const TDeviceReading& reading);
    // AddChartPoints without the repaint, for loading many readings at once.
    void AddChartPointsWithoutRepaint(const TDeviceReading& reading);
    // Removes every point of series 0, 1 and 2; axes are left as they are. Repaints soon.
    void Clear();

    // Axis maxima in the axis's unit (V, A, days). A setter refuses a maximum below the axis's
    // minimum (or not a number) with Exception("Axis Maximum Value must be >= Minimum") and
    // leaves the axis as it was; a maximum equal to the minimum is kept and read back as set.
    // The bottom maximum is replaced by the largest plotted x at every drawing.
    double LeftAxisMax() const { return FLeft.Max; }
    void SetLeftAxisMax(double value);
    double RightAxisMax() const { return FRight.Max; }
    void SetRightAxisMax(double value);
    double BottomAxisMax() const { return FBottom.Max; }
    void SetBottomAxisMax(double value);

    // The series at `index` (TSeriesIndex); owned by the chart.
    TSampledGraph* Series(int index) const { return FSeries.at(index); }

    // The 17 x 17 buttons "..." at the top corners; owned by the chart.
    QToolButton* LeftAxisButton() const { return FLeftAxisButton; }
    QToolButton* RightAxisButton() const { return FRightAxisButton; }

  signals:
    void LeftAxisButtonClicked();
    void RightAxisButtonClicked();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    // An axis's range as the program set it (Max may equal Min, which the axis itself cannot
    // show), and how the axis labels its ticks while its range has width.
    struct TAxisLimits {
        QCPAxis* Axis;
        double Min;
        double Max;
        QSharedPointer<QCPAxisTicker> Ticker;
        std::function<QString(double)> PinnedLabel;  // the one label of a zero-width range
    };

    void SetUpAxes();
    void SetUpSeries();
    void SetUpLegend();
    void SetUpButtons();
    // Sets the maximum without repainting; throws, changing nothing, when it is below Min.
    void ApplyMaximum(TAxisLimits& limits, double value);
    void ShowRange(const TAxisLimits& limits);
    void FitBottomAxisToPoints();
    void PlaceLegend();
    void PlaceAxisButtons();

    std::vector<TSampledGraph*> FSeries;  // in TSeriesIndex order; owned by the plot
    TAxisLimits FLeft;
    TAxisLimits FRight;
    TAxisLimits FBottom;
    QToolButton* FLeftAxisButton = nullptr;   // child of this widget
    QToolButton* FRightAxisButton = nullptr;  // child of this widget
};
