#pragma once
// Packs from the register: which cells may take part (the operator's filters over the cells'
// figures) and the grouping written out for spreadsheets and scripts. Plain C++; any thread.

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "records/Pack.h"
#include "records/Register.h"

// What a cell must have to take part. Only cells with a measured capacity ever do; a filter on
// a figure the register does not know for a cell leaves the cell out.
struct TPackFilter {
    std::optional<double> MinSohPct;
    std::optional<double> MaxIrMohm;
    std::optional<double> MinCapacityAh;
    std::optional<std::string> TestedSince;     // YYYY-MM-DD: last tested on that day or later
    std::optional<std::set<std::string>> Only;  // these cells and no others
};

// The filters as the operator types them, in kelvo-cells' options or the pack dialog's boxes: an
// empty text (blanks around a text do not count) is no filter.
struct TPackFilterTexts {
    std::string MinSohPct, MaxIrMohm, MinCapacityAh, TestedSince;
};

// Which filter's text is not taken, and why: "a number of 0 or more, not 'x'".
struct TPackFilterFault {
    enum TWhich { kMinSoh, kMaxIr, kMinCapacity, kTestedSince } Which;
    std::string Why;
};

// The one reading of the filters' texts, into `filter` (Only is left as it is): the first text not
// taken, or nothing. A number is digits with at most one decimal mark, a point or a comma, whatever
// the locale; a date is YYYY-MM-DD, a real day (IsPackDate).
std::optional<TPackFilterFault> ReadPackFilter(const TPackFilterTexts& texts, TPackFilter& filter);

// The cells that pass `filter`, as the grouping takes them (capacity in whole mAh, IR in mΩ).
std::vector<TPackCell> PackCandidates(const std::vector<TCellSummary>& cells,
                                      const TPackFilter& filter);

// Whether `text` is a date as --tested-since takes it: YYYY-MM-DD, a real day.
bool IsPackDate(const std::string& text);

// "group,cell,capacity_mah,ir_mohm": a line per cell, groups numbered from 1 in series order,
// the IR empty where unknown; lines ended by LF.
std::string PackCsv(const TPack& pack);

// The pack's title line, for its sheet and its dialog: "Pack 14S20P: 50.012 Ah, spread 3 mAh
// (0.006 %)".
std::string PackTitle(const TPack& pack);

// An object with the keys groups (each with group, cells, capacity_mah, ir_mohm_mean,
// ir_mohm_max, ir_mohm_parallel), pack_capacity_mah, spread_mah, spread_pct, lower_bound_mah
// and unused; unknown IRs are null. Ends with a newline.
std::string PackJson(const TPack& pack);
