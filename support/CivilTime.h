#pragma once
// The program's date-time values (days since 30 December 1899, the fraction the time of day) as
// calendar fields and ISO 8601 text, without Qt: for the layers that must not include it. Any
// thread.

#include <string>

struct TCivilTime {
    int Year = 1899, Month = 12, Day = 30;
    int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// The fields of `dateTime`, to the millisecond (a fraction that rounds to the next day's
// midnight is that midnight).
TCivilTime CivilTimeOf(double dateTime);
// The value of a local date and time given by its fields (milliseconds kept); the inverse of
// CivilTimeOf. Before 30 December 1899 the fraction still counts forward from midnight (the whole
// part carries the sign), as such day counts do.
double DateTimeOf(const TCivilTime& civil);

// "2026-12-08T14:03:12+01:00": the local time of `dateTime` cut to whole seconds, with its
// offset from UTC in minutes.
std::string IsoLocalTimeText(double dateTime, int utcOffsetMin);
