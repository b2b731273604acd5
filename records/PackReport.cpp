#include "records/PackReport.h"

#include <cmath>
#include <tuple>

#include "support/Format.h"
#include "support/Json.h"
#include "support/NumberText.h"

namespace {

TJsonWriter& IdArray(TJsonWriter& json, const std::vector<TPackCell>& cells) {
    json.Array();
    for (const TPackCell& cell : cells) json.String(cell.Id);
    return json.End();
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

std::optional<TPackFilterFault> ReadPackFilter(const TPackFilterTexts& texts, TPackFilter& filter) {
    const auto trimmed = [](const std::string& text) {
        const size_t first = text.find_first_not_of(" \t");
        if (first == std::string::npos) return std::string();
        return text.substr(first, text.find_last_not_of(" \t") - first + 1);
    };
    using F = TPackFilterFault;
    for (const auto& [which, given, limit] :
         {std::tuple{F::kMinSoh, &texts.MinSohPct, &filter.MinSohPct},
          std::tuple{F::kMaxIr, &texts.MaxIrMohm, &filter.MaxIrMohm},
          std::tuple{F::kMinCapacity, &texts.MinCapacityAh, &filter.MinCapacityAh}}) {
        std::string text = trimmed(*given);
        if (text.empty()) continue;
        // A decimal comma reads as a point; a second mark fails.
        if (const size_t comma = text.find(',');
            comma != std::string::npos && text.find('.') == std::string::npos) {
            text[comma] = '.';
        }
        const std::optional<double> number = PlainNumber(text);
        if (!number || !std::isfinite(*number) || *number < 0) {
            return F{which, "a number of 0 or more, not '" + *given + "'"};
        }
        *limit = *number;
    }
    if (const std::string since = trimmed(texts.TestedSince); !since.empty()) {
        if (!IsPackDate(since)) {
            return F{F::kTestedSince, "a date as YYYY-MM-DD, not '" + texts.TestedSince + "'"};
        }
        filter.TestedSince = since;
    }
    return std::nullopt;
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
    TJsonWriter json;
    json.Object().Key("groups").Array();
    for (size_t g = 0; g < pack.Groups.size(); ++g) {
        const TPackGroup& group = pack.Groups[g];
        json.Object().Key("group").Integer(static_cast<int64_t>(g + 1)).Key("cells");
        IdArray(json, group.Cells).Key("capacity_mah").Integer(group.CapacityMah);
        json.Key("ir_mohm_mean").FixedOrNull(group.IrMohmMean, 2);
        json.Key("ir_mohm_max").FixedOrNull(group.IrMohmMax, 2);
        json.Key("ir_mohm_parallel").FixedOrNull(group.IrMohmParallel, 3).End();
    }
    json.End().Key("pack_capacity_mah").Integer(pack.PackCapacityMah);
    json.Key("spread_mah").Integer(pack.SpreadMah).Key("spread_pct").Fixed(pack.SpreadPct, 4);
    json.Key("lower_bound_mah").Integer(pack.LowerBoundMah).Key("unused");
    return IdArray(json, pack.Unused).End().Line();
}

std::string PackTitle(const TPack& pack) {
    const size_t parallel = pack.Groups.empty() ? 0 : pack.Groups.front().Cells.size();
    return Format("Pack %zuS%zuP: %s Ah, spread %d mAh (%s %%)", pack.Groups.size(), parallel,
                  FixedDecimals(pack.PackCapacityMah / 1000.0, 3).c_str(), pack.SpreadMah,
                  FixedDecimals(pack.SpreadPct, 3).c_str());
}
