#include "support/DateTime.h"

#include <cmath>

#include "platform/LocalClock.h"

namespace {

// Day 0, 30 December 1899. A function, not a global: callers may run before globals are set up.
QDate Epoch() {
    return QDate(1899, 12, 30);
}

constexpr double kMsPerDay = 1000.0 * kSecondsPerDay;

}  // namespace

double CurrentDateTime() {
    return CurrentStamp().DateTime;
}

TLocalStamp CurrentStamp() {
    // Straight from the system: a local QDateTime looks up its time zone anew each time it is
    // made, which costs more than all else of a reading's handling.
    const platform::LocalTime now = platform::LocalTimeNow();
    const double days = static_cast<double>(Epoch().daysTo(QDate(now.year, now.month, now.day)));
    const double ms =
        ((now.hour * 60.0 + now.minute) * 60.0 + now.second) * 1000.0 + now.millisecond;
    return {days + ms / kMsPerDay, now.utcOffsetMinutes};
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

double ToDateTime(const QDateTime& local) {
    const double days = static_cast<double>(Epoch().daysTo(local.date()));
    const double ms = local.time().msecsSinceStartOfDay();
    // Before the epoch the fraction still counts forward from midnight (the whole part carries
    // the sign), as such day counts do.
    return days >= 0 ? days + ms / kMsPerDay : days - ms / kMsPerDay;
}

QDateTime FromDateTime(double value) {
    const auto [date, time] = DateAndTime(value);
    return QDateTime(date, time);
}

std::pair<QDate, QTime> DateAndTime(double value) {
    const double whole = std::trunc(value);
    const double fraction = std::fabs(value - whole);
    const auto ms = static_cast<int>(std::llround(fraction * kMsPerDay));
    QDate date = Epoch().addDays(static_cast<qint64>(whole));
    if (ms >= 1000 * kSecondsPerDay) return {date.addDays(1), QTime(0, 0)};
    return {date, QTime::fromMSecsSinceStartOfDay(ms)};
}
