#include "support/DateTime.h"

#include "platform/LocalClock.h"
#include "support/CivilTime.h"

double CurrentDateTime() {
    return CurrentStamp().DateTime;
}

TLocalStamp CurrentStamp() {
    // Straight from the system, one reading of the clock for the time and its offset.
    const platform::LocalTime now = platform::LocalTimeNow();
    return {DateTimeOf(
                {now.year, now.month, now.day, now.hour, now.minute, now.second, now.millisecond}),
            now.utcOffsetMinutes};
}

double SecondsBetween(const TLocalStamp& from, const TLocalStamp& to) {
    return (to.DateTime - from.DateTime) * kSecondsPerDay -
           (to.UtcOffsetMin - from.UtcOffsetMin) * 60.0;
}

TLocalStamp AddSeconds(const TLocalStamp& stamp, double seconds) {
    return AddSeconds(stamp, seconds, stamp.UtcOffsetMin);
}

TLocalStamp AddSeconds(const TLocalStamp& stamp, double seconds, int utcOffsetMin) {
    const double localSeconds = seconds + (utcOffsetMin - stamp.UtcOffsetMin) * 60.0;
    return {stamp.DateTime + localSeconds / kSecondsPerDay, utcOffsetMin};
}
