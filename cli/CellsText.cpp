#include "cli/CellsText.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "support/Format.h"
#include "support/Json.h"
#include "support/TimeText.h"

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

std::string Number(const std::optional<double>& value) {
    return value ? JsonNumber(*value) : "null";
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
    std::string json = "[";
    for (const TCellSummary& c : cells) {
        if (json.size() > 1) json += ",";
        json += "\n{\"cell\":" + JsonString(c.Cell) + ",\"tests\":" + std::to_string(c.Tests) +
                ",\"capacity_ah\":" + Number(c.CapacityAh) + ",\"ir_ohm\":" + Number(c.IrOhm) +
                ",\"soh_pct\":" + Number(c.SohPct) + ",\"rated_ah\":" + Number(c.RatedAh) +
                ",\"last_tested\":" + (c.LastTested ? JsonString(*c.LastTested) : "null") + "}";
    }
    return json + (cells.empty() ? "]\n" : "\n]\n");
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
        rows.push_back({std::to_string(test.Id), "", ReasonName(s.Reason), Fixed(s.Ah, 3),
                        Fixed(s.Wh, 3), Fixed(s.InternalResistanceOhm, 1, 1000),
                        LongDurationText(std::max(0LL, std::llround(s.DurationS))), s.Station,
                        s.Port, test.SummaryFile.empty() ? "-" : test.SummaryFile});
        // The start as the verdict writes it.
        const TJsonParsed verdict = ParseJson(VerdictJson(s));
        if (verdict.Value && verdict.Value->Find("start") != nullptr) {
            rows.back()[1] = *verdict.Value->Find("start")->String();
        }
    }
    return text + Table(rows, {true, false, false, true, true, true, true, false, false, false});
}

std::string CellHistoryJson(const TCellHistory& history) {
    std::string json =
        "{\"cell\":" + (history.Cell.Cell.empty() ? "null" : JsonString(history.Cell.Cell)) +
        ",\"rated_ah\":" + Number(history.Cell.RatedAh) + ",\"tests\":[";
    for (size_t i = 0; i < history.Tests.size(); ++i) {
        const TRegisteredTest& test = history.Tests[i];
        // VerdictJson's object, "{...}\n", opened to take the id before its keys and the
        // summary file after them.
        std::string verdict = VerdictJson(test.Summary);
        verdict.erase(verdict.find_last_of('}'));
        json += std::string(i > 0 ? "," : "") + "\n{\"id\":" + std::to_string(test.Id) + "," +
                verdict.substr(1) + ",\"summary\":" +
                (test.SummaryFile.empty() ? "null" : JsonString(test.SummaryFile)) + "}";
    }
    return json + (history.Tests.empty() ? "]}\n" : "\n]}\n");
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
