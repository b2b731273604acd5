#pragma once
// How one cell fades: its capacity (Ah, left axis, from the tests that ended at the cutoff
// voltage; the others measured none) and its internal resistance (mΩ, right axis) over the
// tests' end dates, with its rated capacity as a dashed line when one is known. The capacity axis
// starts at 0, so a fade reads as a share of what the cell holds. Dates are those of the
// station's clock. Window's thread only.

#include <qcustomplot.h>

#include <optional>
#include <vector>

#include "records/Register.h"

class TCellFadeChart : public QCustomPlot {
    Q_OBJECT

  public:
    explicit TCellFadeChart(QWidget* parent = nullptr);

    // Draws `tests` (any order) of `cell`; repaints.
    void Show(const QString& cell, const std::vector<TRegisteredTest>& tests,
              const std::optional<double>& ratedAh);
    // An empty chart; repaints.
    void ShowNothing();

    // Owned by the plot. Keys are seconds since 1970 of the end as its station's clock read it.
    QCPGraph* Capacity() const { return FCapacity; }
    QCPGraph* Resistance() const { return FResistance; }

  private:
    void FitAxes(const std::optional<double>& ratedAh);

    QCPGraph* FCapacity = nullptr;
    QCPGraph* FResistance = nullptr;
    QCPTextElement* FTitle = nullptr;
    QCPItemStraightLine* FRated = nullptr;
    QCPItemText* FRatedLabel = nullptr;
    QSharedPointer<QCPAxisTickerDateTime> FDates;
};
