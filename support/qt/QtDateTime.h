#pragma once
// The program's date-time values (support/DateTime.h) to and from Qt's dates and times, for the
// window and the tests that build values from calendar dates.

#include <QDateTime>
#include <utility>

// A local date and time as such a value (milliseconds kept).
double ToDateTime(const QDateTime& local);
// The local date and time of such a value (to the millisecond).
QDateTime FromDateTime(double value);
// The same as a date and a time of day, without a QDateTime's look-up of the time zone.
std::pair<QDate, QTime> DateAndTime(double value);
