// Grouping cells into a pack: on small inputs the same capacity, spread and IR measure as trying
// every grouping; realistic packs balanced to within a hair; always a whole, ordered grouping
// whatever the order of the input; impossible packs refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iostream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "records/Pack.h"

namespace {

struct TBest {
    int CapacityMah = -1;
    int SpreadMah = 0;
    double IrMohm = 0;
};

double IrRange(const std::vector<TPackCell>& cells) {
    double lo = INFINITY, hi = -INFINITY;
    for (const TPackCell& cell : cells) {
        if (!cell.IrMohm) continue;
        lo = std::min(lo, *cell.IrMohm);
        hi = std::max(hi, *cell.IrMohm);
    }
    return hi > lo ? hi - lo : 0;
}

// By brute force: each cell in turn into a group with room (into one empty group only, since
// groups are interchangeable) or among the unused, and every complete grouping measured.
TBest Exhaustive(const std::vector<TPackCell>& cells, int series, int parallel) {
    const int unusedRoom = static_cast<int>(cells.size()) - series * parallel;
    std::vector<std::vector<TPackCell>> groups(series);
    int unused = 0;
    TBest best;
    std::function<void(size_t)> place = [&](size_t c) {
        if (c == cells.size()) {
            int lo = INT32_MAX, hi = INT32_MIN;
            double ir = 0;
            for (const auto& group : groups) {
                int total = 0;
                for (const TPackCell& cell : group) total += cell.CapacityMah;
                lo = std::min(lo, total);
                hi = std::max(hi, total);
                ir += IrRange(group);
            }
            if (lo > best.CapacityMah ||
                (lo == best.CapacityMah &&
                 (hi - lo < best.SpreadMah || (hi - lo == best.SpreadMah && ir < best.IrMohm)))) {
                best = {lo, hi - lo, ir};
            }
            return;
        }
        bool triedEmpty = false;
        for (auto& group : groups) {
            if (static_cast<int>(group.size()) == parallel || (group.empty() && triedEmpty))
                continue;
            triedEmpty |= group.empty();
            group.push_back(cells[c]);
            place(c + 1);
            group.pop_back();
        }
        if (unused < unusedRoom) {
            ++unused;
            place(c + 1);
            --unused;
        }
    };
    place(0);
    return best;
}

// The pack is a grouping of exactly the cells given, in the documented order, with its figures
// adding up.
void ExpectWhole(const TPack& pack, const std::vector<TPackCell>& cells, int series, int parallel) {
    ASSERT_EQ(pack.Groups.size(), static_cast<size_t>(series));
    std::vector<std::string> ids, given;
    int lo = INT32_MAX, hi = INT32_MIN, used = 0, all = 0;
    double ir = 0;
    for (size_t g = 0; g < pack.Groups.size(); ++g) {
        const TPackGroup& group = pack.Groups[g];
        ASSERT_EQ(group.Cells.size(), static_cast<size_t>(parallel));
        int total = 0;
        for (size_t c = 0; c < group.Cells.size(); ++c) {
            total += group.Cells[c].CapacityMah;
            ids.push_back(group.Cells[c].Id);
            if (c > 0) {
                EXPECT_GE(group.Cells[c - 1].CapacityMah, group.Cells[c].CapacityMah);
            }
        }
        EXPECT_EQ(group.CapacityMah, total);
        if (g > 0) {
            EXPECT_GE(pack.Groups[g - 1].CapacityMah, total);
        }
        lo = std::min(lo, total);
        hi = std::max(hi, total);
        used += total;
        ir += IrRange(group.Cells);
    }
    for (size_t c = 0; c < pack.Unused.size(); ++c) {
        ids.push_back(pack.Unused[c].Id);
        if (c > 0) {
            EXPECT_GE(pack.Unused[c - 1].CapacityMah, pack.Unused[c].CapacityMah);
        }
    }
    for (const TPackCell& cell : cells) {
        given.push_back(cell.Id);
        all += cell.CapacityMah;
    }
    std::sort(ids.begin(), ids.end());
    std::sort(given.begin(), given.end());
    EXPECT_EQ(ids, given);
    EXPECT_EQ(pack.PackCapacityMah, lo);
    EXPECT_EQ(pack.SpreadMah, hi - lo);
    EXPECT_NEAR(pack.SpreadPct, 100.0 * (hi - lo) * series / used, 1e-9);
    // With cells left out, which cells are used is open, and so is their total.
    EXPECT_EQ(pack.LowerBoundMah, pack.Unused.empty() && all % series != 0 ? 1 : 0);
    EXPECT_NEAR(pack.IrRangeSumMohm, ir, 1e-9);
}

std::vector<TPackCell> Cells(const std::vector<int>& capacities,
                             const std::vector<std::optional<double>>& irs = {}) {
    std::vector<TPackCell> cells;
    for (size_t c = 0; c < capacities.size(); ++c) {
        cells.push_back(
            {"C" + std::to_string(c + 1), capacities[c], c < irs.size() ? irs[c] : std::nullopt});
    }
    return cells;
}

// ±10 % around 2500 mAh, IRs of 20 to 80 mΩ.
std::vector<TPackCell> Realistic(int count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> capacity(2250, 2750);
    std::uniform_real_distribution<double> ir(20, 80);
    std::vector<TPackCell> cells;
    for (int c = 0; c < count; ++c) {
        const int mah = capacity(random);
        cells.push_back({"R" + std::to_string(c), mah, ir(random)});
    }
    return cells;
}

TEST(Pack, SmallPacksAreTheBestOfEveryGrouping) {
    const struct {
        int series, parallel;
    } shapes[] = {{2, 2}, {3, 2}, {2, 3}, {4, 2}, {3, 3}, {2, 4},
                  {2, 5}, {6, 2}, {1, 3}, {5, 1}, {4, 3}, {12, 1}};
    std::mt19937 random(20270208);
    int checked = 0;
    for (const auto& shape : shapes) {
        for (int n = shape.series * shape.parallel; n <= 12; ++n) {
            std::vector<std::pair<std::string, std::vector<TPackCell>>> inputs;
            for (int i = 0; i < 12; ++i) {
                std::uniform_int_distribution<int> capacity(1800, 3200);
                std::uniform_real_distribution<double> ir(20, 80);
                std::vector<TPackCell> cells;
                for (int c = 0; c < n; ++c) {
                    const int mah = capacity(random);
                    const bool known = random() % 4 != 0;
                    cells.push_back({"C" + std::to_string(c), mah,
                                     known ? std::optional(ir(random)) : std::nullopt});
                }
                inputs.push_back({"random " + std::to_string(i), cells});
            }
            std::vector<int> equal(n, 2500), huge(n), twoValues(n), close(n);
            std::vector<std::optional<double>> irs(n);
            for (int c = 0; c < n; ++c) {
                huge[c] = c == 0 ? 20000 : 2000 + 37 * c;
                twoValues[c] = c % 3 == 0 ? 3000 : 2000;
                close[c] = 2500 + static_cast<int>(random() % 4);
                irs[c] = 20 + static_cast<int>(random() % 60);
            }
            inputs.push_back({"all equal, IRs known", Cells(equal, irs)});
            inputs.push_back({"all equal, IRs unknown", Cells(equal)});
            inputs.push_back({"one huge cell", Cells(huge, irs)});
            inputs.push_back({"two capacities", Cells(twoValues, irs)});
            inputs.push_back({"within 3 mAh", Cells(close, irs)});
            for (const auto& [name, cells] : inputs) {
                const std::string what = std::to_string(shape.series) + "S" +
                                         std::to_string(shape.parallel) + "P of " +
                                         std::to_string(n) + ", " + name;
                SCOPED_TRACE(what);
                const TPack pack = BuildPack(cells, shape.series, shape.parallel);
                ExpectWhole(pack, cells, shape.series, shape.parallel);
                const TBest best = Exhaustive(cells, shape.series, shape.parallel);
                EXPECT_EQ(pack.PackCapacityMah, best.CapacityMah);
                EXPECT_EQ(pack.SpreadMah, best.SpreadMah);
                EXPECT_NEAR(pack.IrRangeSumMohm, best.IrMohm, 1e-9);
                EXPECT_TRUE(pack.ProvenBest);
                ++checked;
            }
        }
    }
    RecordProperty("instances", checked);
}

TEST(Pack, AWeakerCellTakesAPlaceOnlyWhenTheCapacityStays) {
    // The strongest four give 10 + 9; a 4 in place of a 5 gives 9 + 9.
    TPack pack = BuildPack(Cells({5, 5, 5, 4, 4}), 2, 2);
    EXPECT_EQ(pack.PackCapacityMah, 9);
    EXPECT_EQ(pack.SpreadMah, 0);
    ASSERT_EQ(pack.Unused.size(), 1u);
    EXPECT_EQ(pack.Unused[0].CapacityMah, 5);
    // Here the weaker cell would lower the capacity: the spread stays.
    pack = BuildPack(Cells({10, 7, 6}), 2, 1);
    EXPECT_EQ(pack.PackCapacityMah, 7);
    EXPECT_EQ(pack.SpreadMah, 3);
    EXPECT_EQ(pack.Unused[0].CapacityMah, 6);
}

// The bound is what no grouping of the cells can beat: with cells to leave out, two equal weak
// cells make a spread of 0, though the best capacity has a spread of 1.
TEST(Pack, BoundClaimsNoSpreadThatLeavingOtherCellsOutWouldBeat) {
    const TPack pack = BuildPack(Cells({1003, 1002, 1000, 1000}), 2, 1);
    EXPECT_EQ(pack.PackCapacityMah, 1002);
    EXPECT_EQ(pack.SpreadMah, 1);
    EXPECT_EQ(pack.LowerBoundMah, 0);
    // Every cell used, their total odd: no two groups can be equal.
    EXPECT_EQ(BuildPack(Cells({1003, 1002}), 2, 1).LowerBoundMah, 1);
}

TEST(Pack, GroupFiguresLeaveUnknownIrsOut) {
    // 3000 + 1000 and 2000 + 2000 is the only grouping with both groups at 4000.
    const TPack pack =
        BuildPack(Cells({2000, 1000, 3000, 2000}, {30.0, std::nullopt, std::nullopt, 60.0}), 2, 2);
    ASSERT_EQ(pack.Groups.size(), 2u);
    const TPackGroup& none = pack.Groups[0];  // equal totals: the stronger first cell first
    EXPECT_EQ(none.Cells[0].Id, "C3");
    EXPECT_EQ(none.Cells[1].Id, "C2");
    EXPECT_FALSE(none.IrMohmMean || none.IrMohmMax || none.IrMohmParallel);
    const TPackGroup& both = pack.Groups[1];
    EXPECT_EQ(both.Cells[0].Id, "C1");  // equal capacities: by Id
    EXPECT_DOUBLE_EQ(both.IrMohmMean.value_or(0), 45);
    EXPECT_DOUBLE_EQ(both.IrMohmMax.value_or(0), 60);
    EXPECT_DOUBLE_EQ(both.IrMohmParallel.value_or(0), 20);
    EXPECT_DOUBLE_EQ(pack.IrRangeSumMohm, 30);
    EXPECT_EQ(pack.SpreadPct, 0);
}

TEST(Pack, ThreeHundredCellsInto14S20PBalanceToWithinATenthOfAPercent) {
    const std::vector<TPackCell> cells = Realistic(300, 14020);
    const TPack pack = BuildPack(cells, 14, 20);
    ExpectWhole(pack, cells, 14, 20);
    EXPECT_LE(pack.SpreadPct, 0.1);
    RecordProperty("spread_mah", pack.SpreadMah);
    RecordProperty("pack_capacity_mah", pack.PackCapacityMah);
    std::cout << "14S20P of 300: " << pack.PackCapacityMah << " mAh, spread " << pack.SpreadMah
              << " mAh (" << pack.SpreadPct << " %), bound " << pack.LowerBoundMah
              << (pack.ProvenBest ? ", proven best" : "") << ", IR measure " << pack.IrRangeSumMohm
              << " mOhm\n";

    // The same cells in another order: the same pack.
    std::vector<TPackCell> shuffled = cells;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    const TPack again = BuildPack(shuffled, 14, 20);
    ASSERT_EQ(again.Groups.size(), pack.Groups.size());
    for (size_t g = 0; g < pack.Groups.size(); ++g) {
        for (size_t c = 0; c < pack.Groups[g].Cells.size(); ++c) {
            EXPECT_EQ(again.Groups[g].Cells[c].Id, pack.Groups[g].Cells[c].Id);
        }
    }
}

TEST(Pack, ImpossiblePacksAreRefused) {
    const std::vector<TPackCell> cells = Cells({2500, 2500, 2500});
    EXPECT_THROW(BuildPack(cells, 2, 2), std::invalid_argument);  // 4 cells needed
    EXPECT_THROW(BuildPack(cells, 0, 2), std::invalid_argument);
    EXPECT_THROW(BuildPack(cells, 2, 0), std::invalid_argument);
    EXPECT_THROW(BuildPack(cells, -1, 3), std::invalid_argument);
    EXPECT_THROW(BuildPack({}, 1, 1), std::invalid_argument);
    EXPECT_EQ(BuildPack(cells, 3, 1).Groups.size(), 3u);
}

}  // namespace
