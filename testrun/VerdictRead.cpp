#include "testrun/VerdictRead.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "support/Json.h"
#include "testrun/VerdictFields.h"

namespace {

// Days from 1970-01-01 to 1899-12-30, the day count's start.
constexpr int64_t kEpochToUnixDays = 25569;

// Days from 1970-01-01 to the civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

unsigned DaysInMonth(int64_t year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// Exactly `width` digits at `at` in `text`.
std::optional<unsigned> Digits(std::string_view text, size_t at, size_t width) {
    if (text.size() < at + width) return std::nullopt;
    unsigned value = 0;
    for (size_t i = at; i < at + width; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return value;
}

}  // namespace

std::optional<TLocalStamp> ParseIsoStamp(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SS, then .fraction, then Z or +HH:MM / -HH:MM.
    const auto year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
    const auto hour = Digits(text, 11, 2), minute = Digits(text, 14, 2),
               second = Digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || text[4] != '-' ||
        text[7] != '-' || (text[10] != 'T' && text[10] != ' ') || text[13] != ':' ||
        text[16] != ':') {
        return std::nullopt;
    }
    if (*month < 1 || *month > 12 || *day < 1 || *day > DaysInMonth(*year, *month) || *hour > 23 ||
        *minute > 59 || *second > 59) {
        return std::nullopt;
    }
    size_t at = 19;
    double fraction = 0;
    if (at < text.size() && text[at] == '.') {
        const size_t from = ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        if (at == from) return std::nullopt;
        const std::string digits = "0." + std::string(text.substr(from, at - from));
        std::from_chars(digits.data(), digits.data() + digits.size(), fraction);
    }
    int offsetMin = 0;
    if (text.substr(at) == "Z") {
        at += 1;
    } else {
        const auto hours = Digits(text, at + 1, 2), minutes = Digits(text, at + 4, 2);
        if (text.size() != at + 6 || (text[at] != '+' && text[at] != '-') || text[at + 3] != ':' ||
            !hours || !minutes || *hours > 18 || *minutes > 59) {
            return std::nullopt;
        }
        offsetMin = static_cast<int>(*hours * 60 + *minutes) * (text[at] == '-' ? -1 : 1);
        at += 6;
    }
    if (at != text.size()) return std::nullopt;
    const auto days = static_cast<double>(DaysFromCivil(*year, *month, *day) + kEpochToUnixDays);
    const double ofDay = ((*hour * 60.0 + *minute) * 60.0 + *second + fraction) / kSecondsPerDay;
    // Before the day count's start the fraction still counts forward from midnight (the whole
    // part carries the sign), as ToDateTime makes it.
    return TLocalStamp{days >= 0 ? days + ofDay : days - ofDay, offsetMin};
}

int64_t UtcSecond(const TLocalStamp& stamp) {
    const double whole = std::trunc(stamp.DateTime);
    const auto ofDay = std::llround(std::fabs(stamp.DateTime - whole) * kSecondsPerDay);
    const auto days = static_cast<int64_t>(whole) - kEpochToUnixDays;
    return days * kSecondsPerDay + ofDay - int64_t{stamp.UtcOffsetMin} * 60;
}

std::optional<TTestSummary> ParseVerdictJson(const std::string& text) {
    const TJsonParsed parsed = ParseJson(text);
    if (!parsed.Value) return std::nullopt;
    return ReadVerdictFields(*parsed.Value).Summary;
}
