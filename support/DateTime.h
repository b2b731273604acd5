#pragma once
// Date-time values as the program keeps them: a double counting days from 30 December 1899, the
// fraction being the time of day.

#include <QDateTime>
#include <utility>

// Seconds in one day of such a value: a fraction of 1 / kSecondsPerDay is one second.
inline constexpr int kSecondsPerDay = 86400;

// The local date and time now.
double CurrentDateTime();
// A local date and time as such a value (milliseconds kept).
double ToDateTime(const QDateTime& local);
// The local date and time of such a value (to the millisecond).
QDateTime FromDateTime(double value);
// The same as a date and a time of day, without a QDateTime's look-up of the time zone.
std::pair<QDate, QTime> DateAndTime(double value);
