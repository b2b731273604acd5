#include "app/ChartReadings.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr size_t kBlockCapacity = 8192;  // readings; a full block that must take one more splits
constexpr size_t kRun = 64;              // readings per indexed run
constexpr size_t kIndexed = TChartReadings::kQuantityCount;

// A value range in single precision, which holds what the tester reports exactly.
struct TFloatSpan {
    float Low = std::numeric_limits<float>::infinity();
    float High = -std::numeric_limits<float>::infinity();
};

}  // namespace

struct TChartReadings::TBlock {
    std::vector<int32_t> Seconds;
    std::vector<float> Volts;
    std::vector<float> Amperes;
    std::vector<int8_t> Celsius;
    std::vector<float> AmpHours;
    std::array<std::vector<TFloatSpan>, kIndexed> Runs;  // per quantity, per run of kRun
    std::array<TValueSpan, kIndexed> Whole;              // per quantity, the whole block

    TBlock() {
        Seconds.reserve(kBlockCapacity);
        Volts.reserve(kBlockCapacity);
        Amperes.reserve(kBlockCapacity);
        Celsius.reserve(kBlockCapacity);
        AmpHours.reserve(kBlockCapacity);
    }

    size_t Size() const { return Seconds.size(); }

    double Value(TQuantity quantity, size_t at) const {
        switch (quantity) {
            case kVoltage:
                return Volts[at];
            case kCurrent:
                return Amperes[at];
            case kTemperature:
                return Celsius[at];
            default:
                return AmpHours[at];
        }
    }

    void Insert(size_t at, int32_t seconds, float volts, float amperes, int8_t celsius,
                float ampHours) {
        Seconds.insert(Seconds.begin() + static_cast<ptrdiff_t>(at), seconds);
        Volts.insert(Volts.begin() + static_cast<ptrdiff_t>(at), volts);
        Amperes.insert(Amperes.begin() + static_cast<ptrdiff_t>(at), amperes);
        Celsius.insert(Celsius.begin() + static_cast<ptrdiff_t>(at), celsius);
        AmpHours.insert(AmpHours.begin() + static_cast<ptrdiff_t>(at), ampHours);
        Reindex(at);
    }

    // Moves the readings from `at` on into `tail` (a new, empty block).
    void MoveTail(size_t at, TBlock& tail) {
        const auto from = static_cast<ptrdiff_t>(at);
        tail.Seconds.assign(Seconds.begin() + from, Seconds.end());
        tail.Volts.assign(Volts.begin() + from, Volts.end());
        tail.Amperes.assign(Amperes.begin() + from, Amperes.end());
        tail.Celsius.assign(Celsius.begin() + from, Celsius.end());
        tail.AmpHours.assign(AmpHours.begin() + from, AmpHours.end());
        Seconds.resize(at);
        Volts.resize(at);
        Amperes.resize(at);
        Celsius.resize(at);
        AmpHours.resize(at);
        Reindex(0);
        tail.Reindex(0);
    }

    // Brings the runs from the one holding `at` to the end, and the whole block, up to date.
    void Reindex(size_t at) {
        const size_t runs = (Size() + kRun - 1) / kRun;
        for (size_t q = 0; q < kIndexed; ++q) {
            std::vector<TFloatSpan>& spans = Runs[q];
            spans.resize(runs);
            for (size_t run = at / kRun; run < runs; ++run) {
                TFloatSpan span;
                const size_t end = std::min(Size(), (run + 1) * kRun);
                for (size_t i = run * kRun; i < end; ++i) {
                    const auto value = static_cast<float>(Value(static_cast<TQuantity>(q), i));
                    if (value < span.Low) span.Low = value;  // NaN compares false: left out
                    if (value > span.High) span.High = value;
                }
                spans[run] = span;
            }
            TValueSpan whole;
            for (const TFloatSpan& span : spans) {
                if (span.Low <= span.High) whole.Extend(TValueSpan{span.Low, span.High});
            }
            Whole[q] = whole;
        }
    }

    // The range of `quantity` over first .. last - 1 of this block.
    TValueSpan Range(TQuantity quantity, size_t first, size_t last) const {
        TValueSpan span;
        if (first == 0 && last == Size()) return Whole[quantity];
        const auto scan = [&](size_t from, size_t to) {
            for (size_t i = from; i < to; ++i) {
                const double value = Value(quantity, i);
                if (!std::isnan(value)) span.Extend(value);
            }
        };
        const size_t firstWholeRun = (first + kRun - 1) / kRun;
        const size_t endWholeRun = last / kRun;
        if (firstWholeRun >= endWholeRun) {
            scan(first, last);
            return span;
        }
        scan(first, firstWholeRun * kRun);
        for (size_t run = firstWholeRun; run < endWholeRun; ++run) {
            const TFloatSpan& s = Runs[quantity][run];
            if (s.Low <= s.High) span.Extend(TValueSpan{s.Low, s.High});
        }
        scan(endWholeRun * kRun, last);
        return span;
    }

    size_t MemoryBytes() const {
        size_t bytes =
            sizeof(TBlock) + Seconds.capacity() * sizeof(int32_t) +
            (Volts.capacity() + Amperes.capacity() + AmpHours.capacity()) * sizeof(float) +
            Celsius.capacity();
        for (const auto& spans : Runs) bytes += spans.capacity() * sizeof(TFloatSpan);
        return bytes;
    }
};

TChartReadings::TChartReadings() = default;
TChartReadings::~TChartReadings() = default;

std::pair<size_t, size_t> TChartReadings::Locate(size_t index) const {
    const auto after = std::upper_bound(FFirstIndex.begin(), FFirstIndex.end(), index);
    const auto block = static_cast<size_t>(after - FFirstIndex.begin()) - 1;
    return {block, index - FFirstIndex[block]};
}

int32_t TChartReadings::Seconds(size_t index) const {
    const auto [block, at] = Locate(index);
    return FBlocks[block]->Seconds[at];
}

double TChartReadings::Value(TQuantity quantity, size_t index) const {
    const auto [block, at] = Locate(index);
    return FBlocks[block]->Value(quantity, at);
}

size_t TChartReadings::Insert(const TDeviceReading& reading) {
    const int32_t seconds = reading.TestTime;
    if (FBlocks.empty() || seconds >= FBlocks.back()->Seconds.back()) {
        Append(seconds, reading.Voltage, reading.Current, reading.Temperature, reading.AmpHours);
        return FSize - 1;
    }
    // The block whose readings the new one goes among: the last one that starts at or below it.
    const auto startsAfter =
        std::upper_bound(FBlocks.begin(), FBlocks.end(), seconds,
                         [](int32_t s, const auto& block) { return s < block->Seconds.front(); });
    size_t block =
        startsAfter == FBlocks.begin() ? 0 : static_cast<size_t>(startsAfter - FBlocks.begin()) - 1;
    if (FBlocks[block]->Size() >= kBlockCapacity) {
        SplitBlock(block);
        if (seconds >= FBlocks[block + 1]->Seconds.front()) ++block;
    }
    TBlock& target = *FBlocks[block];
    const size_t at = static_cast<size_t>(
        std::upper_bound(target.Seconds.begin(), target.Seconds.end(), seconds) -
        target.Seconds.begin());
    target.Insert(at, seconds, reading.Voltage, reading.Current, reading.Temperature,
                  reading.AmpHours);
    for (size_t later = block + 1; later < FFirstIndex.size(); ++later) ++FFirstIndex[later];
    ++FSize;
    return FFirstIndex[block] + at;
}

void TChartReadings::Append(int32_t seconds, float volts, float amperes, int8_t celsius,
                            float ampHours) {
    if (!FBlocks.empty() && seconds < FBlocks.back()->Seconds.back()) {
        TDeviceReading reading{};  // out of order after all: put in its place
        reading.TestTime = seconds;
        reading.Voltage = volts;
        reading.Current = amperes;
        reading.Temperature = celsius;
        reading.AmpHours = ampHours;
        Insert(reading);
        return;
    }
    if (FBlocks.empty() || FBlocks.back()->Size() >= kBlockCapacity) {
        FBlocks.push_back(std::make_unique<TBlock>());
        FFirstIndex.push_back(FSize);
    }
    TBlock& last = *FBlocks.back();
    last.Insert(last.Size(), seconds, volts, amperes, celsius, ampHours);
    ++FSize;
}

void TChartReadings::SplitBlock(size_t block) {
    auto tail = std::make_unique<TBlock>();
    const size_t half = FBlocks[block]->Size() / 2;
    FBlocks[block]->MoveTail(half, *tail);
    FBlocks.insert(FBlocks.begin() + static_cast<ptrdiff_t>(block) + 1, std::move(tail));
    FFirstIndex.insert(FFirstIndex.begin() + static_cast<ptrdiff_t>(block) + 1,
                       FFirstIndex[block] + half);
}

void TChartReadings::Clear() {
    FBlocks.clear();
    FFirstIndex.clear();
    FSize = 0;
}

// The first reading in `blocks` whose test time passes `before` (a predicate true for the times
// that come before the reading looked for); blocks are sorted, so are their last readings.
template <typename Before>
size_t FirstPast(const std::vector<std::unique_ptr<TChartReadings::TBlock>>& blocks,
                 const std::vector<size_t>& firstIndex, size_t size, Before before) {
    const auto block = std::partition_point(
        blocks.begin(), blocks.end(), [&](const auto& b) { return before(b->Seconds.back()); });
    if (block == blocks.end()) return size;
    const auto& seconds = (*block)->Seconds;
    const auto at = std::partition_point(seconds.begin(), seconds.end(), before);
    return firstIndex[static_cast<size_t>(block - blocks.begin())] +
           static_cast<size_t>(at - seconds.begin());
}

size_t TChartReadings::LowerBound(double seconds) const {
    return FirstPast(FBlocks, FFirstIndex, FSize, [seconds](int32_t s) { return s < seconds; });
}

size_t TChartReadings::UpperBound(double seconds) const {
    return FirstPast(FBlocks, FFirstIndex, FSize, [seconds](int32_t s) { return s <= seconds; });
}

TValueSpan TChartReadings::ValueRange(TQuantity quantity, size_t first, size_t last) const {
    TValueSpan span;
    if (first >= last) return span;
    auto [block, at] = Locate(first);
    size_t left = last - first;
    while (left > 0) {
        const TBlock& b = *FBlocks[block];
        const size_t take = std::min(left, b.Size() - at);
        span.Extend(b.Range(quantity, at, at + take));
        left -= take;
        ++block;
        at = 0;
    }
    return span;
}

size_t TChartReadings::MemoryBytes() const {
    size_t bytes =
        FBlocks.capacity() * sizeof(FBlocks[0]) + FFirstIndex.capacity() * sizeof(size_t);
    for (const auto& block : FBlocks) bytes += block->MemoryBytes();
    return bytes;
}

TChartReadings::TBlockView TChartReadings::Block(size_t block) const {
    const TBlock& b = *FBlocks[block];
    return {b.Seconds.data(), b.Volts.data(),    b.Amperes.data(),
            b.Celsius.data(), b.AmpHours.data(), b.Size()};
}
