#pragma once
// Grouping cells into a pack: S groups in series, each of P cells in parallel. Plain C++, shared
// by the window and the command-line programs.
//
// A grouping is judged by, in this order:
//   1. the pack's capacity, its smallest group's total: the larger the better;
//   2. the spread of the groups' totals, largest − smallest: the smaller the better;
//   3. the IR measure: the sum over the groups of (largest − smallest known IR in the group), the
//      smaller the better. Unknown IRs are left out; a group with fewer than two known IRs adds 0.
//      Cells of close IR share the current evenly, which is why it counts, but only after
//      capacity: a weak group limits the whole pack.
// When there are more cells than S × P, the strongest S × P reach the best capacity, but a weaker
// cell may take a place when that lowers the spread without lowering the capacity.
//
// How: the cells are dealt strongest first, each to the group with the smallest total that has
// room. Then swaps of one cell for one, and of two for two, between groups and with the unused
// cells, are made while any improves capacity, spread, or how evenly the totals lie; from there
// a search of small random steps, each followed by the same swaps and kept when no worse, goes on
// until the result cannot be beaten or a few thousand steps bring nothing better. Last, swaps
// that keep every total within the smallest and largest lower the IR measure. Inputs of up to 24
// cells are then searched exhaustively, with bounds, within a fixed amount of work.
//
// What is guaranteed: the result never depends on the order of the input cells (nor on time).
// Where the exhaustive search completes, which it always does up to 12 cells, the grouping is the
// best by all three measures, and ProvenBest is set. ProvenBest is also set when the spread
// reaches what no grouping can beat (0, or 1 when every cell is used and the total does not
// divide by S) at the largest pack capacity the cells allow; capacity and spread are then the
// best. Otherwise capacity and spread are as found, with no promise: on cells of the usual
// spread (±10 % of capacity, tens of cells per group, hundreds of cells) they reach that bound.
// The work is bounded whatever the input: about 0.2 s for 1000 cells into 20S40P, about half a
// second for 10 000 cells, whatever the shape.

#include <optional>
#include <string>
#include <vector>

struct TPackCell {
    std::string Id;
    int CapacityMah = 0;
    std::optional<double> IrMohm;  // unknown when not measured
};

struct TPackGroup {
    std::vector<TPackCell> Cells;      // strongest first (then by Id)
    int CapacityMah = 0;               // the cells' total
    std::optional<double> IrMohmMean;  // of the known IRs; none when none is known
    std::optional<double> IrMohmMax;
    std::optional<double> IrMohmParallel;  // 1 / sum(1/IR) over the known IRs
};

struct TPack {
    // S groups, in series order (numbered from 1 when shown): largest total first, groups of equal
    // total by their cells, strongest first, then by Id.
    std::vector<TPackGroup> Groups;
    int PackCapacityMah = 0;        // the smallest group's total
    int SpreadMah = 0;              // largest − smallest group total
    double SpreadPct = 0;           // SpreadMah as a percentage of the mean group total
    int LowerBoundMah = 0;          // the spread no grouping can beat: 0 or 1
    double IrRangeSumMohm = 0;      // the IR measure above
    bool ProvenBest = false;        // see above: the best capacity and spread, at least
    std::vector<TPackCell> Unused;  // strongest first
};

// Groups `cells` into `series` groups of `parallel` cells. Throws std::invalid_argument when
// series or parallel is below 1 or there are fewer cells than series × parallel.
TPack BuildPack(std::vector<TPackCell> cells, int series, int parallel);
