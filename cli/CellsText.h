#pragma once
// What kelvo-cells prints, as texts without I/O: the cells' table and JSON, a cell's history.
// Numbers with a decimal point in every locale; nothing here reads the locale.

#include <string>
#include <vector>

#include "records/Pack.h"
#include "records/Register.h"

// `text` safe to print on a terminal: control characters (C0, DEL, C1), which names read from
// files could carry, become U+FFFD. The texts below are made so already.
std::string Printable(const std::string& text);

// One line per cell under a header, columns aligned: cell, tests, capacity (Ah), IR (mΩ), state
// of health (%), rated (Ah), last tested; "-" where unknown.
std::string CellsTable(const std::vector<TCellSummary>& cells);

// An array of objects with the keys cell, tests, capacity_ah, ir_ohm, soh_pct, rated_ah and
// last_tested (null where unknown), ending with a newline.
std::string CellsJson(const std::vector<TCellSummary>& cells);

// The cell's figures, then its tests newest first, one line each. A history whose cell has no
// name is that of the tests without a cell.
std::string CellHistoryText(const TCellHistory& history);

// An object with the keys cell (null for the tests without a cell), rated_ah and tests: each test
// with id, every key of its verdict (VerdictJson's) and summary (the verdict file, null when none
// is known); ending with a newline.
std::string CellHistoryJson(const TCellHistory& history);

// The pack's groups for people: a line per group (number, capacity in mAh, mean, largest and
// parallel IR in mΩ, its cells), then the pack's capacity, the spread (mAh and %) beside the
// bound it cannot beat, and the unused cells.
std::string PackText(const TPack& pack);
