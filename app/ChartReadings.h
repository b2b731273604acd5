#pragma once
// The readings a chart holds, stored compactly for tests of days at many readings a second: per
// reading the test time in whole seconds (the x of the time axis, shared by every curve), the
// voltage, current and ampere-hours as single-precision values and the temperature byte, which
// is exactly what the tester reports: 17 bytes. Readings stay sorted by test time, a reading
// going after those with the same time. They are kept in blocks of a few thousand, each holding
// room for at most one run more than it has, and every block keeps the value range of each
// quantity in runs of 64 to 128 readings, which gives the value range of any run of readings
// without looking at each of them. A reading costs about the same time and memory wherever it
// lands (a later test starts again at 0 s, among the points of the earlier ones): it moves the
// readings after it in one block and widens one run, and a full block splits into two that hold
// no more room than they fill. Window's thread only.

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>
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
    // its position. Costs about the same in any order: see above.
    size_t Insert(const TDeviceReading& reading);
    // Insert for a reading loaded from a log.
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

    // The value range of `quantity` over the readings first .. last - 1 (last beyond Size() is
    // taken as Size()); NaN values are left out.
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
    // Where each block starts, as a Fenwick tree of the blocks' sizes: a reading added to a block
    // updates O(log blocks) sums instead of the start of every block after it.
    class TBlockStarts {
      public:
        // After a block was added or split; O(blocks), once in hundreds of readings.
        void Rebuild(const std::vector<std::unique_ptr<TBlock>>& blocks);
        void Grow(size_t block);  // `block` took one reading more
        // The readings in the blocks before `block`; all of them for BlockCount().
        size_t Before(size_t block) const;
        // The block holding reading `index` (below the readings' count) and the position in it.
        std::pair<size_t, size_t> Find(size_t index) const;
        size_t MemoryBytes() const { return FSums.capacity() * sizeof(size_t); }

      private:
        // FSums[i - 1]: the readings of blocks i - lowbit(i) .. i - 1, for i from 1.
        std::vector<size_t> FSums;
    };

    // A block's first and last test time, searched without touching the block.
    struct TBlockTimes {
        int32_t First;
        int32_t Last;
    };

    size_t Place(int32_t seconds, float volts, float amperes, int8_t celsius, float ampHours);
    // The block a reading at `seconds` goes into, with room for it.
    size_t BlockWithRoomFor(int32_t seconds);
    void SplitBlock(size_t block);
    // Brings FStarts and FBlockTimes up to date after blocks were added or split; a new, empty
    // block gets its times from the reading placed in it.
    void BlocksChanged();
    // The first reading whose test time passes `before` (a predicate true for the times that
    // come before the reading looked for); Size() when there is none.
    template <typename Before>
    size_t FirstPast(Before before) const;

    std::vector<std::unique_ptr<TBlock>> FBlocks;
    TBlockStarts FStarts;
    std::vector<TBlockTimes> FBlockTimes;  // per block
    size_t FSize = 0;
};
