#pragma once
// Date-time values as the program keeps them: a double counting days from 30 December 1899, the
// fraction being the time of day.

#include <QDateTime>

// The local date and time now.
double CurrentDateTime();
// A local date and time as such a value (milliseconds kept).
double ToDateTime(const QDateTime& local);
// The local date and time of such a value (to the millisecond).
QDateTime FromDateTime(double value);
