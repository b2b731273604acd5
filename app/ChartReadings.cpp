#include "app/ChartReadings.h"

#include <algorithm>
#include <bit>

namespace {

// Readings a block holds at most; a full block that must take one more splits in two. Large, so
// that drawing, which searches and reads the blocks for every pixel column, stays quick; a
// reading inserted among earlier ones moves the readings after it in its block, a few µs at most.
constexpr size_t kBlockLimit = 8192;
// Readings per indexed run as readings are appended; a run that readings inserted among earlier
// ones grow past twice this splits in two. A block's room grows by this much at a time.
constexpr size_t kRun = 64;
constexpr size_t kIndexed = TChartReadings::kQuantityCount;

// A value range in single precision, which holds what the tester reports exactly.
struct TFloatSpan {
    float Low = std::numeric_limits<float>::infinity();
    float High = -std::numeric_limits<float>::infinity();

    // NaN compares false both ways, so it is left out.
    void Extend(float value) {
        Low = value < Low ? value : Low;
        High = value > High ? value : High;
    }
    TValueSpan Widened() const { return Low <= High ? TValueSpan{Low, High} : TValueSpan{}; }
};

template <typename T>
TFloatSpan SpanOf(const T* column, size_t from, size_t to) {
    TFloatSpan span;
    for (size_t i = from; i < to; ++i) span.Extend(static_cast<float>(column[i]));
    return span;
}

// Gives `column` room for exactly `count` values; std::vector's own growth doubles, which would
// leave a block up to twice the room it fills.
template <typename T>
void ReserveExactly(std::vector<T>& column, size_t count) {
    std::vector<T> refitted;
    refitted.reserve(count);
    refitted.assign(column.begin(), column.end());
    column.swap(refitted);
}

}  // namespace

// The readings of a block, column by column, and its index: the block is cut into runs of
// consecutive readings, each with the value range of every quantity over it. Every run holds at
// least kRun readings but the last; an insertion widens the one run it lands in.
struct TChartReadings::TBlock {
    std::vector<int32_t> Seconds;
    std::vector<float> Volts;
    std::vector<float> Amperes;
    std::vector<int8_t> Celsius;
    std::vector<float> AmpHours;
    std::vector<uint32_t> RunEnds;  // per run, the position after its last reading
    std::array<std::vector<TFloatSpan>, kIndexed> Runs;  // per quantity, per run
    std::array<TValueSpan, kIndexed> Whole;              // per quantity, the whole block

    size_t Size() const { return Seconds.size(); }
    bool Full() const { return Size() >= kBlockLimit; }

    // Calls `use` with the column of `quantity`.
    template <typename Use>
    auto WithColumn(TQuantity quantity, Use use) const {
        switch (quantity) {
            case kVoltage:
                return use(Volts.data());
            case kCurrent:
                return use(Amperes.data());
            case kTemperature:
                return use(Celsius.data());
            default:
                return use(AmpHours.data());
        }
    }

    double Value(TQuantity quantity, size_t at) const {
        return WithColumn(quantity, [at](const auto* column) -> double { return column[at]; });
    }

    size_t RunCount() const { return RunEnds.size(); }
    // The run holding reading `at`; RunCount() when `at` is Size(). A binary search without
    // branches: drawing asks for every pixel column, and mispredicted steps cost more than the
    // rest of the look-up.
    size_t RunHolding(size_t at) const {
        if (RunEnds.empty()) return 0;
        const uint32_t* base = RunEnds.data();
        for (size_t count = RunEnds.size(); count > 1; count -= count / 2) {
            base = base[count / 2] <= at ? base + count / 2 : base;
        }
        return static_cast<size_t>(base - RunEnds.data()) + (*base <= at ? 1 : 0);
    }
    size_t RunBegin(size_t run) const { return run == 0 ? 0 : RunEnds[run - 1]; }

    // Room for exactly `readings` readings and as many runs as they can make.
    void Refit(size_t readings) {
        ReserveExactly(Seconds, readings);
        ReserveExactly(Volts, readings);
        ReserveExactly(Amperes, readings);
        ReserveExactly(Celsius, readings);
        ReserveExactly(AmpHours, readings);
        const size_t runs = (readings + kRun - 1) / kRun + 1;
        ReserveExactly(RunEnds, runs);
        for (auto& spans : Runs) ReserveExactly(spans, runs);
    }

    void Insert(size_t at, int32_t seconds, float volts, float amperes, int8_t celsius,
                float ampHours) {
        if (Size() == Seconds.capacity()) Refit(std::min(kBlockLimit, Size() + kRun));
        size_t run = RunHolding(at);
        if (run == RunCount()) {  // at the end: the last run takes it until it is a whole one
            if (run > 0 && RunEnds[run - 1] - RunBegin(run - 1) < kRun) {
                --run;
            } else {
                RunEnds.push_back(static_cast<uint32_t>(at));
                for (auto& spans : Runs) spans.emplace_back();
            }
        }
        const auto to = static_cast<ptrdiff_t>(at);
        Seconds.insert(Seconds.begin() + to, seconds);
        Volts.insert(Volts.begin() + to, volts);
        Amperes.insert(Amperes.begin() + to, amperes);
        Celsius.insert(Celsius.begin() + to, celsius);
        AmpHours.insert(AmpHours.begin() + to, ampHours);
        for (size_t later = run; later < RunEnds.size(); ++later) ++RunEnds[later];
        for (size_t q = 0; q < kIndexed; ++q) {
            const auto value = static_cast<float>(Value(static_cast<TQuantity>(q), at));
            Runs[q][run].Extend(value);
            Whole[q].Extend(value);  // NaN compares false: left out
        }
        if (RunEnds[run] - RunBegin(run) > 2 * kRun) SplitRun(run);
    }

    // Cuts `run` in two halves, each of at least kRun readings.
    void SplitRun(size_t run) {
        const size_t begin = RunBegin(run);
        const size_t end = RunEnds[run];
        const size_t middle = begin + (end - begin) / 2;
        RunEnds.insert(RunEnds.begin() + static_cast<ptrdiff_t>(run),
                       static_cast<uint32_t>(middle));
        for (size_t q = 0; q < kIndexed; ++q) {
            std::vector<TFloatSpan>& spans = Runs[q];
            WithColumn(static_cast<TQuantity>(q), [&](const auto* column) {
                spans.insert(spans.begin() + static_cast<ptrdiff_t>(run),
                             SpanOf(column, begin, middle));
                spans[run + 1] = SpanOf(column, middle, end);
            });
        }
    }

    // Moves the runs from the one holding the middle reading on, and their readings, into
    // `tail` (a new, empty block); both keep no more room than they fill.
    void MoveTailHalf(TBlock& tail) {
        const size_t keptRuns = std::max<size_t>(1, RunHolding(Size() / 2));
        const size_t at = RunEnds[keptRuns - 1];
        tail.Refit(Size() - at);
        const auto from = static_cast<ptrdiff_t>(at);
        tail.Seconds.assign(Seconds.begin() + from, Seconds.end());
        tail.Volts.assign(Volts.begin() + from, Volts.end());
        tail.Amperes.assign(Amperes.begin() + from, Amperes.end());
        tail.Celsius.assign(Celsius.begin() + from, Celsius.end());
        tail.AmpHours.assign(AmpHours.begin() + from, AmpHours.end());
        const auto runs = static_cast<ptrdiff_t>(keptRuns);
        for (auto end = RunEnds.begin() + runs; end != RunEnds.end(); ++end) {
            tail.RunEnds.push_back(static_cast<uint32_t>(*end - at));
        }
        for (size_t q = 0; q < kIndexed; ++q) {
            tail.Runs[q].assign(Runs[q].begin() + runs, Runs[q].end());
            Runs[q].resize(keptRuns);
        }
        Seconds.resize(at);
        Volts.resize(at);
        Amperes.resize(at);
        Celsius.resize(at);
        AmpHours.resize(at);
        RunEnds.resize(keptRuns);
        Refit(at);
        WholeFromRuns();
        tail.WholeFromRuns();
    }

    void WholeFromRuns() {
        for (size_t q = 0; q < kIndexed; ++q) {
            TValueSpan whole;
            for (const TFloatSpan& span : Runs[q]) whole.Extend(span.Widened());
            Whole[q] = whole;
        }
    }

    // The range of `quantity` over first .. last - 1 of this block: the runs it covers whole
    // from their index, the others reading by reading.
    TValueSpan Range(TQuantity quantity, size_t first, size_t last) const {
        if (first == 0 && last == Size()) return Whole[quantity];
        return WithColumn(quantity, [&](const auto* column) {
            TValueSpan span;
            size_t at = first;
            size_t run = RunHolding(first);
            if (RunBegin(run) < first) {
                at = std::min<size_t>(RunEnds[run], last);
                span = SpanOf(column, first, at).Widened();
                ++run;
            }
            for (; at < last && RunEnds[run] <= last; ++run) {
                span.Extend(Runs[quantity][run].Widened());
                at = RunEnds[run];
            }
            span.Extend(SpanOf(column, at, last).Widened());
            return span;
        });
    }

    size_t MemoryBytes() const {
        size_t bytes =
            sizeof(TBlock) + Seconds.capacity() * sizeof(int32_t) +
            (Volts.capacity() + Amperes.capacity() + AmpHours.capacity()) * sizeof(float) +
            Celsius.capacity() + RunEnds.capacity() * sizeof(uint32_t);
        for (const auto& spans : Runs) bytes += spans.capacity() * sizeof(TFloatSpan);
        return bytes;
    }
};

void TChartReadings::TBlockStarts::Rebuild(const std::vector<std::unique_ptr<TBlock>>& blocks) {
    FSums.assign(blocks.size(), 0);
    for (size_t i = 1; i <= FSums.size(); ++i) {
        FSums[i - 1] += blocks[i - 1]->Size();
        const size_t parent = i + (i & -i);
        if (parent <= FSums.size()) FSums[parent - 1] += FSums[i - 1];
    }
}

void TChartReadings::TBlockStarts::Grow(size_t block) {
    for (size_t i = block + 1; i <= FSums.size(); i += i & -i) ++FSums[i - 1];
}

size_t TChartReadings::TBlockStarts::Before(size_t block) const {
    size_t readings = 0;
    for (size_t i = block; i > 0; i -= i & -i) readings += FSums[i - 1];
    return readings;
}

std::pair<size_t, size_t> TChartReadings::TBlockStarts::Find(size_t index) const {
    size_t blocks = 0;  // blocks wholly before `index`
    for (size_t step = std::bit_floor(FSums.size()); step > 0; step /= 2) {
        if (blocks + step <= FSums.size() && FSums[blocks + step - 1] <= index) {
            blocks += step;
            index -= FSums[blocks - 1];
        }
    }
    return {blocks, index};
}

TChartReadings::TChartReadings() = default;
TChartReadings::~TChartReadings() = default;

int32_t TChartReadings::Seconds(size_t index) const {
    const auto [block, at] = FStarts.Find(index);
    return FBlocks[block]->Seconds[at];
}

double TChartReadings::Value(TQuantity quantity, size_t index) const {
    const auto [block, at] = FStarts.Find(index);
    return FBlocks[block]->Value(quantity, at);
}

size_t TChartReadings::Insert(const TDeviceReading& reading) {
    return Place(reading.TestTime, reading.Voltage, reading.Current, reading.Temperature,
                 reading.AmpHours);
}

void TChartReadings::Append(int32_t seconds, float volts, float amperes, int8_t celsius,
                            float ampHours) {
    Place(seconds, volts, amperes, celsius, ampHours);
}

size_t TChartReadings::Place(int32_t seconds, float volts, float amperes, int8_t celsius,
                             float ampHours) {
    const size_t block = BlockWithRoomFor(seconds);
    TBlock& target = *FBlocks[block];
    const size_t at = static_cast<size_t>(
        std::upper_bound(target.Seconds.begin(), target.Seconds.end(), seconds) -
        target.Seconds.begin());
    target.Insert(at, seconds, volts, amperes, celsius, ampHours);
    FStarts.Grow(block);
    FBlockTimes[block] = {target.Seconds.front(), target.Seconds.back()};
    ++FSize;
    return FStarts.Before(block) + at;
}

size_t TChartReadings::BlockWithRoomFor(int32_t seconds) {
    // After every reading, into a full last block: a new block, so that a test appended in
    // order leaves full blocks behind.
    if (FBlocks.empty() || (FBlocks.back()->Full() && seconds >= FBlockTimes.back().Last)) {
        FBlocks.push_back(std::make_unique<TBlock>());
        BlocksChanged();
        return FBlocks.size() - 1;
    }
    // Else the last block that starts at or below it (the first when none does): the blocks
    // after it start above it.
    size_t block = FBlocks.size() - 1;
    if (seconds < FBlockTimes.back().First) {
        const auto startsAfter =
            std::upper_bound(FBlockTimes.begin(), FBlockTimes.end(), seconds,
                             [](int32_t s, const TBlockTimes& times) { return s < times.First; });
        block = startsAfter == FBlockTimes.begin()
                    ? 0
                    : static_cast<size_t>(startsAfter - FBlockTimes.begin()) - 1;
    }
    if (FBlocks[block]->Full()) {
        SplitBlock(block);
        if (seconds >= FBlockTimes[block + 1].First) ++block;
    }
    return block;
}

void TChartReadings::SplitBlock(size_t block) {
    auto tail = std::make_unique<TBlock>();
    FBlocks[block]->MoveTailHalf(*tail);
    FBlocks.insert(FBlocks.begin() + static_cast<ptrdiff_t>(block) + 1, std::move(tail));
    BlocksChanged();
}

void TChartReadings::BlocksChanged() {
    FStarts.Rebuild(FBlocks);
    FBlockTimes.resize(FBlocks.size());
    for (size_t b = 0; b < FBlocks.size(); ++b) {
        const std::vector<int32_t>& seconds = FBlocks[b]->Seconds;
        if (!seconds.empty()) FBlockTimes[b] = {seconds.front(), seconds.back()};
    }
}

void TChartReadings::Clear() {
    FBlocks.clear();
    BlocksChanged();
    FSize = 0;
}

template <typename Before>
size_t TChartReadings::FirstPast(Before before) const {
    // Blocks are sorted, so are their last readings.
    const auto times =
        std::partition_point(FBlockTimes.begin(), FBlockTimes.end(),
                             [&](const TBlockTimes& block) { return before(block.Last); });
    const auto block = static_cast<size_t>(times - FBlockTimes.begin());
    if (block == FBlocks.size()) return FSize;
    const std::vector<int32_t>& seconds = FBlocks[block]->Seconds;
    const auto at = std::partition_point(seconds.begin(), seconds.end(), before);
    return FStarts.Before(block) + static_cast<size_t>(at - seconds.begin());
}

size_t TChartReadings::LowerBound(double seconds) const {
    return FirstPast([seconds](int32_t s) { return s < seconds; });
}

size_t TChartReadings::UpperBound(double seconds) const {
    return FirstPast([seconds](int32_t s) { return s <= seconds; });
}

TValueSpan TChartReadings::ValueRange(TQuantity quantity, size_t first, size_t last) const {
    TValueSpan span;
    last = std::min(last, FSize);
    if (first >= last) return span;
    auto [block, at] = FStarts.Find(first);
    for (size_t left = last - first; left > 0; ++block, at = 0) {
        const TBlock& b = *FBlocks[block];
        const size_t take = std::min(left, b.Size() - at);
        span.Extend(b.Range(quantity, at, at + take));
        left -= take;
    }
    return span;
}

size_t TChartReadings::MemoryBytes() const {
    size_t bytes = FBlocks.capacity() * sizeof(FBlocks[0]) + FStarts.MemoryBytes() +
                   FBlockTimes.capacity() * sizeof(TBlockTimes);
    for (const auto& block : FBlocks) bytes += block->MemoryBytes();
    return bytes;
}

TChartReadings::TBlockView TChartReadings::Block(size_t block) const {
    const TBlock& b = *FBlocks[block];
    return {b.Seconds.data(), b.Volts.data(),    b.Amperes.data(),
            b.Celsius.data(), b.AmpHours.data(), b.Size()};
}
