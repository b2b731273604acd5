// LocalClock.h from one reading of the system clock in UTC, turned into local time by the rules
// of the time zone as it was when first asked.
#include "platform/LocalClock.h"

#include <windows.h>

#include <utility>

namespace platform {
namespace {

// Read once, as the other back end reads its zone once. The rules are this year's: a program
// that runs across a New Year in which they change keeps the old ones until it restarts.
const TIME_ZONE_INFORMATION* Zone() {
    static const auto zone = [] {
        TIME_ZONE_INFORMATION info{};
        const bool known = ::GetTimeZoneInformation(&info) != TIME_ZONE_ID_INVALID;
        return std::pair{info, known};
    }();
    return zone.second ? &zone.first : nullptr;
}

long long Ticks(const FILETIME& time) {
    return static_cast<long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

}  // namespace

LocalTime LocalTimeNow() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    SYSTEMTIME utc{};
    ::FileTimeToSystemTime(&now, &utc);
    SYSTEMTIME local = utc;  // UTC it stays when the zone cannot be read
    const TIME_ZONE_INFORMATION* zone = Zone();
    if (zone == nullptr || !::SystemTimeToTzSpecificLocalTime(zone, &utc, &local)) local = utc;
    // Both to the millisecond, so that the difference is the zone's alone, in whole minutes.
    FILETIME utcTime{};
    FILETIME localTime{};
    ::SystemTimeToFileTime(&utc, &utcTime);
    ::SystemTimeToFileTime(&local, &localTime);
    constexpr long long kTicksPerMinute = 60LL * 10'000'000;
    const auto offset = static_cast<int>((Ticks(localTime) - Ticks(utcTime)) / kTicksPerMinute);
    return {local.wYear,   local.wMonth,  local.wDay,          local.wHour,
            local.wMinute, local.wSecond, local.wMilliseconds, offset};
}

}  // namespace platform
