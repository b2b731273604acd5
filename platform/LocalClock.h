#pragma once
// The local date and time now, as the system's clock and time zone give it.

namespace platform {

struct LocalTime {
    int year, month, day;  // month and day from 1
    int hour, minute, second, millisecond;
    int utcOffsetMinutes;  // local time minus UTC then, in minutes (+60 for CET, +120 for CEST)
};

// Cheap enough to call for every reading: the time zone is read once, not at every call.
// Callable from any thread.
LocalTime LocalTimeNow();

}  // namespace platform
