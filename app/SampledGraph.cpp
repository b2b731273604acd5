#include "app/SampledGraph.h"

#include <cmath>

int TIndexedPoints::Insert(double key, double value) {
    const QCPGraphData point(key, value);
    int position = size();
    if (isEmpty() || key >= (constEnd() - 1)->key) {
        mData.append(point);
    } else {
        const auto after = std::upper_bound(
            begin(), end(), key, [](double k, const QCPGraphData& p) { return k < p.key; });
        position = static_cast<int>(after - begin());
        mData.insert(after, point);
    }
    Reindex(position);
    return position;
}

void TIndexedPoints::Clear() {
    clear();
    FLevels.clear();
    FIndexedCount = 0;
}

TValueSpan TIndexedPoints::UnitSpan(size_t level, int unit) const {
    if (level > 0) return FLevels[level - 1][unit];
    const double value = (constBegin() + unit)->value;
    if (std::isnan(value)) return {};
    return {value, value};
}

void TIndexedPoints::Reindex(int from) {
    int unitsBelow = size();
    int changedBelow = from;
    size_t level = 0;
    for (; unitsBelow > 1; ++level) {
        if (FLevels.size() == level) FLevels.emplace_back();
        std::vector<TValueSpan>& blocks = FLevels[level];
        const int blockCount = (unitsBelow + kFanOut - 1) / kFanOut;
        blocks.resize(blockCount);
        for (int block = changedBelow / kFanOut; block < blockCount; ++block) {
            const int end = std::min(unitsBelow, (block + 1) * kFanOut);
            TValueSpan span;
            for (int unit = block * kFanOut; unit < end; ++unit) span.Extend(UnitSpan(level, unit));
            blocks[block] = span;
        }
        changedBelow /= kFanOut;
        unitsBelow = blockCount;
    }
    FLevels.resize(level);
    FIndexedCount = size();
}

TValueSpan TIndexedPoints::ValueRange(int first, int last) const {
    TValueSpan span;
    size_t level = 0;
    // Peel the ends up to block boundaries, then go one level up with the whole blocks between.
    while (first < last) {
        if (level >= FLevels.size() || last - first < 2 * kFanOut) {
            for (int unit = first; unit < last; ++unit) span.Extend(UnitSpan(level, unit));
            break;
        }
        for (; first < last && first % kFanOut != 0; ++first) span.Extend(UnitSpan(level, first));
        for (; last > first && last % kFanOut != 0; --last) span.Extend(UnitSpan(level, last - 1));
        first /= kFanOut;
        last /= kFanOut;
        ++level;
    }
    return span;
}

TSampledGraph::TSampledGraph(QCPAxis* keyAxis, QCPAxis* valueAxis)
    : QCPGraph(keyAxis, valueAxis), FPoints(new TIndexedPoints) {
    setData(FPoints);
}

QRect TSampledGraph::clipRect() const {
    const int overhang = qCeil(pen().widthF() / 2);
    return QCPGraph::clipRect().adjusted(-overhang, 0, overhang, 0);
}

void TSampledGraph::getOptimizedLineData(QVector<QCPGraphData>* lineData,
                                         const QCPGraphDataContainer::const_iterator& begin,
                                         const QCPGraphDataContainer::const_iterator& end) const {
    if (!lineData) return;
    if (mKeyAxis && mAdaptiveSampling && FPoints->IndexCurrent()) {
        SampleByColumn(*lineData, begin, end);
    } else {
        QCPGraph::getOptimizedLineData(lineData, begin, end);
    }
    KeepWithinDrawingReach(*lineData);
}

void TSampledGraph::KeepWithinDrawingReach(QVector<QCPGraphData>& lineData) const {
    if (!mValueAxis) return;
    const QCPRange range = mValueAxis->range();
    const double reach = kDrawingReach * range.size();
    for (QCPGraphData& point : lineData) {
        point.value = std::clamp(point.value, range.lower - reach, range.upper + reach);
    }
}

void TSampledGraph::SampleByColumn(QVector<QCPGraphData>& lineData,
                                   const QCPGraphDataContainer::const_iterator& begin,
                                   const QCPGraphDataContainer::const_iterator& end) const {
    const QCPAxis* keyAxis = mKeyAxis.data();
    lineData.clear();
    const auto points = FPoints->constBegin();
    const int first = static_cast<int>(begin - points);
    const int last = static_cast<int>(end - points);
    if (first >= last) return;

    // As many points as pixels, or fewer: every point is drawn.
    const double pixelSpan =
        std::fabs(keyAxis->coordToPixel(begin->key) - keyAxis->coordToPixel((end - 1)->key));
    if (last - first < 2 * pixelSpan + 2) {
        lineData.reserve(last - first);
        for (auto it = begin; it != end; ++it) lineData.append(*it);
        return;
    }

    // Column by column: the points of a pixel column are a run, found by binary search, since
    // the points are sorted by key. Only columns that hold points are visited.
    const double direction = keyAxis->pixelOrientation();
    lineData.reserve(4 * static_cast<int>(std::min<double>(pixelSpan + 2, last - first)));
    for (int run = first; run < last;) {
        const double column = std::floor(keyAxis->coordToPixel((points + run)->key) * direction);
        const double columnEnd = keyAxis->pixelToCoord((column + 1) * direction);
        const int runEnd = static_cast<int>(
            std::lower_bound(points + run + 1, end, columnEnd,
                             [](const QCPGraphData& p, double key) { return p.key < key; }) -
            points);
        const QCPGraphData& head = *(points + run);
        const QCPGraphData& tail = *(points + runEnd - 1);
        if (runEnd - run <= 2) {
            lineData.append(head);
            if (runEnd - run == 2) lineData.append(tail);
        } else {
            const TValueSpan span = FPoints->ValueRange(run, runEnd);
            lineData.append(head);
            if (span.Empty()) {
                lineData.append(QCPGraphData(head.key, std::nan("")));
            } else {
                lineData.append(QCPGraphData(head.key, span.Low));
                lineData.append(QCPGraphData(head.key, span.High));
            }
            lineData.append(tail);
        }
        run = runEnd;
    }
}
