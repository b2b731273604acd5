#include "records/PackReport.h"

#include <cmath>

#include "support/Format.h"
#include "support/Json.h"

namespace {

std::string OptionalNumber(const std::optional<double>& value, int decimals) {
    return value ? FixedDecimals(*value, decimals) : "null";
}

std::string IdArray(const std::vector<TPackCell>& cells) {
    std::string json = "[";
    for (size_t i = 0; i < cells.size(); ++i) json += (i ? "," : "") + JsonString(cells[i].Id);
    return json + "]";
}

}  // namespace

bool IsPackDate(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    for (const size_t digit : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (text[digit] < '0' || text[digit] > '9') return false;
    }
    const int year = std::stoi(text.substr(0, 4));
    const int month = std::stoi(text.substr(5, 2));
    const int day = std::stoi(text.substr(8, 2));
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::vector<TPackCell> PackCandidates(const std::vector<TCellSummary>& cells,
                                      const TPackFilter& filter) {
    std::vector<TPackCell> candidates;
    for (const TCellSummary& cell : cells) {
        if (!cell.CapacityAh) continue;
        if (filter.Only && filter.Only->count(cell.Cell) == 0) continue;
        if (filter.MinSohPct && !(cell.SohPct && *cell.SohPct >= *filter.MinSohPct)) continue;
        const std::optional<double> irMohm =
            cell.IrOhm ? std::optional<double>(*cell.IrOhm * 1000) : std::nullopt;
        if (filter.MaxIrMohm && !(irMohm && *irMohm <= *filter.MaxIrMohm)) continue;
        if (filter.MinCapacityAh && *cell.CapacityAh < *filter.MinCapacityAh) continue;
        // The last test's local date leads its ISO 8601 text.
        if (filter.TestedSince &&
            !(cell.LastTested && cell.LastTested->substr(0, 10) >= *filter.TestedSince)) {
            continue;
        }
        candidates.push_back(
            {cell.Cell, static_cast<int>(std::llround(*cell.CapacityAh * 1000)), irMohm});
    }
    return candidates;
}

std::string PackCsv(const TPack& pack) {
    std::string csv = "group,cell,capacity_mah,ir_mohm\n";
    for (size_t g = 0; g < pack.Groups.size(); ++g) {
        for (const TPackCell& cell : pack.Groups[g].Cells) {
            csv += std::to_string(g + 1) + ',' + CsvField(cell.Id) + ',' +
                   std::to_string(cell.CapacityMah) + ',' +
                   (cell.IrMohm ? FixedDecimals(*cell.IrMohm, 1) : "") + '\n';
        }
    }
    return csv;
}

std::string PackJson(const TPack& pack) {
    std::string json = "{\"groups\":[";
    for (size_t g = 0; g < pack.Groups.size(); ++g) {
        const TPackGroup& group = pack.Groups[g];
        json += (g ? ",{" : "{") + Format("\"group\":%zu,\"cells\":", g + 1) +
                IdArray(group.Cells) +
                Format(",\"capacity_mah\":%d,\"ir_mohm_mean\":", group.CapacityMah) +
                OptionalNumber(group.IrMohmMean, 2) +
                ",\"ir_mohm_max\":" + OptionalNumber(group.IrMohmMax, 2) +
                ",\"ir_mohm_parallel\":" + OptionalNumber(group.IrMohmParallel, 3) + "}";
    }
    json +=
        Format("],\"pack_capacity_mah\":%d,\"spread_mah\":%d,\"spread_pct\":", pack.PackCapacityMah,
               pack.SpreadMah) +
        FixedDecimals(pack.SpreadPct, 4) +
        Format(",\"lower_bound_mah\":%d,\"unused\":", pack.LowerBoundMah) + IdArray(pack.Unused) +
        "}\n";
    return json;
}
