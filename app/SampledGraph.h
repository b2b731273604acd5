#pragma once
// A line series for millions of points: the points sorted by key with an index of value ranges,
// and a graph that samples its line per pixel column from that index, so that a drawing costs
// about the plot's width in points whatever the number of points. Window's thread only.

#include <qcustomplot.h>

#include <QSharedPointer>
#include <algorithm>
#include <limits>
#include <vector>

// The smallest and largest of some values; empty (Low > High) when there were none.
struct TValueSpan {
    double Low = std::numeric_limits<double>::infinity();
    double High = -std::numeric_limits<double>::infinity();

    bool Empty() const { return Low > High; }
    void Extend(const TValueSpan& other) {
        Low = std::min(Low, other.Low);
        High = std::max(High, other.High);
    }
};

// A series' points, sorted by key, with an index of value ranges (the smallest and largest value
// of each block of 16, 256, 4096, ... consecutive points) that gives the value range of any run
// of points in O(log n). Change the points only through Insert and Clear: the container's own
// add, remove and set leave the index behind, and IndexCurrent() then turns false.
class TIndexedPoints : public QCPGraphDataContainer {
  public:
    // Inserts the point after any points with the same key; returns its position. Appending
    // (key not below the last key) costs O(log n); any other position costs O(n).
    int Insert(double key, double value);
    void Clear();

    bool IndexCurrent() const { return FIndexedCount == size(); }
    // Value range of the points first .. last - 1 (0 <= first <= last <= size()); NaN values
    // are left out.
    TValueSpan ValueRange(int first, int last) const;

  private:
    static constexpr int kFanOut = 16;

    void Reindex(int from);
    // Unit `unit` of level `level`: a point when level is 0, else FLevels[level - 1][unit].
    TValueSpan UnitSpan(size_t level, int unit) const;

    // FLevels[k][j]: value range of points j * 16^(k+1) .. (j+1) * 16^(k+1) - 1 (the last block
    // of a level may hold fewer).
    std::vector<std::vector<TValueSpan>> FLevels;
    int FIndexedCount = 0;
};

// A line graph over TIndexedPoints that samples its line per pixel column: a column holding more
// than two points is drawn as its first point, its value range and its last point, which covers
// the same pixels as drawing every point. Owned by the plot of its axes, like any graph.
class TSampledGraph : public QCPGraph {
  public:
    TSampledGraph(QCPAxis* keyAxis, QCPAxis* valueAxis);

    TIndexedPoints& Points() { return *FPoints; }
    const TIndexedPoints& Points() const { return *FPoints; }

  protected:
    // The bottom axis ends exactly at the first and last points, so their lines lie on the plot
    // area's left and right edges: the clip lets half the line width past those edges, or a
    // rise or fall at the newest reading would be cut away.
    QRect clipRect() const override;
    void getOptimizedLineData(QVector<QCPGraphData>* lineData,
                              const QCPGraphDataContainer::const_iterator& begin,
                              const QCPGraphDataContainer::const_iterator& end) const override;

  private:
    // Lines drawn without antialiasing go through whole pixels, and a value many millions of
    // pixels off the plot (a huge reading, or any reading against an axis without width) would
    // overflow them. Values are held within this many axis ranges beyond the axis, far enough
    // that where a line leaves the plot moves by a small part of a pixel.
    static constexpr double kDrawingReach = 1e5;

    void SampleByColumn(QVector<QCPGraphData>& lineData,
                        const QCPGraphDataContainer::const_iterator& begin,
                        const QCPGraphDataContainer::const_iterator& end) const;
    void KeepWithinDrawingReach(QVector<QCPGraphData>& lineData) const;

    QSharedPointer<TIndexedPoints> FPoints;  // shared with the base class as its data
};
