#pragma once
// Texts of clock values: every hours:minutes:seconds text and the log file's name parts.

#include <string>

// The decimal text of n, with a leading "0" below 10: 5 gives "05", 12 "12", 123 "123".
std::string TwoDigits(int n);

// A whole number of seconds (0 or more) as hours:minutes:seconds with at least two digits each:
// 3725 gives "01:02:05", 90000 gives "25:00:00". Each part is held as an unsigned 8-bit value,
// which the tester's own reports (at most 255:59:59) never exceed.
std::string DurationText(int seconds);

// A whole number of seconds (0 or more) as hours:minutes:seconds with at least two digits each
// and no upper bound: 3725 gives "01:02:05", 1080000 gives "300:00:00". For durations that a
// long test may take past DurationText's 255 hours.
std::string LongDurationText(long long seconds);
