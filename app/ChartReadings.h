#pragma once
// The readings a chart holds, stored compactly for tests of days at many readings a second: per
// reading the test time in whole seconds (the x of the time axis, shared by every curve), the
// voltage, current and ampere-hours as single-precision values and the temperature byte, which
// is exactly what the tester reports: 17 bytes. Readings stay sorted by test time, a reading
// going after those with the same time; they are kept in blocks of a few thousand, so that a
// reading inserted among earlier ones moves one block, and every block keeps the value range of
// each quantity in runs of 64 readings, which gives the value range of any run of readings
// without looking at each of them. Window's thread only.

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "device/DeviceReading.h"

// The smallest and largest of some values; empty (Low > High) when there were none.
struct TValueSpan {
    double Low = std::numeric_limits<double>::infinity();
    double High = -std::numeric_limits<double>::infinity();

    bool Empty() const { return Low > High; }
    void Extend(double value) {
        if (value < Low) Low = value;
        if (value > High) High = value;
    }
    void Extend(const TValueSpan& other) {
        if (other.Low < Low) Low = other.Low;
        if (other.High > High) High = other.High;
    }
};

class TChartReadings {
  public:
    enum TQuantity { kVoltage, kCurrent, kTemperature, kAmpHours, kQuantityCount };

    TChartReadings();
    ~TChartReadings();
    TChartReadings(const TChartReadings&) = delete;
    TChartReadings& operator=(const TChartReadings&) = delete;

    // Inserts the reading's test time and values, after any readings with the same time; returns
    // its position. Appending costs O(1); inserting among earlier readings moves one block.
    size_t Insert(const TDeviceReading& reading);
    // Appends a reading at `seconds` (loading a log); one below the last one's is inserted in its
    // place.
    void Append(int32_t seconds, float volts, float amperes, int8_t celsius, float ampHours);
    void Clear();

    size_t Size() const { return FSize; }
    bool Empty() const { return FSize == 0; }
    int32_t Seconds(size_t index) const;
    double Value(TQuantity quantity, size_t index) const;

    // The first reading whose test time is not below `seconds` (LowerBound) or above it
    // (UpperBound); Size() when there is none.
    size_t LowerBound(double seconds) const;
    size_t UpperBound(double seconds) const;

    // The value range of `quantity` over the readings first .. last - 1; NaN values are left out.
    TValueSpan ValueRange(TQuantity quantity, size_t first, size_t last) const;

    // The heap the readings take, their index included.
    size_t MemoryBytes() const;

    // The readings block by block, in order, for a walk over all of them.
    struct TBlockView {
        const int32_t* Seconds;
        const float* Volts;
        const float* Amperes;
        const int8_t* Celsius;
        const float* AmpHours;
        size_t Size;
    };
    size_t BlockCount() const { return FBlocks.size(); }
    TBlockView Block(size_t block) const;

    struct TBlock;  // a run of readings and its index (ChartReadings.cpp)

  private:
    // The block holding `index` and the position within it.
    std::pair<size_t, size_t> Locate(size_t index) const;
    void SplitBlock(size_t block);

    std::vector<std::unique_ptr<TBlock>> FBlocks;
    std::vector<size_t> FFirstIndex;  // FFirstIndex[b]: index of block b's first reading
    size_t FSize = 0;
};
