#pragma once
// A bench tile's small chart: voltage (left axis) and current (right axis) of the running test
// against its elapsed time. A test of any length keeps a few thousand points (every reading while
// they are few, then every second, fourth, ... one), so that sixteen tiles of ten-hour tests cost
// little memory and drawing; the full view's chart keeps every reading. Repaints at most once a
// second. Window's thread only.

#include <qcustomplot.h>

#include "app/TestResults.h"
#include "device/DeviceReading.h"

class QTimer;

class TTileChart : public QCustomPlot {
    Q_OBJECT

  public:
    explicit TTileChart(QWidget* parent = nullptr);

    // A reading of the running test, its TestTime the test's elapsed seconds; one that goes back
    // in time begins a new test and clears the chart.
    void Add(const TDeviceReading& reading);
    // Points drawn now (of each of the two curves).
    int PointCount() const;

  private:
    void Draw();

    TTestCurves FCurves;
    double FLastTime = -1;
    QTimer* FFrame;
};
