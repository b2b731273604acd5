#include "support/CivilTime.h"

#include <cmath>
#include <cstdlib>

#include "support/Format.h"

namespace {

constexpr long long kMsPerDay = 86400000LL;
// 1970-01-01 counted from 1899-12-30.
constexpr long long kUnixEpochDay = 25569;

// The proleptic Gregorian date of `days` after 1970-01-01 (H. Hinnant's days-to-civil).
void DateOfDays(long long days, TCivilTime& civil) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthIndex = (5 * dayOfYear + 2) / 153;
    civil.Day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    civil.Month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    civil.Year = static_cast<int>(yearOfEra + era * 400 + (civil.Month <= 2 ? 1 : 0));
}

// The days from 1970-01-01 to a proleptic Gregorian date (H. Hinnant's days-from-civil).
long long DaysOfDate(int year, int month, int day) {
    const long long y = year - (month <= 2 ? 1 : 0);
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yearOfEra = y - era * 400;
    const long long dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

}  // namespace

double DateTimeOf(const TCivilTime& civil) {
    const double days =
        static_cast<double>(DaysOfDate(civil.Year, civil.Month, civil.Day) + kUnixEpochDay);
    const double ms =
        ((civil.Hour * 60.0 + civil.Minute) * 60.0 + civil.Second) * 1000.0 + civil.Millisecond;
    return days >= 0 ? days + ms / kMsPerDay : days - ms / kMsPerDay;
}

TCivilTime CivilTimeOf(double dateTime) {
    // As the rest of the program reads these values: the whole part counts days, the fraction's
    // magnitude is the time of day (also before 1899, where the whole part is negative).
    const double whole = std::trunc(dateTime);
    long long days = static_cast<long long>(whole);
    long long ms = std::llround(std::fabs(dateTime - whole) * kMsPerDay);
    if (ms >= kMsPerDay) {
        ++days;
        ms = 0;
    }
    TCivilTime civil;
    DateOfDays(days - kUnixEpochDay, civil);
    civil.Hour = static_cast<int>(ms / 3600000);
    civil.Minute = static_cast<int>(ms / 60000 % 60);
    civil.Second = static_cast<int>(ms / 1000 % 60);
    civil.Millisecond = static_cast<int>(ms % 1000);
    return civil;
}

std::string IsoLocalTimeText(double dateTime, int utcOffsetMin) {
    const TCivilTime c = CivilTimeOf(dateTime);
    const int minutes = std::abs(utcOffsetMin);
    return Format("%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", c.Year, c.Month, c.Day, c.Hour,
                  c.Minute, c.Second, utcOffsetMin < 0 ? '-' : '+', minutes / 60, minutes % 60);
}
