#include "platform/LocalClock.h"

#include <time.h>

namespace platform {

LocalTime LocalTimeNow() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    // localtime_r, unlike localtime, does not look at the time zone files again on every call.
    ::localtime_r(&now.tv_sec, &local);
    return {local.tm_year + 1900,
            local.tm_mon + 1,
            local.tm_mday,
            local.tm_hour,
            local.tm_min,
            local.tm_sec,
            static_cast<int>(now.tv_nsec / 1'000'000),
            static_cast<int>(local.tm_gmtoff / 60)};
}

}  // namespace platform
