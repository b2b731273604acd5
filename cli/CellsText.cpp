#include "cli/CellsText.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "support/Format.h"
#include "support/Json.h"
#include "support/TimeText.h"
#include "testrun/VerdictFields.h"

std::string Printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (c < 0x20 || c == 0x7F || c1) {
            out += "\xEF\xBF\xBD";
            if (c1) ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

namespace {

// Characters, not bytes: names and units may be UTF-8 ("mΩ").
size_t Width(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// Rows under a header, two spaces between columns; the columns flagged in `right` are aligned
// to the right (numbers), the others to the left. No blanks at the ends of lines.
std::string Table(std::vector<std::vector<std::string>> rows, const std::vector<bool>& right) {
    for (auto& row : rows) {
        for (std::string& column : row) column = Printable(column);
    }
    std::vector<size_t> widths(right.size(), 0);
    for (const auto& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            const std::string pad(widths[i] - Width(row[i]), ' ');
            if (i > 0) line += "  ";
            line += right[i] ? pad + row[i] : row[i] + pad;
        }
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + '\n';
    }
    return text;
}

std::string Fixed(const std::optional<double>& value, int decimals, double scale = 1) {
    return value ? FixedDecimals(*value * scale, decimals) : "-";
}

}  // namespace

std::string CellsTable(const std::vector<TCellSummary>& cells) {
    std::vector<std::vector<std::string>> rows{
        {"cell", "tests", "capacity (Ah)", "IR (mΩ)", "SOH (%)", "rated (Ah)", "last tested"}};
    for (const TCellSummary& c : cells) {
        rows.push_back({c.Cell, std::to_string(c.Tests), Fixed(c.CapacityAh, 3),
                        Fixed(c.IrOhm, 1, 1000), Fixed(c.SohPct, 1), Fixed(c.RatedAh, 3),
                        c.LastTested.value_or("-")});
    }
    return Table(rows, {false, true, true, true, true, true, false});
}

std::string CellsJson(const std::vector<TCellSummary>& cells) {
    TJsonWriter json;
    json.Array(/*itemPerLine=*/true);
    for (const TCellSummary& c : cells) {
        json.Object().Key("cell").String(c.Cell).Key("tests").Integer(c.Tests);
        json.Key("capacity_ah").NumberOrNull(c.CapacityAh).Key("ir_ohm").NumberOrNull(c.IrOhm);
        json.Key("soh_pct").NumberOrNull(c.SohPct).Key("rated_ah").NumberOrNull(c.RatedAh);
        json.Key("last_tested").StringOrNull(c.LastTested).End();
    }
    return json.End().Line();
}

std::string CellHistoryText(const TCellHistory& history) {
    const TCellSummary& c = history.Cell;
    std::string text = c.Cell.empty()
                           ? "Tests without a cell: " + std::to_string(history.Tests.size())
                           : "Cell " + Printable(c.Cell) + ": " + std::to_string(c.Tests) +
                                 (c.Tests == 1 ? " test" : " tests");
    if (c.CapacityAh) text += ", capacity " + Fixed(c.CapacityAh, 3) + " Ah";
    if (c.IrOhm) text += ", IR " + Fixed(c.IrOhm, 1, 1000) + " mΩ";
    if (c.SohPct) text += ", state of health " + Fixed(c.SohPct, 1) + " %";
    if (c.RatedAh) text += ", rated " + Fixed(c.RatedAh, 3) + " Ah";
    if (c.LastTested) text += ", last tested " + *c.LastTested;
    text += ".\n";
    if (history.Tests.empty()) return text;
    std::vector<std::vector<std::string>> rows{
        {"id", "start", "reason", "Ah", "Wh", "IR (mΩ)", "duration", "station", "port", "verdict"}};
    for (const TRegisteredTest& test : history.Tests) {
        const TTestSummary& s = test.Summary;
        rows.push_back({std::to_string(test.Id), VerdictMomentText(s.Start), ReasonName(s.Reason),
                        Fixed(s.Ah, 3), Fixed(s.Wh, 3), Fixed(s.InternalResistanceOhm, 1, 1000),
                        LongDurationText(std::max(0LL, std::llround(s.DurationS))), s.Station,
                        s.Port, test.SummaryFile.empty() ? "-" : test.SummaryFile});
    }
    return text + Table(rows, {true, false, false, true, true, true, true, false, false, false});
}

std::string CellHistoryJson(const TCellHistory& history) {
    TJsonWriter json;
    json.Object().Key("cell");
    if (history.Cell.Cell.empty()) {
        json.Null();
    } else {
        json.String(history.Cell.Cell);
    }
    json.Key("rated_ah").NumberOrNull(history.Cell.RatedAh).Key("tests").Array(true);
    for (const TRegisteredTest& test : history.Tests) {
        json.Object().Key("id").Integer(test.Id);
        WriteVerdictFields(json, test.Summary);
        json.Key("summary");
        if (test.SummaryFile.empty()) {
            json.Null();
        } else {
            json.String(test.SummaryFile);
        }
        json.End();
    }
    return json.End().End().Line();
}

std::string PackText(const TPack& pack) {
    const auto ir = [](const std::optional<double>& value, int decimals) {
        return value ? FixedDecimals(*value, decimals) : std::string("-");
    };
    std::string text = Format("%-6s %9s %8s %8s %8s  %s\n", "group", "mAh", "IR mean", "IR max",
                              "IR par", "cells");
    for (size_t g = 0; g < pack.Groups.size(); ++g) {
        const TPackGroup& group = pack.Groups[g];
        std::string cells;
        for (const TPackCell& cell : group.Cells) cells += (cells.empty() ? "" : " ") + cell.Id;
        text += Format("%-6zu %9d %8s %8s %8s  %s\n", g + 1, group.CapacityMah,
                       ir(group.IrMohmMean, 1).c_str(), ir(group.IrMohmMax, 1).c_str(),
                       ir(group.IrMohmParallel, 2).c_str(), Printable(cells).c_str());
    }
    text += Format("Pack capacity %d mAh; spread %d mAh (%s %%), no grouping below %d mAh\n",
                   pack.PackCapacityMah, pack.SpreadMah, FixedDecimals(pack.SpreadPct, 3).c_str(),
                   pack.LowerBoundMah);
    std::string unused;
    for (const TPackCell& cell : pack.Unused) unused += " " + cell.Id;
    text += "Unused (" + std::to_string(pack.Unused.size()) + "):" + Printable(unused) + "\n";
    return text;
}
