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
// The operator reads the chart as an instrument: the mouse wheel over an axis zooms that axis,
// over the plot all three; dragging pans the same way; a double click returns to the axis
// inputs' ranges and to following the test. While the bottom axis is zoomed or panned, new
// readings do not move the view. Hovering the plot reads out the nearest reading. The bottom
// axis can show the ampere-hours delivered instead of the test time. Zoom, pan and the readout
// repaint at once.
//
// Used on the window's thread only. The three series share one store of readings (ChartReadings)
// and drawing stays quick with millions of them (ReadingLine).

#include <qcustomplot.h>

#include <QSharedPointer>
#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "app/ComparedTests.h"
#include "app/ReadingLine.h"
#include "device/DeviceReading.h"

class QTimer;
class QToolButton;
class QCPItemText;
class QCPItemTracer;

class TChartView : public QCustomPlot {
    Q_OBJECT

  public:
    enum TSeriesIndex { kVoltageSeries = 0, kCurrentSeries = 1, kTemperatureSeries = 2 };

    explicit TChartView(QWidget* parent = nullptr);

    // Adds (x, Voltage) to series 0, (x, Current) to series 1 and (x, Temperature) to series 2,
    // x = TestTime / 86400, whatever the values (-1, "not read", is plotted as -1); raises the
    // bottom maximum to x when x is larger; repaints within a frame: at most once every 33 ms,
    // however fast readings come, so that the window keeps up with a tester that answers at once.
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

    // What the bottom axis shows; switching returns to the inputs' ranges and to following.
    enum TBottomKey { kTestTimeKey, kAmpHoursKey };
    void SetBottomKey(TBottomKey key);
    TBottomKey BottomKey() const { return FBottomKey; }

    // Whether the bottom axis follows the test (it does unless the operator zoomed or panned it).
    bool Following() const { return FFollowing; }
    // Every axis back to the range its input gave it, the bottom axis following the test.
    void ResetView();
    // Zooms by `factor` (below 1 narrows) around the point under `pos`: the axis under it, or
    // all three when it is over the plot.
    void ZoomAt(const QPointF& pos, double factor);
    // Fits the left axis to the curves drawn on it (voltage and temperature) in the keys shown.
    void FitVoltage();
    // Writes the chart as it is shown to `path`, PDF when it ends in ".pdf", else PNG; false
    // when it cannot be written.
    bool SaveChart(const QString& path);
    // The readout's text, empty while it is hidden.
    QString ReadoutText() const;

    // Earlier tests beside the live ones (ComparedTests); the chart repaints.
    TComparedTests::TEntry CompareWith(const TLoggedTests& log);
    void RemoveCompared(int id);
    std::vector<TComparedTests::TEntry> ComparedLogs() const { return FCompared->Entries(); }

    // The series at `index` (TSeriesIndex); owned by the chart.
    TReadingLine* Series(int index) const { return FSeries.at(index); }
    // The readings the series draw.
    const TChartReadings& Readings() const { return *FReadings; }

    // The 17 x 17 buttons "..." at the top corners; owned by the chart.
    QToolButton* LeftAxisButton() const { return FLeftAxisButton; }
    QToolButton* RightAxisButton() const { return FRightAxisButton; }

  signals:
    void LeftAxisButtonClicked();
    void RightAxisButtonClicked();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

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
    // The axes under `pos`: one axis when it is over that axis, all three over the plot, none
    // elsewhere.
    QList<QCPAxis*> AxesAt(const QPointF& pos) const;
    // The operator moved these axes' view.
    void ViewChanged(const QList<QCPAxis*>& axes);
    void ShowReadout(const QPointF& pos);
    void HideReadout();
    // The reading nearest to `key` on the bottom axis as it is now, or Size() when there is none.
    size_t NearestReading(double key) const;

    std::shared_ptr<TChartReadings> FReadings;
    std::vector<TReadingLine*> FSeries;  // in TSeriesIndex order; owned by the plot
    TAxisLimits FLeft;
    TAxisLimits FRight;
    TAxisLimits FBottom;
    QToolButton* FLeftAxisButton = nullptr;   // child of this widget
    QToolButton* FRightAxisButton = nullptr;  // child of this widget
    std::unique_ptr<TComparedTests> FCompared;
    TBottomKey FBottomKey = kTestTimeKey;
    bool FFollowing = true;
    // Whether `reading`, not yet added, would leave the picture as it is (then no frame is
    // needed for it); keeps the pixel rows the readings at the newest test time cover.
    bool DrawnAlready(const TDeviceReading& reading);
    struct TPixelRows {
        double Top = 0;
        double Bottom = -1;  // empty
    };
    TPixelRows FNewestRows[3];  // per series, in TSeriesIndex order
    // A drag in progress: where it began and the ranges of the axes it moves.
    QPointF FDragFrom;
    QList<QPair<QCPAxis*, QCPRange>> FDragged;
    QTimer* FFrame = nullptr;               // the next repaint for new readings; child of this
    QCPItemTracer* FReadoutMark = nullptr;  // owned by the plot, on the overlay layer
    QCPItemText* FReadout = nullptr;        // likewise
};
