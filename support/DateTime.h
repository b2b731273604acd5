#pragma once
// Date-time values as the program keeps them: a double counting days from 30 December 1899, the
// fraction being the time of day.

// Seconds in one day of such a value: a fraction of 1 / kSecondsPerDay is one second.
inline constexpr int kSecondsPerDay = 86400;

// A moment as the program records it: the local date and time, and how far local time was then
// from UTC, so that the time between two moments is right across a change of daylight saving
// time (a local time alone is ambiguous in the hour the clocks go back).
struct TLocalStamp {
    double DateTime = 0;   // local, days since 1899-12-30
    int UtcOffsetMin = 0;  // local time minus UTC, in minutes
};

// The local date and time now.
double CurrentDateTime();
// The same with its offset from UTC, from one reading of the clock.
TLocalStamp CurrentStamp();
// Seconds from `from` to `to`, by UTC.
double SecondsBetween(const TLocalStamp& from, const TLocalStamp& to);
// The moment `seconds` after `stamp`, in local time at the offset `utcOffsetMin` (that of the
// stamp when not given).
TLocalStamp AddSeconds(const TLocalStamp& stamp, double seconds);
TLocalStamp AddSeconds(const TLocalStamp& stamp, double seconds, int utcOffsetMin);
